#include "cli/DemoShots.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <ostream>

#include "browser/Registration.h"
#include "cli/RegisterCommand.h"
#include "util/ModuleDirectory.h"
#include "util/RegistryTree.h"

extern char** environ;

namespace perchlight::cli {
namespace {

namespace fs = std::filesystem;

// The environment of the browser: this one with the given variables set.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable(*entry);
        const std::string name = variable.substr(0, variable.find('='));
        if (overrides.count(name) == 0) {
            variables.push_back(variable);
        }
    }
    for (const auto& [name, value] : overrides) {
        variables.push_back(name + "=" + value);
    }
    return variables;
}

// Runs the program and waits for it; its exit status, or -1 when it could not run. With a log
// file, the program's own output goes there instead of between the demo's lines.
int runProgram(const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, const std::string& log = "") {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& variable : environment) {
        envp.push_back(const_cast<char*>(variable.c_str()));
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!log.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace

std::string DemoShots::browserPath() {
    const fs::path browser = fs::path(programDirectory()) / "perchlight-browser";
    std::error_code missing;
    return fs::is_regular_file(browser, missing) ? browser.string() : std::string();
}

int DemoShots::take(const std::vector<DemoSite>& sites, const std::string& home,
                    const std::string& directory, std::ostream& out, std::ostream& err) {
    const std::string browser = browserPath();
    const fs::path module = agentModulePath(RegisterCommand::kAgentModuleName);
    std::error_code error;
    if (browser.empty() || !fs::is_regular_file(module, error)) {
        err << "perchlight: no browser shell or module beside the program: no pictures taken\n";
        return 1;
    }
    fs::create_directories(directory, error);
    const std::string config = home + "/config";
    RegistryTree registry(config + "/perchlight-browser/registry");
    if (!Registration::registerServer(registry, module.string())) {
        err << "perchlight: cannot register the browser module for the pictures\n";
        return 1;
    }
    std::map<std::string, std::string> variables = {
        {"PERCHLIGHT_HOME", home}, {"XDG_CONFIG_HOME", config}, {"QT_QPA_PLATFORM", "offscreen"}};
    // Chromium refuses to run as root inside its sandbox.
    variables["QTWEBENGINE_CHROMIUM_FLAGS"] =
        geteuid() == 0 ? "--no-sandbox --disable-gpu" : "--disable-gpu";
    const std::vector<std::string> environment = environmentWith(variables);
    int failed = 0;
    const std::string log = (fs::path(directory) / "browser.log").string();
    fs::remove(log, error);
    out << "\nPictures of the browser with its bird, in " << directory << " (the browser's own "
        << "messages in " << log << "):\n";
    for (const DemoSite& site : sites) {
        if (site.post) {
            out << "  " << site.name << ": reached by posting a form, no picture\n";
            continue;
        }
        const std::string picture = (fs::path(directory) / (site.name + ".png")).string();
        const int status = runProgram({browser, "--screenshot", picture, site.baseUrl + site.page},
                                      environment, log);
        out << "  " << picture
            << (status == 0 ? "" : "  (failed, status " + std::to_string(status) + ")") << "\n";
        failed += status == 0 ? 0 : 1;
    }
    return failed;
}

int DemoShots::browse(const std::vector<DemoSite>& sites, std::ostream& out, std::ostream& err) {
    const std::string browser = browserPath();
    if (browser.empty() || sites.empty()) {
        err << "perchlight: no browser shell beside the program\n";
        return 1;
    }
    out << "\nThe demo sites, served while the browser is open:\n";
    for (const DemoSite& site : sites) {
        out << "  " << site.baseUrl << site.page << "  " << site.about << "\n";
    }
    out.flush();
    std::map<std::string, std::string> variables;
    if (geteuid() == 0) {
        variables["QTWEBENGINE_CHROMIUM_FLAGS"] = "--no-sandbox";
    }
    return runProgram({browser, sites.front().baseUrl + sites.front().page},
                      environmentWith(variables));
}

}  // namespace perchlight::cli
