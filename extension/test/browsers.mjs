// Chromium and Firefox ESR with the extension loaded, behind one small interface: open a web
// page, open one of the extension's pages, close. Both run with HOME inside the test's work
// folder, where `perchlight register --browser` put the host manifest (Chromium's user data
// folder is ~/.config/chromium there, so it reads NativeMessagingHosts from the same place).
import fs from 'node:fs';
import path from 'node:path';

// Firefox gives an add-on a random origin unless this preference names one.
const FIREFOX_UUID = '3f1c0b6e-8f0a-4c55-9d59-5e1d2a7b9c40';

// profile: Chromium's user data folder (default ~/.config/chromium of env's HOME). systemAccess:
// let WebDriver BiDi open the extension's pages in Firefox (tests only: it is a privilege of
// whoever reaches the browser's remote port).
export async function launch(puppeteer, name, { extension, ids, env, headless = true, profile,
    systemAccess = true }) {
    if (name === 'chromium') {
        return launchChromium(puppeteer, extension, ids, env, headless,
            profile ?? path.join(env.HOME, '.config', 'chromium'));
    }
    return launchFirefox(puppeteer, extension, ids, env, headless, systemAccess);
}

async function launchChromium(puppeteer, extension, ids, env, headless, userDataDir) {
    // The action pinned, so that a picture of the toolbar shows the bird.
    fs.mkdirSync(path.join(userDataDir, 'Default'), { recursive: true });
    fs.writeFileSync(path.join(userDataDir, 'Default', 'Preferences'),
        JSON.stringify({ extensions: { pinned_extensions: [ids.chromium.id] } }));
    const browser = await puppeteer.launch({
        executablePath: '/usr/bin/chromium', headless, pipe: true, userDataDir, env,
        enableExtensions: [extension],
        // No "controlled by automated test software" bar over the pages.
        ignoreDefaultArgs: ['--enable-automation'],
        args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
            '--window-size=1000,700'],
        defaultViewport: null,
    });
    // The start page may come before the extension: wait for its service worker first.
    const worker = await (await browser.waitForTarget((target) => target.type() === 'service_worker' &&
        target.url().startsWith(`chrome-extension://${ids.chromium.id}/`))).worker();
    const origin = `chrome-extension://${ids.chromium.id}/`;
    return {
        name: 'chromium', browser, origin, worker,
        async open(url) {
            const page = await browser.newPage();
            await page.goto(url);
            return page;
        },
        openOwn(file) {
            return this.open(origin + file);
        },
        // The toolbar's title of a tab, read from the extension itself.
        title(tabId) {
            return worker.evaluate((tab) => chrome.action.getTitle({ tabId: tab }), tabId);
        },
        close: () => browser.close(),
    };
}

// Whether page shows url, loaded, before the deadline. A wait cut short by the navigation
// replacing the document starts again in the new one.
async function arrived(page, url, deadline) {
    while (Date.now() < deadline) {
        try {
            await page.waitForFunction((expected) => location.href === expected &&
                document.readyState === 'complete', { polling: 100,
                timeout: Math.max(deadline - Date.now(), 1) }, url);
            return true;
        } catch (error) {
            if (error.name === 'TimeoutError') {
                return false;
            }
            await new Promise((resolve) => setTimeout(resolve, 100));
        }
    }
    return false;
}

async function launchFirefox(puppeteer, extension, ids, env, headless, systemAccess) {
    const browser = await puppeteer.launch({
        browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless, env,
        // WebDriver BiDi opens moz-extension pages only with system access.
        args: systemAccess ? ['--remote-allow-system-access'] : [],
        extraPrefsFirefox: {
            'extensions.webextensions.uuids': JSON.stringify({ [ids.gecko.id]: FIREFOX_UUID }),
            'xpinstall.signatures.required': false,
        },
        defaultViewport: null,
    });
    await browser.installExtension(extension);
    const origin = `moz-extension://${FIREFOX_UUID}/`;
    return {
        name: 'firefox', browser, origin, worker: null,
        async open(url) {
            const page = await browser.newPage();
            await page.goto(url);
            return page;
        },
        // BiDi never reports an extension page's navigation as finished: wait for the page
        // itself instead. Now and then the new tab's document cannot be evaluated at all
        // ("right-hand side of 'in' should be an object"): that tab is closed and another opened.
        async openOwn(file) {
            const url = origin + file;
            for (let attempt = 1; ; ++attempt) {
                const page = await browser.newPage();
                page.goto(url, { timeout: 0 }).catch(() => {});
                if (await arrived(page, url, Date.now() + 10000)) {
                    return page;
                }
                await page.close().catch(() => {});
                if (attempt === 3) {
                    throw new Error(`${url} did not open`);
                }
            }
        },
        title: null,
        close: () => browser.close(),
    };
}
