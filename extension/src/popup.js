// The bird's menu: what the Qt bird's menu offers, in the toolbar popup.
import { platform } from './platform.js';
import { pageTab, policyAddresses, request, showError } from './pagetab.js';

const api = platform.api;

async function open(path) {
    await platform.openTab(path.startsWith('http') ? path : platform.url(path));
    window.close();
}

function addItem(menu, text, action, enabled = true, top = false) {
    const item = document.createElement('li');
    if (top) {
        item.className = 'top';
    }
    const button = document.createElement('button');
    button.textContent = text;
    button.disabled = !enabled;
    button.addEventListener('click', () => {
        Promise.resolve().then(action).catch(showError);
    });
    item.append(button);
    menu.append(item);
    return button;
}

function addHeading(menu, text) {
    const item = document.createElement('li');
    item.className = 'heading';
    item.textContent = text;
    menu.append(item);
}

function addSeparator(menu) {
    const item = document.createElement('li');
    item.className = 'separator';
    menu.append(item);
}

// The page's compact policy, as the host judged it, in one line of plain text; '' without one.
function compactLine(result, url) {
    const all = Array.isArray(result?.compactPolicies) ? result.compactPolicies : [];
    const own = all.find((entry) => entry?.url === url);
    if (!own) {
        return '';
    }
    const texts = (list) =>
        (Array.isArray(list) ? list : []).map((entry) => String(entry?.text ?? ''));
    let line = `Compact policy "${String(own.cp ?? '')}": `;
    line += own.valid ? 'well formed' : `faulty: ${texts(own.cp_problems).join('; ')}`;
    const mismatches = texts(own.cp_mismatches);
    if (mismatches.length > 0) {
        line += `; unlike the full policy: ${mismatches.join('; ')}`;
    }
    const items = all.filter((entry) => entry?.url !== url).length;
    if (items > 0) {
        line += items === 1 ? ' (one of its items sends one too)'
            : ` (${items} of its items send one too)`;
    }
    return line;
}

async function setEnabled(value) {
    await request({ what: 'enabled.set', enabled: value });
    rebuild();
}

async function build() {
    const tab = await pageTab();
    shownTab = tab;
    const state = await request({ what: 'state', tab });
    const menu = document.getElementById('menu');
    menu.replaceChildren();
    const birds = await (await fetch('icons/birds.json')).json();
    const name = birds.frames[state.frame];
    const bird = document.getElementById('bird');
    bird.hidden = !name;
    if (name) {
        bird.src = `icons/bird-${name}-32.png`;
    }
    const title = !state.enabled ? 'Click here to use Perchlight'
        : state.busy ? 'Perchlight is checking this page...'
        : state.result ? String(state.result.title ?? '')
        : state.error ?? (state.webPage ? '' : 'This is not a web page.');
    document.getElementById('title').textContent = title;
    const compact = document.getElementById('compact');
    compact.textContent = state.enabled && !state.busy ? compactLine(state.result, state.url) : '';
    compact.hidden = compact.textContent === '';
    document.body.dataset.verdict = state.result?.verdict ?? '';
    document.body.dataset.busy = String(state.busy);
    document.body.dataset.frame = String(state.frame);
    document.body.dataset.tab = String(tab);

    const helpItems = (tutorial) => {
        addItem(menu, 'Help', () => open('help/index.html'), true, true);
        addItem(menu, tutorial, () => open('help/tour.html'), true, true);
        addItem(menu, 'About Perchlight', () => open('about.html'), true, true);
    };
    if (!state.enabled) {
        helpItems('Tutorial');
        addSeparator(menu);
        addItem(menu, 'Enable Perchlight', () => setEnabled(true), true, true);
        return;
    }
    const site = state.webPage && !state.busy && state.result !== null;
    const evaluated = site && state.result.verdict !== undefined &&
        policyAddresses(state.result).url !== '';
    const addresses = policyAddresses(state.result);
    addHeading(menu, 'About This Site');
    addItem(menu, 'Policy Summary...', () => open(`summary.html?tab=${tab}`), evaluated);
    addItem(menu, 'Full Policy...', () => open(addresses.discussion),
        site && addresses.discussion !== '');
    addItem(menu, 'Opt-in/Opt-out Info...', () => open(addresses.optOut),
        site && addresses.optOut !== '');
    addItem(menu, 'Embedded Content...', () => open(`embedded.html?tab=${tab}`), site);
    addItem(menu, 'View P3P Source...', () => open(`source.html?tab=${tab}`), evaluated);
    addHeading(menu, 'My Preferences');
    addItem(menu, 'Privacy...', () => api.runtime.openOptionsPage().then(() => window.close()));
    addItem(menu, 'No-prompt Sites...', () => open('noprompt.html'));
    addSeparator(menu);
    addItem(menu, 'Clear Cache', async () => {
        await request({ what: 'cache.clear' });
        window.close();
    }, true, true);
    addSeparator(menu);
    helpItems('Tour');
    addSeparator(menu);
    addItem(menu, 'Disable Perchlight', () => setEnabled(false), true, true);
}

let shownTab = null;
// One build at a time: a change that comes during one is shown by the next.
let building = Promise.resolve();
function rebuild() {
    building = building.then(build).catch(showError);
}
api.runtime.onMessage.addListener((message, sender) => {
    if (sender.id === api.runtime.id && message?.what === 'changed' && message.tab === shownTab) {
        rebuild();
    }
});
rebuild();
