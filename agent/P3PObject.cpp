#include "agent/P3PObject.h"

#include <QMessageBox>
#include <QShortcut>

#include <cstdio>

#include "agent/AgentProcess.h"
#include "agent/PageCommands.h"
#include "browser/ReportedPage.h"
#include "prefs/BirdSettings.h"
#include "prefs/P3PPreferences.h"
#include "retrieval/PageCheck.h"
#include "summary/SummaryPage.h"
#include "ui/BirdMenu.h"
#include "ui/BirdWindow.h"
#include "ui/FormWarning.h"
#include "ui/LocalBroadcast.h"
#include "ui/VerdictSounds.h"
#include "util/Error.h"

namespace perchlight {
namespace {

bool isWebPage(const QUrl& url) {
    // As written: "HTTP:" in capitals is no web page of ours.
    const QString text = url.toString();
    return text.startsWith(QLatin1String("http:")) || text.startsWith(QLatin1String("https:"));
}

std::vector<ReportedDocument> reportedDocuments(const std::vector<DocumentFacts>& facts) {
    std::vector<ReportedDocument> documents;
    for (const DocumentFacts& document : facts) {
        ReportedDocument reported;
        try {
            reported.url = Url(document.url);
        } catch (const Error&) {
            continue;  // a document without an address of its own has nothing to resolve against
        }
        reported.framePath = document.framePath;
        for (const ElementReport& element : document.elements) {
            reported.elements.push_back({element.tag, element.src, element.codebase, element.code,
                                         element.rel, element.href});
        }
        documents.push_back(std::move(reported));
    }
    return documents;
}

}  // namespace

// What one check reports, bound to that check's generation: a check that was superseded while it
// ran reports into the void, since the bird drops other generations.
class P3PObject::CheckIndicatorOfRun : public CheckIndicator {
  public:
    CheckIndicatorOfRun(QPointer<BirdWindow> bird, AgentProcess& process, std::uint64_t generation)
        : m_bird(std::move(bird)), m_process(process), m_generation(generation) {}

    void showChecking() override {
        if (m_bird) {
            m_bird->showChecking(m_generation);
        }
    }
    void showVerdict(int verdict, bool cookieBlocked) override {
        if (m_bird) {
            m_bird->showVerdict(m_generation, verdict, cookieBlocked);
        }
    }
    void playSoundNoPolicy() override { play(kSoundUnknownPolicy, VerdictSounds::kNoPolicy); }
    void playSoundNoMatch() override { play(kSoundUnmatchedPolicy, VerdictSounds::kNoMatch); }
    void playSoundMatch() override { play(kSoundMatchedPolicy, VerdictSounds::kMatch); }
    bool soundsForCachedPolicies() const override { return (sounds() & kSoundFromCache) != 0; }

  private:
    std::uint32_t sounds() const { return m_process.services().preferences().snapshot().sounds; }
    void play(std::uint32_t bit, VerdictSounds::Sound sound) {
        if ((sounds() & bit) != 0) {
            m_process.sounds().play(sound);
        }
    }

    // The bird is destroyed only after the check thread has ended, so the pointer stays valid
    // for the whole run.
    QPointer<BirdWindow> m_bird;
    AgentProcess& m_process;
    const std::uint64_t m_generation;
};

P3PObject::P3PObject(AgentProcess& process, BrowserWindowSite& site)
    : m_process(process),
      m_site(site),
      m_matchInfo(process.services().referenceStore(), process.services().cache()),
      m_commands(std::make_unique<PageCommands>(process, site, m_matchInfo)) {
    m_bird = new BirdWindow(*this);
    m_bird->reposition();
    m_indicator = std::make_unique<CheckIndicatorOfRun>(m_bird, m_process, m_generation);
    const PreferenceValues values = m_process.services().preferences().snapshot();
    const QKeySequence keys = shortcutKeys(values.hotkeyModifier, values.hotkeyKey);
    if (!keys.isEmpty()) {
        auto* shortcut = new QShortcut(keys, m_site.frameWindow());
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, m_bird.data(), [this] {
            if (m_bird) {
                openMenu(m_bird->menuPosition());
            }
        });
    }
    m_retry.setInterval(kRetryInterval);
    QObject::connect(&m_retry, &QTimer::timeout, [this] { startWhenPreviousEnded(); });
    m_process.add(this);
}

P3PObject::~P3PObject() {
    m_retry.stop();
    stopRunningCheck();
    joinCheckThread();
    delete m_bird.data();
    m_process.remove(this);
}

QKeySequence P3PObject::shortcutKeys(std::uint32_t modifier, std::uint32_t key) {
    if (key < 120 || key > 123) {
        return {};
    }
    const int function = Qt::Key_F9 + static_cast<int>(key - 120);
    switch (modifier) {
        case 1:
            return QKeySequence(Qt::CTRL | function);
        case 3:
            return QKeySequence(Qt::CTRL | Qt::ALT | function);
        case 5:
            return QKeySequence(Qt::CTRL | Qt::SHIFT | function);
        case 7:
            return QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | function);
        default:
            return QKeySequence(function);
    }
}

CheckIndicator& P3PObject::indicator() {
    return *m_indicator;
}

bool P3PObject::beforeNavigate(const Navigation& navigation) {
    if (navigation.post && BirdSettings::enabled && !allowFormSubmission(navigation.url)) {
        return false;
    }
    if (!navigation.topLevel) {
        return true;  // frames inside the page change nothing
    }
    if (m_bird && m_bird->isHidden()) {
        m_bird->reposition();
        m_bird->show();
    }
    m_documentComplete = false;
    if (!BirdSettings::enabled) {
        return true;
    }
    stopRunningCheck();
    m_startPending = false;
    m_posted = navigation.post;
    if (m_bird) {
        m_bird->setCheckGeneration(++m_generation);
        m_bird->showVerdict(m_generation, kVerdictUnknown, false);
    }
    return true;
}

bool P3PObject::allowFormSubmission(const QUrl& target) {
    // The check's own downloads run off the GUI thread while the question's loop keeps the
    // windows painting; it never touches this window's running check.
    FormWarning warning(m_process.services(), m_site.frameWindow());
    warning.setAddressOpener([this](const QUrl& url) {
        if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) {
            m_site.openInNewWindow(url);
        }
    });
    warning.setBroadcast(&m_process.broadcast());
    // The bird flaps while the form's policy is looked for, then shows the page's verdict again;
    // a page check still running shows its own verdict when it ends.
    const std::uint64_t generation = m_generation;
    QObject::connect(&warning, &FormWarning::checkStarted, [this, generation] {
        if (m_bird) {
            m_bird->showChecking(generation);
        }
    });
    QObject::connect(&warning, &FormWarning::checkEnded, [this, generation] {
        if (m_bird && !checkThreadRunning()) {
            // A check that was stopped left no verdict to return to.
            int verdict = kVerdictUnknown;
            try {
                if (m_matchInfo.running()) {
                    verdict = m_matchInfo.overallVerdict();
                }
            } catch (const Error&) {
                verdict = kVerdictUnknown;
            }
            m_bird->showVerdict(generation, verdict, false);
        }
    });
    try {
        return warning.allowSubmission(target);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "perchlight: the form check failed: %s\n", error.what());
        return true;
    }
}

void P3PObject::documentComplete(const QUrl& url, bool topLevel) {
    if (!topLevel) {
        return;
    }
    m_documentComplete = true;
    if (BirdSettings::enabled) {
        startCheck(url);
    }
}

void P3PObject::windowClosing() {
    m_closing = true;
    m_retry.stop();
    m_startPending = false;
    stopRunningCheck();
    if (m_bird) {
        m_bird->hide();
    }
}

bool P3PObject::busy() const {
    return m_startPending || checkThreadRunning() || (m_bird && m_bird->busy());
}

bool P3PObject::allowsPopups() const {
    return (m_process.services().preferences().snapshot().userPreferences &
            kUserPreferenceBlockPopups) == 0;
}

QWidget* P3PObject::frameWindow() {
    return m_site.frameWindow();
}

QWidget* P3PObject::dockSlot() {
    return m_site.indicatorSlot();
}

QString P3PObject::summaryTipText() {
    return QString::fromStdString(SummaryPage().tooltipText(m_matchInfo.mainResult()));
}

bool P3PObject::animationEnabled() {
    return (m_process.services().preferences().snapshot().userPreferences &
            kUserPreferenceNoAnimation) == 0;
}

void P3PObject::saveSettings() {
    m_process.services().preferences().saveSettings();
}

void P3PObject::reloadSettings() {
    m_process.services().preferences().loadSettings();
}

void P3PObject::recheckPage() {
    startCheck(std::nullopt);
}

BirdBroadcast& P3PObject::broadcaster() {
    return m_process.broadcast();
}

void P3PObject::openMenu(const QPoint& at) {
    if (!m_bird) {
        return;
    }
    const BirdMenuState state = m_commands->menuState(*m_bird);
    auto* menu = new BirdMenu(state, BirdMenu::agentCommands(), m_site.frameWindow());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The command runs once the menu's own activation has unwound: its dialog may outlive the
    // menu.
    QObject::connect(
        menu, &BirdMenu::commandChosen, m_bird.data(),
        [this](int command) { runBirdCommand(command); }, Qt::QueuedConnection);
    menu->popup(at);
}

void P3PObject::runBirdCommand(int command) {
    if (m_commands->carryOut(command)) {
        return;
    }
    if (m_bird) {
        m_bird->runCommand(command);
    }
}

void P3PObject::startCheck(std::optional<QUrl> page) {
    if (!m_documentComplete || m_closing) {
        return;
    }
    const QUrl url = page.value_or(m_site.currentUrl());
    m_matchInfo.setRunning(false);
    if (!isWebPage(url)) {
        m_startPending = false;
        if (m_bird) {
            m_bird->setCheckGeneration(++m_generation);
            m_bird->showNotWebPage();
        }
        return;
    }
    if (m_bird) {
        m_bird->show();
    }
    m_pendingPage = url;
    m_startPending = true;
    startWhenPreviousEnded();
}

void P3PObject::startWhenPreviousEnded() {
    if (!m_startPending) {
        m_retry.stop();
        return;
    }
    if (checkThreadRunning()) {
        // Wakes a check that waits for a download, so that it sees it must stop.
        MonitorLock guard(m_checkMonitor);
        m_checkMonitor.broadcast();
        m_retry.start();
        return;
    }
    m_retry.stop();
    m_startPending = false;
    joinCheckThread();
    launchCheck(m_pendingPage);
}

void P3PObject::launchCheck(const QUrl& page) {
    Url pageUrl;
    try {
        pageUrl = Url(page.toString(QUrl::FullyEncoded).toStdString());
    } catch (const Error&) {
        return;
    }
    collectPage();
    if (m_bird) {
        m_bird->setCheckGeneration(++m_generation);
    }
    m_indicator = std::make_unique<CheckIndicatorOfRun>(m_bird, m_process, m_generation);
    m_matchInfo.setRunning(true);
    auto ended = std::make_shared<std::atomic<bool>>(false);
    m_checkEnded = ended;
    const std::string post = m_posted ? "posted" : "";
    try {
        m_checkThread = std::thread([this, pageUrl, post, ended] {
            runCheckThread(*this, pageUrl, post);
            *ended = true;
        });
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "perchlight: no thread for the page check: %s\n", error.what());
        *ended = true;
    }
}

void P3PObject::collectPage() {
    const CollectedPage page = ReportedPage::collect(reportedDocuments(m_site.documentFacts()));
    m_embedded = page.embedded;
    m_linkPolicyRef = page.linkPolicyRef;
}

void P3PObject::stopRunningCheck() {
    m_matchInfo.setRunning(false);
    MonitorLock guard(m_checkMonitor);
    m_checkMonitor.broadcast();
}

bool P3PObject::checkThreadRunning() const {
    return m_checkThread.joinable() && m_checkEnded && !*m_checkEnded;
}

void P3PObject::joinCheckThread() {
    if (!m_checkThread.joinable()) {
        return;
    }
    // Only at the end of a window: the check has been told to stop and its downloads are
    // abandoned, so what is left is at most one evaluation or one bounded header probe.
    while (checkThreadRunning()) {
        {
            MonitorLock guard(m_checkMonitor);
            m_checkMonitor.broadcast();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_checkThread.join();
}

}  // namespace perchlight
