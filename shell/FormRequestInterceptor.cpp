#include "shell/FormRequestInterceptor.h"

#include "shell/BrowserPage.h"

namespace perchlight {

FormRequestInterceptor::FormRequestInterceptor(BrowserPage* page)
    : QWebEngineUrlRequestInterceptor(page), m_page(page) {}

void FormRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    const auto type = info.resourceType();
    if (m_page == nullptr ||
        info.navigationType() != QWebEngineUrlRequestInfo::NavigationTypeFormSubmitted ||
        (type != QWebEngineUrlRequestInfo::ResourceTypeMainFrame &&
         type != QWebEngineUrlRequestInfo::ResourceTypeSubFrame)) {
        return;
    }
    Navigation navigation;
    navigation.url = info.requestUrl();
    navigation.topLevel = type == QWebEngineUrlRequestInfo::ResourceTypeMainFrame;
    navigation.post = info.requestMethod() == "POST";
    navigation.kind = Navigation::Kind::Form;
    if (!m_page->askBeforeNavigate(navigation)) {
        // Stopping first aborts the navigation, so the form page stays as it was, with what the
        // user typed; blocking alone would show an error page under the form's target address.
        if (m_page != nullptr) {
            m_page->triggerAction(QWebEnginePage::Stop);
        }
        info.block(true);
    }
}

}  // namespace perchlight
