#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "cli/SurveyCompact.h"
#include "cli/SurveyRecord.h"

namespace perchlight::cli {

// The figures of a finished survey: counts per verdict, route and error class, the rules that
// fired most often, the slowest sites and the time percentiles.
class SurveyReport {
  public:
    using Count = std::pair<std::string, std::size_t>;

    static constexpr std::size_t kTopRules = 10;
    static constexpr std::size_t kSlowest = 10;

    explicit SurveyReport(const std::vector<SurveyRecord>& records);

    // Reads every record of a survey output (JSON Lines or CSV, told apart by its first line);
    // lines that are no records are passed over.
    static std::vector<SurveyRecord> readOutput(std::istream& in);

    void writeText(std::ostream& out) const;
    // One self-contained page: inline styles and SVG charts, no scripts, all site text escaped.
    void writeHtml(std::ostream& out) const;

    std::size_t sites() const { return sites_; }
    const std::vector<Count>& verdicts() const { return verdicts_; }
    const std::vector<Count>& routes() const { return routes_; }
    const std::vector<Count>& errors() const { return errors_; }
    const std::vector<Count>& rules() const { return rules_; }
    const CompactTally& compact() const { return compact_; }

  private:
    std::size_t sites_ = 0;
    std::size_t withPolicy_ = 0;
    long requests_ = 0;
    std::vector<Count> verdicts_;
    std::vector<Count> routes_;
    std::vector<Count> errors_;
    std::vector<Count> rules_;  // the kTopRules most fired
    std::vector<std::pair<std::string, long>> slowest_;
    std::vector<std::pair<std::string, long>> percentiles_;  // name, milliseconds
    CompactTally compact_;
};

}  // namespace perchlight::cli
