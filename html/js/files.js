// The large-file and duplicate views: choose where to look → searching →
// the files found, ticked and deleted after a confirmation. Both views are
// one controller with the program's scanner index and their own callback
// names; each keeps its state while another view is on screen.
import { call, has, listen } from './host.js';
import { currentLanguage } from './i18n.js';
import { Finds, keepFirst, setFileTicked, tickAll } from './finds.js';
import { parseFolder, pathKey, searchRoots } from './roots.js';
import * as stage from './stage.js';
import * as setup from './screens/files-setup.js';
import * as searching from './screens/files-scanning.js';
import * as found from './screens/files-result.js';
import { confirmDeletion } from './screens/confirm.js';

// The program reports the path it has reached every Nth file. Each report
// waits for the page, and a walk meets thousands of files a second.
const PATH_EVERY = 256;

// How a search ended (the finished callback's code).
export const SearchEnd = { finished: 0, replaced: 1, stopped: 2 };

const views = [];

// A file deleted in one view is gone from the other's list too.
function forgetEverywhere(path) {
    for (const view of views)
        view.state.finds?.forget(path);
}

// The program runs one extension search at a time; a second would wait,
// silent, until the first ends.
function otherSearching(view) {
    return views.find((other) => other !== view && other.state.scan !== null) ?? null;
}

// A search started or ended: the other view's start button follows, if it
// is the one on screen.
function othersFollow(view) {
    for (const other of views) {
        if (other !== view)
            stage.update(other.id);
    }
}

// Lets the page repaint during a long run of synchronous host calls.
function nextTurn() {
    return new Promise((resolve) => setTimeout(resolve, 0));
}

function createView({ id, index, names }) {
    const state = {
        screen: 'setup',
        disks: null,         // disk roots from the program, or null when unknown
        systemDisk: '',
        ticked: [],          // ticked disk roots
        folders: [],         // folders the user added, as typed (cleaned up)
        folderText: '',      // what the folder field holds
        folderProblem: null, // text key about the folder field
        startProblem: null,  // text key when the search did not start
        scan: null,          // the search under way: { roots, finds, reports, path, stopping }
        finds: null,         // the result, a Finds
        deletion: null,      // { done, total } while deleting
        outcome: null,       // { deleted, freed, failed: [path] } of the last deletion
        notice: null,        // { key, params } a passing message, e.g. a folder that did not open
    };
    const view = { id, mode: id, index, state, pathEvery: PATH_EVERY };
    let disksLoaded = false;

    function loadDisks() {
        disksLoaded = true;
        const answer = call('getDriveLetters');
        const value = answer.ok ? answer.value : null;
        const disks = Array.isArray(value?.driveLetters)
            ? value.driveLetters.map(String).filter((disk) => disk !== '') : [];
        state.disks = disks.length ? disks : null;
        state.systemDisk = String(value?.systemDrive ?? '');
        // The system disk is where a user's own files usually are.
        state.ticked = disks.filter((disk) => pathKey(disk) === pathKey(state.systemDisk));
    }

    function show(screen, { announce = true } = {}) {
        state.screen = screen;
        const screens = { setup, searching, found };
        stage.draw(id, screens[screen].render(view, actions), { announce, screen: `files-${screen}` });
    }

    function roots() {
        return searchRoots({ disks: state.disks ?? [], ticked: state.ticked, folders: state.folders });
    }

    // Adds a folder the user typed or picked; false with the problem noted
    // when it cannot be searched.
    function addFolder(text) {
        const parsed = parseFolder(text);
        if (parsed.error) {
            state.folderProblem = `files.folder.${parsed.error}`;
            return false;
        }
        if (state.folders.some((folder) => pathKey(folder) === pathKey(parsed.path))) {
            state.folderProblem = 'files.folder.twice';
            return false;
        }
        state.folders.push(parsed.path);
        state.folderProblem = null;
        return true;
    }

    function ended(code) {
        const scan = state.scan;
        state.scan = null;
        scan.finds.complete = code === SearchEnd.finished;
        state.finds = scan.finds;
        state.outcome = null;
        state.notice = null;
        show('found');
        stage.statusChanged();
        othersFollow(view);
    }

    async function deleteFiles(files) {
        state.deletion = { done: 0, total: files.length };
        state.outcome = null;
        state.notice = null;
        stage.update(id);
        stage.statusChanged();
        const failed = [];
        let deleted = 0;
        let freed = 0n;
        let turn = performance.now();
        for (const file of files) {
            // The last copy of a group is never deleted, whatever happened
            // to the ticks since the confirmation.
            if (file.group && !file.group.files.some((member) => member !== file && !member.ticked)) {
                console.warn('kept the last copy of a group:', file.path);
            } else {
                const answer = call('deleteFile', file.path);
                if (answer.ok && answer.value === true) {
                    deleted += 1;
                    freed += file.size;
                    forgetEverywhere(file.path);
                } else {
                    failed.push(file.path);
                }
            }
            state.deletion.done += 1;
            if (performance.now() - turn > 30) {
                stage.refresh(id);
                await nextTurn();
                turn = performance.now();
            }
        }
        state.deletion = null;
        state.outcome = { deleted, freed, failed };
        stage.statusChanged();
        // Rebuilt without the deleted rows; the focus goes to what happened.
        if (state.screen === 'found' && stage.activeView() === id) {
            show('found', { announce: false });
            document.querySelector('#main .outcome')?.focus();
        }
    }

    const actions = {
        tickDisk(disk, ticked) {
            state.ticked = state.ticked.filter((root) => root !== disk);
            if (ticked)
                state.ticked.push(disk);
            stage.update(id);
        },
        folderText(text) {
            state.folderText = text;
        },
        addFolder() {
            if (!state.folderText.trim())
                state.folderProblem = null;
            else if (addFolder(state.folderText))
                state.folderText = '';
            stage.update(id);
        },
        browse() {
            const answer = call('selectDir', window.handle ?? 0);
            const path = answer.ok && typeof answer.value === 'string' ? answer.value : '';
            // An empty answer is a cancelled dialog, or a system without one.
            if (path)
                addFolder(path);
            else
                state.folderProblem = 'files.folder.nothingChosen';
            stage.update(id);
        },
        removeFolder(path) {
            state.folders = state.folders.filter((folder) => folder !== path);
            stage.update(id);
        },
        start() {
            if (state.scan || otherSearching(view))
                return;
            // A path typed and not yet added counts.
            if (state.folderText.trim()) {
                if (!addFolder(state.folderText)) {
                    stage.update(id);
                    return;
                }
                state.folderText = '';
            }
            const list = roots();
            if (!list.length) {
                stage.update(id);
                return;
            }
            // The program reports to whichever callbacks exist when it
            // calls, so the search must be in place before the start.
            state.scan = { roots: list, finds: new Finds(view.mode, currentLanguage().code), reports: 0, path: '', stopping: false };
            state.startProblem = null;
            const answer = call('extensionScanStart', index, 0, false, list.join('|'), names, 0, PATH_EVERY);
            if (!answer.ok || answer.value !== true) {
                state.scan = null;
                state.startProblem = 'files.startFailed';
                stage.update(id);
                document.querySelector('#main .start-problem')?.focus();
                return;
            }
            show('searching');
            stage.statusChanged();
            othersFollow(view);
        },
        stop() {
            const scan = state.scan;
            if (!scan || scan.stopping)
                return;
            scan.stopping = call('extensionScanStop', index).ok;
            stage.update(id);
        },
        newSearch() {
            state.notice = null;
            show('setup');
        },
        results() {
            show('found');
        },
        tick(file, ticked) {
            const done = setFileTicked(file, ticked);
            stage.update(id);
            return done;
        },
        tickFiles(files, ticked) {
            tickAll(files, ticked);
            stage.update(id);
        },
        keepFirst(groups) {
            groups.forEach(keepFirst);
            stage.update(id);
        },
        clear() {
            tickAll(state.finds?.selected ?? [], false);
            stage.update(id);
        },
        openFolder(file) {
            const answer = call('openDirAndSelectFile', file.path);
            state.notice = answer.ok && answer.value !== false ? null : { key: 'files.openFailed', params: { name: file.name } };
            stage.update(id);
        },
        get canPreview() {
            return has('previewImage');
        },
        // The program shows the picture in a small window of its own.
        preview(file) {
            const answer = call('previewImage', file.path);
            state.notice = answer.ok && answer.value === true ? null : { key: 'files.previewFailed', params: { name: file.name } };
            stage.update(id);
        },
        async deleteSelected() {
            const files = state.finds?.selected ?? [];
            // One deletion at a time across both views: what one deletes is
            // gone from the other's lists before the other can confirm.
            if (!files.length || views.some((other) => other.state.deletion))
                return;
            if (await confirmDeletion(files))
                await deleteFiles(files);
        },
    };

    view.actions = actions;
    view.otherSearching = () => otherSearching(view);
    view.roots = roots;
    view.draw = (options) => {
        if (!disksLoaded)
            loadDisks();
        show(state.screen, options);
    };
    Object.defineProperty(view, 'busy', { get: () => state.scan !== null || state.deletion !== null });

    const [total, category, bigFiles, duplicates, finished, , currentPath] = names;
    const handlers = {};
    if (total)
        handlers[total] = (bytes) => state.scan?.finds.begin(bytes);
    if (category)
        handlers[category] = (categoryIndex, name, bytes) => state.scan?.finds.addCategory(categoryIndex, name, bytes);
    if (bigFiles)
        handlers[bigFiles] = (categoryIndex, list) => state.scan?.finds.addBigFiles(categoryIndex, list);
    if (duplicates)
        handlers[duplicates] = (categoryIndex, groups) => state.scan?.finds.addDuplicates(categoryIndex, groups);
    handlers[finished] = (code) => {
        if (!state.scan)
            return;
        // A search this page did not start (one left running before the
        // page was reloaded) gave way to ours: what it reported is not ours.
        if (Number(code) === SearchEnd.replaced) {
            state.scan.finds = new Finds(view.mode, state.scan.finds.language);
            return;
        }
        ended(Number(code));
    };
    handlers[currentPath] = (path) => {
        if (!state.scan)
            return;
        state.scan.reports += 1;
        state.scan.path = String(path ?? '');
        stage.refresh(id);
    };
    listen(handlers);
    views.push(view);
    return view;
}

// One name per slot: total, category, big files, duplicates, finished,
// number, current path. An empty name is a slot the page does not want.
export const large = createView({ id: 'large', index: 0,
    names: ['largeTotalCbk', 'largeCategoryCbk', 'largeFilesCbk', '', 'largeFinishedCbk', '', 'largePathCbk'] });
export const dupes = createView({ id: 'dupes', index: 1,
    names: ['dupesTotalCbk', 'dupesCategoryCbk', '', 'dupesGroupsCbk', 'dupesFinishedCbk', '', 'dupesPathCbk'] });
