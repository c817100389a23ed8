// The real program driving its real page: Clean installed in a throwaway
// folder with a rule database of our own over a fixture tree of known
// sizes, started with no browser, and its page opened in headless Chromium.
// Screens are saved as build/e2e-screenshots/app-*.png for a person to look at.
//   cd tests/e2e && node --test      (CLEAN_BIN: another build's bin folder)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readFileSync, readdirSync, statfsSync } from 'node:fs';
import { join, relative } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchApp, useRealProgram } from './app-fixture.mjs';

const repo = fileURLToPath(new URL('../../', import.meta.url));
const binDir = process.env.CLEAN_BIN ?? join(repo, 'build', 'linux', 'bin');
const shots = join(repo, 'build', 'e2e-screenshots');

const { skip, browser } = useRealProgram(binDir, shots);

// Two groups; the browser has items in both, and the logs group lists files.
const sizes = {
    'browser/cache/a.tmp': 3072,
    'browser/cache/b.tmp': 1536,
    'browser/cache/sub/c.tmp': 512,
    'browser/cache/keep.dat': 9000,   // not *.tmp: never junk
    'browser/thumbs/t1.bin': 2048,
    'browser/logs/x.log': 1000,
    'browser/logs/y.log': 234,
    'editor/cache/e.bin': 70000,
    'setup/install.log': 4000,
};

function junkRules(root) {
    return {
        groups: [
            { id: 3, name: 'Caches', programs: [{ id: 100, name: 'Web browser' }, { id: 200, name: 'Photo editor' }] },
            { id: 11, name: 'Logs', programs: [{ id: 100, name: 'Web browser' }, { id: 300, name: 'Setup' }] },
        ],
        programs: [
            { id: 100, preselect: true, items: [
                { groups: [3], id: 1, name: 'Cache', folder: join(root, 'browser/cache'), pattern: '*.tmp' },
                { groups: [3], id: 3, name: 'Thumbnails', folder: join(root, 'browser/thumbs') },
                { groups: [11], id: 2, name: 'Browser logs', folder: join(root, 'browser/logs') }] },
            { id: 200, preselect: false, items: [
                { groups: [3], id: 4, name: 'Editor cache', folder: join(root, 'editor/cache') }] },
            { id: 300, preselect: true, items: [
                { groups: [11], id: 5, name: 'Setup logs', folder: join(root, 'setup') }] },
        ],
    };
}

function launch(t, tree, rules) {
    return launchApp({ t, browser: browser(), binDir, tree, rules });
}

function snap(page, name) {
    return page.screenshot({ path: join(shots, `app-${name}.png`) });
}

// Scans from the start or result screen and waits for the new result (a
// small scan may be over before its screen could be seen).
async function scanToResult(page) {
    await page.evaluate(() => { document.querySelector('#main .screen').dataset.before = ''; });
    await page.click('#scan, #rescan');
    await page.waitForSelector('.screen:is(.result, .empty, .message):not([data-before])', { timeout: 60000 });
}

// The result tree as [name, size, tick state, children] rows, nested.
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

// A row by its name, inside `within` (a locator or the page).
function row(within, level, name) {
    const page = typeof within.page === 'function' ? within.page() : within;
    return within.locator(`.${level}`).filter({ has: page.locator(':scope > .row .name', { hasText: new RegExp(`^${name}$`) }) });
}

// Every file under root, relative, sorted.
function filesUnder(root) {
    return readdirSync(root, { recursive: true, withFileTypes: true })
        .filter((entry) => entry.isFile())
        .map((entry) => relative(root, join(entry.parentPath ?? entry.path, entry.name)))
        .sort();
}

// "37.1 GiB" → bytes, near enough to compare with what the system says.
function parseSize(text) {
    const match = text.match(/^([\d.,]+) (B|KiB|MiB|GiB|TiB)$/);
    assert.ok(match, `a size: ${text}`);
    return Number(match[1].replace(/,/g, '')) * 1024 ** ['B', 'KiB', 'MiB', 'GiB', 'TiB'].indexOf(match[2]);
}

test('the start screen shows one card per disk the program reports, and closing it ends the program', { skip, timeout: 60000 }, async (t) => {
    const { folder, page, problems, close } = await launch(t, sizes, junkRules);
    const disks = await page.evaluate(() => getDiskInfo());
    const reported = disks.filter((disk) => disk.totalMbs > 0);
    assert.ok(reported.length > 0, JSON.stringify(disks));
    const cards = await page.$$eval('.disk', (elements) => elements.map((card) => ({
        name: card.querySelector('.disk-name').textContent,
        free: card.querySelector('.disk-free').textContent })));
    assert.deepEqual(cards.map((card) => card.name), reported.map((disk) => disk.drive));
    // The root file system's size as this machine sees it.
    const root = cards.find((card) => card.name === '/');
    if (root) {
        const stats = statfsSync('/');
        const total = parseSize(root.free.match(/ of (.*)$/)[1]);
        const expected = stats.blocks * stats.bsize;
        assert.ok(Math.abs(total - expected) / expected < 0.01, `${root.free} against ${expected} bytes`);
    }
    assert.equal(await page.textContent('#home-heading'), 'Free up space on your computer');
    assert.equal(await page.textContent('#version'), 'Version 0.1.0.0');
    await snap(page, 'home');
    assert.deepEqual(problems, []);
    await close();
    assert.match(readFileSync(join(folder, 'app.log'), 'utf8'), /exit code 0/);
});

test('a scan shows the fixture\'s groups, programs and items with their sizes, and the files of the logs item', { skip, timeout: 90000 }, async (t) => {
    const { root, page, problems, close } = await launch(t, sizes, junkRules);
    await scanToResult(page);
    assert.equal(await page.$('.result .notice'), null, 'a complete scan with no notice');
    assert.equal(await page.textContent('#result-heading'), '80.5 KiB of junk found');
    // Largest first on every level; the browser's program ticked by its
    // rule, the logs group never ticked by itself; keep.dat is not junk.
    assert.deepEqual(await readTree(page), [
        ['Caches', '75.4 KiB', 'some', [
            ['Photo editor', '68.4 KiB', 'none', [['Editor cache', '68.4 KiB', 'none']]],
            ['Web browser', '7 KiB', 'all', [['Cache', '5 KiB', 'all'], ['Thumbnails', '2 KiB', 'all']]]]],
        ['Logs', '5.11 KiB', 'none', [
            ['Setup', '3.91 KiB', 'none', [['Setup logs', '3.91 KiB', 'none']]],
            ['Web browser', '1.21 KiB', 'none', [['Browser logs', '1.21 KiB', 'none']]]]],
    ]);
    assert.equal(await page.textContent('.selected-total'), '7 KiB');
    assert.equal(await page.textContent('#clean'), 'Clean 7 KiB');
    await snap(page, 'result');

    const logs = row(page, 'group', 'Logs');
    await row(logs, 'program', 'Web browser').locator('.twisty').click();
    const toggle = row(logs, 'item', 'Browser logs').locator('.files-toggle');
    assert.equal(await toggle.textContent(), 'Show 2 files');
    await toggle.click();
    const files = await row(logs, 'item', 'Browser logs').locator('.files .file').evaluateAll((rows) =>
        rows.map((file) => [file.querySelector('.file-name').textContent, file.querySelector('.size').textContent]));
    assert.deepEqual(files.sort(), [
        [join(root, 'browser/logs/x.log'), '1,000 B'],
        [join(root, 'browser/logs/y.log'), '234 B'],
    ]);
    await snap(page, 'result-files');
    assert.deepEqual(problems, []);
    await close();
});

test('cleaning removes exactly the ticked files, one program at a time, and what is left is found again', { skip, timeout: 90000 }, async (t) => {
    const { root, page, problems, close } = await launch(t, sizes, junkRules);
    await scanToResult(page);
    const caches = row(page, 'group', 'Caches');
    const logs = row(page, 'group', 'Logs');
    // Keep the thumbnails, add the browser's logs.
    await row(caches, 'program', 'Web browser').locator('.twisty').click();
    await row(caches, 'item', 'Thumbnails').locator('input').click();
    await row(logs, 'program', 'Web browser').locator(':scope > .row input').click();
    assert.equal(await page.textContent('#clean'), 'Clean 6.21 KiB');

    // Each answer of the program is held until the screen has been looked at.
    await page.evaluate(() => {
        const answer = window.cacheDeleteOneCbk;
        window.heldAnswers = [];
        window.cacheDeleteOneCbk = (...args) => window.heldAnswers.push(() => answer(...args));
        window.releaseAnswers = () => {
            window.cacheDeleteOneCbk = answer;
            window.heldAnswers.splice(0).forEach((call) => call());
        };
    });
    await page.click('#clean');
    await page.waitForSelector('.screen.cleaning');
    await page.waitForFunction(() => window.heldAnswers.length === 1, null, { timeout: 30000 });
    assert.deepEqual(await page.$$eval('.job', (jobs) => jobs.map((job) => [
        job.querySelector('.job-name').textContent, job.querySelector('.size').textContent, job.dataset.status])), [
        ['Web browserCaches', '5 KiB', 'working'],
        ['Web browserLogs', '1.21 KiB', 'waiting'],
    ]);
    // The second request waits for the first to be answered.
    assert.ok(existsSync(join(root, 'browser/logs/x.log')));
    assert.ok(!existsSync(join(root, 'browser/cache/a.tmp')));
    await snap(page, 'cleaning');
    await page.evaluate(() => window.releaseAnswers());

    await page.waitForSelector('.screen.done', { timeout: 60000 });
    assert.equal(await page.textContent('#done-heading'), '6.21 KiB freed');
    assert.equal(await page.$('.done .notice'), null);
    await snap(page, 'done');
    assert.deepEqual(filesUnder(root), [
        'browser/cache/keep.dat', 'browser/thumbs/t1.bin', 'editor/cache/e.bin', 'setup/install.log']);
    assert.ok(existsSync(join(root, 'browser/cache/sub')), 'folders stay');

    // The check after cleaning, then a scan of its own, find the rest.
    const rest = [
        ['Caches', '70.4 KiB', 'some', [
            ['Photo editor', '68.4 KiB', 'none', [['Editor cache', '68.4 KiB', 'none']]],
            ['Web browser', '2 KiB', 'all', [['Thumbnails', '2 KiB', 'all']]]]],
        ['Logs', '3.91 KiB', 'none', [['Setup', '3.91 KiB', 'none', [['Setup logs', '3.91 KiB', 'none']]]]],
    ];
    await page.click('#review');
    assert.equal(await page.textContent('#result-heading'), '74.3 KiB of junk found');
    assert.deepEqual(await readTree(page), rest);
    await scanToResult(page);
    assert.equal(await page.textContent('#result-heading'), '74.3 KiB of junk found');
    assert.deepEqual(await readTree(page), rest);
    assert.deepEqual(problems, []);
    await close();
});

test('stopping a long scan from the page shows what was found so far, marked as partial', { skip, timeout: 120000 }, async (t) => {
    // Many rules over one folder of many files: each walks all of it, so the
    // scan lasts seconds.
    const tree = {};
    for (let folder = 0; folder < 100; ++folder) {
        for (let file = 0; file < 100; ++file)
            tree[`cache/d${folder}/f${file}.tmp`] = 1;
    }
    const rules = (root) => ({
        groups: [{ id: 3, name: 'Caches', programs: [{ id: 100, name: 'Web browser' }] }],
        programs: [{ id: 100, preselect: true, items: Array.from({ length: 150 },
            (_, index) => ({ groups: [3], id: index + 1, name: `Cache ${index + 1}`, folder: join(root, 'cache') })) }],
    });
    const { root, page, problems, close } = await launch(t, tree, rules);
    const whole = '1.43 MiB of junk found';   // 150 rules × 10,000 bytes

    // Scan, and Stop on the scanning screen as soon as it is there: in one
    // go, because once the walk's reports stream in the page answers slowly.
    await page.evaluate(() => {
        document.getElementById('scan').click();
        document.getElementById('stop').click();
    });
    await page.waitForSelector('.screen.result, .screen.empty', { timeout: 60000 });
    // Whether a first rule had ended before the stop is up to the walk.
    if (await page.$('.screen.empty')) {
        assert.equal(await page.textContent('#empty-heading'), 'The scan was stopped');
    } else {
        assert.equal(await page.textContent('.result .notice.warn'), 'The scan was stopped, so this list may not be complete.');
        assert.notEqual(await page.textContent('#result-heading'), whole);
    }
    await snap(page, 'result-partial');

    // The next scan is whole again. Its end is held back for a picture of
    // the scanning screen as the walk left it.
    await page.evaluate(() => {
        const end = window.cacheScanEndCbk;
        window.cacheScanEndCbk = (...args) => {
            window.cacheScanEndCbk = end;
            window.releaseEnd = () => end(...args);
        };
    });
    await page.click('#rescan');
    await page.waitForFunction(() => window.releaseEnd, null, { polling: 100, timeout: 60000 });
    // The walk's reports reached the page.
    assert.ok((await page.textContent('.scanning .current-file')).startsWith(join(root, 'cache')));
    await snap(page, 'scanning');
    await page.evaluate(() => window.releaseEnd());
    await page.waitForSelector('.screen.result', { timeout: 60000 });
    assert.equal(await page.$('.result .notice'), null);
    assert.equal(await page.textContent('#result-heading'), whole);
    assert.deepEqual(problems, []);
    await close();
});

test('switching the language changes the page\'s texts at once and the next scan\'s sizes', { skip, timeout: 90000 }, async (t) => {
    const { page, problems, close } = await launch(t, sizes, junkRules);
    assert.equal(await page.getAttribute('html', 'lang'), 'en');
    await page.selectOption('#language', '2');
    assert.equal(await page.getAttribute('html', 'lang'), 'de');
    assert.equal(await page.textContent('#home-heading'), 'Schaffen Sie Platz auf Ihrem Computer');
    assert.equal(await page.textContent('#scan'), 'Nach Datenmüll suchen');
    assert.equal(await page.textContent('#language-label'), 'Sprache');
    // The program was told, and keeps the choice.
    assert.equal(await page.evaluate(() => getLanguageId() & 0x3ff), 1031 & 0x3ff);
    await snap(page, 'home-de');

    await scanToResult(page);
    assert.equal(await page.textContent('#result-heading'), '80,5 KiB Datenmüll gefunden');
    assert.equal(await page.textContent('#rescan'), 'Erneut suchen');
    // Without name tables the names are the rules' own, in any language.
    assert.deepEqual((await readTree(page)).map((group) => group[0]), ['Caches', 'Logs']);
    await snap(page, 'result-de');
    assert.deepEqual(problems, []);
    await close();
});
