// The page in headless Chromium with the stand-in program of mock-host.js:
// html/ served as the web view serves it (with its Content-Security-Policy),
// one browser for a test file, a fresh context per page.
//   const { open, snap, hostCalls } = usePage();
import { after, before } from 'node:test';
import assert from 'node:assert/strict';
import { createServer } from 'node:http';
import { mkdirSync, readFileSync } from 'node:fs';
import { extname, join, normalize, sep } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { collectProblems } from './app-fixture.mjs';

const root = fileURLToPath(new URL('../../', import.meta.url));
const htmlDir = join(root, 'html');
const mockPath = fileURLToPath(new URL('mock-host.js', import.meta.url));
const shots = join(root, 'build', 'e2e-screenshots');
const browserPath = process.env.CHROMIUM_PATH ?? '/usr/bin/chromium';

// Registers the server and browser with the test file's hooks.
export function usePage() {
    // The policy the web view sends with the page, read from its source.
    function contentSecurityPolicy() {
        const source = readFileSync(join(root, 'webview', 'view.cpp'), 'utf8');
        const literal = source.match(/kContentSecurityPolicy\[\] =\s*((?:"[^"]*"\s*)+);/);
        assert.ok(literal, 'the web view declares its Content-Security-Policy');
        return [...literal[1].matchAll(/"([^"]*)"/g)].map((part) => part[1]).join('');
    }

    const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
        '.css': 'text/css; charset=utf-8', '.svg': 'image/svg+xml', '.png': 'image/png' };

    let server;
    let base;
    let browser;

    before(async () => {
        const policy = contentSecurityPolicy();
        server = createServer((request, response) => {
            const path = decodeURIComponent(new URL(request.url, 'http://x').pathname);
            const file = normalize(join(htmlDir, path === '/' ? 'index.html' : path));
            let body;
            try {
                if (!file.startsWith(htmlDir + sep))
                    throw new Error('outside the page');
                body = readFileSync(file);
            } catch {
                response.writeHead(404).end();
                return;
            }
            const type = types[extname(file)] ?? 'application/octet-stream';
            const headers = { 'Content-Type': type };
            if (type.startsWith('text/html'))
                headers['Content-Security-Policy'] = policy;
            response.writeHead(200, headers).end(body);
        });
        await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
        base = `http://127.0.0.1:${server.address().port}`;
        browser = await chromium.launch({ executablePath: browserPath, args: ['--no-sandbox'] });
        mkdirSync(shots, { recursive: true });
    });

    after(async () => {
        await browser?.close();
        await new Promise((resolve) => server?.close(resolve));
    });

    // A fresh page with the stand-in program. Uncaught errors and refused
    // loads are collected; each test checks that there were none it did not expect.
    async function open(config = {}, options = {}) {
        const context = await browser.newContext({
            viewport: { width: 980, height: 720 }, reducedMotion: 'reduce', colorScheme: 'light', ...options });
        const page = await context.newPage();
        const problems = collectProblems(page);
        page.on('requestfailed', (request) => problems.push(`failed: ${request.url()}`));
        await page.addInitScript((mockConfig) => { window.__mockConfig = mockConfig; }, config);
        await page.addInitScript({ path: mockPath });
        await page.goto(`${base}/index.html`);
        await page.waitForSelector('#main .screen');
        return { page, problems, close: () => context.close() };
    }

    function snap(page, name) {
        return page.screenshot({ path: join(shots, `${name}.png`), fullPage: false });
    }

    function hostCalls(page, name) {
        return page.evaluate((wanted) => window.__mock.calls.filter((call) => call.name === wanted).map((call) => call.args), name);
    }
    return { open, snap, hostCalls };
}
