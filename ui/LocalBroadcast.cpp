#include "ui/LocalBroadcast.h"

#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>

#include "ui/BirdCommands.h"

namespace perchlight {
namespace {

bool isProcessId(const QString& name) {
    bool number = false;
    return !name.isEmpty() && name.toLongLong(&number) > 0 && number && name.front().isDigit();
}

}  // namespace

QString LocalBroadcast::defaultFolder() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/perchlight");
}

LocalBroadcast::LocalBroadcast(const QString& folder, QObject* parent)
    : QObject(parent),
      m_folder(folder),
      m_ownName(QString::number(QCoreApplication::applicationPid())) {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &LocalBroadcast::acceptConnections);
}

LocalBroadcast::~LocalBroadcast() {
    m_listening = false;
    m_server.close();  // removes the socket file
}

QString LocalBroadcast::socketPath() const {
    return m_folder + QLatin1Char('/') + m_ownName;
}

bool LocalBroadcast::listen() {
    if (m_listening) {
        return true;
    }
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder) || !folderIsPrivate()) {
        return false;
    }
    QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QLocalServer::removeServer(socketPath());  // left by an earlier process with our id
    m_listening = m_server.listen(socketPath());
    return m_listening;
}

// Anyone who can write into the folder could impersonate the processes in it.
bool LocalBroadcast::folderIsPrivate() const {
    const QFileInfo folder(m_folder);
    return folder.isDir() && !folder.isSymLink() && folder.ownerId() == ::geteuid();
}

void LocalBroadcast::broadcast(int command, bool allProcesses) {
    if (!isBroadcastCommand(command)) {
        return;
    }
    if (m_listening) {  // else the folder is not safe to write into: this process is alone
        const QByteArray line = QByteArray::number(command) + '\n';
        const QStringList names =
            QDir(m_folder).entryList(QDir::System | QDir::Files | QDir::Hidden);
        for (const QString& name : names) {
            if (name != m_ownName && isProcessId(name)) {
                sendTo(m_folder + QLatin1Char('/') + name, line);
            }
        }
    }
    if (allProcesses) {
        QMetaObject::invokeMethod(
            this, [this, command] { emit commandReceived(command); }, Qt::QueuedConnection);
    }
}

bool LocalBroadcast::sendTo(const QString& path, const QByteArray& line) const {
    QLocalSocket socket;
    socket.connectToServer(path, QIODevice::WriteOnly);
    if (!socket.waitForConnected(kSocketTimeout)) {
        if (socket.error() == QLocalSocket::ConnectionRefusedError) {
            QFile::remove(path);  // its process is gone
        }
        return false;
    }
    socket.write(line);
    const bool written = socket.waitForBytesWritten(kSocketTimeout);
    socket.disconnectFromServer();
    return written;
}

void LocalBroadcast::acceptConnections() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        socket->setReadBufferSize(kReadBufferSize);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readCommands(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        readCommands(socket);
    }
}

void LocalBroadcast::readCommands(QLocalSocket* socket) {
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine();
        if (line.size() > kMaxLineLength + 1) {
            dropConnection(socket);
            return;
        }
        bool number = false;
        const int command = line.trimmed().toInt(&number);
        if (number && isBroadcastCommand(command)) {
            emit commandReceived(command);
        }
    }
    if (socket->bytesAvailable() > kMaxLineLength) {
        dropConnection(socket);
    }
}

void LocalBroadcast::dropConnection(QLocalSocket* socket) {
    socket->abort();
    socket->deleteLater();
}

}  // namespace perchlight
