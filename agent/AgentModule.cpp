#include "agent/AgentModule.h"

#include <cstdio>

#include "browser/Registration.h"
#include "ui/ErrorBox.h"
#include "ui/LocalBroadcast.h"
#include "ui/OtherSettingsDialog.h"
#include "ui/PrivacySettingsDialog.h"
#include "util/RegistryTree.h"

#include "agent/AgentProcess.h"
#include "agent/P3PObject.h"
#include "util/DataLocations.h"

namespace perchlight {

AgentModule::AgentModule() = default;

AgentModule::~AgentModule() = default;

void AgentModule::initialize(const QStringList& arguments) {
    if (m_process) {
        return;
    }
    try {
        m_process = std::make_unique<AgentProcess>(
            DataLocations::forThisProcess(),
            arguments.contains(QLatin1String(kCookieCommandsOption)));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "perchlight: the agent could not start: %s\n", error.what());
    }
    if (!m_process) {
        return;
    }
    // Shown when asked for, and once at the first start after the installer registered us.
    RegistryTree registry(RegistryTree::defaultPath());
    const bool requested = Registration::settingsDisplayRequested(registry);
    if (requested) {
        Registration::clearSettingsDisplayRequest(registry);
    }
    if (requested || arguments.contains(QLatin1String(kInstallSettingsOption))) {
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
