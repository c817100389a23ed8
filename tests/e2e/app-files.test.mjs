// The real program's large-file and duplicate views: Clean installed in a
// throwaway folder with the shipped extension rules, a fixture tree of real
// contents, the views driven in headless Chromium, and the disk checked
// afterwards. Screens are saved as build/e2e-screenshots/app-files-*.png.
//   cd tests/e2e && node --test      (CLEAN_BIN: another build's bin folder)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, mkdirSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { randomBytes } from 'node:crypto';
import { deflateSync } from 'node:zlib';
import { launchApp, useRealProgram } from './app-fixture.mjs';

const repo = fileURLToPath(new URL('../../', import.meta.url));
const binDir = process.env.CLEAN_BIN ?? join(repo, 'build', 'linux', 'bin');
const shots = join(repo, 'build', 'e2e-screenshots');
const MiB = 1048576;

const { skip, browser } = useRealProgram(binDir, shots);

// A PNG of random colours (so it does not shrink below the search's 1 MiB).
function png(width, height) {
    const table = Array.from({ length: 256 }, (_, n) => {
        let c = n;
        for (let k = 0; k < 8; ++k)
            c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
        return c >>> 0;
    });
    const crc = (bytes) => {
        let c = 0xffffffff;
        for (const byte of bytes)
            c = table[(c ^ byte) & 0xff] ^ (c >>> 8);
        return (c ^ 0xffffffff) >>> 0;
    };
    const chunk = (type, data) => {
        const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
        const out = Buffer.alloc(body.length + 8);
        out.writeUInt32BE(data.length, 0);
        body.copy(out, 4);
        out.writeUInt32BE(crc(body), body.length + 4);
        return out;
    };
    const header = Buffer.alloc(13);
    header.writeUInt32BE(width, 0);
    header.writeUInt32BE(height, 4);
    header.set([8, 2, 0, 0, 0], 8);   // 8 bits, RGB
    const rows = [];
    for (let y = 0; y < height; ++y)
        rows.push(Buffer.from([0]), randomBytes(width * 3));
    return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', header),
        chunk('IDAT', deflateSync(Buffer.concat(rows), { level: 0 })), chunk('IEND', Buffer.alloc(0))]);
}

function write(path, bytes) {
    mkdirSync(dirname(path), { recursive: true });
    writeFileSync(path, bytes);
}

async function launch(t) {
    return launchApp({
        t, browser: browser(), binDir, tree: {},
        rules: () => ({ groups: [], programs: [] }),
        config: { extdatPath: 'extrules.xml' },
        files: { 'extrules.xml': join(repo, 'data', 'linux', 'extrules.xml') },
    });
}

// Looks in `root` only: the disks the page ticks by default are let go.
async function search(page, view, root) {
    await page.click(`#tab-${view}`);
    for (const box of await page.$$('.disk-choice input:checked'))
        await box.click();
    await page.fill(`#${view}-folder`, root);
    await page.press(`#${view}-folder`, 'Enter');
    await page.click(`#${view}-start`);
    await page.waitForSelector('.screen.files-result, .screen.files-empty', { timeout: 60000 });
}

function shown(page) {
    return page.$$eval('.categories > .category', (categories) => categories.map((category) => [
        category.querySelector('.category-row .name').textContent,
        [...category.querySelectorAll('.found-file')].map((row) => row.dataset.path)]));
}

test('large files: the fixture\'s big files per category, and deleting the ticked one', { skip, timeout: 120000 }, async (t) => {
    const { root, page, problems, close } = await launch(t);
    write(join(root, 'films', 'holiday.mp4'), randomBytes(MiB + 500000));
    write(join(root, 'images', 'disk.iso'), randomBytes(2 * MiB));
    write(join(root, 'films', 'short.mp4'), randomBytes(100000));   // under 1 MiB
    write(join(root, 'notes'), randomBytes(2 * MiB));                // no extension

    await search(page, 'large', root);
    assert.deepEqual(await shown(page), [
        ['Disk images and virtual disks', [join(root, 'images', 'disk.iso')]],
        ['Videos', [join(root, 'films', 'holiday.mp4')]],
    ]);
    // Each row with the icon of its file type from the program.
    await page.waitForFunction(() => [...document.querySelectorAll('.found-file img.file-icon')]
        .every((img) => !img.hidden && img.naturalWidth > 0));
    await page.screenshot({ path: join(shots, 'app-files-large.png') });

    await page.locator(`.found-file[data-path="${join(root, 'films', 'holiday.mp4')}"] input`).check();
    await page.click('#large-delete');
    await page.waitForSelector('dialog.confirm[open]');
    assert.equal(await page.textContent('#confirm-title'), 'Delete 1 file?');
    await page.click('#confirm-delete');
    await page.waitForSelector('.outcome');
    assert.equal(existsSync(join(root, 'films', 'holiday.mp4')), false);
    assert.equal(existsSync(join(root, 'images', 'disk.iso')), true);
    assert.deepEqual(await shown(page), [['Disk images and virtual disks', [join(root, 'images', 'disk.iso')]]]);
    assert.deepEqual(problems, []);
    await close();
});

test('duplicates: only identical files are grouped, and one copy always stays', { skip, timeout: 120000 }, async (t) => {
    const { root, page, problems, close } = await launch(t);
    const same = randomBytes(MiB + 300000);
    for (const name of ['a/one.mp4', 'b/two.mp4', 'c/three.mp4'])
        write(join(root, name), same);
    // Same size and the same first 128 KiB, another last byte: no copy.
    const trap = Buffer.from(same);
    trap[trap.length - 1] ^= 1;
    write(join(root, 'd', 'trap.mp4'), trap);

    await search(page, 'dupes', root);
    const groups = await page.$$eval('.dup-group', (list) => list.map((group) =>
        [...group.querySelectorAll('.found-file')].map((row) => row.dataset.path).sort()));
    assert.deepEqual(groups, [['a/one.mp4', 'b/two.mp4', 'c/three.mp4'].map((name) => join(root, name))]);

    // Every copy but one ticked: the one left cannot be ticked too.
    await page.click('#keep-first-all');
    const boxes = await page.$$eval('.dup-group .found-file input', (inputs) =>
        inputs.map((input) => (input.checked ? 'ticked' : input.disabled ? 'stays' : 'free')));
    assert.deepEqual(boxes.slice().sort(), ['stays', 'ticked', 'ticked']);
    await page.screenshot({ path: join(shots, 'app-files-dupes.png') });

    await page.click('#dupes-delete');
    await page.waitForSelector('dialog.confirm[open]');
    await page.click('#confirm-delete');
    await page.waitForSelector('.screen.files-empty, .outcome');
    const left = ['a/one.mp4', 'b/two.mp4', 'c/three.mp4'].filter((name) => existsSync(join(root, name)));
    assert.equal(left.length, 1, `one copy stays: ${left}`);
    assert.equal(existsSync(join(root, 'd', 'trap.mp4')), true);
    assert.deepEqual(problems, []);
    await close();
});

test('icons of the file types beside found files, and a picture previewed in a window of its own', { skip, timeout: 120000 }, async (t) => {
    const { root, run, page, problems, close } = await launch(t);
    const video = randomBytes(MiB + 1000);
    write(join(root, 'a', 'clip.mp4'), video);
    write(join(root, 'b', 'clip.mp4'), video);
    const picture = png(1000, 400);
    write(join(root, 'a', 'wide.png'), picture);
    write(join(root, 'b', 'wide.png'), picture);

    await search(page, 'dupes', root);
    // The theme's icon for a video, once the program has answered.
    await page.waitForFunction(() => [...document.querySelectorAll('.found-file')]
        .filter((row) => row.dataset.path.endsWith('.mp4'))
        .every((row) => { const img = row.querySelector('img.file-icon'); return !img.hidden && img.naturalWidth > 0; }));
    assert.equal(await page.locator('.found-file .preview').count(), 2);   // the two pictures
    await page.screenshot({ path: join(shots, 'app-files-icons.png') });

    // The program opens its preview as a page of its own and says where.
    const before = run.output.match(/^webview: \S+/gm).length;
    await page.locator(`.found-file[data-path="${join(root, 'a', 'wide.png')}"] .preview`).click();
    const deadline = Date.now() + 20000;
    while (run.output.match(/^webview: \S+/gm).length === before && Date.now() < deadline)
        await new Promise((resolve) => setTimeout(resolve, 100));
    const address = run.output.match(/^webview: (\S+)/gm).at(-1).slice('webview: '.length);
    assert.notEqual(run.output.match(/^webview: \S+/gm).length, before, `no preview address in:\n${run.output}`);
    assert.equal(await page.isVisible('.notice.passing'), false);
    const preview = await page.context().newPage();
    await preview.goto(address);
    const img = preview.locator('img');
    await img.waitFor();
    await preview.waitForFunction(() => document.querySelector('img')?.complete && document.querySelector('img').naturalWidth > 0);
    // Shown at most 500 pixels wide or high, in its own proportions.
    assert.deepEqual(await img.evaluate((element) => [element.naturalWidth, element.naturalHeight,
        Math.round(element.getBoundingClientRect().width), Math.round(element.getBoundingClientRect().height)]),
    [1000, 400, 500, 200]);
    await preview.screenshot({ path: join(shots, 'app-files-preview.png') });
    await preview.close();
    assert.deepEqual(problems, []);
    await close();
});
