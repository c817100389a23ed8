// The "Installed programs" view: first reading the export tool's file
// without a browser, then the page in a real browser with a stand-in for
// the program's exportBCU and launchAndWait. Screens are saved to
// build/e2e-screenshots/ (installed-*.png) for a person to look at.
//   cd tests/e2e && node --test installed-page.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { usePage } from './page-fixture.mjs';
import { decodeExport, filterPrograms, sortPrograms, totalSize } from '../../html/js/installed-model.js';

const MiB = 1048576;
const bytes = (text) => new TextEncoder().encode(text).buffer;

function inventory(programs, sources = [{ name: 'registry-machine-64', status: 'ok', count: programs.length, detail: null }]) {
    return { format: 'installed-software', formatVersion: 1, exportedAt: '2026-12-10T23:51:37Z',
        system: { os: 'windows', name: 'Windows 10.0.19045 x86-64' }, userScope: true, sources, programs };
}

function program(fields) {
    return { version: null, publisher: null, installLocation: null, uninstallCommand: null, uninstallInTerminal: false,
        estimatedSize: null, source: 'registry-machine-64', ...fields };
}

const programs = [
    program({ name: 'Photo Editor', version: '5.2', publisher: 'Pixel Works', installLocation: 'C:\\Program Files\\Photo Editor',
        uninstallCommand: '"C:\\Program Files\\Photo Editor\\uninst.exe" /remove', estimatedSize: 700 * MiB, id: 'PhotoEditor' }),
    program({ name: 'archiver', version: '1.0', publisher: 'Zip Team', uninstallCommand: 'MsiExec.exe /X{1234}',
        estimatedSize: MiB, source: 'registry-machine-32', id: '{1234}' }),
    program({ name: 'Game Library', uninstallCommand: '"C:\\Users\\Ann\\AppData\\Local\\Games\\unins000.exe"',
        estimatedSize: 20480 * MiB, source: 'registry-user', id: 'GameLib' }),
    program({ name: 'Zeta Notes', source: 'registry-user', id: 'Zeta' }),
    program({ name: 'Ärger Tool', version: '3', uninstallCommand: 'sudo apt-get remove aerger', uninstallInTerminal: true,
        estimatedSize: 5 * MiB, source: 'dpkg', id: 'aerger' }),
    // No name: not a program anyone could pick.
    program({ name: '', id: 'Nameless', estimatedSize: 99 * MiB }),
];

// ---- without a browser ----------------------------------------------------

test('the export file is read as UTF-8 JSON of the documented format, or says why not', () => {
    const good = decodeExport(bytes(JSON.stringify(inventory(programs))));
    assert.equal(good.ok, true);
    assert.deepEqual(good.programs.map((entry) => [entry.name, entry.size, entry.command, entry.inTerminal]), [
        ['Photo Editor', 700n * 1048576n, '"C:\\Program Files\\Photo Editor\\uninst.exe" /remove', false],
        ['archiver', 1048576n, 'MsiExec.exe /X{1234}', false],
        ['Game Library', 20480n * 1048576n, '"C:\\Users\\Ann\\AppData\\Local\\Games\\unins000.exe"', false],
        ['Zeta Notes', null, null, false],
        ['Ärger Tool', 5n * 1048576n, 'sudo apt-get remove aerger', true],
    ]);
    // A view of the bytes reads the same as the buffer.
    assert.equal(decodeExport(new Uint8Array(bytes(JSON.stringify(inventory(programs))))).programs.length, 5);
    for (const [label, input, reason] of [
        ['no file', null, 'empty'],
        ['an empty file', new ArrayBuffer(0), 'empty'],
        ['half a file', bytes(JSON.stringify(inventory(programs)).slice(0, 200)), 'broken'],
        ['not UTF-8', new Uint8Array([0x7b, 0xff, 0x7d]).buffer, 'broken'],
        ['another format', bytes(JSON.stringify({ ...inventory([]), format: 'something-else' })), 'broken'],
        ['no program list', bytes(JSON.stringify({ ...inventory([]), programs: {} })), 'broken'],
        ['a newer format', bytes(JSON.stringify({ ...inventory([]), formatVersion: 2 })), 'version'],
        ['a string', bytes('"installed-software"'), 'broken'],
    ])
        assert.deepEqual(decodeExport(input), { ok: false, reason }, label);
    // The same id twice in one source is one program; in two sources, two.
    const twice = decodeExport(bytes(JSON.stringify(inventory([
        program({ name: 'A', id: 'x' }), program({ name: 'A again', id: 'x' }), program({ name: 'A', id: 'x', source: 'registry-user' }),
    ]))));
    assert.deepEqual(twice.programs.map((entry) => `${entry.source}/${entry.name}`), ['registry-machine-64/A', 'registry-user/A']);
});

test('sorted by size, largest first and unknown sizes last, or by name; found by name, publisher or id', () => {
    const { programs: list } = decodeExport(bytes(JSON.stringify(inventory([
        ...programs, program({ name: 'photo editor', estimatedSize: 700 * MiB, id: 'AnotherPhotoEditor', source: 'registry-user' }),
    ]))));
    assert.deepEqual(sortPrograms(list, 'size').map((entry) => entry.id),
        ['GameLib', 'PhotoEditor', 'AnotherPhotoEditor', 'aerger', '{1234}', 'Zeta']);
    assert.deepEqual(sortPrograms(list, 'name').map((entry) => entry.id),
        ['{1234}', 'aerger', 'GameLib', 'PhotoEditor', 'AnotherPhotoEditor', 'Zeta']);
    assert.deepEqual(list.map((entry) => entry.id).slice(0, 2), ['PhotoEditor', '{1234}'], 'sorting leaves the list alone');
    assert.deepEqual(filterPrograms(list, '  PIXEL  ').map((entry) => entry.id), ['PhotoEditor']);
    assert.deepEqual(filterPrograms(list, 'photo editor').map((entry) => entry.id), ['PhotoEditor', 'AnotherPhotoEditor']);
    assert.deepEqual(filterPrograms(list, 'gamelib').map((entry) => entry.id), ['GameLib']);
    assert.equal(filterPrograms(list, '').length, list.length);
    assert.equal(totalSize(list), (20480n + 700n + 700n + 5n + 1n) * 1048576n);
});

// ---- in a browser ---------------------------------------------------------

const { open, snap, hostCalls } = usePage();

// The page with a stand-in for the program's side of this view:
//   window.__installed.inventory   what the next export lists (an object)
//   window.__installed.fail        'empty' or 'broken': the next export's bytes
//   window.__installed.finish(code, removedId)   the running uninstaller ends
async function openInstalled(setup) {
    const opened = await open({}, { viewport: { width: 980, height: 900 } });
    await opened.page.evaluate((given) => {
        const fake = { inventory: given.inventory, fail: given.fail ?? null, launches: [], exports: [], running: null };
        fake.finish = (code, removedId) => {
            if (removedId)
                fake.inventory.programs = fake.inventory.programs.filter((entry) => entry.id !== removedId);
            const tag = fake.running;
            fake.running = null;
            window.launchAndWaitCbk(code, tag);
        };
        window.__installed = fake;
        window.exportBCU = (callback) => {
            fake.exports.push(callback);
            const text = fake.fail === 'empty' ? '' : fake.fail === 'broken' ? '{"format": "installed-soft'
                : JSON.stringify(fake.inventory);
            setTimeout(() => window[callback](new TextEncoder().encode(text).buffer), 20);
            return null;
        };
        window.launchAndWait = (command, tag) => {
            fake.launches.push([command, tag]);
            fake.running = tag;
            return null;
        };
    }, setup);
    await opened.page.click('#tab-installed');
    await settle(opened.page);
    return opened;
}

async function settle(page) {
    await page.waitForFunction(() => document.querySelector('#main .screen.installed')?.getAttribute('aria-busy') === 'false');
}

// The rows as text: [name, details, command, size, action].
function readRows(page) {
    return page.$$eval('.installed-program', (rows) => rows.map((row) => [
        row.querySelector('.program-name').textContent,
        row.querySelector('.program-meta')?.textContent ?? '',
        row.querySelector('.program-command code')?.textContent ?? '',
        row.querySelector('.program-size').textContent,
        `${(row.querySelector('button') ?? row.querySelector('.no-uninstall')).textContent}${row.querySelector('button')?.disabled ? ' (off)' : ''}`]));
}

const names = (page) => page.$$eval('.installed-program .program-name', (list) => list.map((name) => name.textContent));
const fake = (page) => page.evaluate(() => ({ launches: window.__installed.launches, exports: window.__installed.exports }));
const outcome = (page) => page.textContent('.installed-outcome .notice');

test('the programs largest first with what they are and how they go, sortable by name, and found by typing', async () => {
    const { page, problems, close } = await openInstalled({ inventory: inventory(programs) });
    assert.deepEqual(await readRows(page), [
        ['Game Library', 'Only you', '"C:\\Users\\Ann\\AppData\\Local\\Games\\unins000.exe"', '20 GiB', 'Uninstall…'],
        ['Photo Editor', 'Version 5.2 · Pixel Works · All users', '"C:\\Program Files\\Photo Editor\\uninst.exe" /remove', '700 MiB',
            'Uninstall…'],
        ['Ärger Tool', 'Version 3 · Debian package', 'sudo apt-get remove aerger', '5 MiB', 'Uninstall in a terminal'],
        ['archiver', 'Version 1.0 · Zip Team · All users (32-bit)', 'MsiExec.exe /X{1234}', '1 MiB', 'Uninstall…'],
        ['Zeta Notes', 'Only you', '', 'Size unknown', 'No uninstaller'],
    ]);
    assert.equal(await page.textContent('#installed-summary'), '5 programs, 20.7 GiB in total');
    assert.equal(await page.getAttribute('#installed-sort-size', 'aria-pressed'), 'true');
    assert.equal(await page.getAttribute('.installed-program[data-id="PhotoEditor"] button', 'aria-label'), 'Uninstall Photo Editor');
    assert.match(await page.textContent('.installed-program[data-id="aerger"] .program-hint'), /terminal/);
    assert.deepEqual((await fake(page)).exports, ['installedExportCbk']);
    await snap(page, 'installed-list');

    await page.click('#installed-sort-name');
    assert.deepEqual(await names(page), ['archiver', 'Ärger Tool', 'Game Library', 'Photo Editor', 'Zeta Notes']);
    assert.equal(await page.getAttribute('#installed-sort-name', 'aria-pressed'), 'true');
    assert.equal(await page.getAttribute('#installed-sort-size', 'aria-pressed'), 'false');

    await page.fill('#installed-filter', 'works');
    assert.deepEqual(await names(page), ['Photo Editor']);
    await page.fill('#installed-filter', 'no such thing');
    assert.deepEqual(await names(page), []);
    assert.equal(await page.textContent('.installed-none'), 'No program matches “no such thing”.');
    // Typing never loses the field.
    assert.equal(await page.evaluate(() => document.activeElement.id), 'installed-filter');
    await page.fill('#installed-filter', '');
    assert.equal((await names(page)).length, 5);
    assert.deepEqual(problems, []);
    await close();
});

test('an uninstaller runs only after Yes, one at a time, and the list then says whether the program went', async () => {
    const { page, problems, close } = await openInstalled({ inventory: inventory(programs) });
    await page.click('.installed-program[data-id="PhotoEditor"] button');
    await page.waitForSelector('dialog.ask');
    assert.equal(await page.textContent('#ask-title'), 'Uninstall Photo Editor?');
    assert.equal(await page.textContent('#ask-text'),
        'The uninstaller of Photo Editor starts now: "C:\\Program Files\\Photo Editor\\uninst.exe" /remove');
    await snap(page, 'installed-confirm');
    await page.click('#ask-cancel');
    await page.waitForFunction(() => !document.querySelector('dialog.ask'));
    assert.deepEqual((await fake(page)).launches, [], 'Cancel starts nothing');
    // Escape is a No too.
    await page.click('.installed-program[data-id="PhotoEditor"] button');
    await page.waitForSelector('dialog.ask');
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.querySelector('dialog.ask'));
    assert.deepEqual((await fake(page)).launches, []);

    await page.click('.installed-program[data-id="PhotoEditor"] button');
    await page.click('#ask-confirm');
    await page.waitForSelector('.installed-working:not([hidden])');
    assert.deepEqual((await fake(page)).launches.map(([command]) => command), ['"C:\\Program Files\\Photo Editor\\uninst.exe" /remove']);
    assert.equal(await page.textContent('.installed-working .working-text'), 'Uninstalling Photo Editor…');
    // While it runs nothing else starts, and the tab says it is working.
    assert.deepEqual(await page.$$eval('.installed-program .uninstall', (buttons) => buttons.map((button) => button.disabled)),
        [true, true, true]);
    assert.equal(await page.getAttribute('#tab-installed', 'data-busy'), 'true');
    await page.click('#tab-junk');
    await snap(page, 'installed-busy-tab');
    await page.click('#tab-installed');
    await snap(page, 'installed-working');
    // An answer for somebody else's request changes nothing.
    await page.evaluate(() => window.launchAndWaitCbk(0, 999));
    assert.equal(await page.isVisible('.installed-working'), true);

    await page.evaluate(() => window.__installed.finish(0, 'PhotoEditor'));
    await settle(page);
    assert.equal(await outcome(page), 'Photo Editor was uninstalled.');
    assert.deepEqual((await fake(page)).exports, ['installedExportCbk', 'installedExportCbk'], 'listed again');
    assert.deepEqual(await names(page), ['Game Library', 'Ärger Tool', 'archiver', 'Zeta Notes']);
    assert.equal(await page.getAttribute('#tab-installed', 'data-busy'), 'false');
    await snap(page, 'installed-removed');

    // The user cancelled inside the uninstaller: the program is still there.
    await page.click('.installed-program[data-id="{1234}"] button');
    await page.click('#ask-confirm');
    await page.waitForSelector('.installed-working:not([hidden])');
    await page.evaluate(() => window.__installed.finish(0));
    await settle(page);
    assert.equal(await outcome(page),
        'archiver is still installed. The uninstaller may have been cancelled, or it finishes after a restart.');

    // The uninstaller could not be started at all.
    await page.click('.installed-program[data-id="GameLib"] button');
    await page.click('#ask-confirm');
    await page.waitForSelector('.installed-working:not([hidden])');
    await page.evaluate(() => window.__installed.finish(2));
    await settle(page);
    assert.equal(await outcome(page), 'The uninstaller of Game Library could not be started (code 2).');
    assert.deepEqual((await fake(page)).launches.map(([, tag]) => typeof tag), ['number', 'number', 'number']);
    assert.equal(new Set((await fake(page)).launches.map(([, tag]) => tag)).size, 3, 'each request has its own tag');
    assert.deepEqual(problems, []);
    await close();
});

test('a listing that fails or is empty says so, and Try again lists the programs', async () => {
    for (const [fail, text] of [
        ['empty', 'The listing tool gave no answer. It may be missing from the folder of Clean.'],
        ['broken', 'The listing tool gave an answer Clean cannot read.'],
    ]) {
        const { page, problems, close } = await openInstalled({ inventory: inventory(programs), fail });
        assert.equal(await page.textContent('#installed-failed-title'), 'The installed programs could not be listed');
        assert.equal(await page.textContent('.installed-failed .lead'), text);
        assert.equal(await page.isVisible('.installed-panel'), false);
        await snap(page, `installed-failed-${fail}`);
        await page.evaluate(() => { window.__installed.fail = null; });
        await page.click('#installed-retry');
        await settle(page);
        assert.equal((await names(page)).length, 5, fail);
        // A later refresh that fails keeps the list, marked as possibly old.
        await page.evaluate((how) => { window.__installed.fail = how; }, fail);
        await page.click('#installed-refresh');
        await settle(page);
        assert.equal((await names(page)).length, 5);
        assert.equal(await page.textContent('.installed-notices .notice'), 'The list could not be refreshed, so it may be out of date.');
        // The page warns about the bad answer on the console, and that is all.
        assert.deepEqual(problems, []);
        await close();
    }
});

test('an empty list, a source that could not be read, and a program without the export function', async () => {
    const { page, problems, close } = await openInstalled({ inventory: inventory([], [
        { name: 'dpkg', status: 'ok', count: 0, detail: null },
        { name: 'flatpak', status: 'missing', count: 0, detail: 'flatpak is not installed' },
        { name: 'snap', status: 'failed', count: 0, detail: 'snap ended with code 1' },
    ]) });
    assert.equal(await page.textContent('.installed-none'), 'No installed programs were found.');
    assert.equal(await page.textContent('#installed-summary'), '0 programs, 0 B in total');
    assert.equal(await page.textContent('.installed-notices .notice'),
        'Some programs may be missing from this list: Snap package could not be read.');
    await snap(page, 'installed-empty');
    await close();
    assert.deepEqual(problems, []);

    const bare = await open();
    await bare.page.click('#tab-installed');
    await bare.page.waitForSelector('.installed-failed:not([hidden])');
    assert.equal(await bare.page.textContent('.installed-failed .lead'),
        'Listing installed programs is not available in this version of Clean.');
    assert.deepEqual(await hostCalls(bare.page, 'launchAndWait'), []);
    assert.deepEqual(bare.problems, []);
    await bare.close();
});
