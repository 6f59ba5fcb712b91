#include "cli/RegisterCommand.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <ostream>

#include "browser/NativeHosts.h"
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
      unregister_(app.add_subcommand("unregister", "Unregister the browser module")) {
    addBrowserOptions(*register_, registerOptions_);
    addBrowserOptions(*unregister_, unregisterOptions_);
}

void RegisterCommand::addBrowserOptions(CLI::App& command, BrowserOptions& options) {
    std::vector<std::string> names;
    for (const NativeHostBrowser& browser : NativeHosts::browsers()) {
        names.emplace_back(browser.name);
    }
    auto* browser =
        command
            .add_option("--browser", options.browser,
                        "The native host's manifest for this browser instead of the module")
            ->check(CLI::IsMember(names));
    command.add_flag("--system", options.system, "In the system-wide folder")->needs(browser);
    command.add_option("--folder", options.folder, "In this folder")->needs(browser);
    command
        .add_option("--staging", options.staging,
                    "With --system: below this staging root, as an installation's DESTDIR")
        ->needs(browser);
    command.add_option("--host", options.host, "The host program (default: beside this one)")
        ->needs(browser);
}

int RegisterCommand::runForBrowser(const BrowserOptions& options, bool remove, std::ostream& out,
                                   std::ostream& err) const {
    const NativeHostBrowser browser = *NativeHosts::browserNamed(options.browser);
    const std::string folder = !options.folder.empty() ? options.folder
                               : options.system
                                   ? options.staging + std::string(browser.systemFolder)
                                   : NativeHosts::userFolder(browser);
    if (folder.empty()) {
        err << "perchlight: no home directory for the " << browser.name << " host manifest\n";
        return kExitFailed;
    }
    const std::string manifest = NativeHosts::manifestPath(folder);
    if (remove) {
        if (!NativeHosts::removeManifest(folder)) {
            err << "perchlight: Unable to remove " << manifest << "\n";
            return kExitFailed;
        }
        out << "native host unregistered for " << browser.name << ": " << manifest << "\n";
        return 0;
    }
    std::filesystem::path host = options.host.empty()
                                     ? std::filesystem::path(programDirectory()) / kHostProgramName
                                     : std::filesystem::path(options.host);
    // The browser starts the host with its own working directory: the path must be absolute.
    host = std::filesystem::absolute(host).lexically_normal();
    if (!NativeHosts::writeManifest(browser, folder, host.string())) {
        err << "perchlight: Unable to write " << manifest << "\n";
        return kExitFailed;
    }
    out << "native host registered for " << browser.name << ": " << manifest << " ("
        << host.string() << ")\n";
    return 0;
}

bool RegisterCommand::selected() const {
    return register_->parsed() || unregister_->parsed();
}

int RegisterCommand::run(AgentServices&, std::ostream& out, std::ostream& err) const {
    if (register_->parsed() && !registerOptions_.browser.empty()) {
        return runForBrowser(registerOptions_, false, out, err);
    }
    if (unregister_->parsed() && !unregisterOptions_.browser.empty()) {
        return runForBrowser(unregisterOptions_, true, out, err);
    }
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
