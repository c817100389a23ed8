// Stands in for the program in page tests: defines the host functions the
// junk cleaning page calls and answers through the page's global callbacks,
// by name and in the order the program uses. Injected before the page's own
// scripts (page.addInitScript); window.__mockConfig, set by an earlier init
// script, changes its behaviour:
//   languageId   what getLanguageId answers (1033)
//   disks        what getDiskInfo answers
//   holdScan     a scan walks until the page stops it
//   holdDeletes  each cleaning answer waits for __mock.releaseDelete()
//   failDelete   ["group/program", ...] whose cacheDeleteOne fails
//   emptyRules   scans find nothing (total "0", code 1)
//   endCode      a scan ends with this code instead of 1
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

    const calls = [];
    const removed = new Set();   // "group/program/item" and "group/program"
    let languageId = config.languageId;
    let scan = null;
    const pendingDeletes = [];

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

    const host = {
        getLanguageId() { return languageId; },
        setLanguageId(id) { languageId = Number(id) & 0xffff; return null; },
        getUserDefaultUILanguage() { return 1033; },
        getDiskInfo() { return JSON.parse(JSON.stringify(config.disks)); },
        baseSystemInfo(selector) { return { 0: '1.2.0.0', 1: 'Clean' }[selector] ?? ''; },
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

    for (const [name, fn] of Object.entries(host)) {
        window[name] = function (...args) {
            record(name, args);
            return fn(...args);
        };
    }
    window.__mock = {
        calls,
        releaseDelete() { pendingDeletes.shift()?.(); },
        get pendingDeletes() { return pendingDeletes.length; },
    };
})();
