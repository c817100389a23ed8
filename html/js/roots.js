// Where a large-file or duplicate search looks: ticked disks and typed
// folders, turned into the "|"-separated list the program walks.
//
// Overlapping roots are dropped here, not left to the program: a folder
// walked twice lists each of its files twice, and the duplicate search would
// then offer one copy of a file as the "duplicate" of itself — deleting it
// would delete the only copy.

// Windows paths compare without case and with either slash; POSIX paths
// (they start with "/") compare exactly.
function isPosix(path) {
    return path.startsWith('/');
}

function separator(path) {
    return isPosix(path) ? '/' : '\\';
}

// The comparison form of a path: "C:/Users/Ann/" ⇒ "c:\users\ann",
// "/home/" ⇒ "/home", a root keeps its separator ("C:\", "/").
export function pathKey(path) {
    let key = String(path);
    if (!isPosix(key))
        key = key.replace(/\//g, '\\').toLowerCase();
    const sep = separator(key);
    while (key.length > 1 && key.endsWith(sep) && !/^[a-z]:\\$/.test(key))
        key = key.slice(0, -1);
    return key;
}

// Whether `inner` is `outer` or lies below it.
export function isWithin(inner, outer) {
    const a = pathKey(inner);
    const b = pathKey(outer);
    if (a === b)
        return true;
    const sep = separator(b);
    return isPosix(a) === isPosix(b) && a.startsWith(b.endsWith(sep) ? b : b + sep);
}

// What the user typed, as a path to search, or { error } naming what is
// wrong: quotes as a file manager copies them and surrounding blanks go,
// trailing separators go (a root keeps its own).
//   '"D:\Media\"' ⇒ { path: 'D:\Media' }     'Media' ⇒ { error: 'relative' }
export function parseFolder(text) {
    let path = String(text ?? '').trim();
    if (path.length >= 2 && path.startsWith('"') && path.endsWith('"'))
        path = path.slice(1, -1).trim();
    if (!path)
        return { error: 'empty' };
    // The program splits its root list at "|".
    if (path.includes('|'))
        return { error: 'bar' };
    const windowsRoot = /^[A-Za-z]:[\\/]/.test(path);
    const uncRoot = /^\\\\[^\\/]+[\\/][^\\/]+/.test(path);
    if (!isPosix(path) && !windowsRoot && !uncRoot)
        return { error: 'relative' };
    const sep = separator(path);
    if (!isPosix(path))
        path = path.replace(/\//g, '\\');
    while (path.length > 1 && path.endsWith(sep) && !/^[A-Za-z]:\\$/.test(path))
        path = path.slice(0, -1);
    return { path };
}

// The disk a path lies on: the deepest known disk root above it. Disks are
// separate walks (the program never crosses into another mount), so "/home"
// is not inside "/" for this purpose even though its path is.
function diskOf(path, disks) {
    let best = null;
    for (const disk of disks) {
        if (isWithin(path, disk) && (best === null || pathKey(disk).length > pathKey(best).length))
            best = disk;
    }
    return best;
}

// The root that already covers `folder`, or null: a ticked disk it lies on,
// or another chosen folder above it on the same disk.
export function coveringRoot(folder, { disks, ticked, folders }) {
    const disk = diskOf(folder, disks);
    if (disk !== null && ticked.some((root) => pathKey(root) === pathKey(disk)))
        return disk;
    for (const other of folders) {
        if (pathKey(other) === pathKey(folder))
            continue;
        if (isWithin(folder, other) && diskOf(other, disks) === disk)
            return other;
    }
    return null;
}

// The roots to walk: ticked disks in the program's order, then folders in
// the order they were added, leaving out each one another already covers
// and later spellings of the same folder.
export function searchRoots({ disks, ticked, folders }) {
    const roots = disks.filter((disk) => ticked.some((root) => pathKey(root) === pathKey(disk)));
    const seen = new Set(roots.map(pathKey));
    for (const folder of folders) {
        const key = pathKey(folder);
        if (seen.has(key) || coveringRoot(folder, { disks, ticked, folders }) !== null)
            continue;
        seen.add(key);
        roots.push(folder);
    }
    return roots;
}

// "C:\Users\Ann\a.mkv" ⇒ { name: 'a.mkv', folder: 'C:\Users\Ann' };
// a file at a root keeps the root's separator ("C:\", "/").
export function splitPath(path) {
    const text = String(path);
    const cut = Math.max(text.lastIndexOf('\\'), text.lastIndexOf('/'));
    if (cut < 0)
        return { name: text, folder: '' };
    const folder = text.slice(0, cut);
    return { name: text.slice(cut + 1), folder: folder === '' || /^[A-Za-z]:$/.test(folder) ? text.slice(0, cut + 1) : folder };
}
