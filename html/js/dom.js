// A few lines instead of a framework: h('button', { class: 'primary',
// onclick }, 'Scan') builds the element. Text children are always text
// nodes, so names from the disk never become markup.
export function h(tag, attributes = {}, ...children) {
    const element = document.createElement(tag);
    for (const [key, value] of Object.entries(attributes)) {
        if (value === undefined || value === null || value === false)
            continue;
        if (key.startsWith('on'))
            element.addEventListener(key.slice(2), value);
        else if (key === 'class')
            element.className = value;
        else if (key === 'style' && typeof value === 'object')
            Object.assign(element.style, value);
        else if (key in element && typeof value !== 'string')
            element[key] = value;
        else
            element.setAttribute(key, value === true ? '' : value);
    }
    for (const child of children.flat(Infinity)) {
        if (child === undefined || child === null || child === false)
            continue;
        element.append(child instanceof Node ? child : document.createTextNode(String(child)));
    }
    return element;
}

// Small drawings of our own, drawn with currentColor.
const paths = {
    disk: 'M4 6h16a1 1 0 0 1 1 1v10a1 1 0 0 1-1 1H4a1 1 0 0 1-1-1V7a1 1 0 0 1 1-1zm13 8.5a1.5 1.5 0 1 0 0 .01z',
    check: 'M5 12.5l4.5 4.5L19 7.5',
    chevron: 'M9 6l6 6-6 6',
    warn: 'M12 4l9 16H3zM12 10v4M12 17v.5',
    sparkle: 'M12 3l2 6 6 2-6 2-2 6-2-6-6-2 6-2z',
    eye: 'M2 12s3.6-6.5 10-6.5S22 12 22 12s-3.6 6.5-10 6.5S2 12 2 12zM12 9a3 3 0 1 0 0 6 3 3 0 0 0 0-6z',
    picture: 'M4 5h16v14H4zM4 16l5-5 4 4 3-3 4 4M15.5 9.5h.01',
    folder: 'M3 7.5A1.5 1.5 0 0 1 4.5 6H9l2 2h8.5A1.5 1.5 0 0 1 21 9.5v8a1.5 1.5 0 0 1-1.5 1.5h-15A1.5 1.5 0 0 1 3 17.5z',
    large: 'M7 3h7l5 5v13H7zM14 3v5h5M10 17h6M10 13h6',
    copies: 'M8 8h11v13H8zM5 16V3h11',
    trash: 'M4 7h16M10 11v6M14 11v6M6 7l1 13h10l1-13M9 7V4h6v3',
    close: 'M6 6l12 12M18 6L6 18',
    move: 'M4 12h13M13 7l5 5-5 5M20 5v14',
    restore: 'M20 12H7M11 7l-5 5 5 5M4 5v14',
    link: 'M10 14a4 4 0 0 0 5.66 0l3-3a4 4 0 0 0-5.66-5.66l-1 1M14 10a4 4 0 0 0-5.66 0l-3 3a4 4 0 0 0 5.66 5.66l1-1',
};

export function icon(name, className = 'icon') {
    const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
    svg.setAttribute('viewBox', '0 0 24 24');
    svg.setAttribute('class', className);
    svg.setAttribute('aria-hidden', 'true');
    const path = document.createElementNS('http://www.w3.org/2000/svg', 'path');
    path.setAttribute('d', paths[name]);
    svg.append(path);
    return svg;
}

export function progressBar(label) {
    const fill = h('div', { class: 'bar-fill' });
    const bar = h('div', { class: 'bar', role: 'progressbar', 'aria-label': label,
        'aria-valuemin': '0', 'aria-valuemax': '100' }, fill);
    bar.set = (fraction) => {
        if (fraction === null) {
            bar.classList.add('indeterminate');
            bar.removeAttribute('aria-valuenow');
            fill.style.width = '';
            return;
        }
        const percent = Math.max(0, Math.min(100, fraction * 100));
        bar.classList.remove('indeterminate');
        bar.setAttribute('aria-valuenow', String(Math.round(percent)));
        fill.style.width = `${percent}%`;
    };
    return bar;
}
