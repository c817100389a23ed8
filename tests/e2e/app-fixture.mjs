// The installed program for end-to-end runs: a throwaway folder holding the
// program, its page and a config.inf that points at a rule database of our
// own, a fixture tree of files with known sizes, and the program started
// with no browser, its home and XDG folders inside the throwaway folder.
import assert from 'node:assert/strict';
import { after, before } from 'node:test';
import { spawn } from 'node:child_process';
import { cpSync, existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { chromium } from 'playwright-core';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';

// A folder with the program's files copied from binDir.
export function installProgram(binDir, files) {
    const folder = mkdtempSync(join(tmpdir(), 'clean-app-'));
    for (const name of files)
        cpSync(join(binDir, name), join(folder, name), { recursive: true });
    return folder;
}

// files: { 'relative/path': size in bytes }. Contents are filler; only sizes
// matter to the engine.
export function writeTree(root, files) {
    for (const [relative, size] of Object.entries(files)) {
        const path = join(root, relative);
        mkdirSync(dirname(path), { recursive: true });
        writeFileSync(path, Buffer.alloc(size, 0x78));
    }
}

function escapeXml(text) {
    return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
}

// The rule database:
//   groups:   [{ id, name, programs: [{ id, name }] }]
//   programs: [{ id, preselect, items: [{ groups: [ids], id, name, folder, pattern }] }]
export function rulesXml({ groups, programs }) {
    const hz = groups.map((group) => `  <g cb="${group.id}" aw="${escapeXml(group.name)}"><gd>`
        + group.programs.map((program) => `<p ka="${program.id}" sv="${escapeXml(program.name)}"/>`).join('')
        + '</gd></g>').join('\n');
    const op = programs.map((program) => `  <d gp="${program.id}"${program.preselect ? ' lq="1"' : ''}><dx>`
        + program.items.map((item) => `<fa ar="${item.groups.join(';')}" hd="${item.id}" sv="${escapeXml(item.name)}">`
            + `<vg uk="${escapeXml(item.folder)}"${item.pattern ? ` od="${escapeXml(item.pattern)}"` : ''}/></fa>`).join('')
        + '</dx></d>').join('\n');
    return `<wu><hz>\n${hz}\n</hz><op>\n${op}\n</op></wu>\n`;
}

// config.inf beside the program: the rule database by path, plain data, no
// single-instance lock (tests run side by side), and the window settings a
// first run writes (without `host` the program serves no page).
export function writeConfig(folder, rulesPath, other = {}) {
    const sections = {
        other: { trashdatPath: rulesPath, encryption: 0, singleApp: 0, ...other },
        window: { width: 980, height: 720, center: 1, borderless: 1, host: 'http://127.0.0.1', z: 1,
            windowClass: 'cleanWin', caption: '-1,0,-1,60' },
    };
    const text = Object.entries(sections).map(([name, keys]) =>
        `[${name}]\r\n${Object.entries(keys).map(([key, value]) => `${key} = ${value}\r\n`).join('')}`).join('');
    writeFileSync(join(folder, 'config.inf'), text);
}

// HOME, the XDG folders (the recycle bin is $XDG_DATA_HOME/Trash) and the
// runtime folder of the program's process, all inside `folder`.
export function privateEnvironment(folder) {
    const home = join(folder, 'home');
    const env = {
        HOME: home,
        XDG_DATA_HOME: join(home, '.local', 'share'),
        XDG_CONFIG_HOME: join(home, '.config'),
        XDG_CACHE_HOME: join(home, '.cache'),
        XDG_RUNTIME_DIR: join(home, 'run'),
    };
    for (const path of Object.values(env))
        mkdirSync(path, { recursive: true, mode: 0o700 });
    return env;
}

// Script errors and console errors of `page`, as they come; each test
// checks that there were none it did not expect.
export function collectProblems(page) {
    const problems = [];
    page.on('pageerror', (error) => problems.push(error.message));
    page.on('console', (message) => {
        if (message.type() === 'error')
            problems.push(message.text());
    });
    return problems;
}

// Starts `command` and resolves once it has printed the page's address.
// Returns { child, address, exited (a promise of the exit code), output }.
export function startPrinting(command, args, options) {
    const child = spawn(command, args, { ...options, stdio: ['ignore', 'pipe', 'pipe'] });
    const run = { child, output: '' };
    run.exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve(code ?? signal)));
    child.stderr.on('data', (chunk) => { run.output += chunk; });
    return new Promise((resolve, reject) => {
        let text = '';
        child.stdout.on('data', (chunk) => {
            text += chunk;
            run.output += chunk;
            const match = text.match(/^webview: (\S+)\r?$/m);
            if (match && !run.address) {
                run.address = match[1];
                resolve(run);
            }
        });
        child.on('error', reject);
        run.exited.then((code) => reject(new Error(`${command} exited with ${code} before printing its address:\n${run.output}`)));
    });
}

// Waits for the exit code, or gives up after `ms` and says so.
export async function exitWithin(run, ms) {
    let timer;
    const code = await Promise.race([run.exited,
        new Promise((resolve) => { timer = setTimeout(() => resolve('still running'), ms); })]);
    clearTimeout(timer);
    return code;
}

// Installs and starts the program with `tree` under <folder>/tree and the
// rules made by rules(root), and opens its page in `browser` on the start
// screen. `config` adds keys to config.inf's [other] section; `files` (name
// → path in the source tree) are copied beside the program first.
export async function launchApp({ t, browser, binDir, tree, rules, config = {}, files = {} }) {
    const folder = installProgram(binDir, ['Clean', 'libFendrel.so', 'libminiblink.so', 'html', 'bcu']);
    const root = join(folder, 'tree');
    writeTree(root, tree);
    for (const [name, source] of Object.entries(files))
        cpSync(source, join(folder, name));
    writeFileSync(join(folder, 'rules.xml'), rulesXml(rules(root)));
    writeConfig(folder, join(folder, 'rules.xml'), config);
    const env = { ...process.env, ...privateEnvironment(folder), CLEAN_NO_BROWSER: '1',
        LANG: 'en_US.UTF-8', LC_ALL: 'en_US.UTF-8', LC_MESSAGES: 'en_US.UTF-8' };
    const run = await startPrinting(join(folder, 'Clean'), [], { cwd: folder, env });
    t.after(() => {
        run.child.kill('SIGKILL');
        rmSync(folder, { recursive: true, force: true });
    });
    const context = await browser.newContext({
        viewport: { width: 980, height: 720 }, reducedMotion: 'reduce', colorScheme: 'light', locale: 'en-US' });
    const page = await context.newPage();
    const problems = collectProblems(page);
    await page.goto(run.address);
    await page.waitForSelector('#main .screen.home');
    // Closing the page's window ends the program, and it ends well.
    async function close() {
        await context.close();
        const code = await exitWithin(run, 30000);
        assert.equal(code, 0, `the program's exit code; its output:\n${run.output}`);
    }
    return { folder, root, run, page, problems, close };
}

// One browser for a test file of the real program, and why its tests skip
// (no build, no Chromium): { skip, browser() }.
export function useRealProgram(binDir, shots) {
    const browserPath = process.env.CHROMIUM_PATH ?? '/usr/bin/chromium';
    const skip = !existsSync(join(binDir, 'Clean')) ? `${join(binDir, 'Clean')} is not built`
        : !existsSync(browserPath) ? `no Chromium at ${browserPath}` : false;
    let browser;
    before(async () => {
        if (skip)
            return;
        browser = await chromium.launch({ executablePath: browserPath, args: ['--no-sandbox'] });
        mkdirSync(shots, { recursive: true });
    });
    after(async () => {
        await browser?.close();
    });
    return { skip, browser: () => browser };
}
