#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>

namespace perchlight {

class BrowserWindow;

// Saves a picture of a browser window once its page has loaded and no helper of it is busy any
// longer. GUI thread only.
class ScreenshotJob : public QObject {
    Q_OBJECT

  public:
    // A page that has not loaded, or helpers still busy, after this long end the job with a
    // failure rather than waiting for ever on a server that never answers.
    static constexpr std::chrono::milliseconds kDefaultTimeout{30000};
    // How often the helpers are asked whether they are still busy, and how often the window is
    // grabbed until two pictures in a row agree: the page's frames reach the screen a little
    // after the load completes.
    static constexpr std::chrono::milliseconds kPollInterval{100};
    // The picture is taken as it stands after this many grabs even if the page keeps changing
    // (an animation never settles).
    static constexpr int kMaxGrabs = 20;

    ScreenshotJob(BrowserWindow* window, QString file,
                  std::chrono::milliseconds timeout = kDefaultTimeout);

  signals:
    // exitCode 0 when the PNG file was written; message says why not otherwise.
    void finished(int exitCode, const QString& message);

  private:
    void poll();
    void grabUntilSettled();
    void finish(int exitCode, const QString& message);

    QPointer<BrowserWindow> m_window;
    QString m_file;
    QTimer m_timeout;
    QTimer m_poll;
    QImage m_lastGrab;
    int m_grabs = 0;
    bool m_done = false;
};

}  // namespace perchlight
