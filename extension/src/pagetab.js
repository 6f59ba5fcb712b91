// The tab an extension page is about: the "tab" parameter of its address, else (the toolbar
// popup, or the popup opened as a page of its own) the web page tab the user looked at last.
import { platform } from './platform.js';

export async function pageTab() {
    const parameter = new URLSearchParams(location.search).get('tab');
    if (parameter !== null && /^\d+$/.test(parameter)) {
        return Number(parameter);
    }
    const api = platform.api;
    const own = await api.tabs.getCurrent();
    const candidates = await api.tabs.query({ currentWindow: true });
    const others = candidates.filter((tab) => tab.id !== own?.id &&
        !String(tab.url ?? '').startsWith(platform.origin));
    const active = others.find((tab) => tab.active && own === undefined);
    if (active) {
        return active.id;
    }
    others.sort((a, b) => (b.lastAccessed ?? 0) - (a.lastAccessed ?? 0));
    return others.length > 0 ? others[0].id : -1;
}

// Shows a failure in the page's error line.
export function showError(error) {
    const line = document.getElementById('error');
    line.textContent = String(error?.message ?? error);
    line.hidden = false;
}

// Asks the background; a reply that says ok false becomes an exception.
export async function request(message) {
    const reply = await platform.api.runtime.sendMessage(message);
    if (reply && reply.ok === false) {
        throw new Error(reply.error);
    }
    return reply;
}

// The policy's own, discussion and opt-out addresses of a page's check, http and https only.
export function policyAddresses(result) {
    const policy = result?.policy;
    const fields = policy !== null && typeof policy === 'object' ? policy : { url: policy };
    const web = (value) => {
        try {
            const url = new URL(String(value ?? ''), fields.url ?? undefined);
            return /^https?:$/.test(url.protocol) ? url.href : '';
        } catch {
            return '';
        }
    };
    return {
        url: web(fields.url),
        discussion: web(result?.fullPolicy),
        optOut: web(result?.optOut),
    };
}
