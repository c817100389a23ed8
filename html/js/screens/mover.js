// Moving folders to another disk: where they go, the user's own folders
// with their size and state, and program folders. Built once per render;
// the lists are rebuilt from the state on every update (they are short),
// the fields are patched so that typing is never interrupted.
import { h, icon, progressBar } from '../dom.js';
import { formatSize } from '../format.js';
import { locale, t, units } from '../i18n.js';
import { has } from '../host.js';
import { pathKey } from '../roots.js';
import { displayName } from '../mover-model.js';

let serial = 0;

function scopeOf(kind) {
    return kind === 'root' ? 'root' : kind === 'moveApp' || kind === 'restoreApp' ? 'apps' : 'known';
}

function size(bytes) {
    return formatSize(bytes, locale(), units());
}

export function render(view, actions) {
    const { state } = view;
    if (state.unavailable) {
        const root = h('section', { class: 'screen message mover-unavailable', 'aria-labelledby': 'mover-heading' },
            h('div', { class: 'hero', role: 'alert' },
                h('div', { class: 'hero-mark warn' }, icon('warn', 'icon hero-icon')),
                h('h2', { id: 'mover-heading', tabindex: '-1' }, t('mover.unavailable')),
                h('p', { class: 'lead' }, t('mover.unavailableText'))));
        return { root };
    }

    // Where moved folders go.
    const rootPath = h('span', { class: 'root-path', id: 'mover-root' });
    const rootNote = h('p', { class: 'muted root-note', id: 'mover-root-note' });
    const change = h('button', { class: 'secondary', type: 'button', id: 'mover-change-root', 'aria-expanded': 'false',
        'aria-controls': 'mover-chooser', onclick: () => (state.chooser ? actions.closeChooser() : actions.openChooser()) },
    t('mover.root.change'));
    const chooserSlot = h('div', { id: 'mover-chooser' });
    let chooserShown = null;

    const outcome = h('div', { class: 'mover-outcome', tabindex: '-1' });
    const working = h('div', { class: 'mover-working', role: 'status' });
    const bar = progressBar(t('mover.working.progressLabel'));
    bar.set(null);
    const workingText = h('p', { class: 'working-text' });
    working.append(workingText, bar, h('p', { class: 'muted working-hint' }, t('mover.working.hint')));

    // What is under way and what came of it show in the panel the request
    // came from, where the user is looking.
    const slots = { root: h('div', { class: 'slot' }), known: h('div', { class: 'slot' }), apps: h('div', { class: 'slot' }) };

    const folderList = h('ul', { class: 'known-folders', 'aria-label': t('mover.known.title') });

    // Program folders.
    const fieldId = 'mover-app-field';
    const problem = h('p', { class: 'field-problem', id: 'mover-app-problem', 'aria-live': 'polite' });
    const field = h('input', { type: 'text', id: fieldId, class: 'text-field', spellcheck: false, autocomplete: 'off',
        'aria-describedby': 'mover-app-problem', placeholder: t('mover.apps.placeholder'),
        oninput: () => actions.appText(field.value),
        onkeydown: (event) => {
            if (event.key === 'Enter') {
                event.preventDefault();
                actions.moveApp();
            }
        } });
    field.value = state.appText;
    const moveApp = h('button', { class: 'secondary', type: 'button', id: 'mover-app-move', onclick: () => actions.moveApp() },
        icon('move'), t('mover.apps.move'));
    const browse = has('selectDir') && h('button', { class: 'secondary', type: 'button', id: 'mover-app-browse',
        onclick: () => actions.browseApp() }, icon('folder'), t('mover.apps.browse'));
    const appList = h('ul', { class: 'moved-apps', 'aria-label': t('mover.apps.movedLabel') });
    const appNone = h('p', { class: 'muted apps-none' }, t('mover.apps.none'));

    const root = h('section', { class: 'screen mover', 'aria-labelledby': 'mover-heading' },
        h('div', { class: 'hero compact' },
            h('div', { class: 'hero-mark' }, icon('move', 'icon hero-icon')),
            h('h2', { id: 'mover-heading', tabindex: '-1' }, t('mover.heading')),
            h('p', { class: 'lead' }, t('mover.lead'))),
        h('section', { class: 'panel root-panel', 'aria-labelledby': 'mover-root-title' },
            h('div', { class: 'root-row' },
                icon('disk', 'icon root-icon'),
                h('div', { class: 'root-body' },
                    h('h3', { class: 'panel-title', id: 'mover-root-title' }, t('mover.root.title')),
                    rootPath, rootNote),
                change),
            chooserSlot,
            slots.root),
        h('section', { class: 'panel', 'aria-labelledby': 'mover-known-title' },
            h('h3', { class: 'panel-title', id: 'mover-known-title' }, t('mover.known.title')),
            h('p', { class: 'muted panel-lead' }, t('mover.known.lead')),
            slots.known,
            folderList),
        h('section', { class: 'panel', 'aria-labelledby': 'mover-apps-title' },
            h('h3', { class: 'panel-title', id: 'mover-apps-title' }, t('mover.apps.title')),
            h('p', { class: 'muted panel-lead' }, t('mover.apps.lead')),
            h('label', { for: fieldId, class: 'field-label' }, t('mover.apps.field')),
            h('div', { class: 'folder-row' }, field, browse, moveApp),
            problem,
            slots.apps,
            h('h4', { class: 'list-title' }, t('mover.apps.movedLabel')),
            appNone,
            appList));

    function folderRow(folder) {
        const busy = state.op && state.op.id === folder.id && (state.op.kind === 'move' || state.op.kind === 'restore');
        const available = folder.path !== '';
        const name = displayName(folder);
        const stateText = busy ? t(state.op.kind === 'move' ? 'mover.known.moving' : 'mover.known.restoring')
            : !available ? t('mover.known.unavailable') : folder.isMoved ? t('mover.known.moved') : t('mover.known.usual');
        const button = folder.isMoved
            ? h('button', { class: 'secondary', type: 'button', 'data-action': 'restore',
                'aria-label': t('mover.known.restoreLabel', { name }), onclick: () => actions.restoreKnown(folder.id) },
            icon('restore'), t('mover.known.restore'))
            : h('button', { class: 'secondary', type: 'button', 'data-action': 'move', disabled: !available,
                'aria-label': t('mover.known.moveLabel', { name }), onclick: () => actions.moveKnown(folder.id) },
            icon('move'), t('mover.known.move'));
        button.disabled = !available || Boolean(state.op);
        return h('li', { class: `known-folder${folder.isMoved ? ' moved' : ''}${busy ? ' working' : ''}`,
            'data-id': String(folder.id), 'aria-busy': busy ? 'true' : null },
        h('span', { class: 'folder-mark' }, icon(folder.isMoved ? 'link' : 'folder')),
        h('div', { class: 'folder-body' },
            h('div', { class: 'folder-head' },
                h('span', { class: 'folder-name' }, name),
                h('span', { class: `badge state${busy ? ' working' : folder.isMoved ? ' moved' : ''}` }, stateText)),
            h('span', { class: 'folder-where muted', title: folder.path }, folder.path || '—')),
        h('span', { class: 'size' }, available ? size(folder.size) : ''),
        button);
    }

    function appRow(app) {
        const busy = state.op && state.op.kind === 'restoreApp' && state.op.path === app.path;
        return h('li', { class: `moved-app${busy ? ' working' : ''}`, 'data-path': app.path },
            h('span', { class: 'folder-mark' }, icon('link')),
            h('div', { class: 'folder-body' },
                h('span', { class: 'folder-name app-path', title: app.path }, app.path),
                app.location && h('span', { class: 'folder-where muted', title: app.location }, t('mover.apps.now', { location: app.location }))),
            h('button', { class: 'secondary', type: 'button', disabled: Boolean(state.op), 'data-action': 'restore',
                'aria-label': t('mover.known.restoreLabel', { name: app.path }), onclick: () => actions.restoreApp(app.path) },
            icon('restore'), t('mover.known.restore')));
    }

    function chooser() {
        const choice = state.chooser;
        const boxes = [];
        const text = h('input', { type: 'text', class: 'text-field', id: 'mover-root-field', spellcheck: false, autocomplete: 'off',
            placeholder: t('mover.root.placeholder'), 'aria-describedby': 'mover-root-problem',
            oninput: () => {
                actions.chooserText(text.value);
                for (const [box] of boxes)
                    box.checked = false;
            },
            onkeydown: (event) => {
                if (event.key === 'Enter') {
                    event.preventDefault();
                    actions.applyRoot();
                }
            } });
        text.value = choice.text;
        const current = pathKey(view.root());
        const disks = h('ul', { class: 'disk-choices', role: 'radiogroup', 'aria-label': t('mover.root.disks') },
            state.disks.map((disk) => {
                const id = `mover-disk-${++serial}`;
                const box = h('input', { type: 'radio', name: 'mover-disk', id, value: disk, onchange: () => actions.choose(disk) });
                boxes.push([box, disk]);
                const here = pathKey(`${disk.replace(/[\\/]+$/, '')}${view.state.name}`) === current;
                return h('li', { class: 'disk-choice' }, box,
                    h('label', { for: id }, icon('disk'), h('span', { class: 'disk-root' }, disk),
                        pathKey(disk) === pathKey(state.systemDisk) && h('span', { class: 'badge' }, t('mover.root.systemBadge')),
                        here && h('span', { class: 'badge' }, t('mover.root.current'))));
            }));
        const chooserProblem = h('p', { class: 'field-problem', id: 'mover-root-problem', 'aria-live': 'polite' });
        const element = h('fieldset', { class: 'root-chooser' },
            h('legend', {}, t('mover.root.chooserTitle')),
            disks,
            h('label', { for: 'mover-root-field', class: 'field-label' }, t('mover.root.folder')),
            h('div', { class: 'folder-row' }, text),
            chooserProblem,
            h('div', { class: 'actions end' },
                h('button', { class: 'secondary', type: 'button', id: 'mover-root-cancel', onclick: () => actions.closeChooser() },
                    t('mover.confirm.cancel')),
                h('button', { class: 'primary', type: 'button', id: 'mover-root-apply', onclick: () => actions.applyRoot() },
                    t('mover.root.apply'))));
        element.patch = () => {
            for (const [box, disk] of boxes)
                box.checked = state.chooser?.choice === disk;
            chooserProblem.textContent = state.chooser?.problem ? t(state.chooser.problem) : '';
            element.disabled = Boolean(state.op);
        };
        return element;
    }

    function workingLine(op) {
        if (op.kind === 'move')
            return t('mover.working.move', { name: op.name });
        if (op.kind === 'restore')
            return t('mover.working.restore', { name: op.name });
        if (op.kind === 'moveApp')
            return t('mover.working.move', { name: op.path });
        if (op.kind === 'restoreApp')
            return t('mover.working.restore', { name: op.path });
        return t('mover.working.root', { root: op.root });
    }

    function update() {
        rootPath.textContent = view.root();
        rootPath.title = view.root();
        rootNote.textContent = t(`mover.root.${state.reason}`);
        change.disabled = Boolean(state.op);
        change.setAttribute('aria-expanded', String(Boolean(state.chooser)));
        if (state.chooser !== chooserShown) {
            chooserShown = state.chooser;
            chooserSlot.replaceChildren(...(state.chooser ? [chooser()] : []));
        }
        chooserSlot.firstChild?.patch();

        const op = state.op;
        const running = op && op.kind !== 'refresh';
        working.hidden = !running;
        // Moved only when their place changes: moving a node takes the focus off it.
        if (running && working.parentNode !== slots[scopeOf(op.kind)])
            slots[scopeOf(op.kind)].append(working);
        if (state.outcome && outcome.parentNode !== slots[scopeOf(state.outcome.kind)])
            slots[scopeOf(state.outcome.kind)].prepend(outcome);
        root.setAttribute('aria-busy', String(Boolean(op)));
        if (running)
            workingText.textContent = workingLine(op);

        const result = state.outcome;
        outcome.hidden = !result;
        outcome.replaceChildren(...(result ? [h('p', { class: `notice ${result.tone}`, role: result.tone === 'error' ? 'alert' : 'status' },
            icon(result.tone === 'ok' ? 'check' : 'warn'), h('span', {}, t(result.key, result.params)))] : []));

        if (state.folders === null) {
            folderList.replaceChildren(h('li', { class: 'muted list-note' }, t('mover.known.loading')));
        } else if (state.folders.length === 0) {
            folderList.replaceChildren(h('li', { class: 'muted list-note' }, t('mover.known.none')));
        } else {
            folderList.replaceChildren(...state.folders.map(folderRow));
            folderList.setAttribute('aria-busy', String(op?.kind === 'refresh'));
        }

        if (field.value !== state.appText)
            field.value = state.appText;
        problem.textContent = state.appProblem ? t(state.appProblem.key, state.appProblem.params) : '';
        field.setAttribute('aria-invalid', String(Boolean(state.appProblem) && state.appProblem.key !== 'mover.apps.problem.nothingChosen'
            && state.appProblem.key !== 'mover.apps.problem.already'));
        field.disabled = Boolean(running);
        moveApp.disabled = Boolean(op);
        if (browse)
            browse.disabled = Boolean(op);
        appList.replaceChildren(...state.apps.map(appRow));
        appList.hidden = state.apps.length === 0;
        appNone.hidden = state.apps.length > 0;
    }
    update();
    return { root, update };
}
