// The pure parts of moving folders: what the program's answers mean, where
// moved folders go by default, and the program's record of moved program
// folders. No page or program is touched here.
import { pathKey } from './roots.js';

// The program's record of moved folders, inside the root folder.
export const RECORD = 'mover.ini';

// Result codes of a known-folder move or restore, as the program answers.
export const MoveCode = { done: 0, badId: 1, shellRefused: 2, contentFailed: 3, unsafe: 4, notMoved: 5, stuck: 6,
    noTarget: 7, alreadyMoved: 8, unavailable: 9, oldFilesLeft: 10 };
const WORDED = new Set(Object.values(MoveCode).filter((code) => code !== MoveCode.done));

// How an answer reads: done, done with something left to tidy, or failed.
export function toneOf(code) {
    return isDone(code) ? 'ok' : Number(code) === MoveCode.oldFilesLeft ? 'warn' : 'error';
}

// Whether a known-folder answer means the request was carried out.
export function isDone(code) {
    return resultKey('move', code) === 'mover.result.moved';
}

// The text key that says what a known-folder answer means.
export function resultKey(kind, code) {
    // Only a number is an answer: a missing one must not read as "done".
    const number = typeof code === 'number' || (typeof code === 'string' && /^-?\d+$/.test(code)) ? Number(code) : NaN;
    if (number === MoveCode.done)
        return kind === 'move' ? 'mover.result.moved' : 'mover.result.restored';
    if (WORDED.has(number))
        return `mover.result.code${number}`;
    return kind === 'move' ? 'mover.result.moveOther' : 'mover.result.restoreOther';
}

// The program's own names of the known folders, by id, for a system that
// gives no display name of its own.
const FOLDER_NAMES = ['Downloads', 'Videos', 'Music', 'Pictures', 'Documents', 'Desktop'];

export function displayName(folder) {
    return folder.name || FOLDER_NAMES[folder.id] || String(folder.id);
}

export function separatorOf(path) {
    return String(path).startsWith('/') ? '/' : '\\';
}

// A disk root as the program lists it ("D:\", "/mnt/data/", "/") as the
// prefix the root folder's name is appended to: no trailing separator, so
// "D:" + "\Clean" is "D:\Clean" and "" + "/Clean" is "/Clean".
export function prefixOf(disk) {
    let prefix = String(disk ?? '').trim();
    const sep = separatorOf(prefix);
    if (sep === '\\')
        prefix = prefix.replace(/\//g, '\\');
    while (prefix.endsWith(sep))
        prefix = prefix.slice(0, -1);
    return prefix;
}

// The program reports the system disk as one letter ("C") or a root.
export function systemRoot(value) {
    const text = String(value ?? '');
    return /^[A-Za-z]$/.test(text) ? `${text.toUpperCase()}:\\` : text;
}

// The root folder's name: the program's name, usable as a folder name on
// any system, behind the separator the program expects in front of it.
export function folderName(product, sep) {
    const clean = String(product ?? '').replace(/[<>:"/\\|?*\u0000-\u001f]/g, '').trim().replace(/[. ]+$/, '');
    return sep + (clean || 'Clean');
}

// Where moved folders go by default: where the program moved folders
// before (its record is there), else the first disk that is not the system
// disk (moving to the system disk frees nothing on it), else the system
// disk. exists(path) says whether a file is there.
export function choosePrefix({ disks, systemDisk, remembered, name, exists }) {
    const systemKey = pathKey(systemRoot(systemDisk));
    const candidates = [...(remembered ? [remembered] : []), ...disks.map(prefixOf)];
    for (const prefix of candidates) {
        const sep = separatorOf(prefix || name);
        if (exists(`${prefix}${name}${sep}${RECORD}`))
            return { prefix, reason: 'found' };
    }
    const other = disks.find((disk) => pathKey(disk) !== systemKey);
    if (other !== undefined)
        return { prefix: prefixOf(other), reason: 'other' };
    const system = disks.find((disk) => pathKey(disk) === systemKey) ?? systemRoot(systemDisk) ?? '';
    return { prefix: prefixOf(system), reason: 'system' };
}

// The [MovedAppFolder] lines of the program's record: source → new place.
// Other sections (known folders, a journal) are not the page's business.
export function parseRecord(text) {
    const apps = [];
    let section = '';
    for (const raw of String(text ?? '').split(/\r?\n/)) {
        const line = raw.trim();
        if (!line || line.startsWith(';'))
            continue;
        const header = /^\[(.*)\]$/.exec(line);
        if (header) {
            section = header[1].trim();
            continue;
        }
        const cut = line.indexOf('=');
        if (section !== 'MovedAppFolder' || cut <= 0)
            continue;
        const path = line.slice(0, cut).trim();
        const location = line.slice(cut + 1).trim();
        const known = apps.findIndex((app) => app.path === path);
        if (known >= 0)
            apps.splice(known, 1);
        apps.push({ path, location });
    }
    return apps;
}

// The record is a profile file: UTF-16 with a byte-order mark when the
// system wrote it so, else the program's narrow text (UTF-8).
export function decodeRecord(buffer) {
    const bytes = buffer instanceof ArrayBuffer ? new Uint8Array(buffer)
        : ArrayBuffer.isView(buffer) ? new Uint8Array(buffer.buffer, buffer.byteOffset, buffer.byteLength) : null;
    if (!bytes || bytes.length === 0)
        return '';
    if (bytes[0] === 0xff && bytes[1] === 0xfe)
        return new TextDecoder('utf-16le').decode(bytes.subarray(2));
    if (bytes.length > 1 && bytes[1] === 0 && bytes[0] !== 0)
        return new TextDecoder('utf-16le').decode(bytes);
    return new TextDecoder('utf-8').decode(bytes);
}

export function lastPart(path) {
    const parts = String(path).split(/[\\/]/).filter(Boolean);
    return parts.at(-1) ?? String(path);
}
