// A scan under way: how far it is, what it has found, where it is looking.
// Also shows the check after cleaning, which measures what was freed.
import { h, progressBar } from '../dom.js';
import { formatCount, formatSize } from '../format.js';
import { locale, t, units } from '../i18n.js';

export function render(app, actions) {
    const verifying = app.scan?.purpose === 'verify';
    const bar = progressBar(t('scan.progressLabel'));
    const steps = h('p', { class: 'muted steps' });
    const found = h('p', { class: 'found-size' });
    const file = h('p', { class: 'current-file', title: '' });
    const stop = h('button', { class: 'secondary', id: 'stop', onclick: () => actions.stop() });
    const root = h('section', { class: 'screen scanning', 'aria-labelledby': 'scan-heading', 'aria-busy': 'true' },
        h('h2', { id: 'scan-heading', tabindex: '-1' }, t(verifying ? 'scan.verifyHeading' : 'scan.heading')),
        !verifying && h('div', { class: 'found' }, h('p', { class: 'found-label muted' }, t('scan.found')), found),
        bar, steps,
        h('div', { class: 'current' }, h('span', { class: 'current-label muted' }, t('scan.current')), file),
        h('div', { class: 'actions' }, stop));

    function update() {
        const session = app.scan;
        if (!session)
            return;
        bar.set(session.fraction);
        steps.textContent = session.total > 0
            ? t('scan.steps', { done: formatCount(session.done, locale()), total: formatCount(session.total, locale()) })
            : t('scan.preparing');
        found.textContent = formatSize(session.size, locale(), units());
        file.textContent = session.file || '…';
        file.title = session.file;
        stop.textContent = t(session.stopping ? 'scan.stopping' : 'scan.stop');
        stop.disabled = session.stopping;
    }
    update();
    return { root, update };
}
