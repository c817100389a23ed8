// The "Move folders" view: the user's known folders (Downloads, Videos, …)
// and program folders moved to another disk behind a link, and back.
//
// The program runs one mover request at a time: its record of moved
// folders has no lock, so a second request before the first one's answer
// could lose an entry. The view therefore holds at most one request (`op`)
// and every button waits for its answer. Each request carries a tag of its
// own; an answer with another tag belongs to a page that was reloaded and
// is ignored.
import { call, has, listen } from './host.js';
import { toBig } from './format.js';
import { isWithin, parseFolder, pathKey } from './roots.js';
import { RECORD, choosePrefix, decodeRecord, displayName, folderName, lastPart, parseRecord, prefixOf, resultKey, separatorOf,
    systemRoot, toneOf } from './mover-model.js';
import * as stage from './stage.js';
import * as screen from './screens/mover.js';
import { ask } from './screens/ask.js';

const ID = 'mover';
const FOLDERS_CALLBACK = 'moverKnownFoldersCbk';
// Where the prefix last chosen is remembered, so that a later visit finds
// the moved folders again even when they are not on a disk's top level.
const REMEMBERED = 'clean.mover.prefix';

const state = {
    started: false,
    unavailable: false,
    name: '\\Clean',     // the root folder's name as moverInit gets it
    prefix: '',
    reason: 'other',     // why this place: found, other, system, chosen
    disks: [],
    systemDisk: '',
    folders: null,       // [{ id, name, isMoved, path, size }] or null before the first answer
    apps: [],            // moved program folders: [{ path, location }]
    op: null,            // the request under way: { kind, tag, ... }
    outcome: null,       // { tone, key, params } of the last request
    appText: '',
    appProblem: null,    // { key, params }
    chooser: null,       // { choice, text, problem } while choosing a new place
};
let nextTag = 1;

function rootPath(prefix = state.prefix) {
    return `${prefix}${state.name}`;
}

function remember(prefix) {
    try {
        localStorage.setItem(REMEMBERED, prefix);
    } catch {
        // A page without storage finds the record on the disks instead.
    }
}

function remembered() {
    try {
        return localStorage.getItem(REMEMBERED);
    } catch {
        return null;
    }
}

function rememberedApps() {
    try {
        const list = JSON.parse(localStorage.getItem(`${REMEMBERED}.apps`) ?? '[]');
        return Array.isArray(list) ? list.map(String) : [];
    } catch {
        return [];
    }
}

function rememberApps() {
    try {
        localStorage.setItem(`${REMEMBERED}.apps`, JSON.stringify(state.apps.map((app) => app.path)));
    } catch {
        // Only a hint: the program's record lists them too.
    }
}

function exists(path) {
    const answer = call('pathFileExists', path);
    return answer.ok && answer.value === true;
}

function isMovedApp(path) {
    const answer = call('moverIsAppFolderMoved', path);
    return answer.ok && answer.value === true;
}

// The moved program folders: those the program's record and this page
// remember, each confirmed by the program, which alone knows for sure.
function loadApps() {
    const answer = call('readBinaryFileSync', `${rootPath()}${state.name[0]}${RECORD}`);
    const listed = answer.ok ? parseRecord(decodeRecord(answer.value)) : [];
    for (const path of rememberedApps()) {
        if (!listed.some((app) => app.path === path))
            listed.push({ path, location: '' });
    }
    state.apps = listed.filter((app) => isMovedApp(app.path));
    rememberApps();
}

function start() {
    state.started = true;
    const product = call('baseSystemInfo', 1);
    const drives = call('getDriveLetters');
    const value = drives.ok ? drives.value : null;
    state.disks = Array.isArray(value?.driveLetters) ? value.driveLetters.map(String).filter(Boolean) : [];
    state.systemDisk = systemRoot(value?.systemDrive ?? '');
    const sep = separatorOf(state.disks[0] ?? state.systemDisk ?? '');
    state.name = folderName(product.ok ? product.value : '', sep);
    const chosen = choosePrefix({ disks: state.disks, systemDisk: state.systemDisk, remembered: remembered(),
        name: state.name, exists });
    if (!init(chosen.prefix))
        return;
    state.reason = chosen.reason;
    refreshFolders();
}

// Points the program at a root; false (and the view says so) when it cannot.
function init(prefix) {
    const answer = call('moverInit', state.name, prefix);
    if (!answer.ok) {
        state.unavailable = true;
        return false;
    }
    state.unavailable = false;
    state.prefix = prefix;
    remember(prefix);
    loadApps();
    return true;
}

function begin(op) {
    op.tag = nextTag++;
    state.op = op;
    // A new request's answer replaces the last one; a refresh keeps it.
    if (op.kind !== 'refresh')
        state.outcome = null;
    stage.update(ID);
    stage.statusChanged();
    return op.tag;
}

function finish(outcome) {
    // The outcome shows where the request came from.
    if (outcome && !outcome.kind)
        outcome.kind = state.op?.kind ?? 'root';
    state.op = null;
    state.outcome = outcome;
    stage.statusChanged();
}

// The program measures every folder, which takes a moment on a full disk.
function refreshFolders() {
    begin({ kind: 'refresh' });
    const answer = call('moverGetKnownFoldersInfo', FOLDERS_CALLBACK);
    if (!answer.ok) {
        state.op = null;
        state.folders = [];
        stage.statusChanged();
        stage.update(ID);
    }
}

// After a request the program's table has changed: sizes and places are
// asked for again; the outcome stays on screen meanwhile.
function afterRequest(outcome) {
    finish(outcome);
    refreshFolders();
    stage.update(ID);
    document.querySelector('#main .mover-outcome')?.focus();
}

function known(id) {
    return state.folders?.find((folder) => folder.id === Number(id)) ?? null;
}

// A typed program folder, or the problem with it.
function checkAppFolder(text) {
    const parsed = parseFolder(text);
    if (parsed.error)
        return { problem: { key: parsed.error === 'empty' ? 'mover.apps.problem.empty' : 'mover.apps.problem.relative' } };
    const path = parsed.path;
    if (/^[A-Za-z]:\\$/.test(path) || path === '/' || state.disks.some((disk) => pathKey(disk) === pathKey(path)))
        return { problem: { key: 'mover.apps.problem.disk' } };
    if (isWithin(path, rootPath()) || isWithin(rootPath(), path))
        return { problem: { key: 'mover.apps.problem.root' } };
    const folder = state.folders?.find((entry) => entry.path && (isWithin(path, entry.path) || isWithin(entry.path, path)));
    if (folder)
        return { problem: { key: 'mover.apps.problem.known', params: { name: displayName(folder) } } };
    if (isMovedApp(path)) {
        if (!state.apps.some((app) => app.path === path)) {
            state.apps.push({ path, location: '' });
            rememberApps();
        }
        return { problem: { key: 'mover.apps.problem.already' } };
    }
    if (has('pathFileExists') && !exists(path))
        return { problem: { key: 'mover.apps.problem.missing' } };
    return { path };
}

function moveQuestion(kind, subject) {
    const root = rootPath();
    if (kind === 'move') {
        return {
            kind, title: 'mover.confirm.moveTitle', params: { name: subject.name, root, path: subject.path, size: subject.size },
            text: subject.size === null ? 'mover.confirm.appMoveText' : 'mover.confirm.moveText',
            notice: 'mover.confirm.close', confirm: 'mover.confirm.move',
        };
    }
    return {
        kind, title: 'mover.confirm.restoreTitle', params: { name: subject.name, location: subject.location, path: subject.path, size: subject.size },
        text: subject.size === null ? 'mover.confirm.appRestoreText' : 'mover.confirm.restoreText',
        notice: 'mover.confirm.space', confirm: 'mover.confirm.restore',
    };
}

const actions = {
    async moveKnown(id) {
        const folder = known(id);
        if (!folder || state.op)
            return;
        const subject = { name: displayName(folder), path: folder.path, size: folder.size };
        if (!await ask(moveQuestion('move', subject)) || state.op)
            return;
        const tag = begin({ kind: 'move', id: folder.id, name: subject.name });
        if (!call('moverMoveKnownFolder', folder.id, tag).ok)
            afterRequest({ tone: 'error', key: 'mover.result.moveOther', params: { name: subject.name, code: '—' } });
    },
    async restoreKnown(id) {
        const folder = known(id);
        if (!folder || state.op)
            return;
        const subject = { name: displayName(folder), path: folder.path, location: folder.path, size: folder.size };
        if (!await ask(moveQuestion('restore', subject)) || state.op)
            return;
        const tag = begin({ kind: 'restore', id: folder.id, name: subject.name });
        if (!call('moverRestoreKnownFolder', folder.id, tag).ok)
            afterRequest({ tone: 'error', key: 'mover.result.restoreOther', params: { name: subject.name, code: '—' } });
    },
    appText(text) {
        state.appText = text;
    },
    browseApp() {
        const answer = call('selectDir', window.handle ?? 0);
        const path = answer.ok && typeof answer.value === 'string' ? answer.value : '';
        if (path) {
            state.appText = path;
            state.appProblem = null;
        } else {
            state.appProblem = { key: 'mover.apps.problem.nothingChosen' };
        }
        stage.update(ID);
    },
    async moveApp() {
        if (state.op)
            return;
        const checked = checkAppFolder(state.appText);
        state.appProblem = checked.problem ?? null;
        stage.update(ID);
        if (checked.problem)
            return;
        const path = checked.path;
        if (!await ask(moveQuestion('move', { name: lastPart(path), path, size: null })) || state.op)
            return;
        const tag = begin({ kind: 'moveApp', path });
        if (!call('moverMoveAppFolder', path, tag).ok)
            afterRequest({ tone: 'error', key: 'mover.result.appMoveFailed', params: { path } });
    },
    async restoreApp(path) {
        const app = state.apps.find((entry) => entry.path === path);
        if (!app || state.op)
            return;
        if (!await ask(moveQuestion('restore', { name: lastPart(path), path, location: app.location || rootPath(), size: null })) || state.op)
            return;
        const tag = begin({ kind: 'restoreApp', path });
        if (!call('moverRestoreAppFolder', path, tag).ok)
            afterRequest({ tone: 'error', key: 'mover.result.appRestoreFailed', params: { path } });
    },
    openChooser() {
        state.chooser = { choice: null, text: '', problem: null };
        stage.update(ID);
    },
    closeChooser() {
        state.chooser = null;
        stage.update(ID);
    },
    choose(disk) {
        if (state.chooser) {
            state.chooser.choice = disk;
            state.chooser.text = '';
            state.chooser.problem = null;
        }
        stage.update(ID);
    },
    chooserText(text) {
        if (state.chooser) {
            state.chooser.text = text;
            if (text.trim())
                state.chooser.choice = null;
        }
    },
    async applyRoot() {
        const chooser = state.chooser;
        if (!chooser || state.op)
            return;
        let prefix;
        if (chooser.text.trim()) {
            const parsed = parseFolder(chooser.text);
            if (parsed.error) {
                chooser.problem = 'mover.root.problem';
                stage.update(ID);
                return;
            }
            prefix = prefixOf(parsed.path);
        } else if (chooser.choice !== null) {
            prefix = prefixOf(chooser.choice);
        } else {
            chooser.problem = 'mover.root.nothing';
            stage.update(ID);
            return;
        }
        const newRoot = rootPath(prefix);
        if (pathKey(newRoot) === pathKey(rootPath())) {
            chooser.problem = 'mover.root.same';
            stage.update(ID);
            return;
        }
        const moved = [...(state.folders ?? []).filter((folder) => folder.isMoved).map((folder) => folder.path),
            ...state.apps.map((app) => app.path)];
        if (moved.some((path) => isWithin(newRoot, path) || isWithin(newRoot, rootPath()))) {
            chooser.problem = 'mover.root.inside';
            stage.update(ID);
            return;
        }
        // Nothing moved yet: the program only needs to look elsewhere.
        if (!moved.length) {
            const old = state.prefix;
            state.chooser = null;
            if (init(prefix)) {
                state.reason = 'chosen';
                afterRequest({ tone: 'ok', key: 'mover.root.changed', params: { root: newRoot } });
            } else {
                init(old);
                afterRequest({ tone: 'error', key: 'mover.root.changeFailed', params: { root: newRoot, old: rootPath(old) } });
            }
            return;
        }
        if (!await ask({ kind: 'root', title: 'mover.root.confirmTitle', params: { root: newRoot, old: rootPath() },
            text: 'mover.root.confirmText', notice: 'mover.confirm.close', confirm: 'mover.root.confirm' }) || state.op)
            return;
        state.chooser = null;
        begin({ kind: 'root', prefix, root: newRoot, old: rootPath() });
        if (!call('moverChangeRoot', prefix).ok)
            afterRequest({ tone: 'error', key: 'mover.root.changeFailed', params: { root: newRoot, old: rootPath() } });
    },
};

// A request's answer, if it is the one the view waits for.
function answerFor(kind, tag) {
    const op = state.op;
    if (!op || op.kind !== kind || (tag !== undefined && Number(tag) !== op.tag)) {
        console.warn('unexpected mover answer', kind, tag);
        return null;
    }
    return op;
}

listen({
    [FOLDERS_CALLBACK](list) {
        const op = answerFor('refresh');
        if (!op)
            return;
        state.folders = (Array.isArray(list) ? list : []).map((entry) => ({
            id: Number(entry?.id),
            name: String(entry?.name ?? '') || null,
            isMoved: entry?.isMoved === true,
            path: String(entry?.path ?? ''),
            size: toBig(entry?.size ?? '0'),
        })).filter((entry) => Number.isInteger(entry.id));
        finish(state.outcome);
        stage.update(ID);
    },
    moverMoveKnownFolderCbk(code, tag) {
        const op = answerFor('move', tag);
        if (op)
            afterRequest({ tone: toneOf(code), key: resultKey('move', code),
                params: { name: op.name, code: String(code), root: rootPath() } });
    },
    moverRestoreKnownFolderCbk(code, tag) {
        const op = answerFor('restore', tag);
        if (op)
            afterRequest({ tone: toneOf(code), key: resultKey('restore', code),
                params: { name: op.name, code: String(code), root: rootPath() } });
    },
    moverMoveAppFolderCbk(done, tag) {
        const op = answerFor('moveApp', tag);
        if (!op)
            return;
        if (done === true) {
            state.appText = '';
            state.appProblem = null;
            loadApps();
            if (!state.apps.some((app) => app.path === op.path)) {
                state.apps.push({ path: op.path, location: '' });
                rememberApps();
            }
        }
        afterRequest({ tone: done === true ? 'ok' : 'error',
            key: done === true ? 'mover.result.appMoved' : 'mover.result.appMoveFailed', params: { path: op.path, root: rootPath() } });
    },
    moverRestoreAppFolderCbk(done, tag) {
        const op = answerFor('restoreApp', tag);
        if (!op)
            return;
        if (done === true) {
            state.apps = state.apps.filter((app) => app.path !== op.path);
            rememberApps();
        }
        afterRequest({ tone: done === true ? 'ok' : 'error',
            key: done === true ? 'mover.result.appRestored' : 'mover.result.appRestoreFailed', params: { path: op.path } });
    },
    moverChangeRootCbk(done) {
        const op = answerFor('root');
        if (!op)
            return;
        // The program goes on judging against the old root until it is
        // pointed at the new one.
        if (done === true && init(op.prefix)) {
            state.reason = 'chosen';
            afterRequest({ tone: 'ok', key: 'mover.root.changed', params: { root: op.root } });
        } else {
            afterRequest({ tone: 'error', key: 'mover.root.changeFailed', params: { root: op.root, old: op.old } });
        }
    },
});

export const mover = {
    id: ID,
    get busy() {
        return state.op !== null && state.op.kind !== 'refresh';
    },
    draw(options) {
        // Only on the first visit: pointing the program at a root creates
        // that folder, which nobody who never opens this view should get.
        if (!state.started)
            start();
        stage.draw(ID, screen.render({ state, root: rootPath }, actions), { ...options, screen: 'mover' });
    },
};
