#include "cli/SummaryOutput.h"

#include <fstream>
#include <map>
#include <ostream>

#include "core/MatchResult.h"
#include "summary/PolicySummary.h"
#include "summary/SummaryPage.h"
#include "util/FileReplacement.h"

namespace perchlight::cli {
namespace {

void printEntries(std::ostream& out, const char* heading,
                  const std::map<std::string, std::string>& entries) {
    if (entries.empty()) {
        return;
    }
    out << "    " << heading << ":\n";
    for (const auto& [key, text] : entries) {
        out << "      " << text << "\n";
    }
}

}  // namespace

void printDigest(std::ostream& out, const MatchResult& result) {
    const PolicySummary& summary = result.summary;
    out << "summary:\n";
    for (const BusinessField& field : businessFields()) {
        if (const std::string& value = summary.*field.member; !value.empty()) {
            out << "  " << field.label << ": " << value << "\n";
        }
    }
    if (!summary.access.empty()) {
        out << "  access: " << summary.access << "\n";
    }
    if (result.isTest) {
        out << "  test policy\n";
    }
    for (const DisputeRecord& dispute : summary.disputes) {
        out << "  dispute: " << (dispute.service.empty() ? "not stated" : dispute.service) << "\n";
        for (const std::string* text : {&dispute.shortDescription, &dispute.longDescription}) {
            if (!text->empty()) {
                out << "    " << *text << "\n";
            }
        }
    }
    for (std::size_t i = 0; i < summary.statements.size(); ++i) {
        const StatementRecord& statement = summary.statements[i];
        out << "  statement " << i + 1 << (statement.name.empty() ? "" : ": " + statement.name)
            << "\n";
        if (!statement.data.empty()) {
            out << "    data:\n";
            for (const auto& [key, entry] : statement.data) {
                out << "      " << entry.label << "\n";
                for (const auto& [category, text] : entry.subItems) {
                    out << "        " << text << "\n";
                }
            }
        }
        printEntries(out, "purposes", statement.purposes);
        printEntries(out, "recipients", statement.recipients);
        if (!statement.consequence.empty()) {
            out << "    consequence: " << statement.consequence << "\n";
        }
    }
}

bool writeSummaryHtml(const MatchResult& result, const std::string& path, std::ostream& err) {
    const std::string page = SummaryPage().buildPage(result);
    FileReplacement replacement(path);
    if (replacement.reserved()) {
        std::ofstream file(replacement.temporaryPath(), std::ios::binary | std::ios::trunc);
        file << page;
        file.close();
        if (file && replacement.commit()) {
            return true;
        }
    }
    err << "perchlight: cannot write " << path << "\n";
    return false;
}

}  // namespace perchlight::cli
