// The scan's result as a tree the user ticks: group → program → item, with
// the files of items that list them. Built once per render; ticking only
// patches check boxes and sizes.
import { h, icon } from '../dom.js';
import { formatCount, formatSize } from '../format.js';
import { currentLanguage, languages, locale, t, units } from '../i18n.js';
import { hasLeaves, selectedSize, setTicked, tickState } from '../report.js';

// Long file lists are cut: past a few hundred rows nobody reads on, and the
// page stays quick.
const FILES_SHOWN = 200;

let serial = 0;

function size(bytes) {
    return formatSize(bytes, locale(), units());
}

function fileList(item) {
    const shown = item.files.slice(0, FILES_SHOWN);
    const rest = item.files.length - shown.length;
    return h('ul', { class: 'files' },
        shown.map((file) => h('li', { class: 'file' },
            h('span', { class: 'file-name', title: file.name }, file.name),
            h('span', { class: 'size' }, size(file.size)))),
        rest > 0 && h('li', { class: 'file more muted' }, t('result.moreFiles', { n: rest, count: formatCount(rest, locale()) })));
}

export function render(app, actions) {
    const report = app.report;
    const boxes = [];     // [checkbox, node, selected-size element]
    const partial = !report.complete;

    if (report.isEmpty)
        return renderEmpty(report, actions);

    function onTick(node, box) {
        // A partly ticked box ticks everything on click, like most trees do.
        setTicked(node, box.checked);
        actions.ticked();
    }

    function checkbox(node, label) {
        const id = `tick-${++serial}`;
        const box = h('input', { type: 'checkbox', id, disabled: !hasLeaves(node),
            onchange: () => onTick(node, box) });
        const note = h('span', { class: 'selected-note muted' });
        boxes.push([box, node, note]);
        return { box, id, note, label: h('label', { for: id, class: 'name' }, label) };
    }

    function twisty(node, list, name) {
        const button = h('button', { class: 'twisty', type: 'button', 'aria-controls': list.id,
            'aria-expanded': String(Boolean(node.expanded)), 'aria-label': t('result.details', { name }) },
        icon('chevron'));
        button.addEventListener('click', () => {
            node.expanded = !node.expanded;
            button.setAttribute('aria-expanded', String(node.expanded));
            list.hidden = !node.expanded;
        });
        list.hidden = !node.expanded;
        return button;
    }

    function itemRow(item) {
        const { box, label } = checkbox(item, item.name);
        let files = null;
        let toggle = null;
        if (item.files.length) {
            toggle = h('button', { class: 'link files-toggle', type: 'button', 'aria-expanded': 'false' },
                t('result.showFiles', { n: item.files.length, count: formatCount(item.files.length, locale()) }));
            toggle.addEventListener('click', () => {
                if (!files) {
                    files = fileList(item);
                    files.id = `files-${++serial}`;
                    toggle.setAttribute('aria-controls', files.id);
                    toggle.after(files);
                } else {
                    files.hidden = !files.hidden;
                }
                const open = !files.hidden;
                toggle.setAttribute('aria-expanded', String(open));
                toggle.textContent = open ? t('result.hideFiles')
                    : t('result.showFiles', { n: item.files.length, count: formatCount(item.files.length, locale()) });
            });
        }
        return h('li', { class: 'item', 'data-id': item.id },
            h('div', { class: 'row' }, h('span', { class: 'twisty-space' }), box, label,
                h('span', { class: 'size' }, size(item.size))),
            toggle && h('div', { class: 'item-files' }, toggle));
    }

    function programRow(program) {
        const { box, label, note } = checkbox(program, program.name);
        const list = h('ul', { class: 'items', id: `items-${++serial}` }, program.items.map(itemRow));
        return h('li', { class: 'program', 'data-id': program.id },
            h('div', { class: 'row' },
                program.items.length ? twisty(program, list, program.name) : h('span', { class: 'twisty-space' }),
                box, label, note, h('span', { class: 'size' }, size(program.size))),
            program.items.length > 0 && list);
    }

    function groupBlock(group) {
        if (group.expanded === undefined)
            group.expanded = true;
        const { box, label, note } = checkbox(group, group.name);
        const list = h('ul', { class: 'programs', id: `programs-${++serial}` }, group.programs.map(programRow));
        return h('li', { class: 'group', 'data-id': group.id },
            h('div', { class: 'row group-row' }, twisty(group, list, group.name), box, label, note,
                h('span', { class: 'size' }, size(group.size))),
            list);
    }

    const selectedTotal = h('strong', { class: 'selected-total' });
    const cleanButton = h('button', { class: 'primary', id: 'clean', onclick: () => actions.clean() });
    const hint = h('span', { class: 'muted hint' });
    const language = languages.find((candidate) => candidate.code === report.language);
    const root = h('section', { class: 'screen result', 'aria-labelledby': 'result-heading' },
        h('header', { class: 'summary' },
            h('h2', { id: 'result-heading', tabindex: '-1' }, t('result.heading', { size: size(report.found) })),
            h('p', { class: 'muted' }, t('result.lead'))),
        partial && h('p', { class: 'notice warn', role: 'status' }, icon('warn'), t('result.partial')),
        language && language !== currentLanguage() && h('p', { class: 'notice', role: 'status' },
            t('result.languageNotice'),
            h('button', { class: 'link', type: 'button', onclick: () => actions.scan() }, t('result.rescan'))),
        h('ul', { class: 'tree', 'aria-label': t('result.treeLabel') }, report.groups.map(groupBlock)));
    // The clean button stays in reach however long the list is.
    const dock = h('div', { class: 'action-bar', role: 'region', 'aria-label': t('result.actions') },
        h('p', { class: 'selection', 'aria-live': 'polite' }, t('result.selected'), ' ', selectedTotal),
        hint,
        h('div', { class: 'actions' },
            h('button', { class: 'secondary', id: 'rescan', onclick: () => actions.scan() }, t('result.rescan')),
            cleanButton));

    function update() {
        for (const [box, node, note] of boxes) {
            const state = tickState(node);
            box.checked = state === 'all';
            box.indeterminate = state === 'some';
            if (node.kind !== 'item')
                note.textContent = state === 'some' ? t('result.partSelected', { size: size(selectedSize(node)) }) : '';
        }
        const selected = selectedSize(report);
        selectedTotal.textContent = size(selected);
        const anything = boxes.some(([, node]) => node.kind !== 'group' && tickState(node) !== 'none');
        cleanButton.disabled = !anything;
        cleanButton.textContent = anything ? t('result.clean', { size: size(selected) }) : t('result.cleanNothing');
        hint.textContent = anything ? '' : t('result.hint');
    }
    update();
    return { root, dock, update };
}

function renderEmpty(report, actions) {
    const stopped = !report.complete;
    const root = h('section', { class: 'screen empty', 'aria-labelledby': 'empty-heading' },
        h('div', { class: 'hero' },
            h('div', { class: 'hero-mark ok' }, icon(stopped ? 'warn' : 'check', 'icon hero-icon')),
            h('h2', { id: 'empty-heading', tabindex: '-1' }, t(stopped ? 'result.stoppedEmptyTitle' : 'result.emptyTitle')),
            h('p', { class: 'lead' }, t(stopped ? 'result.stoppedEmptyText' : 'result.emptyText')),
            h('div', { class: 'actions center' },
                h('button', { class: 'secondary', onclick: () => actions.home() }, t('common.home')),
                h('button', { class: 'primary', id: 'rescan', onclick: () => actions.scan() }, t('result.rescan')))));
    return { root };
}
