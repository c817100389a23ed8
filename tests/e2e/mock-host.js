// Stands in for the program in page tests: defines the host functions the
// page calls and answers through the page's global callbacks,
// by name and in the order the program uses. Injected before the page's own
// scripts (page.addInitScript); window.__mockConfig, set by an earlier init
// script, changes its behaviour:
//   languageId   what getLanguageId answers (1033)
//   disks        what getDiskInfo answers
//   holdScan     a scan walks until the page stops it (or __mock.releaseScan())
//   holdDeletes  each cleaning answer waits for __mock.releaseDelete()
//   failDelete   ["group/program", ...] whose cacheDeleteOne fails
//   emptyRules   scans find nothing (total "0", code 1)
//   endCode      a scan ends with this code instead of 1
// and for the large-file and duplicate searches:
//   drives       what getDriveLetters answers
//   holdSearch   a search walks until the page stops it (or __mock.releaseSearch())
//   startFails   extensionScanStart answers false
//   failFiles    paths whose deleteFile answers false
//   throwFiles   paths whose deleteFile fails in the web view (throws)
//   pickedDir    what selectDir answers ('' for a cancelled dialog)
//   badOpen      openDirAndSelectFile answers false
//   noIcon       extensions whose getIconBuffer answers null (else a small SVG)
//   badPictures  paths whose previewImage answers false (as for any non-picture)
// and for moving folders:
//   knownFolders what moverGetKnownFoldersInfo starts from: [{ id, name, isMoved, path, size }]
//   moveCodes    { id: code } a known-folder move answers instead of doing it
//   restoreCodes { id: code } the same for bringing one back
//   holdMover    each mover answer waits for __mock.releaseMover()
//   movedApps    { source: new place } moved program folders the record already lists
//   appFails     program folders whose move or restore answers false
//   rootFails    moverChangeRoot answers false
//   recordOn     prefixes whose root folder holds the mover's record already
//   (window.__mock.config changes any of these while the page runs)
//   missing      paths pathFileExists denies
//   noMover      the program has no mover functions
// window.__mock.calls records every host call with its arguments.
(() => {
    'use strict';
    const config = {
        languageId: 1033,
        disks: [
            { drive: 'C:\\', totalMbs: 476940.5, freeMbs: 120000.25 },
            { drive: 'D:\\', totalMbs: 953869, freeMbs: 38000 },
        ],
        holdScan: false,
        holdDeletes: false,
        failDelete: [],
        emptyRules: false,
        endCode: 1,
        drives: { driveLetters: ['C:\\', 'D:\\'], systemDrive: 'C:\\' },
        holdSearch: false,
        startFails: false,
        failFiles: [],
        throwFiles: [],
        pickedDir: 'D:\\Photos',
        badOpen: false,
        noIcon: [],
        badPictures: [],
        knownFolders: [
            { id: 0, name: 'Downloads', isMoved: false, path: 'C:\\Users\\Ann\\Downloads', size: '5368709120' },
            { id: 1, name: 'Videos', isMoved: false, path: 'C:\\Users\\Ann\\Videos', size: '21474836480' },
            { id: 2, name: 'Music', isMoved: false, path: 'C:\\Users\\Ann\\Music', size: '3221225472' },
            { id: 3, name: 'Pictures', isMoved: false, path: 'C:\\Users\\Ann\\Pictures', size: '9663676416' },
            { id: 4, name: 'Documents', isMoved: false, path: 'C:\\Users\\Ann\\Documents', size: '1288490188' },
            { id: 5, name: 'Desktop', isMoved: false, path: 'C:\\Users\\Ann\\Desktop', size: '734003200' },
        ],
        moveCodes: {},
        restoreCodes: {},
        holdMover: false,
        movedApps: {},
        appFails: [],
        rootFails: false,
        recordOn: [],
        missing: [],
        noMover: false,
        tick: 10,
        ...(window.__mockConfig || {}),
    };

    const MiB = 1024 * 1024;
    // [id, { en, de } names, size, selected, items or files]. Ids are the
    // program's own: unique per level, some beyond 31 bits. Sizes in bytes.
    const fixture = [
        { id: '1', name: { en: 'System junk', de: 'Systemmüll' }, programs: [
            { id: '1001', name: { en: 'Temporary files', de: 'Temporäre Dateien' }, items: [
                { id: '11', name: { en: 'User temporary folder', de: 'Temporärer Benutzerordner' }, size: 700 * MiB, selected: true },
                { id: '13', name: { en: 'Old update downloads', de: 'Alte Update-Downloads' }, size: 1229 * MiB, selected: false },
                { id: '12', name: { en: 'Error reports', de: 'Fehlerberichte' }, size: 50 * MiB, selected: true },
            ] },
            { id: '1002', name: { en: 'Thumbnail cache', de: 'Miniaturansichten-Cache' }, items: [
                { id: '21', name: { en: 'Thumbnails', de: 'Miniaturansichten' }, size: 150 * MiB, selected: true },
            ] },
        ] },
        { id: '3', name: { en: 'Browsers', de: 'Browser' }, programs: [
            { id: '4026531841', name: { en: 'Web browser', de: 'Webbrowser' }, items: [
                { id: '31', name: { en: 'Cache', de: 'Cache' }, size: 384 * MiB, selected: true },
                { id: '32', name: { en: 'Cookies', de: 'Cookies' }, size: 2 * MiB, selected: false },
                { id: '33', name: { en: 'History', de: 'Verlauf' }, size: 1 * MiB, selected: false },
            ] },
            { id: '3002', name: { en: 'Mail client', de: 'E-Mail-Programm' }, items: [
                { id: '34', name: { en: 'Cached attachments', de: 'Zwischengespeicherte Anhänge' }, size: 90 * MiB, selected: true },
            ] },
        ] },
        // Cleaned as a whole: no items.
        { id: '6', name: { en: 'Recycle Bin', de: 'Papierkorb' }, programs: [
            { id: '61000088', name: { en: 'Recycle Bin', de: 'Papierkorb' }, size: 256 * MiB, selected: true, items: [] },
        ] },
        // Items of this group list their files, in two lists for one item.
        { id: '11', name: { en: 'Log files', de: 'Protokolldateien' }, programs: [
            { id: '1101', name: { en: 'Setup logs', de: 'Installationsprotokolle' }, items: [
                { id: '111', name: { en: 'Installer logs', de: 'Installer-Protokolle' }, size: 30 * MiB, selected: true, files: [
                    [{ fileName: 'C:\\Windows\\Logs\\CBS\\CBS.log', size: String(20 * MiB) },
                     { fileName: 'C:\\Windows\\Logs\\CBS\\CbsPersist_20240312.log', size: String(6 * MiB) }],
                    [{ fileName: 'C:\\Windows\\Panther\\setupact.log', size: String(4 * MiB) }],
                ] },
            ] },
        ] },
        { id: '24', name: { en: 'Leftovers of removed programs', de: 'Reste entfernter Programme' }, programs: [
            { id: '2401', name: { en: 'Photo editor (removed)', de: 'Fotobearbeitung (entfernt)' }, items: [
                { id: '241', name: { en: 'Settings folder', de: 'Einstellungsordner' }, size: 12 * MiB, selected: false },
            ] },
        ] },
    ];


    // The large-file and duplicate searches' findings: per category, in the
    // program's order (largest first), with names in two languages. A
    // category that found nothing is reported too, as the program does.
    const bigFixture = [
        { name: { en: 'Videos', de: 'Videos' }, files: [
            ['D:\\Videos\\Holiday 2023.mkv', 4509715660],
            ['C:\\Users\\Ann\\Videos\\Screen recording.mp4', 1288490189],
            ['C:\\Users\\Ann\\Downloads\\trailer.mov', 157286400],
        ] },
        { name: { en: 'Disk images', de: 'Datenträgerabbilder' }, files: [
            ['C:\\Users\\Ann\\Downloads\\installer.iso', 3994091520],
        ] },
        { name: { en: 'Archives', de: 'Archive' }, files: [
            ['C:\\Users\\Ann\\Documents\\photos-2019.zip', 734003200],
            ['D:\\Backup\\projects.7z', 209715200],
        ] },
        { name: { en: 'Documents', de: 'Dokumente' }, files: [] },
    ];
    // Members in the order the walk met them, not the order the page shows.
    // One group lists a file twice (walked under two roots): it is no
    // duplicate of itself.
    const dupFixture = [
        { name: { en: 'Videos', de: 'Videos' }, groups: [
            { size: 157286400, files: ['D:\\Videos\\trailer.mov', 'C:\\Users\\Ann\\Downloads\\trailer.mov'] },
            { size: 20971520, files: ['D:\\Videos\\intro.mp4', 'D:\\Videos\\intro.mp4'] },
        ] },
        { name: { en: 'Pictures', de: 'Bilder' }, groups: [
            { size: 5242880, files: ['C:\\Users\\Ann\\Pictures\\Camera\\IMG_0001.jpg', 'D:\\Backup\\Pictures\\IMG_0001 (copy).jpg',
                'C:\\Users\\Ann\\Pictures\\IMG_0001.jpg'] },
            { size: 3145728, files: ['D:\\Backup\\Pictures\\beach.png', 'C:\\Users\\Ann\\Pictures\\beach.png'] },
        ] },
        { name: { en: 'Music', de: 'Musik' }, groups: [] },
    ];

    const calls = [];
    const removed = new Set();   // "group/program/item" and "group/program"
    let languageId = config.languageId;
    let scan = null;
    const pendingDeletes = [];
    const searches = [null, null];
    const deletedFiles = new Set();

    const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
    // The program looks a callback up by name when it calls, and a missing
    // one is skipped.
    function fire(name, ...args) {
        const fn = window[name];
        if (typeof fn === 'function')
            fn(...args);
    }
    function record(name, args) {
        calls.push({ name, args: JSON.parse(JSON.stringify(args)) });
    }
    function nameOf(names) {
        return languageId === 1031 ? names.de : names.en;
    }
    function requireNumberString(value) {
        if (typeof value !== 'string' || !/^\d+$/.test(value) || Number(value) > 0xffffffff)
            throw new Error('invalid stoul argument');
        return value;
    }

    // The tree as a scan would find it now: cleaned parts are gone, sizes
    // add up, every level largest first.
    function currentTree() {
        const bySize = (a, b) => b.size - a.size;
        const groups = fixture.map((group) => {
            const programs = group.programs.map((program) => {
                if (!program.items.length) {
                    const gone = removed.has(`${group.id}/${program.id}`);
                    return { ...program, size: gone ? 0 : program.size, selectedSize: gone ? 0 : program.size };
                }
                const items = program.items
                    .filter((item) => !removed.has(`${group.id}/${program.id}/${item.id}`))
                    .sort(bySize);
                const size = items.reduce((sum, item) => sum + item.size, 0);
                const selectedSize = items.reduce((sum, item) => sum + (item.selected ? item.size : 0), 0);
                return { ...program, items, size, selectedSize };
            }).filter((program) => program.size > 0).sort(bySize);
            const size = programs.reduce((sum, program) => sum + program.size, 0);
            const selectedSize = programs.reduce((sum, program) => sum + program.selectedSize, 0);
            return { ...group, programs, size, selectedSize };
        }).filter((group) => group.size > 0).sort(bySize);
        return groups;
    }

    function report(groups) {
        const total = groups.reduce((sum, group) => sum + group.size, 0);
        const selected = groups.reduce((sum, group) => sum + group.selectedSize, 0);
        fire('cacheScanCbkTotal', String(total), String(selected));
        for (const group of groups) {
            fire('cacheScanCbk0', nameOf(group.name), String(group.size), String(group.selectedSize), group.id);
            for (const program of group.programs) {
                fire('cacheScanCbk1', nameOf(program.name), String(program.size), String(program.selectedSize), program.id);
                for (const item of program.items) {
                    fire('cacheScanCbk2', nameOf(item.name), String(item.size), item.id, item.selected);
                    for (const list of item.files ?? [])
                        fire('cacheScanCbk3', list);
                }
            }
        }
    }

    async function runScan(state) {
        const groups = config.emptyRules ? [] : currentTree();
        const steps = 8;
        const total = groups.reduce((sum, group) => sum + group.size, 0);
        for (let step = 1; step <= steps && !state.stop; ++step) {
            await sleep(config.tick);
            fire('cacheProgressCbk', step, steps);
            fire('sizeCbk', String(Math.floor(total * step / steps)), String(Math.floor(total * step / steps / 2)));
            fire('cacheFileNameCbk', `C:\\Users\\Ann\\AppData\\Local\\Temp\\setup-${step}\\part${step}.tmp`);
            while (config.holdScan && !state.stop)
                await sleep(config.tick);
        }
        await sleep(config.tick);
        if (state.stop) {
            // What was counted before the stop: the first groups only.
            report(groups.slice(0, 2).map((group) => {
                const [first] = group.programs;
                return { ...group, programs: [first], size: first.size, selectedSize: first.selectedSize };
            }));
            fire('cacheScanEndCbk', 2);
        } else {
            // The total comes once when counting ends and again to open the report.
            fire('cacheScanCbkTotal', '1', '1');
            report(groups);
            fire('cacheScanEndCbk', config.endCode);
        }
        scan = null;
    }


    // The findings as a search would report them now: deleted files gone,
    // groups of one no more, categories largest first. A stopped search
    // got as far as the first file of each category.
    function findings(index, partial) {
        const gone = (path) => deletedFiles.has(path);
        const cut = (list) => (partial ? list.slice(0, 1) : list);
        if (index === 0) {
            return bigFixture.map((category) => {
                const files = cut(category.files.filter(([path]) => !gone(path)));
                return { name: category.name, files, bytes: files.reduce((sum, [, size]) => sum + size, 0) };
            }).sort((a, b) => b.bytes - a.bytes);
        }
        return dupFixture.map((category) => {
            const groups = cut(category.groups.map((group) => ({ ...group, files: group.files.filter((path) => !gone(path)) }))
                .filter((group) => group.files.length > 1));
            // The program counts a group's size once per group.
            return { name: category.name, groups, bytes: groups.reduce((sum, group) => sum + group.size, 0) };
        }).sort((a, b) => b.bytes - a.bytes);
    }

    async function runSearch(state) {
        const [total, category, bigFiles, duplicates, finished, , currentPath] = state.names;
        const roots = state.roots.split('|');
        for (let step = 0; step < 6 && !state.stop; ++step) {
            await sleep(config.tick);
            const root = roots[step % roots.length];
            const sep = root.startsWith('/') ? '/' : '\\';
            fire(currentPath, `${root}${root.endsWith(sep) ? '' : sep}Folder ${step}${sep}file-${step * state.every}.bin`);
            while (config.holdSearch && !state.stop)
                await sleep(config.tick);
        }
        await sleep(config.tick);
        if (state.code === 1) {
            fire(finished, 1);
            return;
        }
        const categories = findings(state.index, state.stop);
        fire(total, String(categories.reduce((sum, entry) => sum + entry.bytes, 0)));
        categories.forEach((entry, position) => {
            fire(category, position, nameOf(entry.name), String(entry.bytes));
            if (state.index === 0)
                fire(bigFiles, position, entry.files.map(([fileName, size]) => ({ fileName, size: String(size) })));
            else
                fire(duplicates, position, entry.groups.map((group) => ({ size: String(group.size), files: [...group.files] })));
        });
        fire(finished, state.stop ? 2 : 0);
        if (searches[state.index] === state)
            searches[state.index] = null;
    }


    // The folder mover: a table of known folders, a record of moved
    // program folders kept as the program keeps its mover.ini, and answers
    // through the fixed callback names with the page's tag.
    const englishNames = ['Downloads', 'Videos', 'Music', 'Pictures', 'Documents', 'Desktop'];
    const knownFolders = config.knownFolders.map((folder) => ({ ...folder }));
    // Where each folder lives when it is not moved, by id.
    const homes = Object.fromEntries(knownFolders.map((folder) =>
        [folder.id, folder.isMoved ? `C:\\Users\\Ann\\${englishNames[folder.id]}` : folder.path]));
    const movedApps = new Map(Object.entries(config.movedApps));
    const pendingMover = [];
    let moverName = null;
    let moverPrefix = null;
    let clock = 1700000000000;
    const moverRoot = () => `${moverPrefix}${moverName}`;

    function moverAnswer(answer) {
        if (config.holdMover)
            pendingMover.push(answer);
        else
            setTimeout(answer, config.tick);
    }
    function recordText() {
        const lines = ['[MovedAppFolder]', ...[...movedApps].map(([from, to]) => `${from}=${to}`), '[MovedKnownFolder]'];
        for (const folder of knownFolders) {
            if (folder.isMoved)
                lines.push(`${englishNames[folder.id]}=${folder.path}`);
        }
        return lines.join('\r\n') + '\r\n';
    }
    const moverHost = {
        moverInit(name, prefix) {
            moverName = String(name);
            moverPrefix = String(prefix);
            return null;
        },
        moverGetKnownFoldersInfo(callback) {
            moverAnswer(() => fire(callback, knownFolders.map((folder) => ({ ...folder, size: String(folder.size) }))));
            return null;
        },
        moverMoveKnownFolder(id, tag) {
            const folder = knownFolders.find((entry) => entry.id === id);
            const code = config.moveCodes[id] ?? (folder.isMoved ? 8 : 0);
            // 10: moved, with some old files still in use.
            if (code === 0 || code === 10) {
                folder.isMoved = true;
                folder.path = `${moverRoot()}\\Windows\\${englishNames[id]}`;
            }
            moverAnswer(() => fire('moverMoveKnownFolderCbk', code, tag));
            return null;
        },
        moverRestoreKnownFolder(id, tag) {
            const folder = knownFolders.find((entry) => entry.id === id);
            const code = config.restoreCodes[id] ?? (folder.isMoved ? 0 : 5);
            if (code === 0 || code === 10) {
                folder.isMoved = false;
                folder.path = homes[id];
            }
            moverAnswer(() => fire('moverRestoreKnownFolderCbk', code, tag));
            return null;
        },
        moverIsAppFolderMoved(path) {
            return movedApps.has(String(path));
        },
        moverMoveAppFolder(path, tag) {
            const ok = !config.appFails.includes(path);
            if (ok && !movedApps.has(path))
                movedApps.set(path, `${moverRoot()}\\Apps\\${path.split(/[\\/]/).pop()}_${clock++}`);
            moverAnswer(() => fire('moverMoveAppFolderCbk', ok, tag));
            return null;
        },
        moverRestoreAppFolder(path, tag) {
            const ok = movedApps.has(path) && !config.appFails.includes(path);
            if (ok)
                movedApps.delete(path);
            moverAnswer(() => fire('moverRestoreAppFolderCbk', ok, tag));
            return null;
        },
        moverChangeRoot(prefix) {
            const ok = !config.rootFails;
            if (ok) {
                const newRoot = `${prefix}${moverName}`;
                for (const [from, to] of movedApps)
                    movedApps.set(from, `${newRoot}\\Apps\\${to.split('\\').pop()}`);
                for (const folder of knownFolders) {
                    if (folder.isMoved)
                        folder.path = `${newRoot}\\Windows\\${englishNames[folder.id]}`;
                }
            }
            moverAnswer(() => fire('moverChangeRootCbk', ok));
            return null;
        },
        pathFileExists(path) {
            if (config.missing.includes(path))
                return false;
            // The record in a root folder right below one of these prefixes.
            if (/[\\/]mover\.ini$/.test(path)) {
                return config.recordOn.some((prefix) => path.startsWith(prefix)
                    && /^[\\/][^\\/]+[\\/]mover\.ini$/.test(path.slice(prefix.length)));
            }
            return true;
        },
        readBinaryFileSync(path) {
            if (moverName === null || path !== `${moverRoot()}\\mover.ini`)
                return new ArrayBuffer(0);
            return new TextEncoder().encode(recordText()).buffer;
        },
    };

    const host = {
        getLanguageId() { return languageId; },
        setLanguageId(id) { languageId = Number(id) & 0xffff; return null; },
        getUserDefaultUILanguage() { return 1033; },
        getDiskInfo() { return JSON.parse(JSON.stringify(config.disks)); },
        baseSystemInfo(selector) { return { 0: '1.2.0.0', 1: 'Clean' }[selector] ?? ''; },
        getDriveLetters() { return JSON.parse(JSON.stringify(config.drives)); },
        selectDir() { return config.pickedDir; },
        openDirAndSelectFile() { return !config.badOpen; },
        // One colour per file type, so a screenshot shows which icon is whose.
        getIconBuffer(path) {
            const extension = /\.([^.\\]+)$/.exec(path)?.[1]?.toLowerCase() ?? '';
            if (config.noIcon.includes(extension))
                return null;
            const hue = [...extension].reduce((sum, c) => sum + c.charCodeAt(0) * 37, 0) % 360;
            return new TextEncoder().encode('<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24">'
                + `<rect x="4" y="2" width="16" height="20" rx="3" fill="hsl(${hue} 55% 50%)"/></svg>`).buffer;
        },
        previewImage(path) {
            return /\.(jpe?g|png|gif)$/i.test(path) && !config.badPictures.includes(path);
        },
        extensionScanStart(index, unused, flag, roots, names, option, every) {
            if ((index !== 0 && index !== 1) || !Array.isArray(names) || names.length !== 7)
                return false;
            if (config.startFails)
                return false;
            // A running search of the same index gives way, with code 1.
            if (searches[index]) {
                searches[index].stop = true;
                searches[index].code = 1;
            }
            const state = { index, roots: String(roots), names: names.map(String), every: Number(every), stop: false, code: 0 };
            searches[index] = state;
            runSearch(state);
            return true;
        },
        extensionScanStop(index) {
            if (searches[index])
                searches[index].stop = true;
            return null;
        },
        deleteFile(path) {
            if (config.throwFiles.includes(path))
                throw new Error('native function deleteFile failed');
            if (config.failFiles.includes(path) || deletedFiles.has(path))
                return false;
            deletedFiles.add(path);
            return true;
        },
        cacheScanInit() { return null; },
        cacheScanStart() {
            scan = { stop: false };
            runScan(scan);
            return null;
        },
        cacheScanStop() {
            if (scan)
                scan.stop = true;
            setTimeout(() => fire('cacheScanStopCbk', 2), config.tick);
            return undefined;
        },
        cacheDeleteOne(groupId, programId, itemIds) {
            requireNumberString(groupId);
            requireNumberString(programId);
            if (!Array.isArray(itemIds))
                throw new Error('item ids must be an array');
            itemIds.forEach(requireNumberString);
            // The web view turns a failing native function into a thrown error.
            if (config.failDelete.includes(`${groupId}/${programId}`))
                throw new Error('native function cacheDeleteOne failed');
            if (itemIds.length === 0)
                removed.add(`${groupId}/${programId}`);
            for (const id of itemIds)
                removed.add(`${groupId}/${programId}/${id}`);
            const answer = () => fire('cacheDeleteOneCbk', groupId, programId);
            if (config.holdDeletes)
                pendingDeletes.push(answer);
            else
                setTimeout(answer, config.tick);
            return undefined;
        },
    };

    if (!config.noMover)
        Object.assign(host, moverHost);
    for (const [name, fn] of Object.entries(host)) {
        window[name] = function (...args) {
            record(name, args);
            return fn(...args);
        };
    }
    window.__mock = {
        calls,
        releaseDelete() { pendingDeletes.shift()?.(); },
        // A held scan or search walks on to its end.
        releaseScan() { config.holdScan = false; },
        releaseSearch() { config.holdSearch = false; },
        // Tests change answers on the way (e.g. the next move's code).
        config,
        releaseMover() { pendingMover.shift()?.(); },
        get pendingMover() { return pendingMover.length; },
        get movedApps() { return Object.fromEntries(movedApps); },
        get pendingDeletes() { return pendingDeletes.length; },
        get searching() { return searches.map(Boolean); },
    };
})();
