#include "cli/SurveyReport.h"
#include "summary/SummaryPage.h"

#include <algorithm>
#include <cstdio>
#include <istream>
#include <map>
#include <ostream>

namespace perchlight::cli {
namespace {

// Verdicts in the order a reader expects them, with the bird's colours.
struct VerdictStyle {
    const char* name;
    const char* colour;
};
constexpr VerdictStyle kVerdicts[] = {{"matched", "#2e9e44"},
                                      {"partly matched", "#8cc63f"},
                                      {"unmatched", "#d33a2c"},
                                      {"unknown", "#e8b400"}};
constexpr const char* kBarColour = "#4a78b5";

// Counts in falling order, ties by name, so the report reads the same on every run.
std::vector<SurveyReport::Count> sortedCounts(const std::map<std::string, std::size_t>& counts) {
    std::vector<SurveyReport::Count> sorted(counts.begin(), counts.end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    return sorted;
}

std::string share(std::size_t part, std::size_t whole) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", whole == 0 ? 0.0 : 100.0 * part / whole);
    return text;
}

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string rightAligned(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

void writeCounts(std::ostream& out, const std::string& title,
                 const std::vector<SurveyReport::Count>& counts, std::size_t whole) {
    out << title << "\n";
    if (counts.empty()) {
        out << "  (none)\n";
    }
    for (const auto& [name, count] : counts) {
        out << "  " << padded(name, 24) << rightAligned(std::to_string(count), 7) << "  "
            << rightAligned(share(count, whole), 6) << "\n";
    }
}

std::string seconds(long milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", milliseconds / 1000.0);
    return text;
}

std::string escaped(const std::string& text) {
    return escapeHtml(text);
}

std::string shortened(const std::string& text, std::size_t length) {
    return text.size() <= length ? text : text.substr(0, length - 3) + "...";
}

// A horizontal bar chart: one labelled bar per count, its length proportional to its share.
void writeBarChart(std::ostream& out, const std::string& title,
                   const std::vector<SurveyReport::Count>& counts, std::size_t whole,
                   const std::map<std::string, std::string>& colours, std::size_t labelWidth) {
    constexpr int kRow = 26;
    constexpr int kBarWidth = 360;
    const int labelPixels = static_cast<int>(labelWidth) * 7 + 10;
    const int width = labelPixels + kBarWidth + 110;
    const int height = static_cast<int>(std::max<std::size_t>(counts.size(), 1)) * kRow + 8;
    out << "<section><h2>" << escaped(title) << "</h2>\n";
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" role=\"img\" aria-label=\"" << escaped(title) << "\">\n";
    if (counts.empty()) {
        out << "<text x=\"0\" y=\"18\" class=\"none\">none</text>\n";
    }
    std::size_t largest = 1;
    for (const auto& entry : counts) {
        largest = std::max(largest, entry.second);
    }
    int y = 4;
    for (const auto& [name, count] : counts) {
        const auto colour = colours.find(name);
        const int bar = std::max(1, static_cast<int>(kBarWidth * count / largest));
        out << "<text x=\"" << labelPixels - 8 << "\" y=\"" << y + 16 << "\" text-anchor=\"end\">"
            << escaped(shortened(name, labelWidth)) << "</text>";
        out << "<rect x=\"" << labelPixels << "\" y=\"" << y + 3 << "\" width=\"" << bar
            << "\" height=\"" << kRow - 8 << "\" fill=\""
            << (colour == colours.end() ? kBarColour : colour->second) << "\"/>";
        out << "<text x=\"" << labelPixels + bar + 6 << "\" y=\"" << y + 16 << "\">" << count
            << " (" << share(count, whole) << ")</text>\n";
        y += kRow;
    }
    out << "</svg></section>\n";
}

// A table of counts with their shares, for texts too long for a chart's label.
void writeCountTable(std::ostream& out, const std::string& title,
                     const std::vector<SurveyReport::Count>& counts, std::size_t whole) {
    out << "<section><h2>" << escaped(title) << "</h2>\n";
    if (counts.empty()) {
        out << "<p class=\"none\">none</p></section>\n";
        return;
    }
    out << "<table>\n";
    for (const auto& [text, count] : counts) {
        out << "<tr><td class=\"n\">" << count << "</td><td class=\"n\">" << share(count, whole)
            << "</td><td><code>" << escaped(text) << "</code></td></tr>\n";
    }
    out << "</table></section>\n";
}

// The compact policy and "why" figures of the text report, as charts and tables.
void writeCompactHtml(std::ostream& out, const CompactTally& tally) {
    const std::size_t with = tally.withCompactPolicy();
    out << "<h2 class=\"part\">Compact policies</h2>\n<p>" << with << " of " << tally.sites()
        << " sites send a compact policy, " << tally.valid() << " valid, " << (with - tally.valid())
        << " with problems.</p>\n";
    const std::vector<SurveyReport::Count> overview = {
        {"send one", with}, {"valid", tally.valid()}, {"with problems", with - tally.valid()}};
    out << "<div class=\"grid\">\n";
    writeBarChart(out, "Sites with a compact policy", overview, tally.sites(),
                  {{"valid", "#2e9e44"}, {"with problems", "#d33a2c"}}, 16);
    writeBarChart(out, CompactTally::kProblemClassesTitle, tally.problemClasses(), with, {}, 16);
    out << "</div>\n";
    writeBarChart(out, CompactTally::kInvalidTokensTitle, tally.invalidTokens(), with, {}, 16);
    writeCountTable(out, CompactTally::kInvalidTextsTitle, tally.invalidTexts(), with);
    writeBarChart(out, CompactTally::kFiredElementsTitle, tally.firedElements(), tally.sites(), {},
                  40);
}

}  // namespace

SurveyReport::SurveyReport(const std::vector<SurveyRecord>& records)
    : sites_(records.size()), compact_(records) {
    std::map<std::string, std::size_t> verdicts;
    std::map<std::string, std::size_t> routes;
    std::map<std::string, std::size_t> errors;
    std::map<std::string, std::size_t> rules;
    std::vector<long> times;
    for (const SurveyRecord& record : records) {
        ++verdicts[record.verdict];
        if (!record.route.empty()) {
            ++routes[record.route];
            ++withPolicy_;
        }
        if (!record.error.empty()) {
            ++errors[record.error == SurveyError::kHttpStatus
                         ? record.error + " " + std::to_string(record.httpStatus)
                         : record.error];
        }
        for (const std::string& rule : record.rules) {
            ++rules[rule];
        }
        times.push_back(record.milliseconds);
        slowest_.emplace_back(record.url, record.milliseconds);
        requests_ += record.requests;
    }
    for (const VerdictStyle& style : kVerdicts) {
        if (verdicts.contains(style.name)) {
            verdicts_.emplace_back(style.name, verdicts[style.name]);
        }
    }
    routes_ = sortedCounts(routes);
    errors_ = sortedCounts(errors);
    rules_ = sortedCounts(rules);
    if (rules_.size() > kTopRules) {
        rules_.resize(kTopRules);
    }
    std::stable_sort(slowest_.begin(), slowest_.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (slowest_.size() > kSlowest) {
        slowest_.resize(kSlowest);
    }
    std::sort(times.begin(), times.end());
    if (!times.empty()) {
        // Nearest-rank percentiles.
        for (const auto& [name, percent] :
             {std::pair<const char*, int>{"p50", 50}, {"p90", 90}, {"p99", 99}, {"max", 100}}) {
            const std::size_t rank = (times.size() * percent + 99) / 100;
            percentiles_.emplace_back(name, times[std::max<std::size_t>(rank, 1) - 1]);
        }
    }
}

std::vector<SurveyRecord> SurveyReport::readOutput(std::istream& in) {
    std::vector<SurveyRecord> records;
    std::string line;
    bool first = true;
    bool csv = false;
    while (std::getline(in, line)) {
        if (first) {
            csv = line.rfind("url,", 0) == 0;
            first = false;
        }
        std::optional<SurveyRecord> record = csv ? fromCsvLine(line) : fromJsonLine(line);
        if (record) {
            records.push_back(std::move(*record));
        }
    }
    return records;
}

void SurveyReport::writeText(std::ostream& out) const {
    out << "Survey of " << sites_ << " sites, " << requests_ << " HTTP requests\n\n";
    writeCounts(out, "Verdicts", verdicts_, sites_);
    out << "\n";
    writeCounts(out, "Routes to the policy", routes_, sites_);
    out << "\n";
    writeCounts(out, "Error classes", errors_, sites_);
    out << "\nMost-fired rules\n";
    if (rules_.empty()) {
        out << "  (none)\n";
    }
    for (const auto& [rule, count] : rules_) {
        out << "  " << rightAligned(std::to_string(count), 6) << "  " << rule << "\n";
    }
    compact_.writeText(out);
    out << "\nSlowest sites\n";
    for (const auto& [url, milliseconds] : slowest_) {
        out << "  " << rightAligned(seconds(milliseconds), 9) << "  " << url << "\n";
    }
    out << "\nTime per site:";
    for (const auto& [name, milliseconds] : percentiles_) {
        out << " " << name << " " << milliseconds << " ms";
    }
    out << "\n";
}

void SurveyReport::writeHtml(std::ostream& out) const {
    std::map<std::string, std::string> verdictColours;
    for (const VerdictStyle& style : kVerdicts) {
        verdictColours[style.name] = style.colour;
    }
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
           "<title>Perchlight survey report</title>\n<style>\n"
           "body{font-family:sans-serif;margin:2em;color:#222;max-width:980px}\n"
           "h1{font-size:1.5em}h2{font-size:1.15em;margin:1.4em 0 .4em}\n"
           "svg text{font-family:sans-serif;font-size:13px;fill:#222}\n"
           "table{border-collapse:collapse}td,th{padding:2px 10px;text-align:left}\n"
           "td.n{text-align:right}tr:nth-child(even){background:#f2f2f2}\n"
           "code{white-space:pre-wrap;word-break:break-all}\n"
           "h2.part{font-size:1.3em;margin-top:1.8em;border-top:1px solid #ccc;padding-top:.6em}\n"
           ".grid{display:flex;flex-wrap:wrap;gap:0 3em}\n</style></head><body>\n";
    out << "<h1>Perchlight survey report</h1>\n<p>" << sites_ << " sites, " << withPolicy_
        << " with a policy found, " << requests_ << " HTTP requests.</p>\n";
    out << "<div class=\"grid\">\n";
    writeBarChart(out, "Verdicts", verdicts_, sites_, verdictColours, 16);
    writeBarChart(out, "Routes to the policy", routes_, sites_, {}, 16);
    out << "</div>\n";
    writeBarChart(out, "Error classes", errors_, sites_, {}, 24);
    writeBarChart(out, "Most-fired rules", rules_, sites_, {}, 60);
    writeCompactHtml(out, compact_);
    out << "<section><h2>Slowest sites</h2><table>\n";
    for (const auto& [url, milliseconds] : slowest_) {
        out << "<tr><td class=\"n\">" << seconds(milliseconds) << "</td><td>" << escaped(url)
            << "</td></tr>\n";
    }
    out << "</table></section>\n<section><h2>Time per site</h2><table><tr>";
    for (const auto& entry : percentiles_) {
        out << "<th>" << entry.first << "</th>";
    }
    out << "</tr><tr>";
    for (const auto& entry : percentiles_) {
        out << "<td class=\"n\">" << entry.second << " ms</td>";
    }
    out << "</tr></table></section>\n</body></html>\n";
}

}  // namespace perchlight::cli
