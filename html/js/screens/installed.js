// The installed programs: how many and how big, the list in the chosen
// order, and an uninstaller per program. Built once per render; update()
// rebuilds the list from the state (a few thousand rows at most) and
// patches the rest, so the find field keeps its focus while typing.
import { h, icon, progressBar } from '../dom.js';
import { formatCount, formatSize } from '../format.js';
import { locale, t, units } from '../i18n.js';
import { canRun, failedSources, filterPrograms, sortPrograms, totalSize } from '../installed-model.js';

function size(bytes) {
    return formatSize(bytes, locale(), units());
}

function sourceName(source) {
    const key = `installed.source.${source}`;
    const name = t(key);
    return name === key ? source : name;
}

export function render(state, actions) {
    const outcome = h('div', { class: 'installed-outcome', tabindex: '-1' });
    const loadingBar = progressBar(t('installed.loadingLabel'));
    loadingBar.set(null);
    const loading = h('div', { class: 'installed-loading', role: 'status' },
        h('p', { class: 'working-text' }, t('installed.loading')), loadingBar);
    const working = h('div', { class: 'mover-working installed-working', role: 'status' });
    const workingBar = progressBar(t('installed.working.label'));
    workingBar.set(null);
    const workingText = h('p', { class: 'working-text' });
    working.append(workingText, workingBar, h('p', { class: 'muted working-hint' }, t('installed.working.hint')));

    // The listing failed and there is nothing older to show.
    const failure = h('div', { class: 'hero installed-failed', role: 'alert' });

    const summary = h('p', { class: 'installed-summary', id: 'installed-summary' });
    const sortButtons = ['size', 'name'].map((order) => h('button', { type: 'button', class: 'secondary sort-choice',
        id: `installed-sort-${order}`, onclick: () => actions.order(order) }, t(`installed.sort.${order}`)));
    const refreshButton = h('button', { type: 'button', class: 'secondary', id: 'installed-refresh',
        onclick: () => actions.refresh() }, t('installed.refresh'));
    const field = h('input', { type: 'search', id: 'installed-filter', class: 'text-field', spellcheck: false, autocomplete: 'off',
        placeholder: t('installed.filterPlaceholder'), oninput: () => actions.filter(field.value) });
    field.value = state.filter;
    const notices = h('div', { class: 'installed-notices' });
    const list = h('ul', { class: 'installed-list', 'aria-label': t('installed.listLabel') });
    const listNote = h('p', { class: 'muted list-note installed-none' });
    const panel = h('section', { class: 'panel installed-panel', 'aria-labelledby': 'installed-heading' },
        h('div', { class: 'installed-toolbar' },
            summary,
            h('div', { class: 'sort-choices', role: 'group', 'aria-label': t('installed.sort.label') },
                h('span', { class: 'muted sort-label', 'aria-hidden': 'true' }, t('installed.sort.label')), sortButtons),
            refreshButton),
        h('div', { class: 'installed-find' },
            h('label', { for: 'installed-filter', class: 'field-label' }, t('installed.filter')), field),
        notices, list, listNote);

    const root = h('section', { class: 'screen installed', 'aria-labelledby': 'installed-heading' },
        h('div', { class: 'hero compact' },
            h('div', { class: 'hero-mark' }, icon('trash', 'icon hero-icon')),
            h('h2', { id: 'installed-heading', tabindex: '-1' }, t('installed.heading')),
            h('p', { class: 'lead' }, t('installed.lead'))),
        outcome, working, loading, failure, panel);

    function row(program) {
        const meta = [program.version && t('version', { version: program.version }), program.publisher,
            sourceName(program.source)].filter(Boolean).join(' · ');
        const busy = state.op?.key === program.key;
        let action;
        if (canRun(program)) {
            action = h('button', { type: 'button', class: 'secondary uninstall', disabled: Boolean(state.op || state.loading),
                'aria-label': t('installed.uninstallLabel', { name: program.name }),
                onclick: () => actions.uninstall(program.key) }, icon('trash'), t('installed.uninstall'));
        } else {
            action = h('span', { class: 'muted no-uninstall' }, program.command ? t('installed.inTerminal') : t('installed.noCommand'));
        }
        return h('li', { class: `installed-program${busy ? ' working' : ''}`, 'data-key': program.key, 'data-id': program.id,
            'data-source': program.source },
        h('div', { class: 'program-body' },
            h('span', { class: 'program-name' }, program.name),
            meta && h('span', { class: 'muted program-meta' }, meta),
            program.command && h('span', { class: 'program-command' },
                h('span', { class: 'visually-hidden' }, `${t('installed.command')}: `),
                h('code', {}, program.command)),
            program.inTerminal && h('span', { class: 'muted program-hint' }, t('installed.terminalHint'))),
        h('span', { class: `program-size${program.size === null ? ' muted' : ''}` },
            program.size === null ? t('installed.sizeUnknown') : size(program.size)),
        action);
    }

    function update() {
        const list_ = state.list;
        const op = state.op;
        root.setAttribute('aria-busy', String(Boolean(state.loading || op)));

        const result = state.outcome;
        outcome.hidden = !result;
        outcome.replaceChildren(...(result ? [h('p', { class: `notice ${result.tone}`, role: result.tone === 'error' ? 'alert' : 'status' },
            icon(result.tone === 'ok' ? 'check' : 'warn'), h('span', {}, t(result.key, result.params)))] : []));

        working.hidden = !op;
        if (op)
            workingText.textContent = t('installed.working.text', { name: op.name });
        loading.hidden = !(state.loading && !op);

        const failed = state.failure && !state.loading;
        failure.hidden = !(failed && !list_);
        if (!failure.hidden) {
            failure.replaceChildren(
                h('div', { class: 'hero-mark warn' }, icon('warn', 'icon hero-icon')),
                h('h3', { id: 'installed-failed-title' }, t('installed.failed.title')),
                h('p', { class: 'lead' }, t(`installed.failed.${state.failure}`)),
                h('button', { type: 'button', class: 'primary', id: 'installed-retry', onclick: () => actions.refresh() },
                    t('installed.failed.again')));
        }

        panel.hidden = !list_;
        if (!list_)
            return;
        const shown = sortPrograms(filterPrograms(list_.programs, state.filter), state.order, locale());
        summary.textContent = t('installed.count', { n: list_.programs.length,
            count: formatCount(list_.programs.length, locale()), size: size(totalSize(list_.programs)) });
        for (const button of sortButtons)
            button.setAttribute('aria-pressed', String(button.id === `installed-sort-${state.order}`));
        refreshButton.disabled = Boolean(state.loading || op);
        if (field.value !== state.filter)
            field.value = state.filter;

        const notes = [];
        if (failed)
            notes.push(['warn', t('installed.failed.stale')]);
        const broken = failedSources(list_.sources);
        if (broken.length)
            notes.push(['warn', t('installed.sourcesFailed', { sources: broken.map(sourceName).join(', ') })]);
        notices.replaceChildren(...notes.map(([tone, text]) => h('p', { class: `notice ${tone}` }, icon('warn'), h('span', {}, text))));

        list.replaceChildren(...shown.map(row));
        list.hidden = shown.length === 0;
        listNote.hidden = shown.length > 0;
        listNote.textContent = list_.programs.length === 0 ? t('installed.empty')
            : t('installed.noMatch', { text: state.filter.trim() });
    }
    update();
    return { root, update };
}
