#pragma once

#include <QObject>
#include <QPointer>

class QWebEnginePage;

namespace perchlight {

// The object behind window.external in our own pages, reached over the web channel: the page's
// shim passes whether the element it was given is the document's body, since a node itself cannot
// cross the channel. GUI thread.
class WebHostBridge : public QObject {
    Q_OBJECT

  public:
    explicit WebHostBridge(QWebEnginePage* page);

  public slots:
    // Sets the page's background to the colour when the element was its body; else nothing.
    void onClick(bool isBody, const QString& colour);

  private:
    QPointer<QWebEnginePage> m_page;
};

}  // namespace perchlight
