// A large-file or duplicate search under way: where it looks, how far it
// has come and the path it has reached. The program sends no count or
// share of the work, so the bar only shows that it is alive.
import { h, progressBar } from '../dom.js';
import { formatCount } from '../format.js';
import { locale, t } from '../i18n.js';

export function render(view, actions) {
    const { state, mode } = view;
    const bar = progressBar(t('files.progressLabel'));
    bar.set(null);
    const checked = h('p', { class: 'muted steps' });
    const path = h('p', { class: 'current-file', title: '' });
    const stop = h('button', { class: 'secondary', id: `${mode}-stop`, onclick: () => actions.stop() });
    const roots = state.scan?.roots ?? [];
    const root = h('section', { class: `screen scanning files-scanning ${mode}`, 'aria-labelledby': `${mode}-scan-heading`,
        'aria-busy': 'true' },
    h('h2', { id: `${mode}-scan-heading`, tabindex: '-1' }, t(`${mode}.searching`)),
    h('p', { class: 'muted searching-in' }, t('files.searchingIn', { roots: roots.join(', ') })),
    bar, checked,
    h('div', { class: 'current' }, h('span', { class: 'current-label muted' }, t('files.current')), path),
    h('div', { class: 'actions' }, stop));

    function update() {
        const scan = state.scan;
        if (!scan)
            return;
        // A path comes every so many files, so the count is a round guess.
        const files = scan.reports * view.pathEvery;
        checked.textContent = scan.reports > 0
            ? t('files.checked', { n: files, count: formatCount(files, locale()) })
            : t('files.preparing');
        path.textContent = scan.path || '…';
        path.title = scan.path;
        stop.textContent = t(scan.stopping ? 'files.stopping' : 'files.stop');
        stop.disabled = scan.stopping;
    }
    update();
    return { root, update };
}
