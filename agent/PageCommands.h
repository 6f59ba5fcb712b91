#pragma once

#include <QPoint>

#include "ui/BirdMenu.h"

class QWidget;

namespace perchlight {

class AgentProcess;
class BirdWindow;
class BrowserWindowSite;
class P3PMatchInfo;

// The commands of the bird menu for one browser window: the summary and policy views, the
// embedded content list, the settings dialogs, the cache, help and tour, and the cookie
// dialogs. Each runs on the GUI thread; a dialog's window may close while the dialog is open, so
// nothing touches the window after exec() unless it still exists. No exception leaves a command:
// the core's message is shown in an "Error" box.
class PageCommands {
  public:
    PageCommands(AgentProcess& process, BrowserWindowSite& site, P3PMatchInfo& matchInfo);

    // The menu's state for the current page; the policy's items only when no check runs.
    BirdMenuState menuState(const BirdWindow& bird) const;
    // Carries out a command; false for one that is the bird's own.
    bool carryOut(int command);

  private:
    void run(int command);
    void showSummary();
    void openPolicyPage(bool optOut);
    void showEmbeddedContent();
    void showPolicySource();
    void openHelp(const QString& topic);
    void openAddress(const QUrl& url);
    QWidget* window() const;

    AgentProcess& m_process;
    BrowserWindowSite& m_site;
    P3PMatchInfo& m_matchInfo;
};

}  // namespace perchlight
