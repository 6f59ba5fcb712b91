#include "ui/WebHostBridge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QWebEnginePage>
#include <QWebEngineScript>

namespace perchlight {

WebHostBridge::WebHostBridge(QWebEnginePage* page) : QObject(page), m_page(page) {}

void WebHostBridge::onClick(bool isBody, const QString& colour) {
    if (!isBody || m_page == nullptr) {
        return;
    }
    // The colour travels as a JSON string, so no text of the page becomes script.
    const QByteArray quoted = QJsonDocument(QJsonArray{colour}).toJson(QJsonDocument::Compact);
    const QString script = QStringLiteral("document.body.style.backgroundColor = %1[0];")
                               .arg(QString::fromUtf8(quoted));
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

}  // namespace perchlight
