#include "ui/WebHostPage.h"

#include <exception>

namespace perchlight {

WebHostPage::WebHostPage(Mode mode, AddressOpener opener, QObject* parent)
    : QWebEnginePage(parent), m_mode(mode), m_opener(std::move(opener)) {}

bool WebHostPage::isWebAddress(const QUrl& address) {
    return address.isValid() && !address.isRelative() && !address.host().isEmpty() &&
           (address.scheme() == QLatin1String("http") ||
            address.scheme() == QLatin1String("https"));
}

bool WebHostPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    switch (m_mode) {
        case Mode::OwnPage:
            if (isMainFrame && url == m_home && type != NavigationTypeLinkClicked) {
                return true;
            }
            if (isMainFrame) {
                hand(url);
            }
            return false;
        case Mode::SitePage:
            return isWebAddress(url);
        case Mode::NewWindowCatcher:
            // A link that asked for a window of its own: it goes to the browser, this page goes
            // away.
            hand(url);
            deleteLater();
            return false;
    }
    return false;
}

QWebEnginePage* WebHostPage::createWindow(WebWindowType) {
    if (m_mode == Mode::SitePage) {
        return nullptr;
    }
    return new WebHostPage(Mode::NewWindowCatcher, m_opener, this);
}

void WebHostPage::hand(const QUrl& url) {
    if (!isWebAddress(url) || !m_opener) {
        return;
    }
    try {
        m_opener(url);
    } catch (const std::exception&) {
        // Opening a browser window is the shell's; a failure there leaves this dialog as it is.
    }
}

}  // namespace perchlight
