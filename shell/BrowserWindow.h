#pragma once

#include <QMainWindow>
#include <QUrl>
#include <QWebEnginePage>

#include <memory>
#include <vector>

#include "shell/BrowserHelper.h"

class QLineEdit;
class QWebEngineProfile;
class QWebEngineView;

namespace perchlight {

class BrowserPage;
class BrowserShell;

// One browser window: a tool bar (back, forward, reload, stop, address, new window and the
// helpers' indicator slot) over one web view, and one helper of every loaded module. GUI thread
// only.
class BrowserWindow : public QMainWindow, public BrowserWindowSite {
    Q_OBJECT

  public:
    BrowserWindow(BrowserShell& shell, QWebEngineProfile* profile,
                  const std::vector<HelperModule*>& modules);
    ~BrowserWindow() override;

    // Loads what the user typed; false (and nothing loads) when it is not a loadable address.
    bool loadAddress(const QString& typed);
    void load(const QUrl& url);
    // Whether any helper is still busy with the page.
    bool helpersBusy() const;
    // Whether every helper lets the pages open pop-ups.
    bool popupsAllowed() const;
    QWebEngineView* view() const { return m_view; }
    BrowserPage* browserPage() const { return m_page; }
    std::size_t helperCount() const { return m_helpers.size(); }

    QMainWindow* frameWindow() override { return this; }
    QWidget* indicatorSlot() override { return m_indicatorSlot; }
    QUrl currentUrl() override;
    std::vector<DocumentFacts> documentFacts() override;
    void openInNewWindow(const QUrl& url) override;
    void focusPage() override;
    QWebEnginePage* page() override;
    void runHeld(const std::function<void()>& work) override;

  signals:
    // The top document completed, after the helpers were told.
    void topDocumentCompleted(const QUrl& url);
    void loadFailed(const QUrl& url, const QString& error);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    class HelperCall;

    void buildToolBar();
    void createHelpers(const std::vector<HelperModule*>& modules);
    bool beforeNavigate(const Navigation& navigation);
    void onDocumentCompleted(const QUrl& url, bool topLevel);
    QWebEnginePage* createWindowFor(QWebEnginePage::WebWindowType type);
    void applyPopupSetting();
    void announceClosing();
    void closeOwnDialogs();
    template <typename Call>
    void forEachHelper(const char* what, Call call);

    BrowserShell& m_shell;
    QWebEngineView* m_view = nullptr;
    BrowserPage* m_page = nullptr;
    QLineEdit* m_address = nullptr;
    QWidget* m_indicatorSlot = nullptr;
    std::vector<std::unique_ptr<BrowserHelper>> m_helpers;
    int m_helperCalls = 0;  // helper calls in progress (one may run a modal dialog)
    bool m_closingAnnounced = false;
    bool m_closePending = false;  // a close came while a helper call ran; it follows the call
};

}  // namespace perchlight
