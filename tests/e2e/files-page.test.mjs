// The large-file and duplicate views: first their pure parts (where to look,
// the duplicate rule), then the page in a real browser against the
// stand-in program (mock-host.js), served under the web view's own
// Content-Security-Policy. Screens are saved to build/e2e-screenshots/
// (files-*.png) for a person to look at.
//   cd tests/e2e && node --test files-page.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { fileURLToPath } from 'node:url';
import { usePage } from './page-fixture.mjs';
import { parseFolder, searchRoots } from '../../html/js/roots.js';
import { Finds, canTick, keepFirst, setFileTicked } from '../../html/js/finds.js';

const root = fileURLToPath(new URL('../../', import.meta.url));

const LARGE_NAMES = ['largeTotalCbk', 'largeCategoryCbk', 'largeFilesCbk', '', 'largeFinishedCbk', '', 'largePathCbk'];
const DUPES_NAMES = ['dupesTotalCbk', 'dupesCategoryCbk', '', 'dupesGroupsCbk', 'dupesFinishedCbk', '', 'dupesPathCbk'];

// ---- without a browser ----------------------------------------------------

test('a typed folder is cleaned up or refused, and roots another root covers are not sent', () => {
    for (const [text, expected] of [
        ['"D:\\Media\\"', { path: 'D:\\Media' }],          // as a file manager copies it
        ['  C:/Users/Ann/  ', { path: 'C:\\Users\\Ann' }],
        ['C:\\', { path: 'C:\\' }],                          // a root keeps its separator
        ['/home/ann/', { path: '/home/ann' }],
        ['/', { path: '/' }],
        ['\\\\nas\\films\\', { path: '\\\\nas\\films' }],
        ['Media', { error: 'relative' }],
        ['C:Media', { error: 'relative' }],
        ['D:\\a|b', { error: 'bar' }],                       // the program splits roots at "|"
        ['""', { error: 'empty' }],
    ])
        assert.deepEqual(parseFolder(text), expected, text);

    for (const [name, chosen, expected] of [
        ['a folder on a ticked disk, another inside a chosen folder, and one spelled twice',
            { disks: ['C:\\', 'D:\\'], ticked: ['C:\\'], folders: ['c:\\users\\ann\\videos', 'D:\\Photos', 'D:\\Photos\\2020', 'd:\\photos'] },
            ['C:\\', 'D:\\Photos']],
        ['a name that only starts like another folder is not inside it',
            { disks: ['C:\\', 'D:\\'], ticked: [], folders: ['D:\\Photo', 'D:\\Photos'] },
            ['D:\\Photo', 'D:\\Photos']],
        // Mounts are walked apart: "/" does not reach into "/home".
        ['a folder on an unticked mount below a ticked one',
            { disks: ['/', '/home'], ticked: ['/'], folders: ['/home/ann', '/srv/data', '/home/ann/Videos'] },
            ['/', '/home/ann']],
        ['POSIX names differ by case',
            { disks: ['/'], ticked: [], folders: ['/data/Photos', '/data/photos'] },
            ['/data/Photos', '/data/photos']],
        ['a folder on a disk the program did not list',
            { disks: ['C:\\'], ticked: ['C:\\'], folders: ['E:\\Media', 'E:\\Media\\Old'] },
            ['C:\\', 'E:\\Media']],
    ])
        assert.deepEqual(searchRoots(chosen), expected, name);
});

test('a duplicate group never has every member ticked, however ticks and deletions come', () => {
    const finds = new Finds('dupes', 'en');
    finds.begin('0');
    finds.addCategory(0, 'Pictures', '1');
    finds.addDuplicates(0, [
        { size: '10', files: ['C:\\b\\long\\x.jpg', 'C:\\a\\x.jpg', 'C:\\b\\x.jpg'] },
        // Walked twice: no duplicate of itself; and twice plus another file.
        { size: '99', files: ['C:\\self.jpg', 'C:\\self.jpg'] },
        { size: '7', files: ['C:\\p\\y.png', 'C:\\p\\y.png', 'C:\\q\\y.png'] },
    ]);
    const [category] = finds.categories;
    assert.deepEqual(category.groups.map((group) => group.files.map((file) => file.path)), [
        ['C:\\a\\x.jpg', 'C:\\b\\x.jpg', 'C:\\b\\long\\x.jpg'],   // the shortest path first
        ['C:\\p\\y.png', 'C:\\q\\y.png'],
    ]);
    // What the extra copies take: one copy of each group stays.
    assert.equal(finds.size(category), 10n * 2n + 7n);

    const [three, two] = category.groups;
    keepFirst(three);
    assert.deepEqual(three.files.map((file) => file.ticked), [false, true, true]);
    assert.equal(canTick(three.files[0]), false);
    assert.equal(setFileTicked(three.files[0], true), false, 'the last unticked member cannot be ticked');
    assert.equal(three.files[0].ticked, false);
    assert.equal(setFileTicked(two.files[1], true), true);
    assert.equal(setFileTicked(two.files[0], true), false);

    // The copy that stays is deleted elsewhere (in the large-file view):
    // the rest must not be left all ticked.
    finds.forget('c:/A/X.JPG');
    assert.deepEqual(three.files.map((file) => [file.path, file.ticked]), [['C:\\b\\x.jpg', false], ['C:\\b\\long\\x.jpg', true]]);
    // A group down to one member is no group.
    finds.forget('C:\\q\\y.png');
    assert.deepEqual(category.groups.map((group) => group.files.length), [2]);
    assert.deepEqual(finds.selected.map((file) => file.path), ['C:\\b\\long\\x.jpg']);

    // Large files add up exactly past 2^53, and a path listed twice counts once.
    const large = new Finds('large', 'en');
    large.addCategory(0, 'Disk images', '0');
    large.addBigFiles(0, [{ fileName: 'D:\\a.img', size: '9007199254740993' }, { fileName: 'D:\\b.img', size: '1' },
        { fileName: 'd:\\A.img', size: '9007199254740993' }]);
    assert.equal(large.total, 9007199254740994n);
});

// ---- in a browser ---------------------------------------------------------

const { open, snap, hostCalls } = usePage();


async function search(page, view) {
    await page.click(`#tab-${view}`);
    await page.click(`#${view}-start`);
    await page.waitForSelector('.screen.files-result, .screen.files-empty');
}

// A file's row, by its full path.
function fileRow(page, path) {
    return page.locator(`.found-file[data-path="${path.replace(/\\/g, '\\\\')}"]`);
}

// Large files as text: [category, count, size, [[name, folder, size]…]].
function readLarge(page) {
    return page.$$eval('.categories > .category', (categories) => categories.map((category) => [
        category.querySelector('.category-row .name').textContent,
        category.querySelector('.category-count').textContent,
        category.querySelector('.category-row .size').textContent,
        [...category.querySelectorAll('.found-file')].map((row) => [
            row.querySelector('.file-title').firstChild.textContent,
            row.querySelector('.file-folder').textContent,
            row.querySelector('.size').textContent])]));
}

// Duplicates as text: [category, count, size, [[group head, [[path, ticked, locked]…]]…]].
function readDupes(page) {
    return page.$$eval('.categories > .category', (categories) => categories.map((category) => [
        category.querySelector('.category-row .name').textContent,
        category.querySelector('.category-count').textContent,
        category.querySelector('.category-row .size').textContent,
        [...category.querySelectorAll('.dup-group')].map((group) => [
            group.querySelector('.dup-size').textContent,
            [...group.querySelectorAll('.found-file')].map((row) => {
                const box = row.querySelector('input');
                return [row.dataset.path, box.checked ? 'ticked' : box.disabled ? 'stays' : ''];
            })])]));
}

test('choosing where to look: the page sends the chosen roots, its seven callback names and the path period', async () => {
    for (const { view, index, names } of [
        { view: 'large', index: 0, names: LARGE_NAMES },
        { view: 'dupes', index: 1, names: DUPES_NAMES },
    ]) {
        const { page, problems, close } = await open();
        await page.click(`#tab-${view}`);
        assert.equal(await page.getAttribute(`#tab-${view}`, 'aria-selected'), 'true');
        // The system disk is ticked, the others are not.
        assert.deepEqual(await page.$$eval('.disk-choice', (disks) => disks.map((disk) =>
            [disk.querySelector('.disk-root').textContent, disk.querySelector('input').checked, disk.querySelector('.badge')?.textContent ?? null])),
        [['C:\\', true, 'System'], ['D:\\', false, null]]);

        // Nothing chosen, nothing to start.
        await page.click('.disk-choice label >> nth=0');
        assert.equal(await page.isDisabled(`#${view}-start`), true);
        assert.equal(await page.textContent(`#${view}-start-hint`), 'Tick a disk or add a folder to search.');
        await page.click('.disk-choice label >> nth=0');

        const field = `#${view}-folder`;
        await page.fill(field, 'Videos');
        await page.press(field, 'Enter');
        assert.equal(await page.textContent(`#${view}-folder-problem`), 'Type the full path of a folder, for example C:\\Users.');
        assert.equal(await page.getAttribute(field, 'aria-invalid'), 'true');
        // Copied with quotes, and a folder the ticked C:\ already covers.
        await page.fill(field, '"C:\\Users\\Ann\\Videos\\"');
        await page.press(field, 'Enter');
        assert.equal(await page.inputValue(field), '');
        await page.click(`#${view}-browse`);
        // Typed and not added: the start adds it.
        await page.fill(field, 'E:\\Media');
        assert.deepEqual(await page.$$eval('.folder', (rows) => rows.map((row) =>
            [row.querySelector('.folder-path').textContent, row.querySelector('.folder-note')?.textContent ?? null])),
        [['C:\\Users\\Ann\\Videos', 'Already searched as part of C:\\'], ['D:\\Photos', null]]);
        if (view === 'large')
            await snap(page, 'files-01-large-setup');

        await page.click(`#${view}-start`);
        await page.waitForSelector('.screen.files-result');
        assert.deepEqual(await hostCalls(page, 'extensionScanStart'),
            [[index, 0, false, 'C:\\|D:\\Photos|E:\\Media', names, 0, 256]]);
        assert.deepEqual(await hostCalls(page, 'selectDir'), [[0]]);
        assert.deepEqual(problems, []);
        await close();
    }

    // The program refuses to start: said so on the spot, and nothing waits.
    const { page, problems, close } = await open({ startFails: true });
    await page.click('#tab-large');
    await page.click('#large-start');
    assert.equal(await page.textContent('.start-problem'),
        'The search could not be started. Please try again; if it keeps failing, restart Clean.');
    assert.equal(await page.evaluate(() => document.activeElement.classList.contains('start-problem')), true);
    assert.equal(await page.$('.screen.files-scanning'), null);
    assert.equal(await page.getAttribute('#tab-large', 'data-busy'), 'false');
    assert.deepEqual(problems, []);
    await close();
});

test('a search shows the path it has reached; stopping it keeps what it found, marked as partial', async () => {
    const { page, problems, close } = await open({ holdSearch: true });
    await page.click('#tab-large');
    await page.click('#large-start');
    await page.waitForSelector('.screen.files-scanning');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'large-scan-heading');
    await page.waitForFunction(() => document.querySelector('.current-file')?.textContent === 'C:\\Folder 0\\file-0.bin');
    assert.equal(await page.textContent('.files-scanning .steps'), 'About 256 files checked');
    assert.equal(await page.textContent('.searching-in'), 'Searching C:\\');
    assert.equal(await page.getAttribute('#tab-large', 'data-busy'), 'true');
    await snap(page, 'files-02-searching');

    await page.click('#large-stop');
    await page.waitForSelector('.screen.files-result');
    assert.deepEqual(await hostCalls(page, 'extensionScanStop'), [[0]]);
    assert.equal(await page.textContent('.notice.partial'), 'The search was stopped, so this list may not be complete.');
    assert.deepEqual((await readLarge(page)).map(([name, count, size]) => [name, count, size]), [
        ['Videos', '1 file', '4.2 GiB'], ['Disk images', '1 file', '3.72 GiB'], ['Archives', '1 file', '700 MiB']]);
    assert.equal(await page.getAttribute('#tab-large', 'data-busy'), 'false');
    await snap(page, 'files-08-large-partial');
    assert.deepEqual(problems, []);
    await close();
});

test('large files: categories and files largest first; deleting exactly the ticked files after a confirmation', async () => {
    const zip = 'C:\\Users\\Ann\\Documents\\photos-2019.zip';
    const archive = 'D:\\Backup\\projects.7z';
    const video = 'D:\\Videos\\Holiday 2023.mkv';
    const { page, problems, close } = await open({ failFiles: [zip], throwFiles: [archive], badOpen: true });
    await search(page, 'large');
    assert.equal(await page.textContent('#large-result-heading'), '10.1 GiB in large files');
    // The empty "Documents" category is not listed.
    assert.deepEqual(await readLarge(page), [
        ['Videos', '3 files', '5.55 GiB', [
            ['Holiday 2023.mkv', 'D:\\Videos', '4.2 GiB'],
            ['Screen recording.mp4', 'C:\\Users\\Ann\\Videos', '1.2 GiB'],
            ['trailer.mov', 'C:\\Users\\Ann\\Downloads', '150 MiB']]],
        ['Disk images', '1 file', '3.72 GiB', [['installer.iso', 'C:\\Users\\Ann\\Downloads', '3.72 GiB']]],
        ['Archives', '2 files', '900 MiB', [
            ['photos-2019.zip', 'C:\\Users\\Ann\\Documents', '700 MiB'],
            ['projects.7z', 'D:\\Backup', '200 MiB']]],
    ]);
    await snap(page, 'files-03-large-result');

    await fileRow(page, 'C:\\Users\\Ann\\Downloads\\installer.iso').locator('.open-folder').click();
    assert.deepEqual(await hostCalls(page, 'openDirAndSelectFile'), [['C:\\Users\\Ann\\Downloads\\installer.iso']]);
    // The program could not open it (no file manager, say): said, not swallowed.
    assert.equal(await page.textContent('.notice.passing'), 'The folder of installer.iso could not be opened.');

    assert.equal(await page.isDisabled('#large-delete'), true);
    await fileRow(page, video).locator('input').check();
    // A whole category by its own box.
    await page.locator('.category', { hasText: 'Archives' }).locator('.category-row input').check();
    assert.equal(await page.textContent('.action-bar .selection'), '3 files selected, 5.08 GiB');

    // The question names the count and the exact bytes; Escape cancels.
    await page.click('#large-delete');
    await page.waitForSelector('dialog.confirm[open]');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'confirm-cancel');
    assert.equal(await page.textContent('#confirm-title'), 'Delete 3 files?');
    assert.equal(await page.textContent('#confirm-text'), '5.08 GiB (5,453,434,060 bytes) will be deleted.');
    await snap(page, 'files-04-confirm');
    await page.keyboard.press('Escape');
    await page.waitForSelector('dialog.confirm', { state: 'detached' });
    assert.deepEqual(await hostCalls(page, 'deleteFile'), []);
    assert.equal(await page.evaluate(() => document.activeElement.id), 'large-delete');

    await page.click('#large-delete');
    await page.click('#confirm-delete');
    await page.waitForSelector('.outcome');
    assert.deepEqual((await hostCalls(page, 'deleteFile')).map(([path]) => path).sort(), [video, archive, zip].sort());
    // What went is gone from the list and the totals; what did not is named.
    assert.deepEqual(await page.$$eval('.outcome :is(p, li)', (lines) => lines.map((line) => line.textContent)), [
        '1 file deleted, 4.2 GiB freed.',
        '2 files could not be deleted. They may be open in another program, or you may not be allowed to delete them:',
        zip, archive]);
    assert.equal(await page.evaluate(() => document.activeElement.classList.contains('outcome')), true);
    assert.equal(await page.textContent('#large-result-heading'), '5.95 GiB in large files');
    // Videos shrank below the disk image.
    assert.deepEqual((await readLarge(page)).map(([name, count, size]) => [name, count, size]), [
        ['Disk images', '1 file', '3.72 GiB'], ['Videos', '2 files', '1.35 GiB'], ['Archives', '2 files', '900 MiB']]);
    assert.equal(await fileRow(page, video).count(), 0);
    // The refused ones stay ticked, ready for another try.
    assert.equal(await page.textContent('.action-bar .selection'), '2 files selected, 900 MiB');
    await snap(page, 'files-05-large-deleted');
    assert.deepEqual(problems.filter((text) => !text.includes('deleteFile')), []);
    await close();
});

test('duplicates: one copy of every group stays, and what is deleted leaves both lists', async () => {
    const { page, problems, close } = await open();
    await search(page, 'large');
    await search(page, 'dupes');
    assert.equal(await page.textContent('#dupes-result-heading'), '163 MiB in extra copies');
    // Shortest path first in each group; a file met twice is not its own duplicate.
    assert.deepEqual(await readDupes(page), [
        ['Videos', '1 group', '150 MiB', [
            ['2 copies of 150 MiB each', [['D:\\Videos\\trailer.mov', ''], ['C:\\Users\\Ann\\Downloads\\trailer.mov', '']]]]],
        ['Pictures', '2 groups', '13 MiB', [
            ['3 copies of 5 MiB each', [
                ['C:\\Users\\Ann\\Pictures\\IMG_0001.jpg', ''],
                ['D:\\Backup\\Pictures\\IMG_0001 (copy).jpg', ''],
                ['C:\\Users\\Ann\\Pictures\\Camera\\IMG_0001.jpg', '']]],
            ['2 copies of 3 MiB each', [['D:\\Backup\\Pictures\\beach.png', ''], ['C:\\Users\\Ann\\Pictures\\beach.png', '']]]]],
    ]);

    // Ticking one of two leaves the other unable to be ticked, with the reason.
    const beach = page.locator('.dup-group', { hasText: 'beach.png' });
    await fileRow(page, 'D:\\Backup\\Pictures\\beach.png').locator('input').check();
    const last = fileRow(page, 'C:\\Users\\Ann\\Pictures\\beach.png').locator('input');
    assert.equal(await last.isDisabled(), true);
    await last.click({ force: true });
    assert.equal(await last.isChecked(), false);
    assert.equal(await beach.locator('.one-stays').isVisible(), true);
    assert.equal(await page.textContent(`#${await last.getAttribute('aria-describedby')}`),
        'One copy always stays, so the last one cannot be ticked.');
    // "Keep only the first" turns it round.
    await beach.locator('.keep-first').click();
    assert.deepEqual((await readDupes(page))[1][3][1][1],
        [['D:\\Backup\\Pictures\\beach.png', 'stays'], ['C:\\Users\\Ann\\Pictures\\beach.png', 'ticked']]);
    // Three copies: two may go, never the third.
    await fileRow(page, 'C:\\Users\\Ann\\Pictures\\IMG_0001.jpg').locator('input').check();
    await fileRow(page, 'D:\\Backup\\Pictures\\IMG_0001 (copy).jpg').locator('input').check();
    assert.equal(await fileRow(page, 'C:\\Users\\Ann\\Pictures\\Camera\\IMG_0001.jpg').locator('input').isDisabled(), true);
    await snap(page, 'files-07-dupes-rule');

    await page.click('#keep-first-all');
    assert.equal(await page.textContent('.action-bar .selection'), '4 files selected, 163 MiB');
    await snap(page, 'files-06-dupes-result');
    await page.click('#dupes-delete');
    assert.equal(await page.textContent('#confirm-title'), 'Delete 4 files?');
    assert.equal(await page.textContent('#confirm-text'), '163 MiB (170,917,888 bytes) will be deleted.');
    await page.click('#confirm-delete');
    await page.waitForSelector('.screen.files-empty');
    assert.deepEqual((await hostCalls(page, 'deleteFile')).map(([path]) => path).sort(), [
        'C:\\Users\\Ann\\Downloads\\trailer.mov',
        'C:\\Users\\Ann\\Pictures\\Camera\\IMG_0001.jpg',
        'C:\\Users\\Ann\\Pictures\\beach.png',
        'D:\\Backup\\Pictures\\IMG_0001 (copy).jpg']);
    // Every group is down to one file: no duplicates are left to list.
    assert.equal(await page.textContent('#dupes-empty-heading'), 'Nothing left in this list');
    assert.equal(await page.textContent('.outcome'), '4 files deleted, 163 MiB freed.');

    // The large-file list no longer offers the copy that was deleted.
    await page.click('#tab-large');
    assert.deepEqual((await readLarge(page))[0][3].map(([name]) => name), ['Holiday 2023.mkv', 'Screen recording.mp4']);
    assert.deepEqual(problems, []);
    await close();
});

test('icons beside found files, asked once per type; pictures shown on request', async () => {
    const camera = 'C:\\Users\\Ann\\Pictures\\Camera\\IMG_0001.jpg';
    const beach = 'D:\\Backup\\Pictures\\beach.png';
    const { page, problems, close } = await open({ noIcon: ['iso'], badPictures: [beach] });
    await search(page, 'large');
    await page.waitForFunction(() => document.querySelectorAll('.found-file img.file-icon:not([hidden])').length === 5);
    const shown = () => page.$$eval('.found-file', (rows) => rows.map((row) => {
        const img = row.querySelector('img.file-icon');
        const drawn = !img.hidden && img.complete && img.naturalWidth > 0 ? 'icon'
            : row.querySelector('svg.file-icon') ? 'picture sign' : 'none';
        return [row.dataset.path.split('\\').pop(), drawn];
    }));
    assert.deepEqual(await shown(), [
        ['Holiday 2023.mkv', 'icon'], ['Screen recording.mp4', 'icon'], ['trailer.mov', 'icon'],
        ['installer.iso', 'none'], ['photos-2019.zip', 'icon'], ['projects.7z', 'icon']]);
    assert.equal((await hostCalls(page, 'getIconBuffer')).length, 6);
    assert.equal(await page.locator('.found-file .preview').count(), 0);   // no pictures here
    await snap(page, 'files-14-icons');

    // Duplicates: the types met before are not asked again, and pictures
    // too large to carry through the bridge get the page's own sign.
    await search(page, 'dupes');
    await page.waitForFunction(() => document.querySelectorAll('.found-file img.file-icon:not([hidden])').length === 2);
    assert.deepEqual((await shown()).map(([, drawn]) => drawn),
        ['icon', 'icon', 'picture sign', 'picture sign', 'picture sign', 'picture sign', 'picture sign']);
    assert.equal((await hostCalls(page, 'getIconBuffer')).length, 6);

    await fileRow(page, camera).locator('.preview').click();
    assert.deepEqual(await hostCalls(page, 'previewImage'), [[camera]]);
    assert.equal(await page.isVisible('.notice.passing'), false);
    await fileRow(page, beach).locator('.preview').click();
    assert.equal(await page.textContent('.notice.passing'), 'beach.png could not be shown as a picture.');
    assert.equal(await page.getAttribute(`.found-file[data-path="${beach.replace(/\\/g, '\\\\')}"] .preview`, 'aria-label'),
        'Show beach.png');
    await snap(page, 'files-15-dupes-icons');
    assert.deepEqual(problems, []);
    await close();
});

test('switching views never breaks a running scan or search', async () => {
    const { page, problems, close } = await open({ holdScan: true, holdSearch: true });
    await page.click('#scan');
    await page.waitForSelector('.screen.scanning');
    // By keyboard: the arrow keys move between the tabs and choose.
    await page.focus('#tab-junk');
    await page.keyboard.press('ArrowRight');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'tab-large');
    await page.waitForSelector('.screen.files-setup.large');
    assert.equal(await page.getAttribute('#tab-junk', 'data-busy'), 'true');
    await page.click('#large-start');
    await page.waitForSelector('.screen.files-scanning');

    // The program runs one such search at a time: the other view waits.
    await page.click('#tab-dupes');
    assert.equal(await page.isDisabled('#dupes-start'), true);
    assert.equal(await page.textContent('.other-search'),
        'A search is already running under “Large files”. Wait for it to finish or stop it first.');

    await page.click('#tab-junk');
    await page.waitForFunction(() => document.querySelector('.steps')?.textContent === '1 of 8 checks done');
    assert.equal(await page.textContent('#scan-heading'), 'Looking for junk…');
    await snap(page, 'files-12-junk-while-searching');
    await page.click('#stop');
    await page.waitForSelector('.screen.result');
    assert.equal(await page.textContent('.notice.warn'), 'The scan was stopped, so this list may not be complete.');
    assert.equal(await page.getAttribute('#tab-junk', 'data-busy'), 'false');

    await page.click('#tab-large');
    assert.equal(await page.textContent('.current-file'), 'C:\\Folder 0\\file-0.bin');
    await page.click('#large-stop');
    await page.waitForSelector('.screen.files-result .notice.partial');
    await page.click('#tab-dupes');
    assert.equal(await page.isDisabled('#dupes-start'), false);
    assert.equal(await page.isHidden('.other-search'), true);
    assert.deepEqual(await hostCalls(page, 'cacheScanStop'), [[]]);
    assert.deepEqual(await hostCalls(page, 'extensionScanStop'), [[0]]);
    assert.deepEqual(problems, []);
    await close();

    // A scan or search that ends while another view is on screen does not
    // take the page over; its result waits for the user.
    const quiet = await open({ holdScan: true, holdSearch: true });
    await quiet.page.click('#scan');
    await quiet.page.click('#tab-large');
    await quiet.page.click('#large-start');
    await quiet.page.click('#tab-dupes');
    assert.equal(await quiet.page.isDisabled('#dupes-start'), true);
    await quiet.page.evaluate(() => { window.__mock.releaseScan(); window.__mock.releaseSearch(); });
    // Free to start as soon as the other search is done, without a new visit.
    await quiet.page.waitForFunction(() => !document.getElementById('dupes-start').disabled);
    await quiet.page.waitForFunction(() => [...document.querySelectorAll('.tab')].every((tab) => tab.dataset.busy === 'false'));
    assert.equal(await quiet.page.isVisible('.screen.files-setup.dupes'), true);
    assert.equal(await quiet.page.evaluate(() => document.activeElement.id), 'tab-dupes');
    await quiet.page.click('#tab-junk');
    assert.equal(await quiet.page.textContent('#result-heading'), '2.84 GiB of junk found');
    await quiet.page.click('#tab-large');
    assert.equal(await quiet.page.textContent('#large-result-heading'), '10.1 GiB in large files');
    assert.deepEqual(quiet.problems, []);
    await quiet.close();
});

test('the views follow a change of language; names from the program change with the next search', async () => {
    const { page, problems, close } = await open();
    await search(page, 'large');
    await page.selectOption('#language', '2');
    assert.deepEqual(await page.$$eval('.tab-label', (tabs) => tabs.map((tab) => tab.textContent)),
        ['Datenmüll', 'Große Dateien', 'Duplikate', 'Ordner verschieben', 'Installierte Programme']);
    assert.equal(await page.textContent('#large-result-heading'), '10,1 GiB in großen Dateien');
    assert.deepEqual((await readLarge(page)).map(([name, count, size]) => [name, count, size]), [
        ['Videos', '3 Dateien', '5,55 GiB'], ['Disk images', '1 Datei', '3,72 GiB'], ['Archives', '2 Dateien', '900 MiB']]);
    // Numbers in the question follow the language too.
    await fileRow(page, 'D:\\Videos\\Holiday 2023.mkv').locator('input').check();
    await page.click('#large-delete');
    assert.equal(await page.textContent('#confirm-title'), '1 Datei löschen?');
    assert.equal(await page.textContent('#confirm-text'), '4,2 GiB (4.509.715.660 Byte) werden gelöscht.');
    await page.click('#confirm-cancel');
    await snap(page, 'files-09-large-german');

    await page.click('.files-result .notice .link');
    assert.equal(await page.textContent('#large-heading'), 'Große Dateien finden');
    assert.equal(await page.textContent('.disk-choice .badge'), 'Systemlaufwerk');
    await page.click('#large-start');
    await page.waitForSelector('.screen.files-result');
    assert.deepEqual((await readLarge(page)).map(([name]) => name), ['Videos', 'Datenträgerabbilder', 'Archive']);
    assert.equal(await page.$('.files-result .notice:not([hidden])'), null);

    await page.click('#tab-dupes');
    assert.equal(await page.textContent('#dupes-start'), 'Duplikate finden');
    await page.selectOption('#language', '6');
    assert.equal(await page.textContent('#dupes-heading'), 'Поиск дубликатов');
    assert.equal(await page.getAttribute('#views', 'aria-label'), 'Инструменты');
    assert.deepEqual(problems, []);
    await close();
});

test('the views fit small and wide windows and have a dark look', async () => {
    for (const [name, view, options] of [
        ['files-10-dupes-dark', 'dupes', { colorScheme: 'dark' }],
        ['files-11-large-narrow', 'large', { viewport: { width: 420, height: 800 } }],
        ['files-13-dupes-800x600', 'dupes', { viewport: { width: 800, height: 600 } }],
    ]) {
        const { page, problems, close } = await open({}, options);
        await page.click(`#tab-${view}`);
        assert.equal(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), true, `${name}: setup`);
        await page.click(`#${view}-start`);
        await page.waitForSelector('.screen.files-result');
        if (view === 'dupes')
            await page.click('#keep-first-all');
        else
            await fileRow(page, 'D:\\Videos\\Holiday 2023.mkv').locator('input').check();
        // Nothing runs off the side, and the delete button stays in view.
        assert.equal(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), true, name);
        const box = await page.locator(`#${view}-delete`).boundingBox();
        assert.ok(box.y + box.height <= (options.viewport?.height ?? 720), `${name}: the delete button is in view`);
        await snap(page, name);
        assert.deepEqual(problems, []);
        await close();
    }
});
