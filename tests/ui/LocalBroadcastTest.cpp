#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <memory>
#include <thread>

#include "ui/BirdCommands.h"
#include "ui/LocalBroadcast.h"

namespace perchlight {
namespace {

// A browser process of the same user, started from the peer program.
class Peer {
  public:
    explicit Peer(const QString& folder) {
        m_process.setProgram(PERCHLIGHT_BROADCAST_PEER);
        m_process.setArguments({folder});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
    }
    ~Peer() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.write("quit\n");
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished();
            }
        }
    }

    // Waits until the peer has said the line; false after the time-out.
    bool waitFor(const QString& line, int timeout = 10000) {
        QElapsedTimer clock;
        clock.start();
        while (!m_lines.contains(line)) {
            if (clock.elapsed() > timeout) {
                return false;
            }
            m_process.waitForReadyRead(50);
            while (m_process.canReadLine()) {
                m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
            }
            QCoreApplication::processEvents();
        }
        return true;
    }
    void tell(const QByteArray& line) { m_process.write(line + '\n'); }
    const QStringList& lines() const { return m_lines; }
    qint64 pid() const { return m_process.processId(); }
    void kill() {
        m_process.kill();
        m_process.waitForFinished();
    }

  private:
    QProcess m_process;
    QStringList m_lines;
};

QStringList received(const Peer& peer) {
    QStringList commands;
    for (const QString& line : peer.lines()) {
        if (line.startsWith("received ")) {
            commands << line.mid(9);
        }
    }
    return commands;
}

QList<int> commandsOf(const QSignalSpy& spy) {
    QList<int> commands;
    for (const QList<QVariant>& call : spy) {
        commands << call.at(0).toInt();
    }
    return commands;
}

}  // namespace

class LocalBroadcastTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        m_path = m_folder->path() + "/perchlight";
    }

    void listen_createsPrivateFolderAndSocket() {
        auto broadcast = std::make_unique<LocalBroadcast>(m_path);
        QVERIFY(broadcast->listen());
        const QFile::Permissions permissions = QFileInfo(m_path).permissions();
        QVERIFY(permissions.testFlags(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(int(permissions & 0x0077), 0);  // nothing for the group or others
        const QString socket = m_path + "/" + QString::number(QCoreApplication::applicationPid());
        QCOMPARE(broadcast->socketPath(), socket);
        QVERIFY(QFileInfo::exists(socket));
        broadcast.reset();
        QVERIFY(!QFileInfo::exists(socket));  // a process that ends leaves nothing behind
    }

    void listen_replacesStaleFileOfItsOwnId() {
        QDir().mkpath(m_path);
        LocalBroadcast broadcast(m_path);
        QFile stale(broadcast.socketPath());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        QVERIFY(broadcast.listen());
        QVERIFY(QFileInfo(broadcast.socketPath()).isSymLink() ||
                !QFileInfo(broadcast.socketPath()).isFile());
    }

    // Someone could have put the link there to read or feed our commands: no socket goes in, and
    // the process still reaches its own windows.
    void listen_refusesAFolderReachedThroughALink() {
        QDir().mkpath(m_folder->path() + "/elsewhere");
        QVERIFY(QFile::link(m_folder->path() + "/elsewhere", m_path));
        LocalBroadcast broadcast(m_path);
        QVERIFY(!broadcast.listen());
        QVERIFY(QDir(m_folder->path() + "/elsewhere")
                    .isEmpty(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot));
        QSignalSpy received(&broadcast, &LocalBroadcast::commandReceived);
        broadcast.broadcast(kBroadcastCheckingDisabled, true);
        QTRY_COMPARE(commandsOf(received), QList<int>{32793});
    }

    // Two more processes; this one reaches both and itself, exactly once each.
    void broadcastToAll_reachesEveryProcess() {
        LocalBroadcast broadcast(m_path);
        QVERIFY(broadcast.listen());
        QSignalSpy here(&broadcast, &LocalBroadcast::commandReceived);
        Peer first(m_path);
        Peer second(m_path);
        QVERIFY(first.waitFor("ready"));
        QVERIFY(second.waitFor("ready"));

        broadcast.broadcast(kBroadcastCheckingDisabled, true);
        QVERIFY(first.waitFor("received 32793"));
        QVERIFY(second.waitFor("received 32793"));
        QTRY_COMPARE(commandsOf(here), QList<int>{32793});
        QCOMPARE(received(first), QStringList{"32793"});
        QCOMPARE(received(second), QStringList{"32793"});
    }

    // "Other processes" leaves out the sender; the sender's next broadcast to all shows that
    // nothing of the first reached it.
    void broadcastToOthers_skipsTheSender() {
        LocalBroadcast broadcast(m_path);
        QVERIFY(broadcast.listen());
        QSignalSpy here(&broadcast, &LocalBroadcast::commandReceived);
        Peer sender(m_path);
        Peer other(m_path);
        QVERIFY(sender.waitFor("ready"));
        QVERIFY(other.waitFor("ready"));

        sender.tell("others 32805");
        QVERIFY(sender.waitFor("sent 32805"));
        sender.tell("all 32807");
        QVERIFY(sender.waitFor("received 32807"));
        QVERIFY(other.waitFor("received 32807"));
        QTRY_COMPARE(commandsOf(here), (QList<int>{32805, 32807}));
        QCOMPARE(received(other), (QStringList{"32805", "32807"}));
        QCOMPARE(received(sender), QStringList{"32807"});
    }

    // A killed process leaves its socket behind: the next sender deletes it and carries on.
    void deadProcess_socketIsDeleted() {
        LocalBroadcast broadcast(m_path);
        QVERIFY(broadcast.listen());
        Peer living(m_path);
        Peer dying(m_path);
        QVERIFY(living.waitFor("ready"));
        QVERIFY(dying.waitFor("ready"));
        const QString socket = m_path + "/" + QString::number(dying.pid());
        QVERIFY(QFileInfo::exists(socket));
        dying.kill();
        QVERIFY(QFileInfo::exists(socket));

        QElapsedTimer clock;
        clock.start();
        broadcast.broadcast(kBroadcastReloadSettingsAndRuleSet, false);
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(!QFileInfo::exists(socket));
        QVERIFY(living.waitFor("received 32802"));
    }

    // A stopped process holds no one up: the kernel keeps the line until it runs again.
    void stoppedProcess_getsTheCommandWhenItResumes() {
        LocalBroadcast broadcast(m_path);
        QVERIFY(broadcast.listen());
        Peer sleeper(m_path);
        QVERIFY(sleeper.waitFor("ready"));
        QCOMPARE(::kill(pid_t(sleeper.pid()), SIGSTOP), 0);
        QElapsedTimer clock;
        clock.start();
        broadcast.broadcast(kBroadcastReloadNoPromptSites, false);
        broadcast.broadcast(kBroadcastReloadSettings, false);
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(::kill(pid_t(sleeper.pid()), SIGCONT), 0);
        QVERIFY(sleeper.waitFor("received 32805"));
        QVERIFY(sleeper.waitFor("received 32804"));
        QCOMPARE(received(sleeper).size(), 2);
    }

    // A check thread may broadcast; what reaches this process arrives on the GUI thread.
    void broadcastFromAnotherThread_arrivesOnTheGuiThread() {
        LocalBroadcast broadcast(m_path);
        QVERIFY(broadcast.listen());
        Peer other(m_path);
        QVERIFY(other.waitFor("ready"));
        QThread* receivedOn = nullptr;
        connect(&broadcast, &LocalBroadcast::commandReceived, this,
                [&] { receivedOn = QThread::currentThread(); });
        std::thread checkThread([&] { broadcast.broadcast(kBroadcastReloadSettings, true); });
        checkThread.join();
        QVERIFY(other.waitFor("received 32804"));
        QTRY_VERIFY(receivedOn != nullptr);
        QCOMPARE(receivedOn, QThread::currentThread());
    }

    void unknownCommands_areNeitherSentNorAccepted() {
        LocalBroadcast broadcast(m_path);
        QVERIFY(broadcast.listen());
        QSignalSpy here(&broadcast, &LocalBroadcast::commandReceived);
        broadcast.broadcast(32780, true);  // a menu command, not a broadcast

        QLocalSocket writer;
        writer.connectToServer(broadcast.socketPath());
        QVERIFY(writer.waitForConnected(1000));
        writer.write("12345\nabc\n-32803\n 32803 \n32803x\n32804\n");
        QVERIFY(writer.waitForBytesWritten(1000));
        QTRY_COMPARE(commandsOf(here), (QList<int>{32803, 32804}));
    }

    void overlongLine_dropsTheConnection() {
        LocalBroadcast broadcast(m_path);
        QVERIFY(broadcast.listen());
        QSignalSpy here(&broadcast, &LocalBroadcast::commandReceived);
        QLocalSocket writer;
        writer.connectToServer(broadcast.socketPath());
        QVERIFY(writer.waitForConnected(1000));
        writer.write(QByteArray(40, '3'));
        QVERIFY(writer.waitForBytesWritten(1000));
        QTRY_COMPARE(writer.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(here.count(), 0);

        QLocalSocket second;  // the server still takes others
        second.connectToServer(broadcast.socketPath());
        QVERIFY(second.waitForConnected(1000));
        second.write(QByteArray(40, '3') + "\n32804\n");
        QVERIFY(second.waitForBytesWritten(1000));
        QTRY_COMPARE(second.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(here.count(), 0);
    }

  private:
    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_path;
};

}  // namespace perchlight

QTEST_MAIN(perchlight::LocalBroadcastTest)
#include "LocalBroadcastTest.moc"
