// Another browser process, as far as the bird broadcast is concerned. Listens in the folder
// given as its argument and reports on standard output:
//   "ready"           once it listens
//   "received N"      for each command that reaches it
//   "sent N"          after each broadcast it was told to make
// Standard input takes "all N" and "others N" (broadcast command N to all or to the other
// processes) and "quit".
#include <unistd.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "ui/LocalBroadcast.h"

namespace {

void say(const QString& line) {
    std::fputs(qPrintable(line + '\n'), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        return 2;
    }
    perchlight::LocalBroadcast broadcast(QString::fromLocal8Bit(argv[1]));
    QObject::connect(&broadcast, &perchlight::LocalBroadcast::commandReceived,
                     [](int command) { say(QString("received %1").arg(command)); });
    if (!broadcast.listen()) {
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t size = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (size <= 0) {
            app.quit();
            return;
        }
        pending.append(buffer, size);
        for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QList<QByteArray> words = pending.left(end).simplified().split(' ');
            pending.remove(0, end + 1);
            if (words.size() != 2) {
                app.quit();
                return;
            }
            const int command = words[1].toInt();
            broadcast.broadcast(command, words[0] == "all");
            say(QString("sent %1").arg(command));
        }
    });
    say("ready");
    return app.exec();
}
