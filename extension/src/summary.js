// The HTML summary of a tab's policy in a sandboxed frame without
// script: the host escapes the site's text, and nothing in the page can run.
import { pageTab, request, showError } from './pagetab.js';

async function show() {
    const tab = await pageTab();
    const reply = await request({ what: 'summary', tab });
    // No script opens the page's groups in here: every group is shown open, its toggles hidden.
    const open = '<style>[id^="Group"] { display: block !important; } ' +
        'img.toggle { display: none !important; }</style>';
    const html = String(reply.html ?? '');
    const at = html.search(/<\/head>/i);
    document.getElementById('summary').srcdoc =
        at < 0 ? open + html : html.slice(0, at) + open + html.slice(at);
}

show().catch(showError);
