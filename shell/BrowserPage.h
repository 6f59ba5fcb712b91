#pragma once

#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>

#include <functional>
#include <vector>

#include "shell/BrowserHelper.h"
#include "shell/DocumentFactsTable.h"

class QWebEngineLoadingInfo;

namespace perchlight {

// The page of one browser window: raises the navigation questions and document completions for
// the window's helpers and keeps the facts its documents report. GUI thread only.
class BrowserPage : public QWebEnginePage {
    Q_OBJECT

  public:
    using NavigationHandler = std::function<bool(const Navigation&)>;
    using WindowFactory = std::function<QWebEnginePage*(WebWindowType type)>;

    // How long the top-level completion waits for frames that have not reported yet.
    static constexpr int kFrameReportWaitMs = 1000;

    BrowserPage(QWebEngineProfile* profile, QObject* parent);

    // Who answers beforeNavigate; without one every navigation goes ahead.
    void setNavigationHandler(NavigationHandler handler) {
        m_navigationHandler = std::move(handler);
    }
    // Where pages that ask for a new window go (null refuses it); without one they are refused.
    void setWindowFactory(WindowFactory factory) { m_windowFactory = std::move(factory); }
    // Asks the handler; false cancels.
    bool askBeforeNavigate(const Navigation& navigation);
    std::vector<DocumentFacts> documentFacts() const { return m_facts.documents(); }

  signals:
    // A document finished loading: the top document once per completed load, after its frames
    // reported (or a second passed), and every frame document as it reports.
    void documentCompleted(const QUrl& url, bool topLevel);
    // A top-level reload was let through.
    void reloadStarted();
    // The top-level load failed (an error page is shown).
    void loadFailedWith(const QUrl& url, const QString& error);

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceId) override;
    QWebEnginePage* createWindow(WebWindowType type) override;

  private:
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void completeTopLevelWhenReady();
    void completeTopLevel();

    NavigationHandler m_navigationHandler;
    WindowFactory m_windowFactory;
    DocumentFactsTable m_facts;
    bool m_loading = false;             // a top-level load started and has not ended
    bool m_factsOfOldDocument = false;  // the table still holds the previous document's facts
    bool m_completionPending = false;   // the load succeeded; waiting for frame reports
    QUrl m_completedUrl;
    QTimer m_frameReportWait;
};

}  // namespace perchlight
