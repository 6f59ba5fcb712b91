// The extension's background: the bird of every tab, the page facts its content scripts report,
// and the one table of messages from content scripts and from the extension's own pages. The
// verdicts are the host's: this script only forwards facts and shows answers.
import { platform } from './platform.js';
import { HostConnection } from './host.js';

const api = platform.api;
const host = new HostConnection();

// The bird's tooltip while checking is off, as the Qt bird has it.
const TITLE_IDLE = 'Click here to use Perchlight';
const TITLE_CHECKING = 'Perchlight is checking this page...';
const FLAP_INTERVAL_MS = 150;
// Frame numbers of the bird, as the host and ui/BirdFrames number them.
const FRAME_UNKNOWN = 4;
const FRAME_SLEEPING = 8;
const FIRST_FLAP = 10;
const LAST_FLAP = 13;
// Bounds on what a content script may report for one tab.
const MAX_DOCUMENTS = 256;
// Bounds on the P3P headers of a page's items sent with its check (the host's limits: it takes
// 63 items' headers and strings of at most 8,192 bytes; a longer header is not sent).
const MAX_ITEM_RESPONSES = 63;
const MAX_FIELD_BYTES = 8192;

// Written by the build beside the icons: the icon name of each frame number and the sizes.
const birds = fetch(platform.url('icons/birds.json')).then((response) => response.json());

let enabled = true;
let settingsRead = null;

// tab id -> { url, header, items: [{url, header}], documents: Map(path -> facts), busy, frame,
// result, error, flapTimer }
const tabs = new Map();
// tab id -> { url, header } of the last top-level response, taken on commit
const responses = new Map();
// warning token -> { tab, target }: the form warnings shown and not yet answered
const warnings = new Map();

function isWebPage(url) {
    return /^https?:\/\//.test(url ?? '');
}

async function iconOf(frame) {
    const { frames, sizes } = await birds;
    const name = frames[frame];
    if (!name) {
        // no bird: a transparent picture
        const imageData = {};
        for (const size of [16, 32]) {
            imageData[size] = new ImageData(size, size);
        }
        return { imageData };
    }
    const path = {};
    for (const size of sizes.filter((s) => s <= 32)) {
        path[size] = `icons/bird-${name}-${size}.png`;
    }
    return { path };
}

async function showFrame(tabId, frame, title) {
    const state = tabs.get(tabId);
    if (state) {
        state.frame = frame;
    }
    await platform.setAction(tabId, { icon: await iconOf(frame), title });
}

function stopFlapping(state) {
    if (state.flapTimer !== undefined) {
        clearInterval(state.flapTimer);
        state.flapTimer = undefined;
    }
}

function startFlapping(tabId, state) {
    stopFlapping(state);
    let frame = FIRST_FLAP;
    showFrame(tabId, frame, TITLE_CHECKING);
    state.flapTimer = setInterval(async () => {
        frame = frame === LAST_FLAP ? FIRST_FLAP : frame + 1;
        const icon = await iconOf(frame);
        if (state.busy && state.flapTimer !== undefined) {
            await platform.setAction(tabId, { icon });
        }
    }, FLAP_INTERVAL_MS);
}

async function readSettings() {
    settingsRead ??= host.request('settings.get').then((settings) => {
        enabled = settings.enabled !== false;
        return settings;
    }).finally(() => {
        settingsRead = null;
    });
    return settingsRead;
}

// Shows what is known of a tab: grey while checking is off, nothing for a page that is no web
// page, the flapping bird while a check runs, else the verdict's picture and tooltip.
async function showTab(tabId) {
    const state = tabs.get(tabId);
    if (state === undefined) {
        return;
    }
    await showState(tabId, state);
    // An open popup or page about this tab follows.
    api.runtime.sendMessage({ what: 'changed', tab: tabId }).catch(() => {});
}

async function showState(tabId, state) {
    if (!enabled) {
        stopFlapping(state);
        await showFrame(tabId, FRAME_SLEEPING, TITLE_IDLE);
    } else if (!isWebPage(state.url)) {
        stopFlapping(state);
        await showFrame(tabId, -1, 'Perchlight');
    } else if (state.busy) {
        if (state.flapTimer === undefined) {
            startFlapping(tabId, state);
        }
    } else {
        stopFlapping(state);
        if (state.result) {
            await showFrame(tabId, state.result.picture, String(state.result.title ?? ''));
        } else {
            await showFrame(tabId, FRAME_UNKNOWN, state.error ?? TITLE_CHECKING);
        }
    }
}

function newTabState(url, header) {
    return { url, header, items: [], documents: new Map(), busy: isWebPage(url), frame: -1,
        result: null, error: null, flapTimer: undefined, generation: 0 };
}

function withinFieldLimit(text) {
    return new TextEncoder().encode(text).length <= MAX_FIELD_BYTES;
}

// The value of a response's P3P header, '' when it has none or one too long to send.
function p3pHeaderOf(details) {
    const field = (details.responseHeaders ?? []).find((h) => h.name.toLowerCase() === 'p3p');
    const value = field?.value ?? '';
    return withinFieldLimit(value) ? value : '';
}

// A new top-level document in a tab: the old check is cancelled and the facts start afresh.
async function pageCommitted(tabId, url) {
    const response = responses.get(tabId);
    responses.delete(tabId);
    const header = response && response.url === url ? response.header : '';
    const old = tabs.get(tabId);
    if (old) {
        stopFlapping(old);
        host.request('navigate', { tab: tabId }).catch(() => {});
    }
    tabs.set(tabId, newTabState(url, header));
    await readSettings().catch(() => {});
    const state = tabs.get(tabId);
    if (state && !enabled) {
        state.busy = false;
    }
    await showTab(tabId);
}

async function checkTab(tabId) {
    const state = tabs.get(tabId);
    if (!state || !enabled || !isWebPage(state.url) || !state.documents.has('')) {
        return;
    }
    const generation = ++state.generation;
    state.busy = true;
    await showTab(tabId);
    let result = null;
    let error = null;
    try {
        result = await host.request('page', {
            tab: tabId, url: state.url, header: state.header, responses: [...state.items],
            documents: [...state.documents.values()],
        });
    } catch (failure) {
        if (failure.hostError && failure.message === 'cancelled') {
            return;
        }
        error = failure.message;
    }
    if (tabs.get(tabId) !== state || state.generation !== generation) {
        return;  // a newer check or page took over
    }
    state.busy = false;
    state.result = result;
    state.error = error;
    await showTab(tabId);
}

function validFacts(facts) {
    return facts !== null && typeof facts === 'object' && typeof facts.url === 'string' &&
        Array.isArray(facts.path) && facts.path.every(Number.isInteger) &&
        Number.isInteger(facts.frames) && Array.isArray(facts.elements);
}

async function rememberFacts(tabId, sender, facts) {
    if (!validFacts(facts)) {
        throw new Error('malformed page facts');
    }
    let state = tabs.get(tabId);
    if (facts.path.length === 0 && sender.frameId === 0 &&
        (state === undefined || state.url !== facts.url && state.documents.has(''))) {
        // a page the navigation events did not announce (restored, or loaded before we started)
        await pageCommitted(tabId, facts.url);
        state = tabs.get(tabId);
    }
    if (state === undefined || state.documents.size >= MAX_DOCUMENTS) {
        return {};
    }
    state.documents.set(facts.path.join('/'), {
        url: facts.url, framePath: facts.path, childFrames: facts.frames,
        elements: facts.elements,
    });
    checkTab(tabId);
    return {};
}

function randomToken() {
    const bytes = new Uint8Array(16);
    crypto.getRandomValues(bytes);
    return [...bytes].map((b) => b.toString(16).padStart(2, '0')).join('');
}

// The two channels. A content script lives inside a site: it may report page facts, ask about
// a form and answer the warning it was told to show. Only the extension's own pages may read
// or change settings, the no-prompt list and the cache.
const contentHandlers = {
    async facts(message, sender) {
        return rememberFacts(sender.tab.id, sender, message.facts);
    },
    async form(message, sender) {
        if (typeof message.target !== 'string' || !isWebPage(message.target)) {
            return { warn: false };
        }
        if (!enabled) {
            return { warn: false };
        }
        const answer = await host.request('form', { tab: sender.tab.id, target: message.target });
        if (!answer.warn) {
            return { warn: false };
        }
        const token = randomToken();
        warnings.set(token, { tab: sender.tab.id, target: message.target,
            policy: String(answer.policy ?? '') });
        return { warn: true, message: String(answer.message ?? ''), token,
            policy: isWebPage(answer.policy), anySite: false };
    },
    async 'form.answer'(message, sender) {
        const warning = warnings.get(message.token);
        if (warning === undefined || warning.tab !== sender.tab.id) {
            throw new Error('no such form warning');
        }
        warnings.delete(message.token);
        if (message.anySite === true) {
            await host.request('settings.set', { warnForms: false });
        }
        if (message.thisSite === true) {
            await host.request('noprompt.add', { site: warning.target });
        }
        return {};
    },
    // More Info: the policy that the form's target gives, in a new tab (http and https only).
    async 'form.info'(message, sender) {
        const warning = warnings.get(message.token);
        if (warning === undefined || warning.tab !== sender.tab.id) {
            throw new Error('no such form warning');
        }
        if (isWebPage(warning.policy)) {
            await platform.openTab(warning.policy);
        }
        return {};
    },
};

async function everyTab() {
    for (const tabId of tabs.keys()) {
        const state = tabs.get(tabId);
        state.result = null;
        state.busy = enabled && isWebPage(state.url);
        await showTab(tabId);
        checkTab(tabId);
    }
}

function passThrough(type) {
    return (message) => {
        const { what, ...fields } = message;
        return host.request(type, fields);
    };
}

const pageHandlers = {
    // The bird's state for the popup: the tab's address, check and the settings it shows.
    async state(message) {
        const state = tabs.get(message.tab);
        await readSettings().catch(() => {});
        return {
            enabled, url: state?.url ?? '', busy: state?.busy ?? false,
            result: state?.result ?? null, error: state?.error ?? null,
            frame: state?.frame ?? -1, webPage: isWebPage(state?.url),
        };
    },
    async 'enabled.set'(message) {
        await host.request('settings.set', { enabled: message.enabled === true });
        enabled = message.enabled === true;
        await everyTab();
        return { enabled };
    },
    // After the options page changed the level or the rules: every page is checked again.
    async recheck() {
        await readSettings();
        await everyTab();
        return {};
    },
    summary: passThrough('summary'),
    source: passThrough('source'),
    'settings.get': passThrough('settings.get'),
    'settings.set': passThrough('settings.set'),
    import: passThrough('import'),
    export: passThrough('export'),
    'noprompt.list': passThrough('noprompt.list'),
    'noprompt.add': passThrough('noprompt.add'),
    'noprompt.remove': passThrough('noprompt.remove'),
    'cache.clear': passThrough('cache.clear'),
};

platform.listen((message, sender) => {
    const what = message?.what;
    if (typeof what !== 'string') {
        throw new Error('a message without "what"');
    }
    if (platform.isPrivileged(sender) && Object.hasOwn(pageHandlers, what)) {
        return pageHandlers[what](message, sender);
    }
    if (platform.isContentScript(sender) && Object.hasOwn(contentHandlers, what)) {
        return contentHandlers[what](message, sender);
    }
    throw new Error(`"${what}" is not a message this sender may send`);
});

api.webRequest.onHeadersReceived.addListener((details) => {
    if (details.tabId < 0) {
        return;
    }
    if (details.type === 'main_frame') {
        const header = p3pHeaderOf(details);
        responses.set(details.tabId, { url: details.url, header });
        // Firefox may tell of the commit before the response's headers: the page takes its
        // header late, and a check already sent without it is sent again.
        const state = tabs.get(details.tabId);
        if (state !== undefined && state.url === details.url && state.header === '' &&
            header !== '') {
            state.header = header;
            if (state.documents.has('') && (state.busy || state.result !== null)) {
                checkTab(details.tabId);
            }
        }
        return;
    }
    // The page's frames and items: those with a P3P header, for their compact policies, as far
    // as they answered before the page's check was sent.
    const state = tabs.get(details.tabId);
    const header = p3pHeaderOf(details);
    if (state === undefined || header === '' || state.items.length >= MAX_ITEM_RESPONSES ||
        !withinFieldLimit(details.url) ||
        state.items.some((item) => item.url === details.url && item.header === header)) {
        return;
    }
    state.items.push({ url: details.url, header });
}, { urls: ['http://*/*', 'https://*/*'] }, ['responseHeaders']);

api.webNavigation.onCommitted.addListener((details) => {
    if (details.frameId === 0) {
        pageCommitted(details.tabId, details.url);
    }
});

api.tabs.onRemoved.addListener((tabId) => {
    const state = tabs.get(tabId);
    if (state) {
        stopFlapping(state);
        tabs.delete(tabId);
        host.request('closed', { tab: tabId }).catch(() => {});
    }
    responses.delete(tabId);
    for (const [token, warning] of warnings) {
        if (warning.tab === tabId) {
            warnings.delete(token);
        }
    }
});
