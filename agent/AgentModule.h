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
