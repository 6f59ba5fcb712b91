#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "cli/SurveyRecord.h"

namespace perchlight {
struct MatchResult;
}

namespace perchlight::cli {

// Fills a survey record's compact policy fields from the raw header text of the page's response
// and the page's match result, and the elements of the statements that fired its rules.
void fillCompactFields(const std::string& pageHeaders, const MatchResult& main,
                       SurveyRecord& record);

// The compact policy and "why" figures of a survey: how many sites send one, how many are
// valid, their problems by class, the most common invalid tokens and identical invalid texts,
// and the elements of the statements that fire rules most often.
class CompactTally {
  public:
    using Count = std::pair<std::string, std::size_t>;
    static constexpr std::size_t kTop = 10;
    // The headings of the figures, in the text and the HTML report alike.
    static constexpr const char* kProblemClassesTitle = "Sites by compact policy problem";
    static constexpr const char* kInvalidTokensTitle = "Most common invalid tokens";
    static constexpr const char* kInvalidTextsTitle =
        "Most common identical invalid compact policies";
    static constexpr const char* kFiredElementsTitle =
        "Elements of the statements that fire rules most often";

    explicit CompactTally(const std::vector<SurveyRecord>& records);
    void writeText(std::ostream& out) const;

    std::size_t sites() const { return sites_; }
    std::size_t withCompactPolicy() const { return with_; }
    std::size_t valid() const { return valid_; }
    const std::vector<Count>& problemClasses() const { return classes_; }
    const std::vector<Count>& invalidTokens() const { return tokens_; }
    const std::vector<Count>& invalidTexts() const { return texts_; }
    const std::vector<Count>& firedElements() const { return elements_; }

  private:
    std::size_t sites_ = 0;
    std::size_t with_ = 0;
    std::size_t valid_ = 0;
    std::vector<Count> classes_;
    std::vector<Count> tokens_;
    std::vector<Count> texts_;
    std::vector<Count> elements_;
};

}  // namespace perchlight::cli
