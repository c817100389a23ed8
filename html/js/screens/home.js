// Start screen: what the disks hold, and the one button that matters.
import { h, icon } from '../dom.js';
import { formatSize, mibToBytes } from '../format.js';
import { locale, t, units } from '../i18n.js';

// Below this share of free space a disk is drawn as nearly full.
const LOW_FREE = 0.1;

function diskCard(disk) {
    const total = mibToBytes(disk.totalMbs);
    const free = mibToBytes(Math.min(Number(disk.freeMbs) || 0, Number(disk.totalMbs)));
    const usedFraction = 1 - Number(free) / Number(total);
    const low = 1 - usedFraction < LOW_FREE;
    const name = String(disk.drive ?? '');
    const used = Math.round(usedFraction * 100);
    return h('li', { class: `disk${low ? ' low' : ''}` },
        icon('disk', 'icon disk-icon'),
        h('div', { class: 'disk-body' },
            h('div', { class: 'disk-head' },
                h('span', { class: 'disk-name' }, name),
                low && h('span', { class: 'badge warn' }, t('home.diskLow'))),
            h('div', { class: 'bar disk-bar', role: 'meter', 'aria-label': t('home.diskUsed', { drive: name }),
                'aria-valuemin': '0', 'aria-valuemax': '100', 'aria-valuenow': String(used),
                'aria-valuetext': t('home.diskUsedValue', { percent: used }) },
            h('div', { class: 'bar-fill', style: { width: `${used}%` } })),
            h('p', { class: 'disk-free muted' }, t('home.diskFree', {
                free: formatSize(free, locale(), units()), total: formatSize(total, locale(), units()) }))));
}

export function render(app, actions) {
    const disks = app.disks;
    const root = h('section', { class: 'screen home', 'aria-labelledby': 'home-heading' },
        h('div', { class: 'hero' },
            h('div', { class: 'hero-mark' }, icon('sparkle', 'icon hero-icon')),
            h('h2', { id: 'home-heading', tabindex: '-1' }, t('home.heading')),
            h('p', { class: 'lead' }, t('home.lead')),
            h('button', { class: 'primary big', id: 'scan', onclick: () => actions.scan() }, t('home.scan'))),
        h('h3', { class: 'section-title' }, t('home.disks')),
        disks && disks.length
            ? h('ul', { class: 'disks' }, disks.map(diskCard))
            : h('p', { class: 'muted' }, t('home.noDisks')));
    return { root };
}
