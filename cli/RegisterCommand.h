#pragma once

#include <iosfwd>
#include <string>

#include "cli/Command.h"

namespace CLI {
class App;
}

namespace perchlight::cli {

// `perchlight register`: the installer's step that creates the user's settings key, without
// which no setting can be saved, and registers the browser module beside the program so that the
// browser shell loads it. `perchlight unregister` removes the module's registration. With
// `--browser NAME` both write or remove instead the native host's manifest for that browser (the
// table of browser/NativeHosts): in its per-user folder, the system folder (`--system`) or a
// folder given (`--folder`, such as a test profile's).
class RegisterCommand : public Command {
  public:
    explicit RegisterCommand(CLI::App& app);

    bool selected() const override;
    int run(AgentServices& services, std::ostream& out, std::ostream& err) const override;

    // The file name of the browser module beside the program.
    static constexpr const char* kAgentModuleName = "libperchlight-agent.so";
    // The file name of the native messaging host beside the program.
    static constexpr const char* kHostProgramName = "perchlight-host";

  private:
    struct BrowserOptions {
        std::string browser;
        bool system = false;
        std::string folder;
        std::string staging;  // a staging root below which the system folder is written
        std::string host;
    };
    static void addBrowserOptions(CLI::App& command, BrowserOptions& options);
    int runForBrowser(const BrowserOptions& options, bool remove, std::ostream& out,
                      std::ostream& err) const;

    CLI::App* register_;
    CLI::App* unregister_;
    BrowserOptions registerOptions_;
    BrowserOptions unregisterOptions_;
};

}  // namespace perchlight::cli
