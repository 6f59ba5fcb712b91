#include "cli/SummaryCommand.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "browser/AgentServices.h"
#include "cli/ExitStatus.h"
#include "cli/HeadlessCheck.h"
#include "cli/SummaryOutput.h"
#include "retrieval/P3PMatchInfo.h"
#include "summary/SummaryPage.h"

namespace perchlight::cli {

SummaryCommand::SummaryCommand(CLI::App& app)
    : command_(app.add_subcommand("summary", "Summarise the privacy policy of a web page")) {
    command_->add_option("URL", url_, "Absolute http or https URL of the page")->required();
    ruleSet_.addTo(*command_);
    command_->add_option("--html", htmlPath_, "Also write the HTML summary page to this file");
}

bool SummaryCommand::selected() const {
    return command_->parsed();
}

int SummaryCommand::run(AgentServices& services, std::ostream& out, std::ostream& err) const {
    Url page;
    if (!parsePageUrl(url_, page, err) || !ruleSet_.apply(services, err)) {
        return kExitPageUnknown;
    }
    P3PMatchInfo info(services.referenceStore(), services.cache());
    const int verdict = checkPageHeadless(services, page, false, info, err);
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
