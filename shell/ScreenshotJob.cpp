#include "shell/ScreenshotJob.h"

#include <QPixmap>

#include "shell/BrowserWindow.h"

namespace perchlight {

ScreenshotJob::ScreenshotJob(BrowserWindow* window, QString file, std::chrono::milliseconds timeout)
    : QObject(window), m_window(window), m_file(std::move(file)) {
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this,
            [this] { finish(2, QStringLiteral("the page did not finish loading in time")); });
    m_timeout.start(timeout);
    m_poll.setInterval(kPollInterval);
    connect(&m_poll, &QTimer::timeout, this, &ScreenshotJob::poll);
    connect(window, &BrowserWindow::topDocumentCompleted, this, [this] {
        m_poll.start();
        poll();
    });
    connect(
        window, &BrowserWindow::loadFailed, this, [this](const QUrl& url, const QString& error) {
            finish(1, QStringLiteral("loading %1 failed: %2").arg(url.toDisplayString(), error));
        });
}

void ScreenshotJob::poll() {
    if (m_done || m_window == nullptr) {
        return;
    }
    if (m_grabs == 0 && m_window->helpersBusy()) {
        return;
    }
    grabUntilSettled();
}

void ScreenshotJob::grabUntilSettled() {
    QImage picture = m_window->grab().toImage();
    ++m_grabs;
    const bool settled = !m_lastGrab.isNull() && picture == m_lastGrab;
    m_lastGrab = std::move(picture);
    if (!settled && m_grabs < kMaxGrabs) {
        return;
    }
    if (!m_lastGrab.save(m_file, "PNG")) {
        finish(3, QStringLiteral("cannot write %1").arg(m_file));
        return;
    }
    finish(0, {});
}

void ScreenshotJob::finish(int exitCode, const QString& message) {
    if (m_done) {
        return;
    }
    m_done = true;
    m_timeout.stop();
    m_poll.stop();
    emit finished(exitCode, message);
}

}  // namespace perchlight
