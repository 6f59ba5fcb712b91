#include "ui/WebHost.h"

#include <QFile>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "core/MatchResult.h"
#include "summary/SummaryFile.h"
#include "summary/SummaryPage.h"
#include "ui/DialogSupport.h"
#include "ui/WebHostBridge.h"

namespace perchlight {
namespace {

// What a policy that could not be evaluated shows instead of a verdict it never had.
constexpr const char* kNotEvaluated =
    "This policy could not be compared with your preferences (it is malformed, lacks the policy "
    "it names, or needs an extension Perchlight does not know).";

// window.external of our own pages: OnClick hands the colour to the dialog, with whether the
// element given is the body. Calls made before the channel is up wait for it.
const char* const kExternalShim = R"JS(
(function () {
    var host = null;
    var waiting = [];
    new QWebChannel(qt.webChannelTransport, function (channel) {
        host = channel.objects.host;
        waiting.forEach(function (call) { host.onClick(call[0], call[1]); });
        waiting = [];
    });
    window.external = {
        OnClick: function (body, colour) {
            var call = [body instanceof HTMLBodyElement, String(colour)];
            if (host) { host.onClick(call[0], call[1]); } else { waiting.push(call); }
            return true;
        }
    };
})();
)JS";

QString webChannelScript() {
    QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

// Dialog units of the dialog templates in pixels, for an 8-point dialog font.
QSize dialogSize(int dialog) {
    return dialog == WebHost::kSummaryDialog ? QSize(663, 466) : QSize(723, 437);
}

}  // namespace

WebHost::WebHost(int dialog, AddressOpener opener, QWidget* parent, Renderer renderer)
    : QDialog(parent), m_opener(std::move(opener)) {
    setObjectName(QStringLiteral("dialog%1").arg(dialog));
    setWindowTitle(dialog == kSummaryDialog ? QStringLiteral("Policy Summary")
                                            : QStringLiteral("Policy"));
    resize(dialogSize(dialog));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    QWidget* page = nullptr;
    if (renderer == Renderer::Text) {
        m_text = new QTextBrowser(this);
        m_text->setObjectName(QStringLiteral("webHostText"));
        m_text->setOpenLinks(false);
        connect(m_text, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
            if (m_opener && WebHostPage::isWebAddress(url)) {
                m_opener(url);
            }
        });
        page = m_text;
    } else {
        m_view = new QWebEngineView(this);
        m_view->setObjectName(QStringLiteral("webHostView"));
        page = m_view;
    }
    layout->addWidget(page);
    // The page takes the keys, so that it scrolls without a click first; Escape still cancels the
    // dialog, as a shortcut the page cannot swallow, and F1 only beeps.
    setFocusProxy(page);
    auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    cancel->setContext(Qt::WindowShortcut);
    connect(cancel, &QShortcut::activated, this, &QDialog::reject);
    DialogSupport::beepOnHelpKey(*this);
}

WebHost::~WebHost() {
    // The view's render surfaces belong to the dialog's window: they go while it still exists.
    delete m_view;
}

bool WebHost::showSummary(const MatchResult& result) {
    MatchResult shown = result;
    if (shown.state != kStateNoConflict && shown.state != kStateConflict) {
        // The page calls a policy without reasons against it a match; one that was never
        // evaluated has no verdict to show in green.
        shown.descriptions.insert(shown.descriptions.begin(), kNotEvaluated);
    }
    if (m_text != nullptr) {
        // Our own page, with the pictures beside the templates; its scripts do not run here.
        m_text->document()->setBaseUrl(QUrl::fromLocalFile(QString::fromStdString(dllPath())));
        m_text->setHtml(QString::fromStdString(SummaryPage().buildPage(shown)));
        return true;
    }
    auto file = std::make_unique<SummaryFile>(SummaryPage().buildPage(shown));
    if (!file->written()) {
        return false;
    }
    const QUrl address = QUrl::fromLocalFile(QString::fromStdString(file->path()));
    m_summaryFile = std::move(file);
    showOwnPage(address);
    return true;
}

bool WebHost::showAddress(const QString& title, const QUrl& address) {
    if (m_view == nullptr || !WebHostPage::isWebAddress(address)) {
        return false;
    }
    setWindowTitle(title);
    auto* page = new WebHostPage(WebHostPage::Mode::SitePage, m_opener, m_view);
    page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    m_view->setPage(page);
    page->load(address);
    return true;
}

void WebHost::showTestPage() {
    if (m_view == nullptr) {
        return;
    }
    showOwnPage(QUrl(QStringLiteral("qrc:/perchlight/webhost/test.html")));
}

QString WebHost::summaryPath() const {
    return m_summaryFile ? QString::fromStdString(m_summaryFile->path()) : QString();
}

void WebHost::done(int result) {
    QDialog::done(result);
    // The page has been shown; its file goes now, not when the owner gets round to the dialog.
    m_summaryFile.reset();
}

void WebHost::showOwnPage(const QUrl& address) {
    auto* page = new WebHostPage(WebHostPage::Mode::OwnPage, m_opener, m_view);
    page->setHome(address);
    installExternal(*page);
    m_view->setPage(page);
    page->load(address);
}

void WebHost::installExternal(QWebEnginePage& page) {
    auto* channel = new QWebChannel(&page);
    channel->registerObject(QStringLiteral("host"), new WebHostBridge(&page));
    page.setWebChannel(channel, QWebEngineScript::MainWorld);
    QWebEngineScript script;
    script.setName(QStringLiteral("perchlight-external"));
    script.setSourceCode(webChannelScript() + QString::fromLatin1(kExternalShim));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    page.scripts().insert(script);
}

}  // namespace perchlight
