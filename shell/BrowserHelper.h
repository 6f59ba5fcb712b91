#pragma once

// The one header a helper module includes: what the browser shell offers each of its windows'
// helpers, and what a helper may answer. The shell knows nothing of what its helpers do; a
// helper knows nothing of the shell's classes. Every call, in both directions, comes on the GUI
// thread.

#include <QMainWindow>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <QtPlugin>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWebEnginePage;

namespace perchlight {

// A navigation about to begin, in the top-level document or in a frame.
struct Navigation {
    enum class Kind { Link, Typed, Form, BackForward, Reload, Redirect, Other };

    QUrl url;
    bool topLevel = true;
    bool post = false;  // a form submitted with the POST method
    Kind kind = Kind::Other;
};

// One IMG, EMBED, APPLET, OBJECT, LINK, IFRAME, FRAME or BASE element of a document, with its
// attributes exactly as written (relative, unresolved; empty when absent).
struct ElementReport {
    std::string tag;  // upper case
    std::string src, codebase, code, rel, href;

    bool operator==(const ElementReport&) const = default;
};

// What one document of a page (the top-level document or a frame's) holds.
struct DocumentFacts {
    std::string url;             // the document's own URL, against which its attributes resolve
    std::vector<int> framePath;  // frame indices from the top document; empty for the top
    int childFrames = 0;         // the document's number of frames
    std::vector<ElementReport> elements;  // in document order

    bool operator==(const DocumentFacts&) const = default;
};

// The browser window as its helpers see it.
class BrowserWindowSite {
  public:
    virtual ~BrowserWindowSite() = default;

    virtual QMainWindow* frameWindow() = 0;
    // A widget at the right end of the window's top tool bar, laid out by a QHBoxLayout, where a
    // helper puts its indicator.
    virtual QWidget* indicatorSlot() = 0;
    virtual QUrl currentUrl() = 0;
    // The facts of the current page: the top document first, then every frame document in
    // depth-first document order (by frame path).
    virtual std::vector<DocumentFacts> documentFacts() = 0;
    // Opens the address in a new browser window of this process.
    virtual void openInNewWindow(const QUrl& url) = 0;
    // Gives the keyboard focus back to the page.
    virtual void focusPage() = 0;
    // The window's page, for dialogs that need the browser's own view of it.
    virtual QWebEnginePage* page() = 0;
    // Runs work that may hold a dialog or menu of the window open (a menu command): the window
    // stays under it. A close asked for meanwhile (a page script) first closes the window's
    // dialogs and menus and happens once the work has returned. Nothing the work raises leaves.
    virtual void runHeld(const std::function<void()>& work) = 0;
};

// One module's helper in one browser window, created with the window and destroyed with it. The
// handlers do nothing by default.
class BrowserHelper {
  public:
    virtual ~BrowserHelper() = default;

    // Before a navigation begins; false cancels it. Form submissions are asked here before any
    // byte of them leaves; a cancelled one leaves the form page as it was.
    virtual bool beforeNavigate(const Navigation&) { return true; }
    // A document finished loading: the top-level document once per completed load (never for a
    // stopped or cancelled one), a frame's document each time it has loaded.
    virtual void documentComplete(const QUrl&, bool /*topLevel*/) {}
    // The user asked to reload the page; its completion follows as a top-level documentComplete.
    virtual void reloaded() {}
    // The window is closing; the helper is destroyed right after.
    virtual void windowClosing() {}
    // Work on the current page is still going on (the screenshot mode waits for it to end).
    virtual bool busy() const { return false; }
    // Whether the window's pages may open pop-ups: false refuses pop-up windows, even on a click,
    // and windows that a script opens without one.
    virtual bool allowsPopups() const { return true; }
};

// The entry object of a helper module, a Qt plugin loaded once per process.
class HelperModule {
  public:
    virtual ~HelperModule() = default;

    // Called once after loading, with the command-line arguments the shell did not take itself.
    virtual void initialize(const QStringList& /*arguments*/) {}
    // Called for every new browser window.
    virtual std::unique_ptr<BrowserHelper> createHelper(BrowserWindowSite& site) = 0;
};

}  // namespace perchlight

#define PerchlightHelperModule_iid "org.perchlight.HelperModule/1.0"
Q_DECLARE_INTERFACE(perchlight::HelperModule, PerchlightHelperModule_iid)
