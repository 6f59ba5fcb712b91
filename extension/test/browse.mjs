// ./run chromium [URL] and ./run firefox [URL]: the Debian browser on the display with a private
// profile, the extension loaded and the host registered, on URL or on the demo sites (one tab
// each, served until the browser is closed). The host uses the user's own settings.
//   node browse.mjs --browser chromium|firefox --perchlight TOOL --extension DIR --source DIR
//                   [--url URL]
import fs from 'node:fs';
import path from 'node:path';
import { launch } from './browsers.mjs';
import { SKIPPED, identity, loadPuppeteer, parseArguments, serveDemo, temporaryName, tool }
    from './harness.mjs';

const options = parseArguments(process.argv.slice(2));
const puppeteer = await loadPuppeteer();
if (puppeteer === null) {
    console.error('browse: puppeteer-core is not installed (npm ci)');
    process.exit(SKIPPED);
}
const ids = identity(options.source);
const env = { ...process.env };
const profile = temporaryName('perchlight-chromium-');
if (options.browser === 'chromium') {
    // Chromium reads the host manifests of a profile of its own from the profile's folder.
    tool(options.perchlight, env, 'register', '--browser', 'chromium', '--folder',
        path.join(profile, 'NativeMessagingHosts'));
} else {
    tool(options.perchlight, env, 'register', '--browser', 'firefox');
}
const demo = options.url ? null : await serveDemo(options.perchlight, env);
let session = null;
try {
    session = await launch(puppeteer, options.browser, { extension: options.extension, ids, env,
        headless: false, profile, systemAccess: false });
    const closed = new Promise((resolve) => session.browser.once('disconnected', resolve));
    const first = (await session.browser.pages())[0];
    const addresses = options.url ? [options.url] : Object.values(demo.sites);
    for (const address of addresses) {
        await session.open(address).catch((error) => console.error(`browse: ${error.message}`));
    }
    await first?.close().catch(() => {});
    console.log('browse: close the browser to end');
    await closed;
} finally {
    await session?.close().catch(() => {});
    demo?.stop();
    fs.rmSync(profile, { recursive: true, force: true });
}
