// Cleaning, one program after the other, each with its state.
import { h, icon, progressBar } from '../dom.js';
import { formatCount, formatSize } from '../format.js';
import { locale, t, units } from '../i18n.js';

export function render(app) {
    const bar = progressBar(t('clean.progressLabel'));
    const steps = h('p', { class: 'muted steps' });
    const rows = app.cleaning.jobs.map((job) => {
        const state = h('span', { class: 'job-state' });
        const row = h('li', { class: 'job' },
            h('span', { class: 'job-mark' }, icon('check')),
            h('span', { class: 'job-name' }, job.name, h('span', { class: 'muted job-group' }, job.groupName)),
            h('span', { class: 'size' }, formatSize(job.size, locale(), units())),
            state);
        return { job, row, state };
    });
    const root = h('section', { class: 'screen cleaning', 'aria-labelledby': 'clean-heading', 'aria-busy': 'true' },
        h('h2', { id: 'clean-heading', tabindex: '-1' }, t('clean.heading')),
        bar, steps,
        h('ul', { class: 'jobs' }, rows.map(({ row }) => row)));

    function update() {
        const jobs = app.cleaning?.jobs;
        if (!jobs)
            return;
        const finished = jobs.filter((job) => job.status === 'done' || job.status === 'failed').length;
        bar.set(finished / jobs.length);
        steps.textContent = t('clean.steps', { done: formatCount(finished, locale()), total: formatCount(jobs.length, locale()) });
        for (const { job, row, state } of rows) {
            row.dataset.status = job.status;
            state.textContent = t(`clean.${job.status}`);
        }
    }
    update();
    return { root, update };
}
