// Pictures of Chromium's real toolbar with the bird on each demo site, and of the bird's menu
// open under it, on the X display of the caller (./run demo starts Xvfb):
//   node pictures.mjs --perchlight TOOL --extension DIR --source DIR --work DIR --out DIR
// The screen is grabbed with xwd, as the user would see it. Exits 77 when something needed is
// missing.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { launch } from './browsers.mjs';
import { SKIPPED, identity, loadPuppeteer, makeHome, parseArguments, serveDemo, tool }
    from './harness.mjs';

const options = parseArguments(process.argv.slice(2));
const puppeteer = await loadPuppeteer();
if (puppeteer === null || !process.env.DISPLAY) {
    console.error('pictures: puppeteer-core (npm ci) or an X display is missing');
    process.exit(SKIPPED);
}

function grab(file) {
    const xwd = execFileSync('xwd', ['-root', '-silent'], { maxBuffer: 64 << 20 });
    const pnm = execFileSync('xwdtopnm', [], { input: xwd, maxBuffer: 64 << 20, stdio: ['pipe', 'pipe', 'ignore'] });
    fs.writeFileSync(file, execFileSync('pnmtopng', [], { input: pnm, maxBuffer: 64 << 20, stdio: ['pipe', 'pipe', 'ignore'] }));
    console.log(`  ${file}`);
}

function settle(ms) {
    return new Promise((resolve) => setTimeout(resolve, ms));
}

const ids = identity(options.source);
const home = makeHome(options.work, options.perchlight);
tool(options.perchlight, home.env, 'level', 'medium');
tool(options.perchlight, home.env, 'register', '--browser', 'chromium');
const demo = await serveDemo(options.perchlight, home.env);
fs.mkdirSync(options.out, { recursive: true });
const sites = JSON.parse(fs.readFileSync(path.join(options.source, 'examples', 'sites', 'demo.json'),
    'utf8')).sites.filter((site) => !site.post);
let session = null;
try {
    session = await launch(puppeteer, 'chromium', { extension: options.extension, ids,
        env: home.env, headless: false });
    // The tab before is closed once the next is open, so that the window stays.
    let previous = (await session.browser.pages())[0];
    for (const site of sites) {
        const page = await session.open(demo.sites[site.name]);
        await previous?.close().catch(() => {});
        previous = page;
        await page.bringToFront();
        const tab = await session.worker.evaluate(async () =>
            (await chrome.tabs.query({ active: true, currentWindow: true }))[0].id);
        // The bird is drawn once the check has answered and the title names the verdict.
        await session.worker.evaluate((id) => new Promise((resolve) => {
            const check = async () => {
                const title = await chrome.action.getTitle({ tabId: id });
                if (title !== 'Perchlight is checking this page...' && title !== 'Perchlight') {
                    resolve();
                } else {
                    setTimeout(check, 100);
                }
            };
            check();
        }), tab);
        // The toolbar repaints the icon a moment after the extension set it, and nothing tells
        // when: the picture waits a second.
        await settle(1000);
        grab(path.join(options.out, `chromium-${site.name}.png`));
        if (site.name === 'conflicting') {
            // The bird's menu, opened from the toolbar as a click would.
            await session.worker.evaluate(() => chrome.action.openPopup());
            const popup = await session.browser.waitForTarget((target) =>
                target.url().startsWith(`${session.origin}popup.html`));
            const popupPage = await popup.asPage();
            await popupPage.waitForFunction(() => document.body.dataset.verdict !== '' &&
                document.body.dataset.busy === 'false', { polling: 100 });
            await settle(1000);  // the popup fades in
            grab(path.join(options.out, 'chromium-popup.png'));
            await popupPage.close().catch(() => {});
        }
    }
    await session.close();
    session = null;

    // Firefox's menu for the same site, as the popup page draws it.
    tool(options.perchlight, home.env, 'register', '--browser', 'firefox');
    session = await launch(puppeteer, 'firefox', { extension: options.extension, ids,
        env: home.env });
    await session.open(demo.sites.conflicting);
    const menu = await session.openOwn('popup.html');
    await menu.setViewport({ width: 300, height: 560 });
    await menu.waitForFunction(() => document.body.dataset.verdict !== '' &&
        document.body.dataset.busy === 'false', { polling: 100 });
    const file = path.join(options.out, 'firefox-popup.png');
    await menu.screenshot({ path: file });
    console.log(`  ${file}`);
} finally {
    await session?.close().catch(() => {});
    demo.stop();
}
