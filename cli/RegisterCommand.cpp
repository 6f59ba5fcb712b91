#include "cli/RegisterCommand.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <ostream>

#include "browser/Registration.h"
#include "cli/ExitStatus.h"
#include "prefs/RegistryKey.h"
#include "util/ModuleDirectory.h"
#include "util/RegistryTree.h"

namespace perchlight::cli {
namespace {

int createSettingsKey(std::ostream& out, std::ostream& err) {
    const std::string path = RegistryKey::filePath(RegistryKey::kPerchlightKey);
    if (RegistryKey::open(RegistryKey::kPerchlightKey)) {
        out << "settings key already present: " << path << "\n";
        return 0;
    }
    if (!RegistryKey::create(RegistryKey::kPerchlightKey)) {
        err << "perchlight: Unable to create the settings key"
            << (path.empty() ? std::string(" (no configuration directory)") : ": " + path) << "\n";
        return kExitFailed;
    }
    out << "settings key created: " << path << "\n";
    return 0;
}

int registerModule(std::ostream& out, std::ostream& err) {
    const std::string module = agentModulePath(RegisterCommand::kAgentModuleName);
    std::error_code missing;
    if (!std::filesystem::is_regular_file(module, missing)) {
        out << "no browser module at " << module << " (built without the desktop agent)\n";
        return 0;
    }
    RegistryTree registry(RegistryTree::defaultPath());
    const bool firstRegistration = !Registration::isRegistered(registry);
    if (registry.path().empty() || !Registration::registerServer(registry, module) ||
        (firstRegistration && !Registration::requestSettingsDisplay(registry))) {
        err << "perchlight: Unable to register the browser module in " << registry.path() << "\n";
        return kExitFailed;
    }
    out << "browser module registered: " << module << " (" << registry.path() << ")\n";
    if (firstRegistration) {
        out << "the browser shows the privacy and the other settings at its next start\n";
    }
    return 0;
}

}  // namespace

RegisterCommand::RegisterCommand(CLI::App& app)
    : register_(app.add_subcommand("register",
                                   "Create the settings key and register the browser module")),
      unregister_(app.add_subcommand("unregister", "Unregister the browser module")) {}

bool RegisterCommand::selected() const {
    return register_->parsed() || unregister_->parsed();
}

int RegisterCommand::run(AgentServices&, std::ostream& out, std::ostream& err) const {
    if (unregister_->parsed()) {
        RegistryTree registry(RegistryTree::defaultPath());
        if (registry.path().empty() || !Registration::unregisterServer(registry)) {
            err << "perchlight: Unable to unregister the browser module in " << registry.path()
                << "\n";
            return kExitFailed;
        }
        out << "browser module unregistered (" << registry.path() << ")\n";
        return 0;
    }
    const int status = createSettingsKey(out, err);
    return status != 0 ? status : registerModule(out, err);
}

}  // namespace perchlight::cli
