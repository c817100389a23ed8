// The real program in a real browser: Clean starts with no display, its
// page opens at the printed address and shows the start screen from host
// functions, host functions answer, a call pushed by the host arrives, and
// closing the page ends the program.
//   node --test tests/e2e/      (CLEAN_BIN: another build's bin folder)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, readdirSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { exitWithin, installProgram, privateEnvironment, startPrinting } from './app-fixture.mjs';

const binDir = process.env.CLEAN_BIN ?? fileURLToPath(new URL('../../build/linux/bin', import.meta.url));
const browserPath = process.env.CHROMIUM_PATH ?? '/usr/bin/chromium';

test('Clean serves its page, answers host calls and ends with the page', { timeout: 90000 }, async (t) => {
    // The program as a user would unpack it, without data files or settings.
    const folder = installProgram(binDir, ['Clean', 'libFendrel.so', 'libminiblink.so', 'html']);
    const run = await startPrinting(join(folder, 'Clean'), [], {
        cwd: folder,
        env: { ...process.env, ...privateEnvironment(folder), CLEAN_NO_BROWSER: '1' },
    });
    const { child, address } = run;

    const browser = await chromium.launch({ executablePath: browserPath, args: ['--no-sandbox'] });
    try {
        const page = await browser.newPage();
        await page.goto(address);
        assert.match(page.url(), /\/index\.html$/);

        // The start screen, filled from host functions: the product name and
        // version, one card per disk the program reports, the scan button.
        await page.waitForSelector('#main .screen.home');
        const shown = await page.evaluate(() => ({
            product: document.getElementById('product').textContent,
            version: document.getElementById('version').textContent,
            disks: document.querySelectorAll('.disk').length,
            scan: !document.getElementById('scan').disabled,
        }));
        const answered = await page.evaluate(() => ({
            product: baseSystemInfo(1) || 'Clean',
            version: baseSystemInfo(0),
            disks: typeof getDiskInfo === 'function' ? getDiskInfo().filter((disk) => disk.totalMbs > 0).length : 0,
            folder: getCurrentModuleFileDirectory(),
        }));
        assert.equal(answered.version, '0.1.0.0');
        assert.ok(answered.folder.startsWith(folder.slice(0, 5)));
        assert.equal(shown.product, answered.product);
        assert.ok(shown.version.includes(answered.version), shown.version);
        assert.equal(shown.disks, answered.disks);
        assert.equal(shown.scan, true);
        // The program calls the page back by these global names.
        const callbacks = ['cacheScanCbkTotal', 'cacheScanCbk0', 'cacheScanCbk1', 'cacheScanCbk2', 'cacheScanCbk3',
            'sizeCbk', 'cacheFileNameCbk', 'cacheScanEndCbk', 'cacheProgressCbk', 'cacheScanStopCbk', 'cacheDeleteOneCbk'];
        assert.deepEqual(await page.evaluate((names) => names.filter((name) => typeof window[name] !== 'function'), callbacks), []);
        // The start-up globals the host sets once the page has loaded.
        await page.waitForFunction(() => typeof window.pid === 'number' && window.pid > 0);
        assert.equal(await page.evaluate(() => window.pid), child.pid);

        // Host functions called from the page, each kind of result.
        const answers = await page.evaluate(() => ({
            exists: pathFileExists(getModuleFileName()),
            missing: pathFileExists('/nonexistent/clean-e2e'),
            listed: listDir(getCurrentModuleFileDirectory() + '/html/*'),
            unimplemented: baseSystemInfo(8),
            other: baseSystemInfo(11),
            written: writeTextToFile(tempPath() + 'clean-e2e.txt', 'hello'),
            read: readTextFile(tempPath() + 'clean-e2e.txt'),
            bytes: new Uint8Array(readBinaryFileSync(getCurrentModuleFileDirectory() + '/html/index.html')).length,
        }));
        assert.deepEqual(
            // The listing has the "." and ".." entries a Windows listing has.
            { ...answers, listed: [...answers.listed].filter((name) => !name.startsWith('.')).sort() },
            { exists: true, missing: false, listed: readdirSync(join(folder, 'html')).sort(), unimplemented: 'unimplement',
              other: '', written: true, read: 'hello', bytes: readFileSync(join(folder, 'html/index.html')).length });

        // A scan through the real bridge: the page starts it, the program's
        // callbacks carry it to its end. The installed folder has no rule
        // database, so whatever it finds, the page must not report an error.
        if (await page.evaluate(() => typeof cacheScanStart === 'function')) {
            await page.click('#scan');
            await page.waitForSelector('.screen.result, .screen.empty, .screen.message', { timeout: 30000 });
            assert.equal(await page.$('.screen.message'), null, 'the scan ended without an error');
        } else {
            t.diagnostic('this build binds no scan functions: the scan round trip is not checked');
        }

        // A call pushed by the host: the program sends itself the "data
        // arrived" message of an asynchronous process run, and the page's
        // global function receives it.
        await page.evaluate(() => {
            window.received = null;
            window.processDataMsgByCpp = (tag, text) => { window.received = [tag, text]; };
        });
        await page.evaluate(() => createProcessWithReturnedDataAsync('echo pushed', handle, 7));
        await page.waitForFunction(() => window.received !== null);
        assert.deepEqual(await page.evaluate(() => window.received), [7, 'pushed\n']);
    } finally {
        await browser.close();
    }
    // Closing the page's window ends the program like closing its window.
    const code = await exitWithin(run, 30000);
    if (code === 'still running')
        child.kill();
    assert.equal(code, 0);
    const log = readFileSync(join(folder, 'app.log'), 'utf8');
    assert.match(log, /exit code 0/);
    rmSync(folder, { recursive: true, force: true });
});
