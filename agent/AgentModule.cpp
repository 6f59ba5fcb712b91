#include "agent/AgentModule.h"

#include <cstdio>

#include "agent/AgentProcess.h"
#include "agent/P3PObject.h"
#include "util/ModuleDirectory.h"

namespace perchlight {

AgentModule::AgentModule() = default;

AgentModule::~AgentModule() = default;

void AgentModule::initialize(const QStringList&) {
    if (m_process) {
        return;
    }
    try {
        m_process = std::make_unique<AgentProcess>(moduleDirectory());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "perchlight: the agent could not start: %s\n", error.what());
    }
}

std::unique_ptr<BrowserHelper> AgentModule::createHelper(BrowserWindowSite& site) {
    initialize({});
    if (!m_process) {
        return nullptr;
    }
    return std::make_unique<P3PObject>(*m_process, site);
}

}  // namespace perchlight
