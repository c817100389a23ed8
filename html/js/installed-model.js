// The pure parts of the "Installed programs" view: reading the inventory
// the program's export tool writes (docs/installed-software.md), and the
// orders the list is shown in. No page or program is touched here.

export const FORMAT = 'installed-software';
export const FORMAT_VERSION = 1;

// Sizes are 64-bit integers in the file. Where the browser passes a
// number's own text to the reviver it is read exactly; elsewhere the double
// is exact up to 8 PiB, far beyond any program.
function reviveSize(key, value, context) {
    if (key !== 'estimatedSize' || value === null)
        return value;
    if (typeof context?.source === 'string' && /^\d+$/.test(context.source))
        return BigInt(context.source);
    return typeof value === 'number' && Number.isFinite(value) && value >= 0 ? BigInt(Math.trunc(value)) : null;
}

function text(value) {
    return typeof value === 'string' && value !== '' ? value : null;
}

// The export file's bytes (an ArrayBuffer, or a view of one) ⇒
//   { ok: true, programs, sources, exportedAt, system }
//   { ok: false, reason }   reason: 'empty' (no file or no bytes), 'broken'
//                           (not UTF-8, not JSON, not this format), 'version'
//                           (a newer format than this page knows)
// A program without a name or an id is left out; the rest is kept.
export function decodeExport(bytes) {
    let view = null;
    if (bytes instanceof ArrayBuffer)
        view = new Uint8Array(bytes);
    else if (ArrayBuffer.isView(bytes))
        view = new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    if (!view || view.byteLength === 0)
        return { ok: false, reason: 'empty' };
    let root;
    try {
        root = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(view), reviveSize);
    } catch {
        return { ok: false, reason: 'broken' };
    }
    if (!root || typeof root !== 'object' || root.format !== FORMAT || !Number.isInteger(root.formatVersion)
        || !Array.isArray(root.programs))
        return { ok: false, reason: 'broken' };
    if (root.formatVersion > FORMAT_VERSION)
        return { ok: false, reason: 'version' };
    const programs = [];
    const keys = new Set();
    for (const entry of root.programs) {
        const name = text(entry?.name);
        const id = text(entry?.id);
        const source = text(entry?.source) ?? 'unknown';
        const key = `${source}\n${id}`;
        if (!name || !id || keys.has(key))
            continue;
        keys.add(key);
        programs.push({
            key, name, id, source,
            version: text(entry.version),
            publisher: text(entry.publisher),
            location: text(entry.installLocation),
            command: text(entry.uninstallCommand),
            inTerminal: entry.uninstallInTerminal === true,
            size: typeof entry.estimatedSize === 'bigint' ? entry.estimatedSize : null,
        });
    }
    const sources = (Array.isArray(root.sources) ? root.sources : []).map((source) => ({
        name: String(source?.name ?? ''),
        status: String(source?.status ?? ''),
        count: Number(source?.count ?? 0),
        detail: text(source?.detail),
    }));
    return { ok: true, programs, sources, exportedAt: text(root.exportedAt), system: text(root.system?.name) };
}

// Whether the page may run the program's uninstall command itself: one
// that must be typed in a terminal is only shown.
export function canRun(program) {
    return Boolean(program.command) && !program.inTerminal;
}

// order 'size': largest first, unknown sizes last; 'name': alphabetical in
// the page's language, case and accents aside. Ties go by name, then by
// source and id, so the order never depends on the file's.
export function sortPrograms(programs, order, locale = 'en') {
    const collator = new Intl.Collator(locale, { sensitivity: 'base', numeric: true });
    const byName = (a, b) => collator.compare(a.name, b.name) || (a.source < b.source ? -1 : a.source > b.source ? 1 : 0)
        || (a.id < b.id ? -1 : a.id > b.id ? 1 : 0);
    const bySize = (a, b) => {
        if (a.size === null || b.size === null)
            return a.size === b.size ? 0 : a.size === null ? 1 : -1;
        return a.size > b.size ? -1 : a.size < b.size ? 1 : 0;
    };
    return [...programs].sort(order === 'name' ? byName : (a, b) => bySize(a, b) || byName(a, b));
}

// The programs whose name, publisher or id holds every word of the query.
export function filterPrograms(programs, query) {
    const words = String(query ?? '').toLocaleLowerCase().split(/\s+/).filter(Boolean);
    if (!words.length)
        return programs;
    return programs.filter((program) => {
        const haystack = [program.name, program.publisher ?? '', program.id].join('\n').toLocaleLowerCase();
        return words.every((word) => haystack.includes(word));
    });
}

export function totalSize(programs) {
    return programs.reduce((sum, program) => sum + (program.size ?? 0n), 0n);
}

// The sources that were there but could not be read: their programs may be
// missing from the list. A tool that is not installed is no problem.
export function failedSources(sources) {
    return sources.filter((source) => source.status === 'failed').map((source) => source.name);
}
