// The question before files are deleted: how many, how much, which ones.
// A modal dialog of the page's own, so nothing else can be clicked while it
// asks; Cancel has the focus and Escape cancels, so a stray Enter deletes
// nothing.
import { h, icon } from '../dom.js';
import { formatCount, formatSize } from '../format.js';
import { locale, t, units } from '../i18n.js';
import { sizeOf } from '../finds.js';

// Enough names to recognise what is going; the count says the rest.
const NAMES_SHOWN = 5;

export function confirmDeletion(files) {
    const count = files.length;
    const size = sizeOf(files);
    const shown = files.slice(0, NAMES_SHOWN);
    const rest = count - shown.length;
    const cancel = h('button', { class: 'secondary', type: 'button', id: 'confirm-cancel', autofocus: true },
        t('files.confirm.cancel'));
    const remove = h('button', { class: 'danger', type: 'button', id: 'confirm-delete' },
        icon('trash'), t('files.confirm.delete', { n: count, count: formatCount(count, locale()) }));
    const dialog = h('dialog', { class: 'confirm', 'aria-labelledby': 'confirm-title', 'aria-describedby': 'confirm-text' },
        h('div', { class: 'confirm-head' },
            h('div', { class: 'hero-mark warn small' }, icon('trash', 'icon')),
            h('h2', { id: 'confirm-title' }, t('files.confirm.title', { n: count, count: formatCount(count, locale()) }))),
        h('p', { id: 'confirm-text' }, t('files.confirm.text', {
            size: formatSize(size, locale(), units()), bytes: formatCount(size, locale()) })),
        h('ul', { class: 'confirm-files' },
            shown.map((file) => h('li', {},
                h('span', { class: 'file-title' }, file.name),
                h('span', { class: 'file-folder muted', title: file.path }, file.folder))),
            rest > 0 && h('li', { class: 'muted' }, t('files.confirm.more', { n: rest, count: formatCount(rest, locale()) }))),
        h('p', { class: 'notice warn' }, icon('warn'), h('span', {}, t('files.confirm.permanent'))),
        h('div', { class: 'actions end' }, cancel, remove));
    return new Promise((resolve) => {
        cancel.addEventListener('click', () => dialog.close('cancel'));
        remove.addEventListener('click', () => dialog.close('delete'));
        dialog.addEventListener('close', () => {
            const opener = dialog.opener;
            dialog.remove();
            opener?.focus?.();
            resolve(dialog.returnValue === 'delete');
        });
        dialog.opener = document.activeElement;
        document.body.append(dialog);
        dialog.showModal();
        cancel.focus();
    });
}
