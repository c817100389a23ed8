// What one large-file or duplicate search found, as the program reports it:
// categories (videos, archives, …), each with its large files or its groups
// of identical files, and the user's ticks. Sizes stay BigInt.
//
// The duplicate rule lives here so that no screen can break it: a group
// never has every member ticked, whatever order ticks and deletions come in.
import { toBig } from './format.js';
import { pathKey, splitPath } from './roots.js';

function fileEntry(path, size) {
    const { name, folder } = splitPath(path);
    return { path, name, folder, size, ticked: false, group: null };
}

// Largest first; equal sizes keep the order they came in.
function bySize(a, b) {
    return a.size === b.size ? 0 : a.size > b.size ? -1 : 1;
}

// The copy a group keeps by default is listed first: the shortest path (an
// original tends to sit higher up than its copies), then by name, so the
// choice does not depend on the order the program's walk met them.
function byKeepOrder(a, b) {
    return a.path.length - b.path.length || (a.path < b.path ? -1 : a.path > b.path ? 1 : 0);
}

export class Finds {
    // mode: 'large' or 'dupes'; language: the code the names came in.
    constructor(mode, language) {
        this.mode = mode;
        this.language = language;
        this.reportedTotal = 0n;
        this.byIndex = new Map();
        this.complete = false;
    }

    // The total opens the report: anything before it belonged to a scan
    // that has been replaced.
    begin(total) {
        this.reportedTotal = toBig(total);
        this.byIndex.clear();
    }

    addCategory(index, name, bytes) {
        this.byIndex.set(Number(index), { index: Number(index), name: String(name ?? ''), reported: toBig(bytes),
            files: [], groups: [], listed: false, expanded: true });
    }

    // A path listed twice is one file: deleting it "again" would fail, and
    // counting it twice would overstate what deleting frees.
    addBigFiles(index, list) {
        const category = this.byIndex.get(Number(index));
        if (!category || !Array.isArray(list)) {
            console.warn('large files reported outside a category:', index);
            return;
        }
        const seen = new Set(category.files.map((file) => pathKey(file.path)));
        for (const record of list) {
            const path = String(record?.fileName ?? '');
            if (!path || seen.has(pathKey(path)))
                continue;
            seen.add(pathKey(path));
            category.files.push(fileEntry(path, toBig(record?.size ?? '0')));
        }
        category.files.sort(bySize);
        category.listed = true;
    }

    // Members are made unique by path before a group counts: a file met
    // twice is not a duplicate of itself, and a group left with one member
    // is no group.
    addDuplicates(index, groups) {
        const category = this.byIndex.get(Number(index));
        if (!category || !Array.isArray(groups)) {
            console.warn('duplicates reported outside a category:', index);
            return;
        }
        for (const reported of groups) {
            const size = toBig(reported?.size ?? '0');
            const seen = new Set();
            const members = [];
            for (const path of Array.isArray(reported?.files) ? reported.files : []) {
                const text = String(path ?? '');
                if (!text || seen.has(pathKey(text)))
                    continue;
                seen.add(pathKey(text));
                members.push(fileEntry(text, size));
            }
            if (members.length < 2)
                continue;
            members.sort(byKeepOrder);
            const group = { size, files: members };
            for (const member of members)
                member.group = group;
            category.groups.push(group);
        }
        category.groups.sort(bySize);
        category.listed = true;
    }

    // Categories with something in them, largest first by what they hold now.
    get categories() {
        return [...this.byIndex.values()].filter((category) => this.count(category) > 0).sort((a, b) => {
            const x = this.size(a);
            const y = this.size(b);
            return x === y ? a.index - b.index : x > y ? -1 : 1;
        });
    }

    // Large files: what the files take. Duplicates: what the extra copies
    // take, the space that keeping one copy of each would free.
    size(category) {
        if (!category.listed)
            return category.reported;
        if (this.mode === 'large')
            return category.files.reduce((sum, file) => sum + file.size, 0n);
        return category.groups.reduce((sum, group) => sum + group.size * BigInt(group.files.length - 1), 0n);
    }

    count(category) {
        return this.mode === 'large' ? category.files.length : category.groups.length;
    }

    get total() {
        return this.categories.reduce((sum, category) => sum + this.size(category), 0n);
    }

    get isEmpty() {
        return this.categories.length === 0;
    }

    *allFiles() {
        for (const category of this.byIndex.values()) {
            yield* category.files;
            for (const group of category.groups)
                yield* group.files;
        }
    }

    get selected() {
        return [...this.allFiles()].filter((file) => file.ticked);
    }

    // Forgets a file that is gone from the disk: deleted here or in the
    // other view. A group down to one member goes; one whose remaining
    // members are all ticked gets its first one back, so the rule holds.
    forget(path) {
        const key = pathKey(path);
        for (const category of this.byIndex.values()) {
            category.files = category.files.filter((file) => pathKey(file.path) !== key);
            category.groups = category.groups.filter((group) => {
                group.files = group.files.filter((file) => pathKey(file.path) !== key);
                if (group.files.length < 2)
                    return false;
                if (group.files.every((file) => file.ticked))
                    group.files[0].ticked = false;
                return true;
            });
        }
    }
}

// Whether ticking `file` is allowed: never the last unticked member of a group.
export function canTick(file) {
    if (file.ticked || !file.group)
        return true;
    return file.group.files.some((member) => member !== file && !member.ticked);
}

// Ticks or unticks one file; refuses (returns false) what would tick a
// whole group.
export function setFileTicked(file, ticked) {
    if (ticked && !canTick(file))
        return false;
    file.ticked = Boolean(ticked);
    return true;
}

// Every member but the first (the copy that stays).
export function keepFirst(group) {
    group.files.forEach((file, position) => { file.ticked = position > 0; });
}

export function tickAll(files, ticked) {
    for (const file of files)
        file.ticked = ticked;
}

export function sizeOf(files) {
    return files.reduce((sum, file) => sum + file.size, 0n);
}
