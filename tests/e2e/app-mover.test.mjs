// The real program's "Move folders" view: Clean installed in a throwaway
// folder whose home has its own Downloads folder, the moved folders' root
// pointed into the same throwaway folder before the view first opens (the
// page remembers the root it used, and finds the program's record there),
// then a known folder and a program folder moved and brought back through
// the page, with the disk checked after every step. Screens are saved as
// build/e2e-screenshots/app-mover-*.png.
//   cd tests/e2e && node --test      (CLEAN_BIN: another build's bin folder)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, lstatSync, mkdirSync, readFileSync, realpathSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchApp, useRealProgram } from './app-fixture.mjs';

const repo = fileURLToPath(new URL('../../', import.meta.url));
const binDir = process.env.CLEAN_BIN ?? join(repo, 'build', 'linux', 'bin');
const shots = join(repo, 'build', 'e2e-screenshots');

const { skip, browser } = useRealProgram(binDir, shots);

const FILES = { 'report.pdf': 'pdf bytes', 'photos/cat.jpg': 'jpeg bytes', 'empty.txt': '' };

function write(folder, files) {
    for (const [name, bytes] of Object.entries(files)) {
        mkdirSync(dirname(join(folder, name)), { recursive: true });
        writeFileSync(join(folder, name), bytes);
    }
}

// Every fixture file readable through `folder` with its own bytes.
function whole(folder) {
    return Object.entries(FILES).every(([name, bytes]) => existsSync(join(folder, name))
        && readFileSync(join(folder, name), 'utf8') === bytes);
}

const isLink = (path) => lstatSync(path).isSymbolicLink();
const outcome = (page) => page.textContent('.mover-outcome .notice');

async function confirmAndSettle(page) {
    await page.waitForSelector('dialog.ask');
    await page.click('#ask-confirm');
    await page.waitForFunction(() => !document.querySelector('dialog.ask'));
    await page.waitForFunction(() => document.querySelector('#main .screen')?.getAttribute('aria-busy') === 'false',
        null, { timeout: 60000 });
}

test('a known folder and a program folder moved into the root and back', { skip, timeout: 180000 }, async (t) => {
    const { folder, page, problems, close } = await launchApp({
        t, browser: browser(), binDir, tree: {}, rules: () => ({ groups: [], programs: [] }) });
    const home = join(folder, 'home');
    const downloads = join(home, 'Downloads');
    write(downloads, FILES);
    writeFileSync(join(home, '.config', 'user-dirs.dirs'), 'XDG_DOWNLOAD_DIR="$HOME/Downloads"\n');
    // The root the page finds first: it holds the program's record.
    const disk = join(folder, 'disk');
    const root = join(disk, 'Clean');
    mkdirSync(root, { recursive: true });
    writeFileSync(join(root, 'mover.ini'), '');
    await page.evaluate((prefix) => localStorage.setItem('clean.mover.prefix', prefix), disk);

    await page.click('#tab-mover');
    await page.waitForSelector('.known-folder');
    const row = '.known-folder[data-id="0"]';
    assert.equal(await page.textContent(`${row} .folder-name`), 'Downloads');
    assert.equal(await page.textContent(`${row} .folder-where`), downloads);

    // Downloads into the root, a link left behind.
    await page.click(`${row} button`);
    assert.match(await page.textContent('#ask-text'), new RegExp(root.replace(/[/\\.]/g, '\\$&')));
    await confirmAndSettle(page);
    assert.equal(await outcome(page), 'Downloads is now in ' + root + '. A link in its old place keeps everything working.');
    assert.ok(isLink(downloads), 'a link stays at the old place');
    const moved = realpathSync(downloads);
    assert.ok(moved.startsWith(root + '/'), moved);
    assert.ok(whole(moved) && whole(downloads));
    await page.screenshot({ path: join(shots, 'app-mover-moved.png') });

    // And back: a real folder again, every file whole, nothing left in the root.
    await page.click(`${row} button`);
    await confirmAndSettle(page);
    assert.equal(await outcome(page), 'Downloads is back in its usual place.');
    assert.ok(!isLink(downloads) && whole(downloads));
    assert.equal(existsSync(moved), false);

    // A program's folder typed into the field, moved and brought back.
    const app = join(folder, 'programs', 'Tool');
    write(app, FILES);
    await page.fill('#mover-app-field', app);
    await page.click('#mover-app-move');
    await confirmAndSettle(page);
    assert.equal(await outcome(page), `${app} is now in ${root}. A link in its old place keeps the program working.`);
    assert.ok(isLink(app) && whole(app));
    const appMoved = realpathSync(app);
    assert.ok(appMoved.startsWith(root + '/'), appMoved);
    assert.deepEqual(await page.$$eval('.moved-app', (rows) => rows.map((r) => r.dataset.path)), [app]);
    assert.match(readFileSync(join(root, 'mover.ini'), 'utf8'), /Tool/);
    await page.screenshot({ path: join(shots, 'app-mover-app.png') });

    await page.click(`.moved-app[data-path="${app}"] button`);
    await confirmAndSettle(page);
    assert.equal(await outcome(page), `${app} is back in its usual place.`);
    assert.ok(!isLink(app) && whole(app));
    assert.equal(existsSync(appMoved), false);
    assert.deepEqual(await page.$$('.moved-app'), []);
    assert.deepEqual(problems, []);
    await close();
});
