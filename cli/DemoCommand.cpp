#include "cli/DemoCommand.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <ostream>
#include <sstream>
#include <thread>

#include "browser/AgentServices.h"
#include "browser/HeadlessOwner.h"
#include "cli/DemoShots.h"
#include "cli/DemoSites.h"
#include "cli/ExitStatus.h"
#include "cli/HeadlessCheck.h"
#include "prefs/P3PPreferences.h"
#include "retrieval/PageCheck.h"
#include "util/Error.h"
#include "util/ModuleDirectory.h"

namespace perchlight::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kBaseSchemaFile = "/BaseDataschema-std.xml";

// A module directory of its own for the run, removed afterwards, so that no cache or setting of
// the user's changes the verdicts.
class TemporaryHome {
  public:
    TemporaryHome() {
        std::string pattern = (fs::temp_directory_path() / "perchlight-demo-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            PERCHLIGHT_RAISE("Cannot create a temporary directory", "DemoCommand");
        }
        path_ = pattern;
    }
    ~TemporaryHome() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string defaultSitesDirectory() {
    const fs::path program(programDirectory());
    for (const fs::path& candidate :
         {program / "examples" / "sites",
          program / ".." / "share" / "perchlight" / "examples" / "sites"}) {
        std::error_code error;
        if (fs::is_directory(candidate, error)) {
            return candidate.lexically_normal().string();
        }
    }
    return (program / "examples" / "sites").string();
}

void copyInstalledFile(const std::string& from, const std::string& to, const std::string& name) {
    std::error_code error;
    fs::copy_file(from + name, to + name, error);
    if (error) {
        PERCHLIGHT_RAISE("Cannot copy the installed data file " + from + name, "DemoCommand");
    }
}

struct Row {
    std::string site;
    std::string page;
    std::string expected;
    std::string actual;
    std::string embedded;
};

// The site's page checked as the browser would check it after loading it.
Row checkSite(AgentServices& services, const DemoSite& site) {
    P3PMatchInfo info(services.referenceStore(), services.cache());
    HeadlessOwner owner(info);
    const Url page(site.baseUrl + site.page);
    owner.loadPage(page, site.post);
    std::thread check(runCheckThread, std::ref(owner), owner.pageUrl(), site.post ? "posted" : "");
    check.join();
    std::string embedded;
    for (const Url& item : info.embeddedUrls()) {
        embedded += (embedded.empty() ? "" : ", ") + info.contentType(item) + " " +
                    stateWord(info.embeddedState(item));
    }
    return {site.name, site.page + (site.post ? " (POST)" : ""), site.expected,
            verdictWord(owner.verdict()), embedded.empty() ? "none" : embedded};
}

void printRow(std::ostream& out, const Row& row, const std::string& mark) {
    out << mark << std::left << std::setw(13) << row.site << std::setw(22) << row.page
        << std::setw(16) << row.expected << std::setw(16) << row.actual << row.embedded << "\n";
}

}  // namespace

DemoCommand::DemoCommand(CLI::App& app)
    : command_(app.add_subcommand("demo", "Check the bundled demo sites, served on 127.0.0.1")) {
    command_->add_flag("--browse", browse_,
                       "Then open the browser on the sites and serve them until it is closed");
    command_->add_flag("--serve", serve_,
                       "Then print \"site NAME URL\" for each site and serve the sites until the "
                       "standard input ends (for browser tests and other browsers)");
    command_->add_option("--shots", shotsDirectory_,
                         "Also save a picture of the browser with its bird on each site here");
    command_->add_option(
        "--sites", sitesDirectory_,
        "Directory of the demo sites (default: examples/sites beside the program)");
}

bool DemoCommand::selected() const {
    return command_->parsed();
}

int DemoCommand::run(AgentServices& services, std::ostream& out, std::ostream& err) const {
    const std::string& installed = services.locations().shippedDirectory();
    const std::string sitesDirectory =
        sitesDirectory_.empty() ? defaultSitesDirectory() : sitesDirectory_;
    const std::string ruleSetFile = P3PPreferences::ruleSetFileName(PrivacyLevel::kLevelMedium);
    int differing = 0;
    try {
        const TemporaryHome home;
        copyInstalledFile(installed, home.path(), kBaseSchemaFile);
        copyInstalledFile(installed, home.path(), ruleSetFile);
        // The demo's own services, over the temporary directory, with the Medium rule set.
        AgentServices demoServices(home.path());
        demoServices.setRuleSetFile(home.path() + ruleSetFile);
        DemoSites demo(sitesDirectory);
        demo.start();
        out << "Demo sites of " << sitesDirectory << " on 127.0.0.1, privacy level Medium\n\n";
        printRow(out, {"site", "page", "expected", "verdict", "embedded items"}, "  ");
        for (const DemoSite& site : demo.sites()) {
            const Row row = checkSite(demoServices, site);
            const bool asExpected = row.actual == row.expected;
            differing += asExpected ? 0 : 1;
            printRow(out, row, asExpected ? "  " : "! ");
        }
        out << "\n";
        for (const DemoSite& site : demo.sites()) {
            out << "  " << std::left << std::setw(13) << site.name << site.about << "\n";
        }
        if (!shotsDirectory_.empty()) {
            DemoShots::take(demo.sites(), home.path(), shotsDirectory_, out, err);
        }
        if (browse_) {
            DemoShots::browse(demo.sites(), out, err);
        }
        if (serve_) {
            for (const DemoSite& site : demo.sites()) {
                out << "site " << site.name << " " << site.baseUrl << site.page << "\n";
            }
            out << "serving until the standard input ends" << std::endl;
            std::cin.ignore(std::numeric_limits<std::streamsize>::max());
        }
        out << "\n"
            << (differing == 0 ? "every site gave its expected verdict"
                               : std::to_string(differing) + " site(s) gave another verdict (!)")
            << "\n";
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
        return kExitDemoFailed;
    }
    return differing == 0 ? kExitDemoAsExpected : kExitDemoDiffers;
}

}  // namespace perchlight::cli
