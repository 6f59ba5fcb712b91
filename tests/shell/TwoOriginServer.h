#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

namespace perchlight::test {

// A loopback HTTP server listening on two ports of 127.0.0.1, so two origins, serving canned
// pages and recording every request with its body. "{A}" and "{B}" in a page stand for the
// two origins ("http://127.0.0.1:port"). Paths not set answer 404. GUI thread only.
class TwoOriginServer : public QObject {
    Q_OBJECT

  public:
    struct Request {
        int origin;  // 0 for A, 1 for B
        QByteArray method;
        QByteArray path;
        QByteArray body;
    };

    TwoOriginServer();
    bool listen();
    QUrl url(int origin, const QString& path) const;
    void setPage(const QByteArray& path, const QByteArray& html);
    // Requests for this path are read and recorded but never answered.
    void hold(const QByteArray& path) { m_held.insert(path); }
    const QList<Request>& requests() const { return m_requests; }
    int requestCount(const QByteArray& path) const;

  signals:
    void requestReceived(const QByteArray& path);

  private:
    void accept(int origin);
    void read(QTcpSocket* socket, int origin);

    QTcpServer m_servers[2];
    QHash<QByteArray, QByteArray> m_pages;
    QSet<QByteArray> m_held;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<Request> m_requests;
};

}  // namespace perchlight::test
