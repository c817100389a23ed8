// The real program's "Installed programs" view: Clean installed in a
// throwaway folder with its export tool, the view opened in headless
// Chromium, and the list compared with what this machine's dpkg says is
// installed. Nothing is uninstalled. The screen is saved as
// build/e2e-screenshots/app-installed.png.
//   cd tests/e2e && node --test app-installed.test.mjs   (CLEAN_BIN: another build's bin folder)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchApp, useRealProgram } from './app-fixture.mjs';

const repo = fileURLToPath(new URL('../../', import.meta.url));
const binDir = process.env.CLEAN_BIN ?? join(repo, 'build', 'linux', 'bin');
const shots = join(repo, 'build', 'e2e-screenshots');

const { skip: noProgram, browser } = useRealProgram(binDir, shots);

// The installed packages as dpkg lists them: [package, version].
function dpkgPackages() {
    try {
        return execFileSync('dpkg-query', ['-W', '-f', '${binary:Package}\t${Version}\t${db:Status-Abbrev}\n'], { encoding: 'utf8' })
            .split('\n').filter((line) => line.split('\t')[2]?.startsWith('ii')).map((line) => line.split('\t').slice(0, 2));
    } catch {
        return null;
    }
}

const packages = dpkgPackages();
const skip = noProgram || (!existsSync(join(binDir, 'bcu', 'BCU-console')) && 'the export tool is not built')
    || (!packages?.length && 'no dpkg packages on this machine');

test('the view lists this machine\'s dpkg packages with their versions, largest first', { skip, timeout: 120000 }, async (t) => {
    const { page, problems, close } = await launchApp({
        t, browser: browser(), binDir, tree: {}, rules: () => ({ groups: [], programs: [] }),
    });
    await page.click('#tab-installed');
    await page.waitForSelector('.installed-program', { timeout: 60000 });
    const rows = await page.$$eval('.installed-program[data-source="dpkg"]', (list) => list.map((row) => [
        row.dataset.id, row.querySelector('.program-meta')?.textContent ?? '']));
    const shown = new Map(rows);
    assert.equal(shown.size, packages.length, 'one row per installed package');
    for (const [name, version] of packages) {
        assert.ok(shown.has(name), `${name} is listed`);
        assert.ok(shown.get(name).startsWith(`Version ${version}`), `${name}: ${shown.get(name)}`);
    }
    assert.match(await page.textContent('#installed-summary'), new RegExp(`^${packages.length.toLocaleString('en')} programs, `));
    await page.screenshot({ path: join(shots, 'app-installed.png') });

    // Largest first: the sizes the page shows never grow down the list.
    const units = { B: 1, KiB: 2 ** 10, MiB: 2 ** 20, GiB: 2 ** 30 };
    const sizes = await page.$$eval('.installed-program .program-size', (list) => list.map((size) => size.textContent));
    const bytes = sizes.filter((text) => /^[\d.,]+ \w+$/.test(text)).map((text) => {
        const [amount, unit] = text.split(' ');
        return Number(amount.replace(/,/g, '')) * units[unit];
    });
    assert.ok(bytes.length > 0);
    for (let i = 1; i < bytes.length; ++i)
        assert.ok(bytes[i] <= bytes[i - 1] * 1.01, `${sizes[i]} after ${sizes[i - 1]}`);
    assert.deepEqual(problems, []);
    await close();
});
