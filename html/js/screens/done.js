// After cleaning: what was freed, and honestly what was not.
import { h, icon } from '../dom.js';
import { formatSize } from '../format.js';
import { locale, t, units } from '../i18n.js';

function size(bytes) {
    return formatSize(bytes, locale(), units());
}

export function render(app, actions) {
    const outcome = app.outcome;
    const trouble = outcome.failed.length > 0 || outcome.left.length > 0;
    const headline = !outcome.measured ? t('done.notMeasured')
        : outcome.freed > 0n ? t('done.freed', { size: size(outcome.freed) }) : t('done.freedNothing');
    const root = h('section', { class: 'screen done', 'aria-labelledby': 'done-heading' },
        h('div', { class: 'hero' },
            h('div', { class: `hero-mark ${trouble ? 'warn' : 'ok'}` }, icon(trouble ? 'warn' : 'check', 'icon hero-icon')),
            h('h2', { id: 'done-heading', tabindex: '-1' }, headline),
            h('p', { class: 'lead' }, t(!outcome.measured ? 'done.notMeasuredText'
                : outcome.freed > 0n ? 'done.lead' : 'done.freedNothingText'))),
        outcome.failed.length > 0 && h('div', { class: 'notice error', role: 'alert' },
            h('p', {}, t('done.failed')),
            h('ul', {}, outcome.failed.map((job) => h('li', {}, job.name, ' ', h('span', { class: 'muted' }, `(${job.groupName})`))))),
        outcome.left.length > 0 && h('div', { class: 'notice' },
            h('p', {}, t('done.left')),
            h('ul', {}, outcome.left.map((job) => h('li', {}, job.name, ' — ', size(job.left))))),
        h('div', { class: 'actions center' },
            app.report && !app.report.isEmpty
                && h('button', { class: 'secondary', id: 'review', onclick: () => actions.review() }, t('done.review')),
            h('button', { class: 'primary', id: 'finish', onclick: () => actions.home() }, t('done.finish'))));
    return { root };
}
