// One scan's result as the program reports it: groups → programs → items,
// each largest first, with the user's ticks. Ids stay the decimal strings
// the program sent, because cleaning must hand them back unchanged.
import { toBig } from './format.js';

// Leaves are what the user ticks: items, and programs reported without
// items (the recycle bin is cleaned as a whole program).
function leavesOf(node) {
    if (node.kind === 'item')
        return [node];
    if (node.kind === 'program')
        return node.items.length ? node.items : [node];
    return node.programs.flatMap(leavesOf);
}

export class ScanReport {
    constructor(language) {
        this.language = language;   // the language the names were reported in
        this.total = 0n;
        this.groups = [];
        this.complete = false;      // false until the scan ended by itself
    }

    // The program announces the total first thing in its report (and once
    // before, when counting ends): everything before it is superseded.
    begin(total) {
        this.total = toBig(total);
        this.groups = [];
    }

    addGroup(name, size, selected, id) {
        this.groups.push({ kind: 'group', name: String(name), id: String(id), size: toBig(size),
            reportedSelected: toBig(selected), programs: [] });
    }

    addProgram(name, size, selected, id) {
        const group = this.groups.at(-1);
        if (!group) {
            console.warn('program reported outside a group:', name);
            return;
        }
        const reportedSelected = toBig(selected);
        group.programs.push({ kind: 'program', name: String(name), id: String(id), size: toBig(size),
            reportedSelected, ticked: reportedSelected > 0n, items: [], group });
    }

    addItem(name, size, id, selected) {
        const program = this.groups.at(-1)?.programs.at(-1);
        if (!program) {
            console.warn('item reported outside a program:', name);
            return;
        }
        program.items.push({ kind: 'item', name: String(name), id: String(id), size: toBig(size),
            ticked: selected === true, files: [], program });
    }

    // Files come once per rule of the item, so several lists may follow it.
    addFiles(list) {
        const item = this.groups.at(-1)?.programs.at(-1)?.items.at(-1);
        if (!item || !Array.isArray(list)) {
            console.warn('files reported outside an item');
            return;
        }
        for (const file of list)
            item.files.push({ name: String(file?.fileName ?? ''), size: toBig(file?.size ?? '0') });
    }

    get isEmpty() {
        return this.groups.length === 0;
    }

    // What the groups add up to; the reported total when nothing was listed.
    get found() {
        return this.groups.length ? this.groups.reduce((sum, group) => sum + group.size, 0n) : this.total;
    }
}

// 'all', 'none' or 'some' of the node's leaves ticked; a node with nothing
// to tick is 'none'.
export function tickState(node) {
    const leaves = leavesOf(node);
    const ticked = leaves.filter((leaf) => leaf.ticked).length;
    return ticked === 0 ? 'none' : ticked === leaves.length ? 'all' : 'some';
}

export function setTicked(node, ticked) {
    for (const leaf of leavesOf(node))
        leaf.ticked = ticked;
}

export function selectedSize(node) {
    const leaves = node instanceof ScanReport ? node.groups.flatMap(leavesOf) : leavesOf(node);
    return leaves.reduce((sum, leaf) => (leaf.ticked ? sum + leaf.size : sum), 0n);
}

export function hasLeaves(node) {
    return leavesOf(node).length > 0;
}

// One request per program with something ticked: the program's ticked item
// ids (each once, in report order), or none for a program without items.
export function cleaningJobs(report) {
    const jobs = [];
    for (const group of report.groups) {
        for (const program of group.programs) {
            if (tickState(program) === 'none')
                continue;
            const itemIds = [...new Set(program.items.filter((item) => item.ticked).map((item) => item.id))];
            jobs.push({ groupId: group.id, programId: program.id, itemIds, name: program.name,
                groupName: group.name, size: selectedSize(program) });
        }
    }
    return jobs;
}

// What a later scan still finds of what a job cleaned.
export function leftAfter(job, report) {
    const group = report.groups.find((candidate) => candidate.id === job.groupId);
    const program = group?.programs.find((candidate) => candidate.id === job.programId);
    if (!program)
        return 0n;
    if (!job.itemIds.length)
        return program.items.length ? 0n : program.size;
    const ids = new Set(job.itemIds);
    return program.items.reduce((sum, item) => (ids.has(item.id) ? sum + item.size : sum), 0n);
}
