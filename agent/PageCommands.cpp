#include "agent/PageCommands.h"

#include <QPointer>
#include <QUrl>

#include "agent/AgentProcess.h"
#include "prefs/BirdSettings.h"
#include "retrieval/P3PMatchInfo.h"
#include "shell/BrowserHelper.h"
#include "ui/AboutDialog.h"
#include "ui/BirdCommands.h"
#include "ui/BirdWindow.h"
#include "ui/CookieHistoryDialog.h"
#include "ui/CookieOverrideListDialog.h"
#include "ui/CookieReport.h"
#include "ui/CookieSettingsDialog.h"
#include "ui/DialogSupport.h"
#include "ui/EmbeddedContentDialog.h"
#include "ui/EmbeddedContentSnapshot.h"
#include "ui/ErrorBox.h"
#include "ui/HelpPages.h"
#include "ui/LocalBroadcast.h"
#include "ui/NoPromptSitesDialog.h"
#include "ui/OtherSettingsDialog.h"
#include "ui/PolicyAddresses.h"
#include "ui/PolicySourceDialog.h"
#include "ui/PrivacySettingsDialog.h"
#include "ui/SiteCookieDialog.h"
#include "ui/WebHost.h"

namespace perchlight {
namespace {

bool isWebAddress(const QUrl& url) {
    return url.isValid() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// Runs a modal dialog of a window; the window may go while it is open (a page script closes
// it), and the dialog with it.
template <typename Dialog>
void execDialog(Dialog* dialog) {
    QPointer<Dialog> guard(dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    DialogSupport::runWindowModal(*dialog);
}

}  // namespace

PageCommands::PageCommands(AgentProcess& process, BrowserWindowSite& site, P3PMatchInfo& matchInfo)
    : m_process(process), m_site(site), m_matchInfo(matchInfo) {}

QWidget* PageCommands::window() const {
    return m_site.frameWindow();
}

BirdMenuState PageCommands::menuState(const BirdWindow& bird) const {
    BirdMenuState state;
    state.enabled = BirdSettings::enabled;
    state.busy = bird.busy();
    state.webPage = isWebAddress(m_site.currentUrl());
    state.onTitleBar = BirdSettings::onTitleBar;
    state.cookieCommands = m_process.cookieCommands();
    state.privacyDialog = true;
    if (!state.busy) {
        // The maps lock is held through a running check's downloads: read it only when none runs.
        PolicyAddresses::applyTo(state, m_matchInfo.mainResult());
    }
    return state;
}

bool PageCommands::carryOut(int command) {
    if (BirdMenu::birdCommands().contains(command) || isBroadcastCommand(command) ||
        !BirdMenu::agentCommands().contains(command)) {
        return false;  // the bird's own, or none of ours
    }
    // A page may close the window while the command's dialog is open: the window waits for the
    // dialog, which it closes first.
    m_site.runHeld([&] { ErrorBox::run(window(), [&] { run(command); }); });
    return true;
}

void PageCommands::run(int command) {
    P3PPreferences& preferences = m_process.services().preferences();
    LocalBroadcast* broadcast = &m_process.broadcast();
    switch (command) {
        case kCommandPolicySummary:
            showSummary();
            break;
        case kCommandFullPolicy:
            openPolicyPage(false);
            break;
        case kCommandOptOutInfo:
            openPolicyPage(true);
            break;
        case kCommandEmbeddedContent:
            showEmbeddedContent();
            break;
        case kCommandViewSource:
            showPolicySource();
            break;
        case kCommandPrivacy: {
            auto* dialog = new PrivacySettingsDialog(preferences, broadcast, window());
            dialog->setHelpOpener(
                [this](const QString& path) { openAddress(QUrl::fromLocalFile(path)); });
            execDialog(dialog);
            break;
        }
        case kCommandNoPromptSites:
            NoPromptSitesDialog::run(preferences, broadcast, window());
            break;
        case kCommandOther: {
            auto* dialog = new OtherSettingsDialog(preferences, broadcast, window());
            QObject::connect(dialog, &OtherSettingsDialog::helpRequested,
                             [this](const QString& topic) { openHelp(topic); });
            execDialog(dialog);
            break;
        }
        case kCommandClearCache:
            m_process.services().cache().clearCache();
            break;
        case kCommandHelp:
            openHelp(QString::fromLatin1(HelpPages::kIndex));
            break;
        case kCommandTour:
            openHelp(QString::fromLatin1(HelpPages::kTour));
            break;
        case kCommandAbout:
            execDialog(new AboutDialog(window()));
            break;
        case kCommandCookieReport:
            // The shell reports no cookies to the agent, so every count is zero.
            CookieReport::show(window(), m_site.currentUrl().toString(), CookieCounts{});
            break;
        case kCommandCookies:
            execDialog(new CookieSettingsDialog(preferences, broadcast, window()));
            break;
        case kCommandOverrideCookies:
            execDialog(
                new SiteCookieDialog(preferences, broadcast, m_site.currentUrl().host(), window()));
            break;
        case kCommandCookieOverrideSites:
            execDialog(new CookieOverrideListDialog(preferences, broadcast, window()));
            break;
        case kCommandCookieHistory:
            execDialog(new CookieHistoryDialog(preferences, window()));
            break;
        default:
            break;
    }
}

void PageCommands::showSummary() {
    auto* host = new WebHost(
        WebHost::kSummaryDialog, [this](const QUrl& url) { openAddress(url); }, window());
    if (!host->showSummary(m_matchInfo.mainResult())) {
        delete host;
        ErrorBox::show(window(), QStringLiteral("Error"),
                       QStringLiteral("The summary page could not be written."));
        return;
    }
    execDialog(host);
}

void PageCommands::openPolicyPage(bool optOut) {
    const MatchResult main = m_matchInfo.mainResult();
    openAddress(optOut ? PolicyAddresses::optOut(main) : PolicyAddresses::fullPolicy(main));
}

void PageCommands::showEmbeddedContent() {
    auto* dialog = new EmbeddedContentDialog(
        EmbeddedContentSnapshot::take(m_matchInfo), m_process.services().cache(),
        [this](const QUrl& url) { openAddress(url); }, window());
    QObject::connect(dialog, &EmbeddedContentDialog::helpRequested,
                     [this](const QString& topic) { openHelp(topic); });
    execDialog(dialog);
}

void PageCommands::showPolicySource() {
    PolicySourceDialog::showCached(m_process.services().cache(),
                                   m_matchInfo.mainResult().policyUrl.str(), window());
}

void PageCommands::openHelp(const QString& topic) {
    m_site.openInNewWindow(
        HelpPages::topicUrl(m_process.services().locations().shippedDirectory(), topic));
}

void PageCommands::openAddress(const QUrl& url) {
    // A site's addresses open only over the web; the only files opened are our own help pages.
    const QString help =
        QString::fromStdString(m_process.services().locations().shippedDirectory()) +
        QStringLiteral("/help/");
    if (isWebAddress(url) || (url.isLocalFile() && url.toLocalFile().startsWith(help) &&
                              !url.toLocalFile().contains(QLatin1String("/../")))) {
        m_site.openInNewWindow(url);
    }
}

}  // namespace perchlight
