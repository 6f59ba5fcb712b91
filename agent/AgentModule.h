#pragma once

#include <QObject>

#include <memory>

#include "shell/BrowserHelper.h"

namespace perchlight {

class AgentProcess;

// The module entry of the agent, a plugin of the browser shell: set up once per process, it
// gives every browser window its P3PObject.
class AgentModule : public QObject, public HelperModule {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PerchlightHelperModule_iid)
    Q_INTERFACES(perchlight::HelperModule)

  public:
    // The shell's option that asks for the fuller bird menu with the cookie commands.
    static constexpr const char* kCookieCommandsOption = "--cookie-commands";
    // The installer's option: show the privacy and the other settings dialogs before browsing.
    static constexpr const char* kInstallSettingsOption = "--install-settings";

    // The installer's settings display: the privacy settings dialog, then "Select Other
    // Settings", each with its usual effects when confirmed; 1 whether confirmed or not.
    static int installDisplaySettings(AgentProcess& process);

    AgentModule();
    ~AgentModule() override;

    // Finds the module directory and loads the preference store; its errors are swallowed (a
    // message on standard error), as the browser must start whatever the settings are like.
    void initialize(const QStringList& arguments) override;
    std::unique_ptr<BrowserHelper> createHelper(BrowserWindowSite& site) override;

  private:
    std::unique_ptr<AgentProcess> m_process;
};

}  // namespace perchlight
