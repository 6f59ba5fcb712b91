#include "shell/BrowserPage.h"

#include <QWebEngineLoadingInfo>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include "shell/FormRequestInterceptor.h"
#include "shell/FrameFactsScript.h"

namespace perchlight {
namespace {

Navigation::Kind kindOf(QWebEnginePage::NavigationType type) {
    switch (type) {
        case QWebEnginePage::NavigationTypeLinkClicked:
            return Navigation::Kind::Link;
        case QWebEnginePage::NavigationTypeTyped:
            return Navigation::Kind::Typed;
        case QWebEnginePage::NavigationTypeFormSubmitted:
            return Navigation::Kind::Form;
        case QWebEnginePage::NavigationTypeBackForward:
            return Navigation::Kind::BackForward;
        case QWebEnginePage::NavigationTypeReload:
            return Navigation::Kind::Reload;
        case QWebEnginePage::NavigationTypeRedirect:
            return Navigation::Kind::Redirect;
        case QWebEnginePage::NavigationTypeOther:
            break;
    }
    return Navigation::Kind::Other;
}

}  // namespace

BrowserPage::BrowserPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    setUrlRequestInterceptor(new FormRequestInterceptor(this));
    // Until the window's helpers say otherwise, pages open windows only on a click of the user.
    settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    scripts().insert(FrameFactsScript::script());
    m_frameReportWait.setSingleShot(true);
    m_frameReportWait.setInterval(kFrameReportWaitMs);
    connect(&m_frameReportWait, &QTimer::timeout, this, &BrowserPage::completeTopLevel);
    connect(this, &QWebEnginePage::loadingChanged, this, &BrowserPage::onLoadingChanged);
}

bool BrowserPage::askBeforeNavigate(const Navigation& navigation) {
    return !m_navigationHandler || m_navigationHandler(navigation);
}

bool BrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    // Form submissions are asked about by the request interceptor, which knows their method.
    if (type == NavigationTypeFormSubmitted) {
        return true;
    }
    const Navigation navigation{url, isMainFrame, false, kindOf(type)};
    if (!askBeforeNavigate(navigation)) {
        return false;
    }
    if (isMainFrame && type == NavigationTypeReload) {
        emit reloadStarted();
    }
    return true;
}

void BrowserPage::onLoadingChanged(const QWebEngineLoadingInfo& info) {
    switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            m_loading = true;
            m_factsOfOldDocument = true;
            m_completionPending = false;
            m_frameReportWait.stop();
            break;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            if (m_loading) {
                m_loading = false;
                m_completedUrl = info.url();
                completeTopLevelWhenReady();
            }
            break;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            // A stopped or cancelled load completes nothing; the page shown stays as it was, and
            // so do its facts.
            m_loading = false;
            m_factsOfOldDocument = false;
            break;
        case QWebEngineLoadingInfo::LoadFailedStatus:
            if (m_loading) {
                m_loading = false;
                m_facts.clear();
                m_factsOfOldDocument = false;
                emit loadFailedWith(info.url(), info.errorString());
            }
            break;
    }
}

void BrowserPage::completeTopLevelWhenReady() {
    if (m_factsOfOldDocument) {
        // No document of this load reported yet: what the table holds is the previous page's.
        m_facts.clear();
        m_factsOfOldDocument = false;
    }
    m_completionPending = true;
    if (m_facts.complete()) {
        completeTopLevel();
    } else {
        m_frameReportWait.start();
    }
}

void BrowserPage::completeTopLevel() {
    if (!m_completionPending) {
        return;
    }
    m_completionPending = false;
    m_frameReportWait.stop();
    emit documentCompleted(m_completedUrl, true);
}

void BrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                           const QString& message, int lineNumber,
                                           const QString& sourceId) {
    std::optional<DocumentFacts> facts = FrameFactsScript::parseReport(message);
    if (!facts) {
        QWebEnginePage::javaScriptConsoleMessage(level, message, lineNumber, sourceId);
        return;
    }
    if (m_factsOfOldDocument) {
        m_facts.clear();
        m_factsOfOldDocument = false;
    }
    const bool frame = !facts->framePath.empty();
    const QUrl url(QString::fromStdString(facts->url));
    m_facts.add(std::move(*facts));
    if (frame) {
        emit documentCompleted(url, false);
    }
    if (m_completionPending && m_facts.complete()) {
        completeTopLevel();
    }
}

QWebEnginePage* BrowserPage::createWindow(WebWindowType type) {
    return m_windowFactory ? m_windowFactory(type) : nullptr;
}

}  // namespace perchlight
