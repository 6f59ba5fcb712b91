#include "agent/AgentModule.h"

#include <cstdio>

#include "ui/ErrorBox.h"
#include "ui/LocalBroadcast.h"
#include "ui/OtherSettingsDialog.h"
#include "ui/PrivacySettingsDialog.h"

#include "agent/AgentProcess.h"
#include "agent/P3PObject.h"
#include "util/ModuleDirectory.h"

namespace perchlight {

AgentModule::AgentModule() = default;

AgentModule::~AgentModule() = default;

void AgentModule::initialize(const QStringList& arguments) {
    if (m_process) {
        return;
    }
    try {
        m_process = std::make_unique<AgentProcess>(
            moduleDirectory(), arguments.contains(QLatin1String(kCookieCommandsOption)));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "perchlight: the agent could not start: %s\n", error.what());
    }
    if (m_process && arguments.contains(QLatin1String(kInstallSettingsOption))) {
        installDisplaySettings(*m_process);
    }
}

int AgentModule::installDisplaySettings(AgentProcess& process) {
    P3PPreferences& preferences = process.services().preferences();
    ErrorBox::run(nullptr, [&] {
        PrivacySettingsDialog privacy(preferences, &process.broadcast());
        privacy.exec();
        OtherSettingsDialog other(preferences, &process.broadcast());
        other.exec();
    });
    return 1;
}

std::unique_ptr<BrowserHelper> AgentModule::createHelper(BrowserWindowSite& site) {
    initialize({});
    if (!m_process) {
        return nullptr;
    }
    return std::make_unique<P3PObject>(*m_process, site);
}

}  // namespace perchlight
