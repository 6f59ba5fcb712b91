// The one long-lived connection to the native host perchlight-host: requests carry an id of
// ours, replies come in any order and are matched by it. When the host goes (it crashed, it is
// not registered), every waiting request fails with the reason and the next one starts it again.
import { platform } from './platform.js';

export const HOST_NAME = 'org.perchlight.host';

export class HostConnection {
    #port = null;
    #nextId = 1;
    #waiting = new Map();  // id -> { resolve, reject }

    // The reply's fields when it says ok; otherwise an Error with the host's text.
    request(type, fields = {}) {
        const port = this.#connect();
        const id = this.#nextId++;
        return new Promise((resolve, reject) => {
            this.#waiting.set(id, { resolve, reject });
            try {
                port.postMessage({ ...fields, id, type });
            } catch (error) {
                this.#waiting.delete(id);
                reject(error);
            }
        });
    }

    #connect() {
        if (this.#port !== null) {
            return this.#port;
        }
        const port = platform.connectHost(HOST_NAME);
        port.onMessage.addListener((reply) => this.#answer(reply));
        port.onDisconnect.addListener(() => {
            const reason = platform.api.runtime.lastError?.message ?? port.error?.message ??
                'the host ended';
            this.#port = null;
            const waiting = [...this.#waiting.values()];
            this.#waiting.clear();
            for (const { reject } of waiting) {
                reject(new Error(`Perchlight's native host is not available (${reason}).`));
            }
        });
        this.#port = port;
        return port;
    }

    #answer(reply) {
        if (reply === null || typeof reply !== 'object') {
            return;
        }
        const request = this.#waiting.get(reply.id);
        if (request === undefined) {
            return;
        }
        this.#waiting.delete(reply.id);
        if (reply.ok === true) {
            request.resolve(reply);
        } else {
            request.reject(Object.assign(new Error(String(reply.error ?? 'failed')),
                { hostError: true }));
        }
    }
}
