#include "TwoOriginServer.h"

#include <QTcpSocket>

namespace perchlight::test {

TwoOriginServer::TwoOriginServer() {
    for (int origin = 0; origin < 2; ++origin) {
        connect(&m_servers[origin], &QTcpServer::newConnection, this,
                [this, origin] { accept(origin); });
    }
}

bool TwoOriginServer::listen() {
    return m_servers[0].listen(QHostAddress::LocalHost) &&
           m_servers[1].listen(QHostAddress::LocalHost);
}

QUrl TwoOriginServer::url(int origin, const QString& path) const {
    return QUrl(
        QStringLiteral("http://127.0.0.1:%1%2").arg(m_servers[origin].serverPort()).arg(path));
}

void TwoOriginServer::setPage(const QByteArray& path, const QByteArray& html) {
    m_pages.insert(path, html);
}

int TwoOriginServer::requestCount(const QByteArray& path) const {
    return static_cast<int>(
        std::count_if(m_requests.begin(), m_requests.end(),
                      [&](const Request& request) { return request.path == path; }));
}

void TwoOriginServer::accept(int origin) {
    while (QTcpSocket* socket = m_servers[origin].nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket, origin] { read(socket, origin); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void TwoOriginServer::read(QTcpSocket* socket, int origin) {
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        return;
    }
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    qsizetype length = 0;
    for (const QByteArray& line : lines) {
        if (line.toLower().startsWith("content-length:")) {
            length = line.mid(15).trimmed().toLongLong();
        }
    }
    if (buffer.size() < headerEnd + 4 + length) {
        return;
    }
    Request request{origin, requestLine.value(0), requestLine.value(1),
                    buffer.mid(headerEnd + 4, length)};
    buffer.clear();
    m_requests.append(request);
    emit requestReceived(request.path);
    if (m_held.contains(request.path)) {
        return;
    }
    QByteArray page = m_pages.value(request.path);
    const bool found = m_pages.contains(request.path);
    page.replace("{A}", url(0, {}).toString().toUtf8());
    page.replace("{B}", url(1, {}).toString().toUtf8());
    const QByteArray status = found ? "200 OK" : "404 Not Found";
    const QByteArray type = found ? "text/html; charset=utf-8" : "text/plain";
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " +
                  QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
    socket->disconnectFromHost();
}

}  // namespace perchlight::test
