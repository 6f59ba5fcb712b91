// The facts of a document as the agent checks them: its address, its place in the frame tree and
// the IMG, EMBED, APPLET, OBJECT, LINK, IFRAME, FRAME and BASE elements with their attributes as
// written. The browser shell runs this text in an isolated world of every frame, the extension as
// a content script; each hands in its own report function. One copy, used by both.
//
// options: report(facts) is called once per document; maxElements, maxAttributeLength and
// maxFrameDepth bound a report; mark names the property this script sets on each window it runs
// in, so that a document also reports its frames in which no script runs (about:blank, perhaps
// written by script).
// eslint-disable-next-line no-unused-vars
function perchlightFrameFacts(options) {
    'use strict';
    var TAGS = { IMG: 1, EMBED: 1, APPLET: 1, OBJECT: 1, LINK: 1, IFRAME: 1, FRAME: 1, BASE: 1 };
    var ATTRIBUTES = ['src', 'codebase', 'code', 'rel', 'href'];
    window[options.mark] = true;

    // The index of each frame on the way down from the top window; parent.frames[i] compares
    // equal to a frame's window even across origins.
    function framePath() {
        var path = [];
        for (var child = window; child !== child.parent; child = child.parent) {
            var siblings = child.parent.frames, index = -1;
            for (var i = 0; i < siblings.length; ++i) {
                if (siblings[i] === child) {
                    index = i;
                    break;
                }
            }
            path.unshift(index);
        }
        return path;
    }

    function facts(win, path) {
        var elements = [];
        var all = win.document.getElementsByTagName('*');
        for (var i = 0; i < all.length && elements.length < options.maxElements; ++i) {
            var tag = String(all[i].tagName).toUpperCase();
            if (!TAGS.hasOwnProperty(tag)) {
                continue;
            }
            var element = { tag: tag };
            for (var a = 0; a < ATTRIBUTES.length; ++a) {
                var value = all[i].getAttribute(ATTRIBUTES[a]);
                element[ATTRIBUTES[a]] =
                    value === null || value.length > options.maxAttributeLength ? '' : value;
            }
            elements.push(element);
        }
        return { url: win.document.URL, path: path, frames: win.frames.length, elements: elements };
    }

    // Reports the document of win, then those of its frames in which this script never ran. The
    // mark is a property of this script's world, out of the page's reach.
    function reportDocument(win, path) {
        if (path.length > options.maxFrameDepth) {
            return;
        }
        options.report(facts(win, path));
        for (var i = 0; i < win.frames.length; ++i) {
            var silent = false;
            try {
                silent = win.frames[i][options.mark] !== true;
            } catch (error) {
                // another origin: the frame reports itself
            }
            if (silent) {
                reportDocument(win.frames[i], path.concat([i]));
            }
        }
    }

    function report() {
        reportDocument(window, framePath());
    }

    if (document.readyState === 'complete') {
        report();
    } else {
        window.addEventListener('load', report);
    }
}
