// The thin layer over the two browsers: Chromium's `chrome` and Firefox's `browser` namespaces
// differ in a few names and in what a background page may do. Everything else of the extension
// goes through here.
const api = globalThis.browser ?? globalThis.chrome;

export const platform = {
    api,
    // The extension's own origin, "chrome-extension://ID/" or "moz-extension://UUID/".
    origin: api.runtime.getURL(''),

    url(path) {
        return api.runtime.getURL(path);
    },

    connectHost(name) {
        return api.runtime.connectNative(name);
    },

    // A message from one of the extension's own pages (popup, options, summary ...): no site
    // can embed them, as none is web accessible.
    isPrivileged(sender) {
        return sender.id === api.runtime.id && String(sender.url ?? '').startsWith(platform.origin);
    },

    // A message from this extension's content script inside a web page.
    isContentScript(sender) {
        return sender.id === api.runtime.id && sender.tab !== undefined &&
            !String(sender.url ?? '').startsWith(platform.origin);
    },

    listen(handler) {
        api.runtime.onMessage.addListener((message, sender, sendResponse) => {
            Promise.resolve()
                .then(() => handler(message, sender))
                .then(sendResponse, (error) =>
                    sendResponse({ ok: false, error: String(error?.message ?? error) }));
            return true;  // the answer comes later
        });
    },

    async setAction(tabId, { icon, title }) {
        try {
            if (icon !== undefined) {
                await api.action.setIcon({ tabId, ...icon });
            }
            if (title !== undefined) {
                await api.action.setTitle({ tabId, title });
            }
        } catch {
            // the tab went away meanwhile
        }
    },

    async openTab(url) {
        await api.tabs.create({ url });
    },
};

// Sends a message to the background and waits for its answer (extension pages and content
// scripts alike).
export function ask(message) {
    return api.runtime.sendMessage(message);
}
