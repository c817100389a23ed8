// Icons beside found files, from the program. They are asked for after the
// rows are drawn, a few at a time, so a long list shows at once; one icon
// per file type serves every file of that type, except for files that carry
// their own (programs and libraries, icons, small pictures).
import { call, has } from './host.js';
import { icon } from './dom.js';

// The program answers with the file's own bytes for these (a picture is its
// own icon), and with the icon group inside programs and libraries.
const OWN_BYTES = new Set(['png', 'ico', 'jpg']);
const OWN_ICON = new Set(['exe', 'dll']);
// A picture larger than this is no icon worth carrying through the bridge.
const LARGEST_PICTURE = 262144n;
const PER_TICK = 8;

const cache = new Map();   // key → object URL, or null when there is none
const queue = [];          // [img, file]
let scheduled = false;

export function extensionOf(path) {
    const name = String(path).split(/[\\/]/).pop() ?? '';
    const dot = name.lastIndexOf('.');
    return dot > 0 ? name.slice(dot + 1).toLowerCase() : '';
}

export const PICTURES = new Set(['jpg', 'jpeg', 'png', 'gif']);

// What the bytes are, by their first bytes; null for anything else.
export function imageType(bytes) {
    if (bytes.length >= 4 && bytes[0] === 0x89 && bytes[1] === 0x50 && bytes[2] === 0x4e && bytes[3] === 0x47)
        return 'image/png';
    if (bytes.length >= 3 && bytes[0] === 0xff && bytes[1] === 0xd8 && bytes[2] === 0xff)
        return 'image/jpeg';
    if (bytes.length >= 4 && bytes[0] === 0 && bytes[1] === 0 && bytes[2] === 1 && bytes[3] === 0)
        return 'image/x-icon';
    if (bytes.length >= 6 && String.fromCharCode(...bytes.subarray(0, 6)) === 'GIF89a')
        return 'image/gif';
    const head = new TextDecoder().decode(bytes.subarray(0, 256)).trimStart();
    if (head.startsWith('<svg') || (head.startsWith('<?xml') && head.includes('<svg')))
        return 'image/svg+xml';
    return null;
}

// Which icon a file shares: its own for the kinds that carry one, else the
// one of its type. Pictures too large to carry get the page's own sign.
export function iconKey(file) {
    const extension = extensionOf(file.path);
    if (OWN_ICON.has(extension))
        return `file:${file.path}`;
    if (OWN_BYTES.has(extension))
        return BigInt(file.size ?? 0) <= LARGEST_PICTURE ? `file:${file.path}` : null;
    return `type:${extension}`;
}

function fetchIcon(path) {
    const answer = call('getIconBuffer', path);
    const value = answer.ok ? answer.value : null;
    const bytes = value instanceof ArrayBuffer ? new Uint8Array(value)
        : ArrayBuffer.isView(value) ? new Uint8Array(value.buffer, value.byteOffset, value.byteLength) : null;
    const type = bytes && bytes.length ? imageType(bytes) : null;
    return type ? URL.createObjectURL(new Blob([bytes], { type })) : null;
}

function show(img, url) {
    if (url) {
        img.src = url;
        img.hidden = false;
    }
}

function drain() {
    scheduled = false;
    for (let done = 0; done < PER_TICK && queue.length; ++done) {
        const [img, file] = queue.shift();
        if (!img.isConnected)
            continue;
        const key = iconKey(file);
        if (!cache.has(key))
            cache.set(key, fetchIcon(file.path));
        show(img, cache.get(key));
    }
    if (queue.length)
        schedule();
}

function schedule() {
    if (!scheduled) {
        scheduled = true;
        setTimeout(drain, 0);
    }
}

// A box that fills in with the file's icon when the program has one; it
// keeps its place either way, so the names stay in line.
export function fileIcon(file) {
    const box = document.createElement('span');
    box.className = 'file-icon-box';
    const img = document.createElement('img');
    box.append(img);
    img.className = 'file-icon';
    img.alt = '';
    img.width = 24;
    img.height = 24;
    img.hidden = true;
    const key = has('getIconBuffer') ? iconKey(file) : null;
    if (key === null && PICTURES.has(extensionOf(file.path)))
        box.append(icon('picture', 'icon file-icon'));
    if (key !== null && cache.has(key)) {
        show(img, cache.get(key));
    } else if (key !== null) {
        queue.push([img, file]);
        schedule();
    }
    return box;
}
