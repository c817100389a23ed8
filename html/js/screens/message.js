// A short message in place of a screen, for what cannot go on.
import { h, icon } from '../dom.js';
import { t } from '../i18n.js';

export function render(app, actions) {
    const { title, text } = app.message;
    const root = h('section', { class: 'screen message', 'aria-labelledby': 'message-heading' },
        h('div', { class: 'hero', role: 'alert' },
            h('div', { class: 'hero-mark warn' }, icon('warn', 'icon hero-icon')),
            h('h2', { id: 'message-heading', tabindex: '-1' }, t(title)),
            h('p', { class: 'lead' }, t(text)),
            h('div', { class: 'actions center' },
                h('button', { class: 'primary', onclick: () => actions.home() }, t('common.home')))));
    return { root };
}
