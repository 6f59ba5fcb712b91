#pragma once

#include <QPointer>
#include <QWebEngineUrlRequestInterceptor>

namespace perchlight {

class BrowserPage;

// Asks a page's helpers about each form submission of the page, where the request's method is
// known and before any byte of it leaves. Set on one page only; runs on the GUI thread.
class FormRequestInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT

  public:
    explicit FormRequestInterceptor(BrowserPage* page);

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

  private:
    QPointer<BrowserPage> m_page;
};

}  // namespace perchlight
