// The policy's own text from the cache, as plain text.
import { pageTab, request, showError } from './pagetab.js';

async function show() {
    const tab = await pageTab();
    const state = await request({ what: 'state', tab });
    const reply = await request({ what: 'source', tab });
    const policy = state.result?.policy;
    document.getElementById('address').textContent =
        String((policy && typeof policy === 'object' ? policy.url : policy) ?? '');
    document.getElementById('source').textContent = String(reply.text ?? '');
}

show().catch((error) => {
    // The Qt agent's words for a policy the cache does not hold.
    showError(/download|cache/i.test(String(error?.message)) ? 'File Could not be downloaded'
        : error);
});
