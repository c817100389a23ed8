// The junk cleaning page in a real browser against a stand-in program
// (mock-host.js): the page is served from html/ under the web view's own
// Content-Security-Policy, so what works here works in the program.
// Screens are saved to build/e2e-screenshots/ for a person to look at.
//   cd tests/e2e && node --test
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { usePage } from './page-fixture.mjs';

const { open, snap, hostCalls } = usePage();


async function scanToResult(page) {
    await page.click('#scan');
    await page.waitForSelector('.screen.result, .screen.empty, .screen.message');
}

// The result tree as text: [name, size, tick state] per row, nested.
function readTree(page) {
    return page.$$eval('.tree > .group', (groups) => {
        const row = (element) => {
            const box = element.querySelector(':scope > .row input[type="checkbox"]');
            return [element.querySelector(':scope > .row .name').textContent,
                element.querySelector(':scope > .row .size').textContent,
                box.indeterminate ? 'some' : box.checked ? 'all' : 'none'];
        };
        return groups.map((group) => [...row(group), [...group.querySelectorAll('.program')].map((program) =>
            [...row(program), [...program.querySelectorAll('.item')].map(row)])]);
    });
}

function rowOf(page, level, name) {
    return page.locator(`.${level}`).filter({ has: page.locator(':scope > .row .name', { hasText: new RegExp(`^${name}$`) }) });
}

test('home shows every disk with its free space', async () => {
    const { page, problems, close } = await open({ disks: [
        { drive: 'C:\\', totalMbs: 476940.5, freeMbs: 120000.25 },
        { drive: 'D:\\', totalMbs: 953869, freeMbs: 38000 },
    ] });
    const disks = await page.$$eval('.disk', (cards) => cards.map((card) => [
        card.querySelector('.disk-name').textContent,
        card.querySelector('.disk-free').textContent,
        card.querySelector('[role="meter"]').getAttribute('aria-valuenow'),
        card.querySelector('.badge')?.textContent ?? null]));
    assert.deepEqual(disks, [
        ['C:\\', '117 GiB free of 466 GiB', '75', null],
        ['D:\\', '37.1 GiB free of 932 GiB', '96', 'Almost full'],
    ]);
    assert.equal(await page.textContent('#product'), 'Clean');
    assert.equal(await page.textContent('#version'), 'Version 1.2.0.0');
    await snap(page, '01-home');
    assert.deepEqual(problems, []);
    await close();
});

test('a scan lists groups, programs and items largest first with the program\'s ticks', async () => {
    const { page, problems, close } = await open();
    await page.click('#scan');
    await page.waitForSelector('.screen.scanning');
    const calls = await page.evaluate(() => window.__mock.calls.map((call) => call.name));
    assert.ok(calls.indexOf('cacheScanInit') < calls.indexOf('cacheScanStart'), 'the scan is set up before it starts');
    await page.waitForSelector('.screen.result');

    assert.equal(await page.textContent('#result-heading'), '2.84 GiB of junk found');
    assert.deepEqual(await readTree(page), [
        ['System junk', '2.08 GiB', 'some', [
            ['Temporary files', '1.93 GiB', 'some', [
                ['Old update downloads', '1.2 GiB', 'none'],
                ['User temporary folder', '700 MiB', 'all'],
                ['Error reports', '50 MiB', 'all']]],
            ['Thumbnail cache', '150 MiB', 'all', [['Thumbnails', '150 MiB', 'all']]]]],
        ['Browsers', '477 MiB', 'some', [
            ['Web browser', '387 MiB', 'some', [
                ['Cache', '384 MiB', 'all'], ['Cookies', '2 MiB', 'none'], ['History', '1 MiB', 'none']]],
            ['Mail client', '90 MiB', 'all', [['Cached attachments', '90 MiB', 'all']]]]],
        ['Recycle Bin', '256 MiB', 'all', [['Recycle Bin', '256 MiB', 'all', []]]],
        ['Log files', '30 MiB', 'all', [['Setup logs', '30 MiB', 'all', [['Installer logs', '30 MiB', 'all']]]]],
        ['Leftovers of removed programs', '12 MiB', 'none', [
            ['Photo editor (removed)', '12 MiB', 'none', [['Settings folder', '12 MiB', 'none']]]]],
    ]);
    assert.equal(await page.textContent('.selected-total'), '1.62 GiB');
    assert.equal(await page.textContent('#clean'), 'Clean 1.62 GiB');
    await snap(page, '03-result');

    // An item's files, sent in two lists, show as one list.
    await rowOf(page, 'program', 'Setup logs').locator('.twisty').click();
    const toggle = page.locator('.files-toggle');
    assert.equal(await toggle.textContent(), 'Show 3 files');
    await toggle.click();
    assert.deepEqual(await page.$$eval('.files .file', (files) => files.map((file) => file.textContent)), [
        'C:\\Windows\\Logs\\CBS\\CBS.log20 MiB',
        'C:\\Windows\\Logs\\CBS\\CbsPersist_20240312.log6 MiB',
        'C:\\Windows\\Panther\\setupact.log4 MiB']);
    assert.equal(await toggle.getAttribute('aria-expanded'), 'true');
    await rowOf(page, 'program', 'Temporary files').locator('.twisty').click();
    await snap(page, '04-result-expanded');
    assert.deepEqual(problems, []);
    await close();
});

test('ticks follow the user, and cleaning asks once per program for exactly the ticked ids', async () => {
    const { page, problems, close } = await open({ holdDeletes: true });
    await scanToResult(page);
    const browsers = rowOf(page, 'group', 'Browsers');
    await rowOf(page, 'program', 'Web browser').locator('.twisty').click();
    // Keyboard only: Space toggles a focused box.
    await rowOf(page, 'item', 'Cache').locator('input').focus();
    await page.keyboard.press('Space');
    await rowOf(page, 'item', 'Cookies').locator('input').click();
    // A whole group off with its own box.
    await rowOf(page, 'group', 'Log files').locator(':scope > .row input').click();
    const tree = await readTree(page);
    assert.deepEqual(tree[1].slice(0, 3), ['Browsers', '477 MiB', 'some']);
    assert.deepEqual(tree[1][3][0][3], [['Cache', '384 MiB', 'none'], ['Cookies', '2 MiB', 'all'], ['History', '1 MiB', 'none']]);
    assert.deepEqual(tree[3].slice(0, 3), ['Log files', '30 MiB', 'none']);
    assert.equal(await page.textContent('.selected-total'), '1.22 GiB');

    // A partly ticked group ticks everything, then nothing.
    const groupBox = browsers.locator(':scope > .row input');
    await groupBox.click();
    assert.equal(await page.textContent('.selected-total'), '1.59 GiB');
    await groupBox.click();
    assert.equal(await page.textContent('.selected-total'), '1.13 GiB');
    await rowOf(page, 'item', 'Cookies').locator('input').click();
    await rowOf(page, 'program', 'Mail client').locator(':scope > .row input').click();
    assert.equal(await page.textContent('#clean'), 'Clean 1.22 GiB');

    await page.click('#clean');
    await page.waitForSelector('.screen.cleaning');
    await page.waitForFunction(() => window.__mock.pendingDeletes === 1);
    // One request at a time: the next waits for the program's answer.
    assert.equal((await hostCalls(page, 'cacheDeleteOne')).length, 1);
    await page.evaluate(() => window.__mock.releaseDelete());
    await page.waitForFunction(() => window.__mock.pendingDeletes === 1);
    await snap(page, '05-cleaning');
    while (await page.evaluate(() => window.__mock.pendingDeletes) > 0 || !(await page.$('.screen.done'))) {
        await page.evaluate(() => window.__mock.releaseDelete());
        await page.waitForTimeout(20);
    }
    assert.deepEqual(await hostCalls(page, 'cacheDeleteOne'), [
        ['1', '1001', ['11', '12']],
        ['1', '1002', ['21']],
        ['3', '4026531841', ['32']],
        ['3', '3002', ['34']],
        ['6', '61000088', []],
    ]);
    // The check afterwards is a second scan; freed is what it no longer finds.
    assert.equal((await hostCalls(page, 'cacheScanStart')).length, 2);
    assert.equal(await page.textContent('#done-heading'), '1.22 GiB freed');
    assert.equal(await page.$('.done .notice'), null);
    await snap(page, '06-done');

    await page.click('#review');
    assert.equal(await page.textContent('#result-heading'), '1.62 GiB of junk found');
    assert.deepEqual((await readTree(page)).map((group) => group[0]),
        ['System junk', 'Browsers', 'Log files', 'Leftovers of removed programs']);
    assert.deepEqual(problems, []);
    await close();
});

test('a deletion the program refuses is named, and the rest is still cleaned', async () => {
    const { page, problems, close } = await open({ failDelete: ['3/4026531841'] });
    await scanToResult(page);
    await page.click('#clean');
    await page.waitForSelector('.screen.done');
    assert.deepEqual((await hostCalls(page, 'cacheDeleteOne')).map((args) => args[1]),
        ['1001', '1002', '4026531841', '3002', '61000088', '1101']);
    assert.equal(await page.textContent('#done-heading'), '1.25 GiB freed');
    assert.deepEqual(await page.$$eval('.notice.error li', (rows) => rows.map((row) => row.textContent)),
        ['Web browser (Browsers)']);
    await snap(page, '07-done-failed');
    assert.deepEqual(problems.filter((text) => !text.includes('cacheDeleteOne')), []);
    await close();
});

test('stopping a scan shows what was found so far, marked as partial', async () => {
    const { page, problems, close } = await open({ holdScan: true });
    // By keyboard: the scan button is the first control after the language,
    // and the new screen takes the focus to its heading.
    await page.focus('#language');
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'scan');
    await page.keyboard.press('Enter');
    await page.waitForSelector('.screen.scanning');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'scan-heading');
    await page.waitForFunction(() => document.querySelector('.steps')?.textContent === '1 of 8 checks done');
    await page.waitForFunction(() => document.querySelector('.current-file')?.textContent.endsWith('part1.tmp'));
    assert.equal(await page.textContent('.found-size'), '363 MiB');
    assert.equal(await page.getAttribute('[role="progressbar"]', 'aria-valuenow'), '13');
    await snap(page, '02-scanning');
    await page.click('#stop');
    await page.waitForSelector('.screen.result');
    assert.deepEqual(await hostCalls(page, 'cacheScanStop'), [[]]);
    assert.equal(await page.textContent('.notice.warn'), 'The scan was stopped, so this list may not be complete.');
    assert.deepEqual((await readTree(page)).map(([name, size, , programs]) => [name, size, programs.map((program) => program[0])]), [
        ['System junk', '1.93 GiB', ['Temporary files']],
        ['Browsers', '387 MiB', ['Web browser']],
    ]);
    await snap(page, '08-result-partial');
    assert.deepEqual(problems, []);
    await close();
});

test('a scan that finds nothing, or does not run, says so plainly', async () => {
    const empty = await open({ emptyRules: true });
    await scanToResult(empty.page);
    assert.equal(await empty.page.textContent('#empty-heading'), 'Nothing to clean');
    assert.equal(await empty.page.$('#clean'), null);
    await snap(empty.page, '09-nothing-to-clean');
    assert.deepEqual(empty.problems, []);
    await empty.close();

    const refused = await open({ endCode: 4 });
    await scanToResult(refused.page);
    assert.equal(await refused.page.textContent('#message-heading'), 'Something went wrong');
    assert.equal(await refused.page.textContent('.message .lead'), 'The scan did not run. Please try again in a moment.');
    await snap(refused.page, '10-scan-error');
    await refused.page.click('.message .primary');
    await refused.page.waitForSelector('.screen.home');
    await refused.close();
});

test('the language comes from the program and switches at once', async () => {
    const { page, problems, close } = await open({ languageId: 1036 });
    assert.equal(await page.getAttribute('html', 'lang'), 'fr');
    assert.equal(await page.inputValue('#language'), '3');
    assert.equal(await page.textContent('#home-heading'), 'Libérez de l’espace sur votre ordinateur');

    await page.selectOption('#language', '1');
    assert.equal(await page.textContent('#home-heading'), 'Free up space on your computer');
    await scanToResult(page);
    assert.equal(await page.$('.result .notice'), null);

    // Names already listed stay as the program sent them until the next scan.
    await page.selectOption('#language', '2');
    assert.deepEqual(await hostCalls(page, 'setLanguageId'), [[1033], [1031]]);
    assert.equal(await page.getAttribute('html', 'lang'), 'de');
    assert.equal(await page.textContent('#rescan'), 'Erneut suchen');
    assert.equal((await readTree(page))[0][0], 'System junk');
    await snap(page, '11-result-language-changed');
    await page.click('.result .notice .link');
    await page.waitForSelector('.screen.result');
    assert.equal(await page.$('.result .notice'), null);
    assert.deepEqual((await readTree(page)).map((group) => group[0]),
        ['Systemmüll', 'Browser', 'Papierkorb', 'Protokolldateien', 'Reste entfernter Programme']);
    assert.equal(await page.textContent('#result-heading'), '2,84 GiB Datenmüll gefunden');
    await snap(page, '12-result-german');
    assert.deepEqual(problems, []);
    await close();
});

test('the page fits small and wide windows and has a dark look', async () => {
    for (const [name, options] of [
        ['13-result-800x600', { viewport: { width: 800, height: 600 } }],
        ['14-result-wide', { viewport: { width: 1600, height: 900 } }],
        ['15-result-dark', { colorScheme: 'dark' }],
    ]) {
        const { page, problems, close } = await open({}, options);
        if (name.endsWith('dark'))
            await snap(page, '15-home-dark');
        await scanToResult(page);
        // Nothing runs off the side, and the clean button stays in view.
        assert.equal(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), true, name);
        assert.equal(await page.locator('#clean').isVisible(), true);
        const box = await page.locator('#clean').boundingBox();
        assert.ok(box.y + box.height <= (options.viewport?.height ?? 720), `${name}: the clean button is in view`);
        await snap(page, name);
        assert.deepEqual(problems, []);
        await close();
    }
});
