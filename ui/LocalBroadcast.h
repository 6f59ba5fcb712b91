#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <atomic>

#include "prefs/BirdBroadcast.h"

class QLocalSocket;

namespace perchlight {

// The bird broadcast between the browser processes of one user. Each process listens on a local
// socket named after its process id in a folder only the user can enter; a broadcast writes one
// line, the command's number, to each socket of the folder. Only the broadcast commands are sent
// or accepted. Sockets left behind by a process that died are deleted by the next sender, and a
// process that is stopped gets its commands when it resumes. broadcast() may be called from any
// thread; received commands arrive as commandReceived on the thread of the object (the GUI
// thread).
class LocalBroadcast : public QObject, public BirdBroadcast {
    Q_OBJECT

  public:
    // A line longer than this is no command: the connection that sends it is dropped.
    static constexpr int kMaxLineLength = 16;
    // What a connection may hold unread; more waits in the sender's queue.
    static constexpr int kReadBufferSize = 4096;
    // Longest wait for a socket to take a connection or a line (only a full queue makes one wait).
    static constexpr int kSocketTimeout = 100;  // ms

    // The runtime folder of the user + "/perchlight"; empty when the user has none.
    static QString defaultFolder();

    explicit LocalBroadcast(const QString& folder = defaultFolder(), QObject* parent = nullptr);
    ~LocalBroadcast() override;

    // Creates the folder (owner only) and listens on this process's socket, replacing a stale
    // file of the same name. False when the folder is not the user's own or listening fails: the
    // process then reaches only itself.
    bool listen();
    bool isListening() const { return m_listening; }
    // This process's socket.
    QString socketPath() const;

    // To every process (allProcesses, this one included through its event loop) or to each
    // other process.
    void broadcast(int command, bool allProcesses) override;

  signals:
    void commandReceived(int command);

  private:
    void acceptConnections();
    void readCommands(QLocalSocket* socket);
    void dropConnection(QLocalSocket* socket);
    bool sendTo(const QString& path, const QByteArray& line) const;
    bool folderIsPrivate() const;

    const QString m_folder;
    const QString m_ownName;
    QLocalServer m_server;
    std::atomic<bool> m_listening = false;  // read by broadcasting threads
};

}  // namespace perchlight
