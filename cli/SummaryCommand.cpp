#include "cli/SummaryCommand.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "cli/CheckCommand.h"
#include "cli/HeadlessCheck.h"
#include "cli/SummaryOutput.h"
#include "retrieval/P3PMatchInfo.h"
#include "summary/SummaryPage.h"

namespace perchlight::cli {

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
    std::string rules;
    if (!resolvePageCheck(url_, level_, ruleSetPath_, page, rules, err)) {
        return kExitPageUnknown;
    }
    P3PMatchInfo info;
    const int verdict = checkPageHeadless(page, false, rules, info, err);
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
    return exitStatusForVerdict(verdict);
}

}  // namespace perchlight::cli
