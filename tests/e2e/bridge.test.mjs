// The web-view bridge in a real browser: synchronous calls from the page,
// callbacks pushed to it, globals set by the host, a refused request, and
// the host ending when the page's window closes.
//   cd tests/e2e && node --test     (WEBVIEW_PAGEHOST=... for another build)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { startPrinting } from './app-fixture.mjs';

const hostPath = process.env.WEBVIEW_PAGEHOST
    ?? fileURLToPath(new URL('../../build/linux/bin/webview_pagehost', import.meta.url));
const browserPath = process.env.CHROMIUM_PATH ?? '/usr/bin/chromium';

test('the page calls native functions and receives the host\'s calls', { timeout: 60000 }, async () => {
    const host = await startPrinting(hostPath, [], { env: { ...process.env, CLEAN_NO_BROWSER: '1' } });
    const url = host.address;
    // Root has no sandbox of its own.
    const browser = await chromium.launch({ executablePath: browserPath, args: ['--no-sandbox'] });
    try {
        const page = await browser.newPage();
        await page.goto(url);
        assert.match(page.url(), /\/index\.html$/);  // the token is gone from the address

        await page.waitForFunction(() => document.getElementById('sum').textContent !== '');
        assert.equal(await page.textContent('#sum'), 'sum=5 {"a":[1,"x"],"b":null}');

        await page.waitForFunction(() => window.handle === 42);

        await page.click('#ping-button');
        await page.waitForFunction(() => document.getElementById('ping').textContent !== '');
        assert.equal(await page.textContent('#ping'), 'pong:1,2,3');

        // Without the runtime's header a same-origin request is still refused.
        const status = await page.evaluate(() =>
            fetch('/__wke/call', { method: 'POST', body: '{}' }).then((response) => response.status));
        assert.equal(status, 403);
        // The session cookie is out of the page script's reach.
        assert.equal(await page.evaluate(() => document.cookie), '');
    } finally {
        await browser.close();
    }
    // Closing the page's window ends the host a few seconds later.
    assert.equal(await host.exited, 0);
});
