// The content script of every frame: reports the document's facts (frame-facts.js) to the
// background, and holds a POST form back until the host has said whether its target needs a
// warning. The warning is drawn in a closed shadow root, out of the page's reach; only a real
// click of the user answers it.
(function () {
    'use strict';
    const api = globalThis.browser ?? globalThis.chrome;
    const MARK = 'perchlightFactsScript';

    // A frame without a document of its own (about:blank, about:srcdoc) is filled by its
    // parent's script after its own load: the parent reports it at the parent's load, as the
    // shell does, so its script does not report, nor mark the window.
    if (/^https?:/.test(location.href)) {
        perchlightFrameFacts({
            report(facts) {
                api.runtime.sendMessage({ what: 'facts', facts }).catch(() => {});
            },
            maxElements: 2000,
            maxAttributeLength: 8192,
            maxFrameDepth: 16,
            mark: MARK,
        });
    }

    // Forms the user let go after a warning, or that need none: their next submit passes.
    const approved = new WeakSet();

    function isPost(form, submitter) {
        const method = submitter?.getAttribute('formmethod') ?? form.getAttribute('method') ?? '';
        return method.toLowerCase() === 'post';
    }

    function targetOf(form, submitter) {
        const action = submitter?.hasAttribute('formaction') ? submitter.formAction : form.action;
        try {
            return new URL(action, document.baseURI).href;
        } catch {
            return '';
        }
    }

    function resubmit(form, submitter) {
        approved.add(form);
        if (submitter && submitter.form === form) {
            form.requestSubmit(submitter);
        } else {
            form.requestSubmit();
        }
    }

    document.addEventListener('submit', (event) => {
        const form = event.target;
        if (!(form instanceof HTMLFormElement) || event.defaultPrevented) {
            return;
        }
        if (approved.has(form)) {
            approved.delete(form);
            return;
        }
        const submitter = event.submitter ?? null;
        if (!isPost(form, submitter)) {
            return;
        }
        const target = targetOf(form, submitter);
        if (!/^https?:/.test(target)) {
            return;
        }
        event.preventDefault();
        event.stopImmediatePropagation();
        api.runtime.sendMessage({ what: 'form', target }).then((answer) => {
            if (!answer || answer.ok === false || !answer.warn) {
                // No warning needed, or the host cannot be asked: the form goes as it would
                // without the agent.
                resubmit(form, submitter);
                return;
            }
            showWarning(answer, (choice) => {
                api.runtime.sendMessage({
                    what: 'form.answer', token: answer.token, thisSite: choice.thisSite,
                    anySite: choice.anySite,
                }).catch(() => {});
                if (choice.send) {
                    resubmit(form, submitter);
                }
            });
        }, () => resubmit(form, submitter));
    }, true);

    function element(tag, style, text) {
        const made = document.createElement(tag);
        Object.assign(made.style, style);
        if (text !== undefined) {
            made.textContent = text;
        }
        return made;
    }

    function checkbox(label) {
        const row = element('label', { display: 'block', margin: '4px 0' });
        const box = element('input', { marginRight: '6px' });
        box.type = 'checkbox';
        row.append(box, document.createTextNode(label));
        return { row, box };
    }

    // The form warning with the Qt agent's texts and choices; No is the default.
    function showWarning(answer, done) {
        const holder = document.createElement('perchlight-form-warning');
        // The page's styles reach the warning only through inheritance: start it from none.
        holder.style.all = 'initial';
        const root = holder.attachShadow({ mode: 'closed' });
        const veil = element('div', {
            position: 'fixed', inset: '0', background: 'rgba(0,0,0,0.35)', zIndex: '2147483647',
            display: 'flex', alignItems: 'center', justifyContent: 'center',
        });
        const box = element('div', {
            background: '#f0f0f0', color: '#000', font: '13px sans-serif', padding: '16px',
            border: '1px solid #888', boxShadow: '0 4px 16px rgba(0,0,0,0.4)', maxWidth: '460px',
        });
        box.setAttribute('role', 'alertdialog');
        box.setAttribute('aria-label', 'Warning');
        const title = element('div', { fontWeight: 'bold', marginBottom: '8px' }, 'Warning');
        const message = element('div', {
            font: 'bold italic 16px Arial, sans-serif', marginBottom: '10px',
        }, answer.message);
        const question = element('div', { marginBottom: '8px' },
            'Would you like to continue submitting this form?');
        const thisSite = checkbox('Do not warn me about forms on this site again');
        const anySite = checkbox('Do not warn me about forms on any site');
        anySite.box.checked = answer.anySite === true;
        const buttons = element('div', { display: 'flex', gap: '8px', marginTop: '12px' });
        const button = (text) => element('button', { minWidth: '80px' }, text);
        const moreInfo = button('More Info');
        const yes = button('Yes');
        const no = button('No');
        moreInfo.style.visibility = answer.policy ? 'visible' : 'hidden';
        buttons.append(moreInfo, element('span', { flex: '1' }), yes, no);
        box.append(title, message, question, thisSite.row, anySite.row, buttons);
        veil.append(box);
        root.append(veil);

        let answered = false;
        const finish = (send) => (event) => {
            if (!event.isTrusted || answered) {
                return;
            }
            answered = true;
            holder.remove();
            done({ send, thisSite: thisSite.box.checked, anySite: anySite.box.checked });
        };
        yes.addEventListener('click', finish(true));
        no.addEventListener('click', finish(false));
        moreInfo.addEventListener('click', (event) => {
            if (event.isTrusted && !answered) {
                api.runtime.sendMessage({ what: 'form.info', token: answer.token }).catch(() => {});
            }
        });
        root.addEventListener('keydown', (event) => {
            if (event.key === 'Escape') {
                finish(false)(event);
            }
        });
        (document.body ?? document.documentElement).append(holder);
        no.focus();
    }
})();
