// The question before a folder is moved, brought back or the place for
// moved folders changes, or before a program is uninstalled: what will
// happen, in plain words. A modal dialog of the page's own; Cancel has the
// focus and Escape cancels, so a stray Enter changes nothing.
import { h, icon } from '../dom.js';
import { formatSize } from '../format.js';
import { locale, t, units } from '../i18n.js';

// The sign above each kind of question.
const ASK_ICONS = { restore: 'restore', restoreApp: 'restore', uninstall: 'trash' };

// question: { kind, title, text, notice, confirm, params } with text keys;
// a params.size that is a BigInt is shown as a size.
export function ask(question) {
    const params = { ...question.params };
    if (typeof params.size === 'bigint')
        params.size = formatSize(params.size, locale(), units());
    const cancel = h('button', { class: 'secondary', type: 'button', id: 'ask-cancel', autofocus: true }, t('mover.confirm.cancel'));
    const yes = h('button', { class: 'primary', type: 'button', id: 'ask-confirm' }, t(question.confirm, params));
    const dialog = h('dialog', { class: 'confirm ask', 'data-kind': question.kind,
        'aria-labelledby': 'ask-title', 'aria-describedby': 'ask-text' },
    h('div', { class: 'confirm-head' },
        h('div', { class: 'hero-mark small' }, icon(ASK_ICONS[question.kind] ?? 'move', 'icon')),
        h('h2', { id: 'ask-title' }, t(question.title, params))),
    h('p', { id: 'ask-text', class: 'ask-text' }, t(question.text, params)),
    question.notice && h('p', { class: 'notice warn' }, icon('warn'), h('span', {}, t(question.notice, params))),
    h('div', { class: 'actions end' }, cancel, yes));
    return new Promise((resolve) => {
        cancel.addEventListener('click', () => dialog.close('cancel'));
        yes.addEventListener('click', () => dialog.close('yes'));
        dialog.addEventListener('close', () => {
            const opener = dialog.opener;
            dialog.remove();
            if (opener?.isConnected)
                opener.focus();
            resolve(dialog.returnValue === 'yes');
        });
        dialog.opener = document.activeElement;
        document.body.append(dialog);
        dialog.showModal();
        cancel.focus();
    });
}
