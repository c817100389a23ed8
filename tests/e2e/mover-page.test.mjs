// The "Move folders" view: first its pure parts (what the program's answers
// mean, where moved folders go, the program's record), then the page in a
// real browser against the stand-in program (mock-host.js), served under
// the web view's own Content-Security-Policy. Screens are saved to
// build/e2e-screenshots/ (mover-*.png) for a person to look at.
//   cd tests/e2e && node --test mover-page.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { usePage } from './page-fixture.mjs';
import { choosePrefix, decodeRecord, folderName, parseRecord, prefixOf, resultKey } from '../../html/js/mover-model.js';

const root = fileURLToPath(new URL('../../', import.meta.url));

// ---- without a browser ----------------------------------------------------

test('every answer of a known-folder move or restore has its own words', () => {
    for (const [kind, code, key] of [
        ['move', 0, 'mover.result.moved'],
        ['restore', 0, 'mover.result.restored'],
        ['move', 2, 'mover.result.code2'],
        ['restore', 3, 'mover.result.code3'],
        ['restore', 5, 'mover.result.code5'],
        ['move', 6, 'mover.result.code6'],
        ['move', 7, 'mover.result.code7'],
        ['move', 8, 'mover.result.code8'],
        ['restore', 9, 'mover.result.code9'],
        // Codes the page does not know (a refusal added later, an error
        // number) still say which request failed.
        ['move', 1, 'mover.result.code1'],
        ['restore', 4, 'mover.result.code4'],
        ['move', 10, 'mover.result.code10'],
        ['move', 95, 'mover.result.moveOther'],
        ['restore', -1, 'mover.result.restoreOther'],
        ['restore', '3', 'mover.result.code3'],
        ['move', null, 'mover.result.moveOther'],
        ['restore', undefined, 'mover.result.restoreOther'],
        ['move', '', 'mover.result.moveOther'],
    ])
        assert.equal(resultKey(kind, code), key, `${kind} ${code}`);
});

test('moved folders go where they went before, else to the first other disk, else to the system disk', () => {
    const name = '\\Clean';
    for (const [label, chosen, expected] of [
        ['a second disk', { disks: ['C:\\', 'D:\\', 'E:\\'], systemDisk: 'C' }, { prefix: 'D:', reason: 'other' }],
        ['the system disk listed later', { disks: ['D:\\', 'C:\\'], systemDisk: 'C:\\' }, { prefix: 'D:', reason: 'other' }],
        ['a record on a third disk wins', { disks: ['C:\\', 'D:\\', 'E:\\'], systemDisk: 'C', records: ['E:\\Clean\\mover.ini'] },
            { prefix: 'E:', reason: 'found' }],
        ['a remembered folder that holds the record', { disks: ['C:\\', 'D:\\'], systemDisk: 'C', remembered: 'D:\\Store',
            records: ['D:\\Store\\Clean\\mover.ini'] }, { prefix: 'D:\\Store', reason: 'found' }],
        ['a remembered place without a record is not trusted', { disks: ['C:\\', 'D:\\'], systemDisk: 'C', remembered: 'F:\\Gone' },
            { prefix: 'D:', reason: 'other' }],
        ['only the system disk', { disks: ['C:\\'], systemDisk: 'C' }, { prefix: 'C:', reason: 'system' }],
        ['mounts on Linux', { disks: ['/', '/mnt/data/'], systemDisk: '/', name: '/Clean' }, { prefix: '/mnt/data', reason: 'other' }],
        ['only "/" on Linux', { disks: ['/'], systemDisk: '/', name: '/Clean' }, { prefix: '', reason: 'system' }],
    ]) {
        const records = new Set(chosen.records ?? []);
        assert.deepEqual(choosePrefix({ ...chosen, name: chosen.name ?? name, exists: (path) => records.has(path) }), expected, label);
    }
    assert.deepEqual(['D:\\', 'd:/', '/mnt/data/', '/', 'E:\\Store\\'].map(prefixOf), ['D:', 'd:', '/mnt/data', '', 'E:\\Store']);
    assert.deepEqual([folderName('Clean', '\\'), folderName('A/B: "Pro"', '/'), folderName(' ... ', '\\')],
        ['\\Clean', '/AB Pro', '\\Clean']);
});

test('the program\'s record lists moved program folders; other sections and broken lines are left alone', () => {
    const text = [
        '[MovedKnownFolder]', 'Videos=D:\\Clean\\Windows\\Videos',
        '[MovedAppFolder]', 'C:\\Games\\Library=D:\\Clean\\Apps\\Library_1700000000000',
        '; a comment', 'no equals sign', '=D:\\nothing',
        'C:\\Odd=Name=D:\\Clean\\Apps\\Odd=Name_1',
        'C:\\Games\\Library=D:\\Clean\\Apps\\Library_1700000000001',
        '[Journal]', 'C:\\Half=D:\\Clean\\Apps\\Half_1',
    ].join('\r\n');
    const expected = [
        { path: 'C:\\Odd', location: 'Name=D:\\Clean\\Apps\\Odd=Name_1' },
        // A repeated key keeps its last value, as the profile functions do.
        { path: 'C:\\Games\\Library', location: 'D:\\Clean\\Apps\\Library_1700000000001' },
    ];
    assert.deepEqual(parseRecord(text), expected);
    // The same record as UTF-16 with a byte-order mark, and as UTF-8.
    const utf16 = new Uint8Array([0xff, 0xfe, ...[...text].flatMap((c) => [c.charCodeAt(0) & 0xff, c.charCodeAt(0) >> 8])]);
    assert.deepEqual(parseRecord(decodeRecord(utf16.buffer)), expected);
    assert.deepEqual(parseRecord(decodeRecord(new TextEncoder().encode('[MovedAppFolder]\nC:\\Spiele\\Größe=D:\\x\n').buffer)),
        [{ path: 'C:\\Spiele\\Größe', location: 'D:\\x' }]);
    assert.equal(decodeRecord(new ArrayBuffer(0)), '');
    assert.equal(decodeRecord(null), '');
});

// ---- in a browser ---------------------------------------------------------

const { open: openPage, snap, hostCalls } = usePage();

// A fresh page on the mover's tab with its folders listed; taller, so the
// six folders fit.
function open(config = {}, options = {}) {
    return openPage(config, { viewport: { width: 980, height: 900 }, ...options });
}

async function openMover(config, options) {
    const opened = await open(config, options);
    await opened.page.click('#tab-mover');
    await opened.page.waitForSelector('.known-folder, .mover-unavailable');
    return opened;
}


// The known folders as text: [name, state, where, size, button].
function readFolders(page) {
    return page.$$eval('.known-folder', (rows) => rows.map((row) => [
        row.querySelector('.folder-name').textContent,
        row.querySelector('.badge').textContent,
        row.querySelector('.folder-where').textContent,
        row.querySelector('.size').textContent,
        `${row.querySelector('button').textContent}${row.querySelector('button').disabled ? ' (off)' : ''}`]));
}

function readApps(page) {
    return page.$$eval('.moved-app', (rows) => rows.map((row) => [
        row.querySelector('.app-path').textContent, row.querySelector('.folder-where')?.textContent ?? null]));
}

const outcome = (page) => page.textContent('.mover-outcome .notice');

// A move or restore of a known folder up to the program's answer.
async function ask(page, id) {
    await page.click(`.known-folder[data-id="${id}"] button`);
    await page.waitForSelector('dialog.ask');
}

// Yes to the question; the request is under way once the dialog is gone.
async function confirm(page) {
    await page.click('#ask-confirm');
    await page.waitForFunction(() => !document.querySelector('dialog.ask'));
}

// Until the program has answered and the folders are listed again.
async function settle(page) {
    await page.waitForFunction(() => document.querySelector('#main .screen')?.getAttribute('aria-busy') === 'false');
}

test('the known folders as the program lists them, and where moved folders go', async () => {
    const { page, problems, close } = await openMover({
        knownFolders: [
            { id: 0, name: 'Téléchargements', isMoved: false, path: 'C:\\Users\\Ann\\Downloads', size: '5368709120' },
            { id: 1, name: 'Videos', isMoved: true, path: 'D:\\Clean\\Windows\\Videos', size: '21474836480' },
            // The system gave no display name; the folder is gone.
            { id: 3, name: '', isMoved: false, path: '', size: '0' },
            // Past 2^53 bytes, exactly.
            { id: 4, name: 'Documents', isMoved: false, path: 'C:\\Users\\Ann\\Documents', size: '9007199254740993' },
            { id: 5, name: '', isMoved: false, path: 'C:\\Users\\Ann\\Desktop', size: '0' },
        ],
    });
    assert.deepEqual(await readFolders(page), [
        ['Téléchargements', 'In its usual place', 'C:\\Users\\Ann\\Downloads', '5 GiB', 'Move…'],
        ['Videos', 'Moved', 'D:\\Clean\\Windows\\Videos', '20 GiB', 'Bring back…'],
        ['Pictures', 'Not available', '—', '', 'Move… (off)'],
        ['Documents', 'In its usual place', 'C:\\Users\\Ann\\Documents', '8 PiB', 'Move…'],
        ['Desktop', 'In its usual place', 'C:\\Users\\Ann\\Desktop', '0 B', 'Move…'],
    ]);
    // The question names it the same way.
    await ask(page, 5);
    assert.equal(await page.textContent('#ask-title'), 'Move Desktop to another disk?');
    await page.click('#ask-cancel');
    assert.equal(await page.getAttribute('.known-folder[data-id="1"] button', 'aria-label'), 'Bring back Videos');
    assert.equal(await page.textContent('#mover-root'), 'D:\\Clean');
    assert.equal(await page.textContent('#mover-root-note'), 'Chosen for you: the first disk that is not the system disk.');
    assert.deepEqual(await hostCalls(page, 'moverInit'), [['\\Clean', 'D:']]);
    assert.deepEqual(await hostCalls(page, 'moverGetKnownFoldersInfo'), [['moverKnownFoldersCbk']]);
    await snap(page, 'mover-01-list');
    assert.deepEqual(problems, []);
    await close();

    // The program is pointed at a root only once the view is opened, and
    // only once however often it is opened.
    const later = await open();
    assert.deepEqual(await hostCalls(later.page, 'moverInit'), []);
    await later.page.click('#tab-mover');
    await later.page.waitForSelector('.known-folder');
    await later.page.click('#tab-junk');
    await later.page.click('#tab-mover');
    assert.deepEqual(await hostCalls(later.page, 'moverInit'), [['\\Clean', 'D:']]);
    await later.close();

    for (const [label, config, prefix, name, note] of [
        ['a record on another disk', { drives: { driveLetters: ['C:\\', 'D:\\', 'E:\\'], systemDrive: 'C' }, recordOn: ['E:'] },
            'E:', '\\Clean', 'This is where Clean moved folders before.'],
        ['only the system disk', { drives: { driveLetters: ['C:\\'], systemDrive: 'C' } },
            'C:', '\\Clean', 'Only the system disk was found, so moving a folder would free no space on it. Connect another disk and choose it here.'],
        ['Linux mounts', { drives: { driveLetters: ['/', '/srv/big'], systemDrive: '/' } },
            '/srv/big', '/Clean', 'Chosen for you: the first disk that is not the system disk.'],
    ]) {
        const opened = await openMover(config);
        assert.deepEqual(await hostCalls(opened.page, 'moverInit'), [[name, prefix]], label);
        assert.equal(await opened.page.textContent('#mover-root-note'), note, label);
        assert.deepEqual(opened.problems, [], label);
        await opened.close();
    }

    // A program without the mover says so instead of offering buttons.
    const none = await openMover({ noMover: true });
    assert.equal(await none.page.textContent('#mover-heading'), 'Moving folders is not available');
    assert.equal(await none.page.$('.known-folder'), null);
    await none.close();
});

test('moving and bringing back a known folder: the request, the wait and the answer in words', async () => {
    const { page, problems, close } = await openMover({ holdMover: false });
    // Cancel asks the program nothing.
    await ask(page, 1);
    assert.equal(await page.textContent('#ask-title'), 'Move Videos to another disk?');
    assert.equal(await page.textContent('#ask-text'), 'Videos (20 GiB) is moved into D:\\Clean. A link stays at C:\\Users\\Ann\\Videos, '
        + 'so programs and shortcuts keep finding it. You can bring it back at any time.');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'ask-cancel');
    await snap(page, 'mover-02-confirm');
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.querySelector('dialog.ask'));
    assert.equal(await page.evaluate(() => document.activeElement.getAttribute('data-action')), 'move');
    assert.deepEqual(await hostCalls(page, 'moverMoveKnownFolder'), []);

    // While the program works, everything waits and says why.
    await page.evaluate(() => { window.__mock.config.holdMover = true; });
    await ask(page, 1);
    await confirm(page);
    await page.waitForSelector('.mover-working:not([hidden])');
    const [[id, tag]] = await hostCalls(page, 'moverMoveKnownFolder');
    assert.deepEqual([id, typeof tag], [1, 'number']);
    assert.equal(await page.textContent('.working-text'), 'Moving Videos…');
    assert.equal(await page.getAttribute('#tab-mover', 'data-busy'), 'true');
    assert.equal(await page.getAttribute('.known-folder[data-id="1"]', 'aria-busy'), 'true');
    assert.equal(await page.textContent('.known-folder[data-id="1"] .badge'), 'Moving…');
    assert.deepEqual(await page.$$eval('#main button', (buttons) => buttons.filter((button) => !button.disabled).map((button) => button.id || button.textContent)), []);
    await snap(page, 'mover-03-working');
    // An answer with another tag is not this request's.
    await page.evaluate((other) => window.moverMoveKnownFolderCbk(0, other), tag + 1000);
    assert.equal(await page.isVisible('.mover-working'), true);
    await page.evaluate(() => { window.__mock.config.holdMover = false; window.__mock.releaseMover(); });
    await settle(page);
    assert.equal(await outcome(page), 'Videos is now in D:\\Clean. A link in its old place keeps everything working.');
    assert.equal(await page.getAttribute('#tab-mover', 'data-busy'), 'false');
    assert.equal(await page.evaluate(() => document.activeElement.classList.contains('mover-outcome')), true);
    // Listed again from the program: moved, with its new place.
    assert.deepEqual((await readFolders(page))[1], ['Videos', 'Moved', 'D:\\Clean\\Windows\\Videos', '20 GiB', 'Bring back…']);
    assert.equal((await hostCalls(page, 'moverGetKnownFoldersInfo')).length, 2);
    await snap(page, 'mover-04-moved');

    await ask(page, 1);
    assert.equal(await page.textContent('#ask-title'), 'Bring Videos back?');
    assert.equal(await page.textContent('#ask-text'),
        'Videos (20 GiB) is moved back from D:\\Clean\\Windows\\Videos to its usual place, and the link is removed.');
    await confirm(page);
    await settle(page);
    assert.deepEqual((await hostCalls(page, 'moverRestoreKnownFolder')).map(([folder]) => folder), [1]);
    assert.equal(await outcome(page), 'Videos is back in its usual place.');
    assert.deepEqual((await readFolders(page))[1], ['Videos', 'In its usual place', 'C:\\Users\\Ann\\Videos', '20 GiB', 'Move…']);

    // Every tag is new: the page tells its requests apart.
    const tags = [...await hostCalls(page, 'moverMoveKnownFolder'), ...await hostCalls(page, 'moverRestoreKnownFolder')].map(([, t]) => t);
    assert.equal(new Set(tags).size, tags.length);
    assert.deepEqual(problems, []);
    await close();
});

test('each answer the program can give a move or a restore is said in words', async () => {
    const { page, problems, close } = await openMover({
        knownFolders: [
            { id: 0, name: 'Downloads', isMoved: false, path: 'C:\\Users\\Ann\\Downloads', size: '1024' },
            { id: 2, name: 'Music', isMoved: true, path: 'D:\\Clean\\Windows\\Music', size: '2048' },
        ],
    });
    for (const [kind, code, text] of [
        ['move', 2, 'The system did not accept a new place for Downloads. Nothing was changed.'],
        ['move', 3, 'The files of Downloads could not be moved, so Downloads stays where it was.'],
        ['move', 6, 'The files of Downloads could not be moved, and Downloads could not be switched back to its old place. '
            + 'No files were deleted; bring Downloads back to put it right.'],
        ['move', 7, 'The folder for Downloads could not be created. Check that the disk is connected and that you may write to it.'],
        ['move', 8, 'Downloads is already moved.'],
        ['move', 9, 'Downloads is not available on this computer.'],
        ['move', 1, 'Downloads is not a folder Clean can move. Nothing was changed.'],
        ['move', 4, 'Clean did not do this because it would not be safe, for example because a folder would end up inside itself '
            + 'or the disk lacks free space. Nothing was changed; the log of Clean says why.'],
        ['move', 112, 'Downloads could not be moved (code 112). The log of Clean has the details.'],
        ['restore', 2, 'The system did not accept a new place for Music. Nothing was changed.'],
        ['restore', 3, 'The files of Music could not be moved, so Music stays where it was.'],
        ['restore', 5, 'Music is not moved, so there is nothing to bring back.'],
        ['restore', 6, 'The files of Music could not be moved, and Music could not be switched back to its old place. '
            + 'No files were deleted; bring Music back to put it right.'],
        ['restore', 7, 'The folder for Music could not be created. Check that the disk is connected and that you may write to it.'],
        ['restore', 9, 'Music is not available on this computer.'],
        ['restore', 4, 'Clean did not do this because it would not be safe, for example because a folder would end up inside itself '
            + 'or the disk lacks free space. Nothing was changed; the log of Clean says why.'],
        ['restore', 50, 'Music could not be brought back (code 50). The log of Clean has the details.'],
        // Done, with the old place still to tidy up: a warning, not a failure.
        ['move', 10, 'Downloads now works from its new place, but some files in its old place are in use and could not be '
            + 'removed yet. Clean removes them the next time it starts.'],
        ['restore', 10, 'Music now works from its new place, but some files in its old place are in use and could not be '
            + 'removed yet. Clean removes them the next time it starts.'],
    ]) {
        const id = kind === 'move' ? 0 : 2;
        await page.evaluate(([which, folder, answer]) => { window.__mock.config[which][folder] = answer; },
            [kind === 'move' ? 'moveCodes' : 'restoreCodes', id, code]);
        await ask(page, id);
        await confirm(page);
        await settle(page);
        assert.equal(await outcome(page), text, `${kind} ${code}`);
        assert.deepEqual(await page.$eval('.mover-outcome .notice', (notice) => [notice.className, notice.getAttribute('role')]),
            code === 10 ? ['notice warn', 'status'] : ['notice error', 'alert'], `${kind} ${code}`);
        if (kind === 'move' && code === 6)
            await snap(page, 'mover-05-failed');
    }
    // Only the two answers that did the work changed anything.
    assert.deepEqual((await readFolders(page)).map(([name, state]) => [name, state]), [['Downloads', 'Moved'], ['Music', 'In its usual place']]);
    assert.deepEqual(problems.filter((text) => !text.includes('unexpected')), []);
    await close();
});

test('a program folder: typed, checked, moved, listed and brought back', async () => {
    const { page, problems, close } = await openMover({
        movedApps: { 'C:\\Tools\\Emulator': 'D:\\Clean\\Apps\\Emulator_1690000000000' },
        missing: ['C:\\Nowhere'],
        pickedDir: 'C:\\Games\\Library',
        appFails: ['C:\\Locked'],
    });
    // What the program's record lists, confirmed by the program.
    assert.deepEqual(await readApps(page), [['C:\\Tools\\Emulator', 'Now in D:\\Clean\\Apps\\Emulator_1690000000000']]);

    const field = '#mover-app-field';
    for (const [typed, problem] of [
        ['', 'Type the path of a folder first.'],
        ['Games', 'Type the full path of a folder.'],
        ['D:\\', 'A whole disk cannot be moved. Choose a folder on it.'],
        ['D:\\Clean\\Apps', 'This folder holds the moved folders themselves and cannot be moved.'],
        ['C:\\Users\\Ann\\Downloads\\Big', 'This folder holds or is part of your Downloads folder. Move Downloads in the list above.'],
        ['C:\\Users\\Ann', 'This folder holds or is part of your Downloads folder. Move Downloads in the list above.'],
        ['C:\\Nowhere', 'No folder was found at this path.'],
        ['"C:\\Tools\\Emulator\\"', 'This folder is already moved. It is listed below.'],
    ]) {
        await page.fill(field, typed);
        await page.press(field, 'Enter');
        assert.equal(await page.textContent('#mover-app-problem'), problem, typed);
    }
    assert.deepEqual(await hostCalls(page, 'moverMoveAppFolder'), []);

    // A program that cannot move it: said so, nothing listed.
    await page.fill(field, 'C:\\Locked');
    await page.click('#mover-app-move');
    assert.equal(await page.textContent('#ask-text'), 'The folder is moved into D:\\Clean. A link stays at C:\\Locked, so the program keeps working. '
        + 'You can bring it back at any time.');
    await confirm(page);
    await settle(page);
    assert.equal(await outcome(page), 'C:\\Locked could not be moved. A program may be using it, or it is already a link. The log of Clean has the details.');
    assert.equal((await readApps(page)).length, 1);

    // Picked with the folder dialog, moved, listed with its new place.
    await page.click('#mover-app-browse');
    assert.equal(await page.inputValue(field), 'C:\\Games\\Library');
    await page.click('#mover-app-move');
    assert.equal(await page.textContent('#ask-title'), 'Move Library to another disk?');
    await confirm(page);
    await settle(page);
    const moves = await hostCalls(page, 'moverMoveAppFolder');
    assert.deepEqual(moves.map(([path]) => path), ['C:\\Locked', 'C:\\Games\\Library']);
    assert.ok(moves.every(([, tag]) => Number.isInteger(tag)));
    assert.equal(await outcome(page), 'C:\\Games\\Library is now in D:\\Clean. A link in its old place keeps the program working.');
    assert.equal(await page.inputValue(field), '');
    assert.deepEqual(await readApps(page), [
        ['C:\\Tools\\Emulator', 'Now in D:\\Clean\\Apps\\Emulator_1690000000000'],
        ['C:\\Games\\Library', 'Now in D:\\Clean\\Apps\\Library_1700000000000']]);
    // The answer shows beside the field it came from.
    assert.equal(await page.evaluate(() => document.querySelector('.mover-outcome').closest('.panel').getAttribute('aria-labelledby')),
        'mover-apps-title');
    await page.locator('.moved-apps').scrollIntoViewIfNeeded();
    await snap(page, 'mover-06-apps');

    await page.click('.moved-app[data-path="C:\\\\Games\\\\Library"] button');
    assert.equal(await page.textContent('#ask-text'),
        'The folder is moved back from D:\\Clean\\Apps\\Library_1700000000000 to C:\\Games\\Library, and the link is removed.');
    await confirm(page);
    await settle(page);
    assert.deepEqual((await hostCalls(page, 'moverRestoreAppFolder')).map(([path]) => path), ['C:\\Games\\Library']);
    assert.equal(await outcome(page), 'C:\\Games\\Library is back in its usual place.');
    assert.deepEqual((await readApps(page)).map(([path]) => path), ['C:\\Tools\\Emulator']);
    assert.deepEqual(await page.evaluate(() => window.__mock.movedApps), { 'C:\\Tools\\Emulator': 'D:\\Clean\\Apps\\Emulator_1690000000000' });
    assert.deepEqual(problems, []);
    await close();
});

test('changing where moved folders go: a new place, or everything moved along', async () => {
    // Nothing moved yet: the program only looks elsewhere.
    const fresh = await openMover({ drives: { driveLetters: ['C:\\', 'D:\\', 'E:\\'], systemDrive: 'C' } });
    await fresh.page.click('#mover-change-root');
    assert.equal(await fresh.page.getAttribute('#mover-change-root', 'aria-expanded'), 'true');
    await fresh.page.click('#mover-root-apply');
    assert.equal(await fresh.page.textContent('#mover-root-problem'), 'Choose a disk or type a folder first.');
    await fresh.page.click('.root-chooser .disk-choice label >> text=D:\\');
    await fresh.page.click('#mover-root-apply');
    assert.equal(await fresh.page.textContent('#mover-root-problem'), 'Moved folders already go there.');
    await fresh.page.click('.root-chooser .disk-choice label >> text=E:\\');
    await snap(fresh.page, 'mover-07-root-chooser');
    await fresh.page.click('#mover-root-apply');
    await settle(fresh.page);
    assert.deepEqual(await hostCalls(fresh.page, 'moverInit'), [['\\Clean', 'D:'], ['\\Clean', 'E:']]);
    assert.deepEqual(await hostCalls(fresh.page, 'moverChangeRoot'), []);
    assert.equal(await fresh.page.textContent('#mover-root'), 'E:\\Clean');
    assert.equal(await fresh.page.textContent('#mover-root-note'), 'Chosen by you.');
    assert.deepEqual(fresh.problems, []);
    await fresh.close();

    // With folders moved, they all go along; the program is then pointed at the new place.
    const { page, problems, close } = await openMover({
        drives: { driveLetters: ['C:\\', 'D:\\', 'E:\\'], systemDrive: 'C' },
        movedApps: { 'C:\\Games\\Library': 'D:\\Clean\\Apps\\Library_1' },
    });
    await ask(page, 0);
    await confirm(page);
    await settle(page);
    await page.click('#mover-change-root');
    await page.fill('#mover-root-field', 'C:\\Games\\Library\\Inside');
    await page.click('#mover-root-apply');
    assert.equal(await page.textContent('#mover-root-problem'), 'Choose a place outside the folders that are moved.');
    await page.fill('#mover-root-field', 'E:\\');
    await page.click('#mover-root-apply');
    assert.equal(await page.textContent('#ask-title'), 'Move everything to E:\\Clean?');
    assert.equal(await page.textContent('#ask-text'), 'Everything moved so far goes from D:\\Clean to E:\\Clean. '
        + 'The links in the old places are updated, so everything keeps working.');
    await confirm(page);
    await settle(page);
    assert.deepEqual(await hostCalls(page, 'moverChangeRoot'), [['E:']]);
    assert.deepEqual(await hostCalls(page, 'moverInit'), [['\\Clean', 'D:'], ['\\Clean', 'E:']]);
    assert.equal(await outcome(page), 'Moved folders now go to E:\\Clean.');
    assert.equal(await page.textContent('#mover-root'), 'E:\\Clean');
    assert.deepEqual((await readFolders(page))[0].slice(0, 3), ['Downloads', 'Moved', 'E:\\Clean\\Windows\\Downloads']);
    assert.deepEqual(await readApps(page), [['C:\\Games\\Library', 'Now in E:\\Clean\\Apps\\Library_1']]);

    // The program cannot: the folders stay where they are, and so does the page.
    await page.evaluate(() => { window.__mock.config.rootFails = true; });
    await page.click('#mover-change-root');
    await page.click('.root-chooser .disk-choice label >> text=D:\\');
    await page.click('#mover-root-apply');
    await confirm(page);
    await settle(page);
    assert.equal(await outcome(page), 'The moved folders could not go to D:\\Clean. They stay in E:\\Clean and keep working.');
    assert.equal(await page.textContent('#mover-root'), 'E:\\Clean');
    assert.equal((await hostCalls(page, 'moverInit')).length, 2);
    assert.deepEqual(problems, []);
    await close();
});

test('the view follows a change of language', async () => {
    const { page, problems, close } = await openMover();
    await ask(page, 0);
    await confirm(page);
    await settle(page);
    await page.selectOption('#language', '2');
    assert.equal(await page.textContent('#tab-mover .tab-label'), 'Ordner verschieben');
    assert.equal(await page.textContent('#mover-heading'), 'Ordner auf ein anderes Laufwerk verschieben');
    assert.equal(await outcome(page), 'Downloads liegt jetzt in D:\\Clean. Eine Verknüpfung am alten Ort hält alles am Laufen.');
    assert.deepEqual((await readFolders(page)).slice(0, 2).map(([name, state, , size, button]) => [name, state, size, button]), [
        ['Downloads', 'Verschoben', '5 GiB', 'Zurückholen …'],
        ['Videos', 'Am gewohnten Ort', '20 GiB', 'Verschieben …']]);
    await ask(page, 4);
    assert.equal(await page.textContent('#ask-title'), 'Documents auf ein anderes Laufwerk verschieben?');
    assert.match(await page.textContent('#ask-text'), /^Documents \(1,2 GiB\) wird nach D:\\Clean verschoben\./);
    await page.click('#ask-cancel');
    await snap(page, 'mover-08-german');
    await page.selectOption('#language', '0');
    assert.equal(await page.textContent('#mover-heading'), '将文件夹移到其他磁盘');
    assert.deepEqual(problems, []);
    await close();
});

test('the view fits small and wide windows and has a dark look', async () => {
    for (const [name, options] of [
        ['mover-09-dark', { colorScheme: 'dark' }],
        ['mover-10-narrow', { viewport: { width: 420, height: 860 } }],
        ['mover-11-800x600', { viewport: { width: 800, height: 600 } }],
    ]) {
        const { page, problems, close } = await openMover(
            { movedApps: { 'C:\\Program Files\\Game Launcher\\library': 'D:\\Clean\\Apps\\library_1' } }, options);
        if (name === 'mover-09-dark') {
            await page.evaluate(() => { window.__mock.config.holdMover = true; });
            await ask(page, 1);
            await confirm(page);
            await page.waitForSelector('.mover-working:not([hidden])');
        }
        assert.equal(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), true, name);
        await snap(page, name);
        if (name === 'mover-10-narrow') {
            await page.locator('.moved-app').scrollIntoViewIfNeeded();
            await snap(page, 'mover-12-narrow-apps');
        }
        assert.deepEqual(problems, []);
        await close();
    }
});
