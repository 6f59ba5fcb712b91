#include "cli/RegisterCommand.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "cli/ExitStatus.h"
#include "prefs/RegistryKey.h"

namespace perchlight::cli {

RegisterCommand::RegisterCommand(CLI::App& app)
    : command_(app.add_subcommand("register", "Create the settings key of the current user")) {}

bool RegisterCommand::selected() const {
    return command_->parsed();
}

int RegisterCommand::run(AgentServices&, std::ostream& out, std::ostream& err) const {
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

}  // namespace perchlight::cli
