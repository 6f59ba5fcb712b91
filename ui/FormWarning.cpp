#include "ui/FormWarning.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "browser/AgentServices.h"
#include "browser/FormCheck.h"
#include "prefs/BirdBroadcast.h"
#include "retrieval/CheckRegistry.h"
#include "retrieval/P3PMatchInfo.h"
#include "ui/DialogSupport.h"
#include "ui/ErrorBox.h"
#include "ui/FormWarningDialog.h"
#include "util/Monitor.h"
#include "util/Url.h"

namespace perchlight {
namespace {

// What the GUI thread and the worker of one form check share. The worker may outlive the
// question (it is left behind when the time limit passes), so both hold it.
struct FormCheckJob {
    Monitor monitor;  // wakes the worker's download when the check is given up
    std::atomic<bool> cancelled{false};
    std::mutex lock;  // guards loop, finished, answer and result
    QEventLoop* loop = nullptr;
    bool finished = false;
    int answer = -1;
    MatchResult result;
};

std::optional<Url> webUrl(const QUrl& target) {
    if (target.scheme() != QLatin1String("http") && target.scheme() != QLatin1String("https")) {
        return std::nullopt;
    }
    return FormCheck::targetUrl(target.toString(QUrl::FullyEncoded).toStdString());
}

void workOn(AgentServices& services, Url target, std::shared_ptr<FormCheckJob> job) {
    CheckRegistry::registerCurrentThread(job->monitor);
    MatchResult result;
    result.requestUri = target;
    int answer = -1;
    try {
        answer = FormCheck::run(services, target, job->cancelled, result);
    } catch (...) {
        // A site that serves no usable policy, a failed or stopped download: no usable policy.
        answer = -1;
    }
    CheckRegistry::unregisterCurrentThread();
    std::lock_guard guard(job->lock);
    job->answer = answer;
    job->result = std::move(result);
    job->finished = true;
    if (job->loop != nullptr) {
        QMetaObject::invokeMethod(job->loop, &QEventLoop::quit, Qt::QueuedConnection);
    }
}

// How long a stopped worker may take to end before it is left to end on its own. Stopping wakes
// its download at once, so only a worker stuck outside any download gets near it.
constexpr std::chrono::milliseconds kStopGrace{10000};

void wake(FormCheckJob& job) {
    MonitorLock guard(job.monitor);
    job.monitor.broadcast();
}

// Keeps waking a worker that was left running until it has ended, so that its download stops.
void stopInBackground(const std::shared_ptr<FormCheckJob>& job) {
    auto* waker = new QTimer(QCoreApplication::instance());
    QObject::connect(waker, &QTimer::timeout, waker, [job, waker] {
        {
            std::lock_guard guard(job->lock);
            if (job->finished) {
                waker->deleteLater();
                return;
            }
        }
        wake(*job);
    });
    waker->start(50);
}

}  // namespace

FormWarning::FormWarning(AgentServices& services, QWidget* window, QObject* parent)
    : QObject(parent), m_services(services), m_window(window) {}

int FormWarning::checkForm(const QUrl& target, MatchResult& result) {
    const std::optional<Url> url = webUrl(target);
    if (!url) {
        return -1;
    }
    emit checkStarted();
    auto job = std::make_shared<FormCheckJob>();
    QEventLoop loop;
    job->loop = &loop;
    std::thread worker;
    try {
        worker = std::thread(workOn, std::ref(m_services), *url, job);
    } catch (const std::system_error&) {
        emit checkEnded();
        return -1;
    }
    // At the time limit the check is stopped: its download is woken until the worker has
    // ended, which it does at once, and the form counts as having no usable policy.
    QTimer waker;
    connect(&waker, &QTimer::timeout, &waker, [&job] { wake(*job); });
    QTimer grace;
    grace.setSingleShot(true);
    connect(&grace, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &deadline, [&] {
        job->cancelled = true;
        wake(*job);
        waker.start(20);
        grace.start(kStopGrace);
    });
    deadline.start(m_timeLimit);
    bool finished = false;
    {
        std::unique_lock guard(job->lock);
        finished = job->finished;
    }
    if (!finished) {
        // The form's own window takes no input meanwhile: its page must not change under the
        // pending question, and no key pressed now may answer the question that follows. The
        // other windows go on as ever.
        const bool wasEnabled = m_window != nullptr && m_window->isEnabled();
        if (wasEnabled) {
            m_window->setEnabled(false);
        }
        loop.exec();
        if (wasEnabled && m_window != nullptr) {
            m_window->setEnabled(true);
        }
    }
    int answer = -1;
    {
        std::lock_guard guard(job->lock);
        job->loop = nullptr;
        finished = job->finished;
        if (finished && !job->cancelled) {
            answer = job->answer;
            result = job->result;
        }
    }
    if (finished) {
        worker.join();
    } else {
        stopInBackground(job);
        worker.detach();
    }
    emit checkEnded();
    return answer;
}

bool FormWarning::allowSubmission(const QUrl& target) {
    P3PPreferences& preferences = m_services.preferences();
    if (FormCheck::skipsWarning(m_services, target.toString(QUrl::FullyEncoded).toStdString())) {
        return true;
    }
    MatchResult result;
    const int answer = checkForm(target, result);
    if (answer == 0) {
        return true;
    }
    const bool anySiteBefore = preferences.dontWarnOnForms();
    QPointer<FormWarningDialog> dialog =
        new FormWarningDialog(answer > 0 ? std::optional<MatchResult>(result) : std::nullopt,
                              anySiteBefore, m_opener, m_window);
    const int choice = DialogSupport::runWindowModal(*dialog);
    if (dialog == nullptr || m_window == nullptr) {
        // The window closed under the question: nothing is left to send the form from.
        delete dialog;
        return false;
    }
    const bool thisSite = dialog->thisSite();
    const bool anySite = dialog->anySite();
    delete dialog;
    if (anySite != anySiteBefore) {
        ErrorBox::run(m_window, [&] { preferences.setDontWarnOnForms(anySite); });
    }
    if (thisSite) {
        rememberSite(target);
    }
    return choice == FormWarningDialog::kYes;
}

void FormWarning::rememberSite(const QUrl& target) {
    const std::optional<Url> site =
        FormCheck::siteOf(target.toString(QUrl::FullyEncoded).toStdString());
    if (!site) {
        return;
    }
    m_services.preferences().addNoPrompt(*site, true);
    if (m_broadcast != nullptr) {
        m_broadcast->broadcast(kBroadcastReloadNoPromptSites, false);
    }
}

}  // namespace perchlight
