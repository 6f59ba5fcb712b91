#pragma once

#include <QUrl>
#include <QWebEnginePage>
#include <functional>

namespace perchlight {

// Opens an address in a new browser window; the agent gives it (the shell's new window).
using AddressOpener = std::function<void(const QUrl&)>;

// The page of a dialog's browser view. It goes only where the dialog sends it: an own page
// (summary, test page) stays put and hands every http or https link to the opener, a site's page
// may follow http and https links only. Nothing else (javascript:, file:, data:) is ever opened.
// GUI thread.
class WebHostPage : public QWebEnginePage {
    Q_OBJECT

  public:
    enum class Mode { OwnPage, SitePage, NewWindowCatcher };

    WebHostPage(Mode mode, AddressOpener opener, QObject* parent = nullptr);

    // The one address an own page loads; any other navigation is a link to hand over.
    void setHome(const QUrl& home) { m_home = home; }

    // True for http and https addresses, the only ones opened or fetched.
    static bool isWebAddress(const QUrl& address);

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;

  private:
    void hand(const QUrl& url);

    Mode m_mode;
    AddressOpener m_opener;
    QUrl m_home;
};

}  // namespace perchlight
