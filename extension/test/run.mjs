// The extension end to end in a real browser, headless, on loopback sites:
//   node run.mjs --browser chromium|firefox --perchlight TOOL --extension DIR --source DIR --work DIR
// Exits 77 (skipped) when puppeteer-core or the browser is missing.
import fs from 'node:fs';
import path from 'node:path';
import assert from 'node:assert/strict';
import { launch } from './browsers.mjs';
import { SKIPPED, checkVerdict, identity, loadPuppeteer, makeHome, parseArguments, serveDemo, serveSite, tool }
    from './harness.mjs';

const options = parseArguments(process.argv.slice(2));
const browserName = options.browser;
const executable = browserName === 'chromium' ? '/usr/bin/chromium' : '/usr/bin/firefox-esr';
const puppeteer = await loadPuppeteer();
if (puppeteer === null || !fs.existsSync(executable)) {
    console.log(`skipped: ${puppeteer === null ? 'puppeteer-core is not installed (npm ci)' : `no ${executable}`}`);
    process.exit(SKIPPED);
}

const ICONS = { matched: 'matched', unmatched: 'unmatched', 'partly matched': 'partly-matched',
    unknown: 'unknown' };
const DEMO = JSON.parse(fs.readFileSync(path.join(options.source, 'examples', 'sites', 'demo.json'),
    'utf8'));
const ids = identity(options.source);
const home = makeHome(options.work, options.perchlight);
tool(options.perchlight, home.env, 'level', 'medium');
tool(options.perchlight, home.env, 'register', '--browser', browserName);

// The bird as an extension page shows it: the popup opened in a tab of its own, about the tab
// the user looked at last (or ?tab=ID).
async function birdOf(session, query = '') {
    return session.openOwn(`popup.html${query}`);
}

async function waitForVerdict(popup, verdict) {
    await popup.waitForFunction((expected) => document.body.dataset.verdict === expected &&
        document.body.dataset.busy === 'false', { polling: 100 }, verdict).catch(async (error) => {
        const shown = await popup.evaluate(() => document.body.outerHTML).catch((e) => e.message);
        throw new Error(`no ${verdict} bird: ${error.message}\n${shown}`);
    });
    return popup.evaluate(() => ({
        title: document.getElementById('title').textContent,
        bird: document.getElementById('bird').getAttribute('src') ?? '',
        tab: Number(document.body.dataset.tab),
    }));
}

async function expectBird(session, url, verdict) {
    const page = await session.open(url);
    const popup = await birdOf(session);
    const shown = await waitForVerdict(popup, verdict);
    assert.equal(shown.bird, `icons/bird-${ICONS[verdict]}-32.png`, `${url}: picture`);
    assert.notEqual(shown.title, '', `${url}: title`);
    if (session.title) {
        assert.equal(await session.title(shown.tab), shown.title, `${url}: toolbar title`);
    }
    await popup.close();
    return { page, shown };
}

const conflicting = path.join(options.source, 'examples', 'sites', 'conflicting', 'w3c');
const bookshop = fs.readFileSync(path.join(options.source, 'data', 'examples', 'bookshop.xml'),
    'utf8').replace('Example Books Ltd.',
    'Example &lt;b id="markup"&gt;Books&lt;/b&gt;&lt;script&gt;document.title="ran"&lt;/script&gt;');

const cases = {
    // Every demo site gives its expected verdict, picture and title, the verdict of
    // `perchlight check` too.
    async DemoSites_ExpectedBird(session, demo) {
        for (const site of DEMO.sites.filter((s) => !s.post)) {
            assert.equal(checkVerdict(options.perchlight, home.env, demo.sites[site.name]),
                site.expected, `perchlight check ${site.name} (${demo.sites[site.name]})`);
            const { page } = await expectBird(session, demo.sites[site.name], site.expected);
            await page.close();
        }
    },

    // A POST to a site whose policy conflicts: the warning comes; No sends nothing, Yes sends the
    // same submission, button and body intact.
    async FormWarning_NoThenYes(session) {
        const site = await serveSite({
            '/form.html': { body: '<!DOCTYPE html><title>Form</title><form method="post" action="/submit">' +
                '<input name="a" value="x y&amp;z"><textarea name="b">line1\r\nline2 é</textarea>' +
                '<button id="send" name="btn" value="clicked">Send</button></form>' },
            '/submit': { body: '<!DOCTYPE html><title>Sent</title><p>sent</p>' },
            '/w3c/p3p.xml': { type: 'text/xml', body: fs.readFileSync(path.join(conflicting, 'p3p.xml')) },
            '/w3c/policy.xml': { type: 'text/xml', body: fs.readFileSync(path.join(conflicting, 'policy.xml')) },
        });
        try {
            const page = await session.open(`${site.base}/form.html`);
            await page.click('#send');
            await page.waitForSelector('perchlight-form-warning');
            await page.keyboard.press('Enter');  // No, the default
            await page.waitForSelector('perchlight-form-warning', { hidden: true });
            await page.click('#send');
            await page.waitForSelector('perchlight-form-warning');
            const navigation = page.waitForNavigation();
            await page.keyboard.down('Shift');
            await page.keyboard.press('Tab');  // to Yes
            await page.keyboard.up('Shift');
            await page.keyboard.press('Enter');
            await navigation;
            const posted = await site.until((entry) => entry.method === 'POST');
            assert.equal(posted.body, 'a=x+y%26z&b=line1%0D%0Aline2+%C3%A9&btn=clicked');
            assert.equal(site.log.filter((entry) => entry.method === 'POST').length, 1,
                'No sent the form');
            await page.close();
        } finally {
            await site.close();
        }
    },

    // A site's markup in its policy reaches the summary page as text, and nothing of it runs.
    async SummaryPage_SiteMarkupIsText(session) {
        const site = await serveSite({
            '/index.html': { body: '<!DOCTYPE html><title>Bookshop</title><p>books</p>' },
            '/w3c/p3p.xml': { type: 'text/xml', body: '<META xmlns="http://www.w3.org/2002/01/P3Pv1">' +
                '<POLICY-REFERENCES><POLICY-REF about="/w3c/policy.xml#bookshop"><INCLUDE>/*</INCLUDE>' +
                '</POLICY-REF></POLICY-REFERENCES></META>' },
            '/w3c/policy.xml': { type: 'text/xml', body: bookshop },
        });
        try {
            const { page, shown } = await expectBird(session, `${site.base}/index.html`, 'matched');
            const summary = await session.openOwn(`summary.html?tab=${shown.tab}`);
            await summary.waitForFunction(() => document.getElementById('summary').srcdoc !== '',
                { polling: 100 });
            const frame = await summary.evaluate(() => {
                const element = document.getElementById('summary');
                return { srcdoc: element.srcdoc, sandbox: element.getAttribute('sandbox') };
            });
            assert.equal(frame.sandbox, '', 'the summary frame may run script');
            assert.match(frame.srcdoc, /&lt;b id=(&quot;|")markup/);
            assert.doesNotMatch(frame.srcdoc, /<script>document\.title/);
            assert.doesNotMatch(frame.srcdoc, /<b id="markup">/);
            await summary.close();

            // `perchlight level high` holds for the next check in the browser.
            tool(options.perchlight, home.env, 'level', 'high');
            try {
                await page.reload();
                const popup = await birdOf(session, `?tab=${shown.tab}`);
                await waitForVerdict(popup, 'unmatched');
                await popup.close();
            } finally {
                tool(options.perchlight, home.env, 'level', 'medium');
            }
            await page.close();
        } finally {
            await site.close();
        }
    },

    // The compact policy of the page's response, as the browser saw it, shows in the popup as
    // text, with the host's judgement; the verdict stays the full policy's.
    async Popup_CompactPolicyOfThePage(session) {
        const matching = path.join(options.source, 'examples', 'sites', 'matching', 'w3c');
        const site = await serveSite({
            '/index.html': { body: '<!DOCTYPE html><title>Compact</title><p>compact</p>',
                headers: { P3P: 'CP="NOI CURa OUR STP NAV <b id=markup>"' } },
            '/w3c/p3p.xml': { type: 'text/xml', body: fs.readFileSync(path.join(matching, 'p3p.xml')) },
            '/w3c/policy.xml': { type: 'text/xml', body: fs.readFileSync(path.join(matching, 'policy.xml')) },
        });
        try {
            const { page, shown } = await expectBird(session, `${site.base}/index.html`, 'matched');
            const popup = await birdOf(session, `?tab=${shown.tab}`);
            await waitForVerdict(popup, 'matched');
            // Firefox may hand over the page's headers after its commit, and then checks again.
            await popup.waitForFunction(() => !document.getElementById('compact').hidden,
                { polling: 100, timeout: 10000 }).catch(() => {});
            const compact = await popup.evaluate(() => {
                const element = document.getElementById('compact');
                return { text: element.textContent, hidden: element.hidden,
                    markup: element.querySelector('b') !== null };
            });
            assert.equal(compact.hidden, false, 'the compact policy line is shown');
            assert.match(compact.text, /^Compact policy "NOI CURa OUR STP NAV <b id=markup>": faulty: /);
            assert.match(compact.text, /CURa/);
            assert.equal(compact.markup, false, 'site text is no markup');
            await popup.close();
            await page.close();
        } finally {
            await site.close();
        }
    },

    // Disable greys the bird of every tab; Enable checks each page again.
    async DisableEnable_EveryTab(session, demo) {
        const first = await expectBird(session, demo.sites.matching, 'matched');
        const second = await expectBird(session, demo.sites.conflicting, 'unmatched');
        const popup = await birdOf(session, `?tab=${second.shown.tab}`);
        await waitForVerdict(popup, 'unmatched');
        const [disable] = await popup.$$('xpath/.//button[text()="Disable Perchlight"]');
        await disable.click();
        for (const tab of [first.shown.tab, second.shown.tab]) {
            const bird = await birdOf(session, `?tab=${tab}`);
            await bird.waitForFunction(() => document.body.dataset.frame === '8' &&
                document.getElementById('title').textContent === 'Click here to use Perchlight',
                { polling: 100 });
            if (session.title) {
                assert.equal(await session.title(tab), 'Click here to use Perchlight');
            }
            await bird.close();
        }
        const [enable] = await popup.$$('xpath/.//button[text()="Enable Perchlight"]');
        await enable.click();
        await waitForVerdict(popup, 'unmatched');
        await popup.close();
        await first.page.close();
        await second.page.close();
    },
};

const demo = await serveDemo(options.perchlight, home.env);
let session = null;
let failed = 0;
try {
    session = await launch(puppeteer, browserName, { extension: options.extension, ids,
        env: home.env });
    const only = options.only ? new RegExp(options.only) : null;
    for (const [name, run] of Object.entries(cases)) {
        if (only && !only.test(name)) {
            continue;
        }
        const started = Date.now();
        try {
            await run(session, demo);
            console.log(`ok ${browserName} ${name} (${Date.now() - started} ms)`);
        } catch (error) {
            failed += 1;
            console.log(`FAILED ${browserName} ${name}: ${error.stack ?? error}`);
        }
    }
} finally {
    await session?.close().catch(() => {});
    demo.stop();
}
process.exit(failed === 0 ? 0 : 1);
