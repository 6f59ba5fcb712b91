#pragma once

#include <QKeySequence>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "retrieval/CheckOwner.h"
#include "retrieval/P3PMatchInfo.h"
#include "shell/BrowserHelper.h"
#include "ui/BirdOwner.h"
#include "ui/BirdWindow.h"
#include "util/Monitor.h"

namespace perchlight {

class AgentProcess;
class PageCommands;

// The agent in one browser window: turns the window's navigation events into page checks, one
// check thread at a time, and owns the window's bird. Everything but the CheckOwner and
// CheckIndicator calls of the check thread runs on the GUI thread, which it never blocks on the
// network: a new check waits for the previous thread by polling, signalling its monitor, and the
// bird drops what a superseded check still reports.
class P3PObject : public BrowserHelper, public BirdOwner, public CheckOwner {
  public:
    // How often a check that waits for its predecessor signals the old thread and looks again.
    static constexpr int kRetryInterval = 100;  // ms

    P3PObject(AgentProcess& process, BrowserWindowSite& site);
    ~P3PObject() override;

    // BrowserHelper.
    bool beforeNavigate(const Navigation& navigation) override;
    void documentComplete(const QUrl& url, bool topLevel) override;
    void windowClosing() override;
    bool busy() const override;
    bool allowsPopups() const override;

    // BirdOwner.
    QWidget* frameWindow() override;
    QWidget* dockSlot() override;
    QString summaryTipText() override;
    bool animationEnabled() override;
    void saveSettings() override;
    void reloadSettings() override;
    void recheckPage() override;
    BirdBroadcast& broadcaster() override;
    void openMenu(const QPoint& at) override;

    // CheckOwner, read by the check thread.
    P3PMatchInfo& matchInfo() override { return m_matchInfo; }
    CheckIndicator& indicator() override;
    Monitor& checkMonitor() override { return m_checkMonitor; }
    const std::vector<EmbeddedItem>& embeddedContent() const override { return m_embedded; }
    const Url& linkPolicyReference() const override { return m_linkPolicyRef; }
    bool postedNavigation() const override { return m_posted; }

    // A command of the bird menu or of the broadcast, for this window's bird.
    void runBirdCommand(int command);
    BirdWindow* bird() const { return m_bird; }

    // The key sequence of the stored shortcut ("Hotkey Mod" 1, 3, 5, 7 and "Hotkey Keys" F9 to
    // F12); empty when the stored values name no key.
    static QKeySequence shortcutKeys(std::uint32_t modifier, std::uint32_t key);

  private:
    class CheckIndicatorOfRun;

    // Starts a check of the page (the current location when none is given) once the previous
    // check thread has ended.
    void startCheck(std::optional<QUrl> page);
    void startWhenPreviousEnded();
    void launchCheck(const QUrl& page);
    bool allowFormSubmission(const QUrl& target);
    void collectPage();
    void stopRunningCheck();
    bool checkThreadRunning() const;
    void joinCheckThread();

    AgentProcess& m_process;
    BrowserWindowSite& m_site;
    QPointer<BirdWindow> m_bird;
    P3PMatchInfo m_matchInfo;
    std::unique_ptr<PageCommands> m_commands;
    Monitor m_checkMonitor;
    std::unique_ptr<CheckIndicatorOfRun> m_indicator;
    std::vector<EmbeddedItem> m_embedded;
    Url m_linkPolicyRef;
    bool m_posted = false;
    bool m_documentComplete = false;
    bool m_closing = false;
    std::uint64_t m_generation = 0;
    QUrl m_pendingPage;
    bool m_startPending = false;
    QTimer m_retry;
    std::thread m_checkThread;
    std::shared_ptr<std::atomic<bool>> m_checkEnded;
};

}  // namespace perchlight
