// The Windows build under Wine, driven from Linux: Clean.exe runs in a
// throwaway Wine session (scripts/wine-run) with a rule database and a
// fixture tree inside its own folder, the only Linux folder Windows code
// sees; its page, served on Wine's loopback, opens in Linux Chromium.
//   cd tests/e2e && node --test      (CLEAN_WIN_BIN: another build's bin folder)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, mkdirSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { exitWithin, installProgram, privateEnvironment, rulesXml, startPrinting, writeConfig, writeTree } from './app-fixture.mjs';

const repo = fileURLToPath(new URL('../../', import.meta.url));
const binDir = process.env.CLEAN_WIN_BIN ?? join(repo, 'build', 'win64', 'bin');
const wine = process.env.CLEAN_WINE ?? '/usr/lib/wine/wine64';
const browserPath = process.env.CHROMIUM_PATH ?? '/usr/bin/chromium';
const shots = join(repo, 'build', 'e2e-screenshots');

const skip = !existsSync(join(binDir, 'Clean.exe')) ? `${join(binDir, 'Clean.exe')} is not built`
    : !existsSync(wine) ? `Wine is not installed (${wine})`
        : !existsSync(browserPath) ? `no Chromium at ${browserPath}` : false;

test('Clean.exe under Wine serves its page to Linux Chromium and scans the fixture', { skip, timeout: 240000 }, async (t) => {
    const folder = installProgram(binDir, ['Clean.exe', 'Fendrel.dll', 'miniblink_4975_x32.dll', 'html']);
    t.after(() => rmSync(folder, { recursive: true, force: true }));
    writeTree(join(folder, 'tree'), { 'cache/a.tmp': 3072, 'cache/b.tmp': 1024, 'cache/keep.dat': 5000 });
    // A session of its own maps the program's folder as T: (a shared one
    // has given that letter to the build folder); checked below.
    writeFileSync(join(folder, 'rules.xml'), rulesXml({
        groups: [{ id: 3, name: 'Caches', programs: [{ id: 100, name: 'Web browser' }] }],
        programs: [{ id: 100, preselect: true, items: [
            { groups: [3], id: 1, name: 'Cache', folder: 'T:\\tree\\cache', pattern: '*.tmp' }] }],
    }));
    writeConfig(folder, 'T:\\rules.xml');
    const env = { ...process.env, ...privateEnvironment(folder), CLEAN_NO_BROWSER: '1' };
    delete env.CLEAN_WINE_SESSION;

    // Its own process group, so that a program that does not end can be
    // stopped together with the script that waits for it.
    const run = await startPrinting('bash', [join(repo, 'scripts', 'wine-run'), join(folder, 'Clean.exe')],
        { cwd: folder, env, detached: true });
    t.after(async () => {
        if (await exitWithin(run, 0) === 'still running') {
            process.kill(-run.child.pid, 'SIGTERM');
            await exitWithin(run, 30000);
        }
    });

    const browser = await chromium.launch({ executablePath: browserPath, args: ['--no-sandbox'] });
    try {
        const page = await browser.newPage({ viewport: { width: 980, height: 720 }, reducedMotion: 'reduce', locale: 'en-US' });
        const problems = [];
        page.on('pageerror', (error) => problems.push(error.message));
        await page.goto(run.address);
        await page.waitForSelector('#main .screen.home', { timeout: 60000 });
        assert.match(await page.evaluate(() => getCurrentModuleFileDirectory()), /^T:\\?$/i, 'the program folder is T:');
        const drives = await page.$$eval('.disk-name', (names) => names.map((name) => name.textContent));
        assert.ok(drives.includes('C:\\'), drives.join(' '));

        await page.click('#scan');
        await page.waitForSelector('.screen.result, .screen.empty, .screen.message', { timeout: 60000 });
        assert.equal(await page.textContent('#result-heading'), '4 KiB of junk found');
        assert.deepEqual(await page.$$eval('.tree .row', (rows) => rows.map((row) =>
            [row.querySelector('.name').textContent, row.querySelector('.size').textContent])), [
            ['Caches', '4 KiB'], ['Web browser', '4 KiB'], ['Cache', '4 KiB']]);
        mkdirSync(shots, { recursive: true });
        await page.screenshot({ path: join(shots, 'app-wine-result.png') });
        assert.deepEqual(problems, []);
    } finally {
        await browser.close();
    }
    // Closing the page ends the program; the script ends its Wine session
    // and passes the program's exit code on.
    assert.equal(await exitWithin(run, 60000), 0, run.output);
});
