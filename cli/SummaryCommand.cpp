#include "cli/SummaryCommand.h"

#include <CLI/CLI.hpp>

#include <fstream>
#include <ostream>
#include <sstream>
#include <thread>

#include "browser/HeadlessOwner.h"
#include "cli/CheckCommand.h"
#include "cli/SummaryOutput.h"
#include "prefs/ModuleDirectory.h"
#include "retrieval/PageCheck.h"
#include "retrieval/PolicyCache.h"
#include "summary/SummaryPage.h"
#include "util/Error.h"

namespace perchlight::cli {
namespace {

bool readFileInto(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    bytes = content.str();
    return true;
}

int exitStatus(int verdict) {
    switch (verdict) {
        case kVerdictMatched:
            return kExitPageMatched;
        case kVerdictUnmatched:
            return kExitPageUnmatched;
        case kVerdictPartlyMatched:
            return kExitPagePartlyMatched;
        default:
            return kExitPageUnknown;
    }
}

}  // namespace

SummaryCommand::SummaryCommand(CLI::App& app)
    : command_(app.add_subcommand("summary", "Summarise the privacy policy of a web page")) {
    command_->add_option("URL", url_, "Absolute http or https URL of the page")->required();
    auto* level = command_->add_option("--level", level_, "Privacy level: low, medium, high")
                      ->check(CLI::IsMember({"low", "medium", "high"}));
    command_->add_option("--rules", ruleSetPath_, "APPEL rule set file to use instead")
        ->excludes(level);
    command_->add_option("--html", htmlPath_, "Also write the HTML summary page to this file");
}

bool SummaryCommand::selected() const {
    return command_->parsed();
}

int SummaryCommand::run(std::ostream& out, std::ostream& err) const {
    Url page;
    try {
        page = Url(url_);
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << ": " << url_ << "\n";
        return kExitPageUnknown;
    }
    if (page.protocol() != "http" && page.protocol() != "https") {
        err << "perchlight: only http and https pages are checked\n";
        return kExitPageUnknown;
    }
    const std::string rules =
        ruleSetPath_.empty() ? moduleDirectory() + "/appel-" + level_ + ".xml" : ruleSetPath_;
    PolicyCache& cache = PolicyCache::instance();
    cache.setRuleSetReader([rules](std::string& bytes) { return readFileInto(rules, bytes); });
    P3PMatchInfo info;
    HeadlessOwner owner(info);
    try {
        cache.loadCacheIndex();
        owner.loadPage(page, false);
        std::thread check(runCheckThread, std::ref(owner), page, "");
        check.join();
        cache.writeCacheIndex();
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
    }
    const MatchResult main = info.mainResult();
    out << SummaryPage().tooltipText(main) << "\n";
    if (main.state != kStateNoConflict && main.state != kStateConflict) {
        if (!htmlPath_.empty()) {
            err << "perchlight: no summary page without a valid policy\n";
        }
        return kExitPageUnknown;
    }
    out << "policy: " << main.policyUrl.str() << "\n";
    printDigest(out, main);
    if (!htmlPath_.empty() && !writeSummaryHtml(main, htmlPath_, err)) {
        return kExitPageUnknown;
    }
    return exitStatus(owner.verdict());
}

}  // namespace perchlight::cli
