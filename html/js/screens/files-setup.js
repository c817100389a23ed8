// Where a large-file or duplicate search looks: disks to tick and folders
// to add, typed or picked. Built once per render; ticks, folders and
// problems are patched in place so the focus stays where the user is.
import { h, icon } from '../dom.js';
import { t } from '../i18n.js';
import { coveringRoot } from '../roots.js';
import { has } from '../host.js';

let serial = 0;

export function render(view, actions) {
    const { state, mode } = view;
    const fieldId = `${mode}-folder`;
    const problemId = `${mode}-folder-problem`;

    const diskBoxes = [];
    const disks = state.disks === null
        ? h('p', { class: 'muted' }, t('files.noDisks'))
        : h('ul', { class: 'disk-choices' }, state.disks.map((disk) => {
            const id = `disk-${++serial}`;
            const box = h('input', { type: 'checkbox', id, onchange: () => actions.tickDisk(disk, box.checked) });
            diskBoxes.push([box, disk]);
            return h('li', { class: 'disk-choice' },
                box,
                h('label', { for: id },
                    icon('disk'),
                    h('span', { class: 'disk-root' }, disk),
                    disk === state.systemDisk && h('span', { class: 'badge' }, t('files.systemDisk'))));
        }));

    const field = h('input', { type: 'text', id: fieldId, class: 'text-field', spellcheck: false, autocomplete: 'off',
        'aria-describedby': problemId, placeholder: t('files.folderPlaceholder'),
        oninput: () => actions.folderText(field.value),
        onkeydown: (event) => {
            if (event.key === 'Enter') {
                event.preventDefault();
                actions.addFolder();
                field.focus();
            }
        } });
    field.value = state.folderText;
    const problem = h('p', { id: problemId, class: 'field-problem', 'aria-live': 'polite' });
    const folderList = h('ul', { class: 'folder-list', 'aria-label': t('files.folders') });

    const start = h('button', { class: 'primary big start', id: `${mode}-start`, onclick: () => actions.start() },
        t(`${mode}.start`));
    const startHint = h('p', { class: 'muted start-hint', id: `${mode}-start-hint` });
    const startProblem = h('p', { class: 'notice error start-problem', role: 'alert', tabindex: '-1' });
    const other = h('p', { class: 'notice other-search', role: 'status' });

    const root = h('section', { class: `screen files-setup ${mode}`, 'aria-labelledby': `${mode}-heading` },
        h('div', { class: 'hero compact' },
            h('div', { class: 'hero-mark' }, icon(mode === 'large' ? 'large' : 'copies', 'icon hero-icon')),
            h('h2', { id: `${mode}-heading`, tabindex: '-1' }, t(`${mode}.heading`)),
            h('p', { class: 'lead' }, t(`${mode}.lead`))),
        h('fieldset', { class: 'where' },
            h('legend', {}, t('files.where')),
            h('h3', { class: 'section-title' }, t('files.disks')),
            disks,
            h('h3', { class: 'section-title' }, h('label', { for: fieldId }, t('files.folders'))),
            h('div', { class: 'folder-row' },
                field,
                h('button', { class: 'secondary', type: 'button', onclick: () => { actions.addFolder(); field.focus(); } },
                    t('files.add')),
                has('selectDir') && h('button', { class: 'secondary', type: 'button', id: `${mode}-browse`,
                    onclick: () => actions.browse() }, icon('folder'), t('files.browse'))),
            problem,
            folderList),
        startProblem,
        other,
        h('div', { class: 'actions center start-row' }, start),
        startHint,
        state.finds && h('p', { class: 'center' },
            h('button', { class: 'link', type: 'button', onclick: () => actions.results() }, t('files.backToResults'))));

    function folderRow(folder, chosen) {
        const covering = coveringRoot(folder, chosen);
        return h('li', { class: `folder${covering ? ' covered' : ''}` },
            icon('folder'),
            h('span', { class: 'folder-path', title: folder }, folder),
            covering && h('span', { class: 'muted folder-note' }, t('files.covered', { root: covering })),
            h('button', { class: 'icon-button', type: 'button', 'aria-label': t('files.remove', { path: folder }),
                title: t('files.remove', { path: folder }),
                onclick: () => {
                    // The focus moves to the next row's button, not to the page.
                    const position = state.folders.indexOf(folder);
                    actions.removeFolder(folder);
                    const buttons = folderList.querySelectorAll('button');
                    (buttons[position] ?? buttons[position - 1] ?? field).focus();
                } }, icon('close')));
    }

    function update() {
        const chosen = { disks: state.disks ?? [], ticked: state.ticked, folders: state.folders };
        for (const [box, disk] of diskBoxes)
            box.checked = state.ticked.includes(disk);
        if (field.value !== state.folderText)
            field.value = state.folderText;
        problem.textContent = state.folderProblem ? t(state.folderProblem, { example: example(state.systemDisk) }) : '';
        field.setAttribute('aria-invalid', String(Boolean(state.folderProblem) && state.folderProblem !== 'files.folder.nothingChosen'));
        folderList.replaceChildren(...state.folders.map((folder) => folderRow(folder, chosen)));
        folderList.hidden = state.folders.length === 0;

        const busyElsewhere = view.otherSearching();
        const roots = view.roots();
        other.hidden = !busyElsewhere;
        other.textContent = busyElsewhere ? t('files.otherSearching', { view: t(`tabs.${busyElsewhere.id}`) }) : '';
        startProblem.hidden = !state.startProblem;
        startProblem.textContent = state.startProblem ? t(state.startProblem) : '';
        // A typed folder counts as chosen: the start adds it.
        const nothing = roots.length === 0 && !state.folderText.trim();
        start.disabled = nothing || Boolean(busyElsewhere);
        startHint.textContent = nothing ? t('files.chooseSomething') : '';
        startHint.hidden = !nothing;
    }
    field.addEventListener('input', () => update());
    update();
    return { root, update };
}

// A full path as the user's system writes one, for the folder hint.
function example(systemDisk) {
    return systemDisk.startsWith('/') ? '/home' : `${systemDisk || 'C:\\'}Users`;
}
