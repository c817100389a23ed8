// What a large-file or duplicate search found, per category, largest
// first; files to tick, open in their folder and delete. Built once per
// render; ticking only patches check boxes and totals.
import { h, icon } from '../dom.js';
import { formatCount, formatSize } from '../format.js';
import { currentLanguage, languages, locale, t, units } from '../i18n.js';
import { canTick, sizeOf } from '../finds.js';
import { PICTURES, extensionOf, fileIcon } from '../file-icons.js';

// Rows per category before a "show more": past a few hundred nobody reads
// on, and the page stays quick with tens of thousands of files.
const ROWS_SHOWN = 100;

let serial = 0;

function size(bytes) {
    return formatSize(bytes, locale(), units());
}

function count(n) {
    return formatCount(n, locale());
}

export function render(view, actions) {
    const { state, mode } = view;
    const finds = state.finds;
    if (finds.isEmpty)
        return renderEmpty(view, actions);

    const rows = [];        // [box, file, row]
    const categoryBoxes = []; // [box, category] (large files)
    const groupHints = [];  // [hint element, group] (duplicates)

    function fileRow(file) {
        const id = `pick-${++serial}`;
        const box = h('input', { type: 'checkbox', id, onchange: () => {
            if (!actions.tick(file, box.checked))
                box.checked = false;
        } });
        const row = h('li', { class: `found-file${file.group ? ' member' : ''}`, 'data-path': file.path },
            box,
            h('label', { for: id, class: 'found-name' },
                fileIcon(file),
                h('span', { class: 'found-text' },
                    h('span', { class: 'file-title' }, file.name,
                        file.group && h('span', { class: 'badge stays' }, t('dupes.stays'))),
                    h('span', { class: 'file-folder muted', title: file.path }, file.folder))),
            !file.group && h('span', { class: 'size' }, size(file.size)),
            h('span', { class: 'file-actions' },
                actions.canPreview && PICTURES.has(extensionOf(file.path)) && h('button', {
                    class: 'icon-button preview', type: 'button', title: t('files.previewOf', { name: file.name }),
                    'aria-label': t('files.previewOf', { name: file.name }), onclick: () => actions.preview(file) },
                icon('eye'), h('span', { class: 'button-text' }, t('files.preview'))),
                h('button', { class: 'icon-button open-folder', type: 'button', title: t('files.openFolderOf', { name: file.name }),
                    'aria-label': t('files.openFolderOf', { name: file.name }), onclick: () => actions.openFolder(file) },
                icon('folder'), h('span', { class: 'button-text' }, t('files.openFolder')))));
        rows.push([box, file, row]);
        return row;
    }

    function groupBlock(group) {
        const hint = h('p', { class: 'one-stays muted', id: `stays-${++serial}` }, t('dupes.oneStays'));
        groupHints.push([hint, group]);
        return h('li', { class: 'dup-group' },
            h('div', { class: 'dup-head' },
                h('span', { class: 'dup-size' }, t('dupes.group', { n: group.files.length, count: count(group.files.length),
                    size: size(group.size) })),
                h('button', { class: 'link keep-first', type: 'button', onclick: () => actions.keepFirst([group]) },
                    t('dupes.keepFirst'))),
            h('ul', { class: 'members' }, group.files.map(fileRow)),
            hint);
    }

    // Rows come in chunks; the rest wait behind a button that adds the next.
    function chunkedList(className, entries, build) {
        const list = h('ul', { class: className });
        let shown = 0;
        const more = h('button', { class: 'link show-more', type: 'button' });
        const moreRow = h('li', { class: 'more-row' }, more);
        function showNext() {
            const next = entries.slice(shown, shown + ROWS_SHOWN);
            shown += next.length;
            moreRow.remove();
            list.append(...next.map(build));
            const rest = entries.length - shown;
            if (rest > 0) {
                const next = Math.min(rest, ROWS_SHOWN);
                more.textContent = t('files.showMore', { n: next, count: count(next) });
                list.append(moreRow);
            }
        }
        more.addEventListener('click', () => {
            const first = shown;
            showNext();
            update();
            list.children[first]?.querySelector('input, button')?.focus();
        });
        showNext();
        return list;
    }

    function categoryBlock(category) {
        const listId = `category-${++serial}`;
        const twisty = h('button', { class: 'twisty', type: 'button', 'aria-controls': listId,
            'aria-expanded': String(category.expanded), 'aria-label': t('files.details', { name: category.name }) },
        icon('chevron'));
        const list = mode === 'large'
            ? chunkedList('found-files', category.files, fileRow)
            : chunkedList('dup-groups', category.groups, groupBlock);
        list.id = listId;
        list.hidden = !category.expanded;
        twisty.addEventListener('click', () => {
            category.expanded = !category.expanded;
            twisty.setAttribute('aria-expanded', String(category.expanded));
            list.hidden = !category.expanded;
        });
        let name;
        let box = null;
        if (mode === 'large') {
            const id = `category-box-${serial}`;
            box = h('input', { type: 'checkbox', id, onchange: () => actions.tickFiles(category.files, box.checked) });
            categoryBoxes.push([box, category]);
            name = h('label', { for: id, class: 'name' }, category.name);
        } else {
            name = h('span', { class: 'name' }, category.name);
        }
        const n = finds.count(category);
        return h('li', { class: 'category', 'data-index': String(category.index) },
            h('div', { class: 'row category-row' }, twisty, box, name,
                h('span', { class: 'muted category-count' }, t(`${mode}.count`, { n, count: count(n) })),
                h('span', { class: 'size' }, size(finds.size(category)))),
            list);
    }

    const language = languages.find((candidate) => candidate.code === finds.language);
    const outcome = state.outcome;
    const passing = h('p', { class: 'notice error passing', role: 'alert' });
    const root = h('section', { class: `screen files-result ${mode}`, 'aria-labelledby': `${mode}-result-heading` },
        h('header', { class: 'summary' },
            h('h2', { id: `${mode}-result-heading`, tabindex: '-1' }, t(`${mode}.resultHeading`, { size: size(finds.total) })),
            h('p', { class: 'muted' }, t(`${mode}.resultLead`))),
        !finds.complete && h('p', { class: 'notice warn partial', role: 'status' }, icon('warn'), h('span', {}, t('files.partial'))),
        language && language !== currentLanguage() && h('p', { class: 'notice', role: 'status' },
            t('files.languageNotice'),
            h('button', { class: 'link', type: 'button', onclick: () => actions.newSearch() }, t('files.newSearch'))),
        outcome && outcomeNotice(outcome),
        passing,
        mode === 'dupes' && h('div', { class: 'toolbar' },
            h('button', { class: 'secondary', type: 'button', id: 'keep-first-all',
                onclick: () => actions.keepFirst(finds.categories.flatMap((category) => category.groups)) },
            t('dupes.keepFirstAll')),
            h('p', { class: 'muted' }, t('dupes.firstRule'))),
        h('ul', { class: 'categories', 'aria-label': t(`${mode}.listLabel`) }, finds.categories.map(categoryBlock)));

    const selection = h('p', { class: 'selection', 'aria-live': 'polite' });
    const clear = h('button', { class: 'link', type: 'button', id: `${mode}-clear`, onclick: () => actions.clear() },
        t('files.clear'));
    const remove = h('button', { class: 'danger', id: `${mode}-delete`, onclick: () => actions.deleteSelected() });
    const newSearch = h('button', { class: 'secondary', id: `${mode}-new`, onclick: () => actions.newSearch() },
        t('files.newSearch'));
    const dock = h('div', { class: 'action-bar', role: 'region', 'aria-label': t('files.actions') },
        selection, clear, h('div', { class: 'actions' }, newSearch, remove));

    function update() {
        const deleting = state.deletion;
        passing.hidden = !state.notice;
        passing.textContent = state.notice ? t(state.notice.key, state.notice.params) : '';
        for (const [box, file, row] of rows) {
            box.checked = file.ticked;
            // The last copy of a group cannot be ticked; its hint says why.
            const locked = !canTick(file);
            box.disabled = locked || Boolean(deleting);
            row.classList.toggle('kept', locked);
            if (locked)
                box.setAttribute('aria-describedby', groupHints.find(([, group]) => group === file.group)?.[0].id ?? '');
            else
                box.removeAttribute('aria-describedby');
        }
        for (const [hint, group] of groupHints)
            hint.hidden = !group.files.some((file) => !canTick(file));
        for (const [box, category] of categoryBoxes) {
            const ticked = category.files.filter((file) => file.ticked).length;
            box.checked = ticked > 0 && ticked === category.files.length;
            box.indeterminate = ticked > 0 && ticked < category.files.length;
            box.disabled = Boolean(deleting);
        }
        const selected = finds.selected;
        const bytes = sizeOf(selected);
        root.inert = Boolean(deleting);
        clear.hidden = selected.length === 0 || Boolean(deleting);
        if (deleting) {
            selection.textContent = t('files.deleting', { done: count(deleting.done), total: count(deleting.total) });
        } else {
            selection.textContent = selected.length
                ? t('files.selected', { n: selected.length, count: count(selected.length), size: size(bytes) })
                : t('files.hint');
        }
        remove.disabled = selected.length === 0 || Boolean(deleting);
        newSearch.disabled = Boolean(deleting);
        remove.replaceChildren(icon('trash'), selected.length
            ? t('files.delete', { n: selected.length, count: count(selected.length), size: size(bytes) })
            : t('files.deleteNothing'));
    }
    update();
    return { root, dock, update };
}

// What the last deletion did: what went, in calm words, and what did not,
// named file by file.
function outcomeNotice(outcome) {
    const failed = outcome.failed;
    return h('div', { class: 'outcome', tabindex: '-1' },
        outcome.deleted > 0 && h('p', { class: 'notice ok', role: 'status' }, icon('check'),
            h('span', {}, t('files.deleted', { n: outcome.deleted, count: count(outcome.deleted), size: size(outcome.freed) }))),
        failed.length > 0 && h('div', { class: 'notice error', role: 'alert' },
            h('p', {}, t('files.failed', { n: failed.length, count: count(failed.length) })),
            h('ul', { class: 'failed-files' }, failed.map((path) => h('li', {}, path)))));
}

function renderEmpty(view, actions) {
    const { state, mode } = view;
    const stopped = !state.finds.complete;
    // Everything listed was deleted: the list is empty, not the disk.
    const title = state.outcome ? 'files.nothingLeftTitle' : stopped ? 'files.stoppedEmptyTitle' : `${mode}.emptyTitle`;
    const text = state.outcome ? 'files.nothingLeftText' : stopped ? 'files.stoppedEmptyText' : `${mode}.emptyText`;
    const root = h('section', { class: `screen empty files-empty ${mode}`, 'aria-labelledby': `${mode}-empty-heading` },
        h('div', { class: 'hero' },
            h('div', { class: `hero-mark${stopped && !state.outcome ? ' warn' : ' ok'}` },
                icon(stopped && !state.outcome ? 'warn' : 'check', 'icon hero-icon')),
            h('h2', { id: `${mode}-empty-heading`, tabindex: '-1' }, t(title)),
            h('p', { class: 'lead' }, t(text)),
            state.outcome && outcomeNotice(state.outcome),
            h('div', { class: 'actions center' },
                h('button', { class: 'primary', id: `${mode}-new`, onclick: () => actions.newSearch() }, t('files.newSearch')))));
    return { root };
}
