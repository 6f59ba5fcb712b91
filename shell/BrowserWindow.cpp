#include "shell/BrowserWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <cstdio>
#include <exception>

#include "shell/AddressInput.h"
#include "shell/BrowserPage.h"
#include "shell/BrowserShell.h"

namespace perchlight {
namespace {

const QString kApplicationTitle = QStringLiteral("Perchlight Browser");

void reportHelperFailure(const char* what, const char* reason) {
    std::fprintf(stderr, "perchlight-browser: a helper failed in %s: %s\n", what, reason);
}

}  // namespace

// Counts a helper call in progress: the window does not close under it.
class BrowserWindow::HelperCall {
  public:
    explicit HelperCall(BrowserWindow& window) : m_window(window) { ++m_window.m_helperCalls; }
    ~HelperCall() {
        // A close that had to wait comes once the last call has unwound, from the event loop:
        // nothing of the call is still on the stack then.
        if (--m_window.m_helperCalls == 0 && m_window.m_closePending) {
            m_window.m_closePending = false;
            QMetaObject::invokeMethod(&m_window, &QWidget::close, Qt::QueuedConnection);
        }
    }
    HelperCall(const HelperCall&) = delete;
    HelperCall& operator=(const HelperCall&) = delete;

  private:
    BrowserWindow& m_window;
};

BrowserWindow::BrowserWindow(BrowserShell& shell, QWebEngineProfile* profile,
                             const std::vector<HelperModule*>& modules)
    : m_shell(shell) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kApplicationTitle);
    m_view = new QWebEngineView(this);
    m_page = new BrowserPage(profile, m_view);
    m_view->setPage(m_page);
    setCentralWidget(m_view);
    buildToolBar();

    m_page->setNavigationHandler(
        [this](const Navigation& navigation) { return beforeNavigate(navigation); });
    m_page->setWindowFactory(
        [this](QWebEnginePage::WebWindowType type) { return createWindowFor(type); });
    connect(m_page, &BrowserPage::documentCompleted, this, &BrowserWindow::onDocumentCompleted);
    connect(m_page, &BrowserPage::reloadStarted, this, [this] {
        forEachHelper("reloaded", [](BrowserHelper& helper) { helper.reloaded(); });
    });
    connect(m_page, &BrowserPage::loadFailedWith, this, &BrowserWindow::loadFailed);
    connect(m_page, &QWebEnginePage::urlChanged, this,
            [this](const QUrl& url) { m_address->setText(url.toDisplayString()); });
    connect(m_page, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
        setWindowTitle(title.isEmpty() ? kApplicationTitle : title + " - " + kApplicationTitle);
    });
    connect(m_page, &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
    createHelpers(modules);
    applyPopupSetting();
}

BrowserWindow::~BrowserWindow() {
    announceClosing();
    m_helpers.clear();  // before the page and the indicator slot go
}

void BrowserWindow::buildToolBar() {
    QToolBar* bar = addToolBar(QStringLiteral("Navigation"));
    bar->setObjectName(QStringLiteral("navigationBar"));
    bar->setMovable(false);
    const std::pair<QWebEnginePage::WebAction, QStyle::StandardPixmap> actions[] = {
        {QWebEnginePage::Back, QStyle::SP_ArrowBack},
        {QWebEnginePage::Forward, QStyle::SP_ArrowForward},
        {QWebEnginePage::Reload, QStyle::SP_BrowserReload},
        {QWebEnginePage::Stop, QStyle::SP_BrowserStop}};
    for (const auto& [webAction, icon] : actions) {
        QAction* action = m_view->pageAction(webAction);
        action->setIcon(style()->standardIcon(icon));
        bar->addAction(action);
    }
    m_address = new QLineEdit(bar);
    m_address->setObjectName(QStringLiteral("addressBar"));
    m_address->setClearButtonEnabled(true);
    bar->addWidget(m_address);
    connect(m_address, &QLineEdit::returnPressed, this, [this] {
        if (loadAddress(m_address->text())) {
            focusPage();
        } else {
            statusBar()->showMessage(
                QStringLiteral("Only http, https, file and about: addresses are loaded"), 5000);
        }
    });
    QAction* newWindow = bar->addAction(QStringLiteral("New Window"));
    if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(newWindow))) {
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);  // no stock icon says it
    }
    newWindow->setObjectName(QStringLiteral("newWindowAction"));
    newWindow->setShortcut(QKeySequence::New);
    connect(newWindow, &QAction::triggered, this, [this] { m_shell.newWindow(); });

    m_indicatorSlot = new QWidget(bar);
    m_indicatorSlot->setObjectName(QStringLiteral("indicatorSlot"));
    auto* layout = new QHBoxLayout(m_indicatorSlot);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(2);
    bar->addWidget(m_indicatorSlot);

    QAction* focusAddress = new QAction(this);
    focusAddress->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(focusAddress, &QAction::triggered, this, [this] {
        m_address->setFocus();
        m_address->selectAll();
    });
    addAction(focusAddress);
}

void BrowserWindow::createHelpers(const std::vector<HelperModule*>& modules) {
    for (HelperModule* module : modules) {
        try {
            HelperCall call(*this);
            if (std::unique_ptr<BrowserHelper> helper = module->createHelper(*this)) {
                m_helpers.push_back(std::move(helper));
            }
        } catch (const std::exception& error) {
            reportHelperFailure("createHelper", error.what());
        } catch (...) {
            reportHelperFailure("createHelper", "unknown exception");
        }
    }
}

template <typename Call>
void BrowserWindow::forEachHelper(const char* what, Call call) {
    HelperCall guard(*this);
    for (const auto& helper : m_helpers) {
        try {
            call(*helper);
        } catch (const std::exception& error) {
            reportHelperFailure(what, error.what());
        } catch (...) {
            reportHelperFailure(what, "unknown exception");
        }
    }
}

bool BrowserWindow::beforeNavigate(const Navigation& navigation) {
    if (navigation.topLevel) {
        applyPopupSetting();  // a changed setting holds from the next page on
    }
    // The first helper to refuse cancels the navigation; the others are not asked, so none of
    // them starts on a page that will not come.
    HelperCall guard(*this);
    for (const auto& helper : m_helpers) {
        try {
            if (!helper->beforeNavigate(navigation)) {
                return false;
            }
        } catch (const std::exception& error) {
            reportHelperFailure("beforeNavigate", error.what());
        } catch (...) {
            reportHelperFailure("beforeNavigate", "unknown exception");
        }
    }
    return true;
}

void BrowserWindow::onDocumentCompleted(const QUrl& url, bool topLevel) {
    forEachHelper("documentComplete",
                  [&](BrowserHelper& helper) { helper.documentComplete(url, topLevel); });
    if (topLevel) {
        emit topDocumentCompleted(url);
    }
}

bool BrowserWindow::helpersBusy() const {
    for (const auto& helper : m_helpers) {
        try {
            if (helper->busy()) {
                return true;
            }
        } catch (...) {
            reportHelperFailure("busy", "exception");
        }
    }
    return false;
}

bool BrowserWindow::popupsAllowed() const {
    for (const auto& helper : m_helpers) {
        try {
            if (!helper->allowsPopups()) {
                return false;
            }
        } catch (...) {
            reportHelperFailure("allowsPopups", "exception");
        }
    }
    return true;
}

void BrowserWindow::applyPopupSetting() {
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, popupsAllowed());
}

QWebEnginePage* BrowserWindow::createWindowFor(QWebEnginePage::WebWindowType type) {
    // A pop-up window (one the page gave a size or left without tool bars) is refused even on a
    // click while pop-ups are blocked; a link's new window is not a pop-up.
    if (type == QWebEnginePage::WebDialog && !popupsAllowed()) {
        return nullptr;
    }
    return m_shell.newWindow()->page();
}

void BrowserWindow::announceClosing() {
    if (m_closingAnnounced) {
        return;
    }
    m_closingAnnounced = true;
    forEachHelper("windowClosing", [](BrowserHelper& helper) { helper.windowClosing(); });
}

void BrowserWindow::closeEvent(QCloseEvent* event) {
    // A helper may be in a modal question inside one of its calls; the window stays until the
    // call returns, as the helper and the page are still in use.
    if (m_helperCalls > 0) {
        event->ignore();
        m_closePending = true;
        closeOwnDialogs();
        return;
    }
    announceClosing();
    event->accept();
}

void BrowserWindow::closeOwnDialogs() {
    // Each dialog's own loop ends, innermost first as the calls unwind; a rejected question
    // counts as "No".
    for (QWidget* child : findChildren<QWidget*>()) {
        if (!child->isWindow() || !child->isVisible()) {
            continue;
        }
        if (auto* dialog = qobject_cast<QDialog*>(child)) {
            dialog->reject();
        } else if (auto* menu = qobject_cast<QMenu*>(child)) {
            menu->close();
        }
    }
}

void BrowserWindow::runHeld(const std::function<void()>& work) {
    HelperCall guard(*this);
    try {
        work();
    } catch (const std::exception& error) {
        reportHelperFailure("a held call", error.what());
    } catch (...) {
        reportHelperFailure("a held call", "unknown exception");
    }
}

bool BrowserWindow::loadAddress(const QString& typed) {
    const std::optional<QUrl> url = AddressInput::toUrl(typed);
    if (!url) {
        return false;
    }
    load(*url);
    return true;
}

void BrowserWindow::load(const QUrl& url) {
    m_address->setText(url.toDisplayString());
    m_page->load(url);
}

QUrl BrowserWindow::currentUrl() {
    return m_page->url();
}

std::vector<DocumentFacts> BrowserWindow::documentFacts() {
    return m_page->documentFacts();
}

void BrowserWindow::openInNewWindow(const QUrl& url) {
    if (AddressInput::isLoadable(url)) {
        m_shell.newWindow()->load(url);
    }
}

void BrowserWindow::focusPage() {
    m_view->setFocus();
}

QWebEnginePage* BrowserWindow::page() {
    return m_page;
}

}  // namespace perchlight
