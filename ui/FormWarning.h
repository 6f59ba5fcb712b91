#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <chrono>

#include "core/MatchResult.h"
#include "ui/WebHostPage.h"

class QWidget;

namespace perchlight {

class AgentServices;
class BirdBroadcast;

// The question before a form is posted: the policy that covers the target for "POST" is looked
// up and evaluated, and when it is missing or does not match the preferences the user is asked
// whether to go on. The check runs on a worker thread of its own, with its own result, while a
// nested event loop keeps the windows painting; it never touches the window's page check. Every
// error of the check counts as no usable policy. GUI thread.
class FormWarning : public QObject {
    Q_OBJECT

  public:
    // How long the form's policy may take to arrive before it counts as not found.
    static constexpr std::chrono::milliseconds kDefaultTimeLimit{30000};

    // window: the browser window the question belongs to; it may go away while the question is
    // open. The services outlive every check (they belong to the process).
    FormWarning(AgentServices& services, QWidget* window, QObject* parent = nullptr);

    void setTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }
    // Where the summary page's links open.
    void setAddressOpener(AddressOpener opener) { m_opener = std::move(opener); }
    // Tells the other processes that the no-prompt list changed; none sends nothing.
    void setBroadcast(BirdBroadcast* broadcast) { m_broadcast = broadcast; }

    // Checks the target and asks when needed; true when the form may be sent. Answers false
    // also when the window went away while the question was open.
    bool allowSubmission(const QUrl& target);

    // 0 when the target's policy satisfies the preferences, positive when it does not or is
    // unusable, negative when there is none that can be had (or the target is no web address).
    int checkForm(const QUrl& target, MatchResult& result);

  signals:
    // The bird shows the checking state, then the page's verdict again.
    void checkStarted();
    void checkEnded();

  private:
    void rememberSite(const QUrl& target);

    AgentServices& m_services;
    QPointer<QWidget> m_window;
    std::chrono::milliseconds m_timeLimit = kDefaultTimeLimit;
    AddressOpener m_opener;
    BirdBroadcast* m_broadcast = nullptr;
};

}  // namespace perchlight
