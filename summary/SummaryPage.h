#pragma once

#include <string>
#include <string_view>

namespace perchlight {

struct MatchResult;
struct StatementRecord;

// The template files of the summary page in the module directory.
inline constexpr std::string_view kPageTemplateFile = "template-page.html";
inline constexpr std::string_view kStatementTemplateFile = "template-statement.html";

// The module directory followed by "/", backslashes turned into "/"; worked out once per process.
// The page's images Maximize.gif and Minimize.gif are found under it.
const std::string& dllPath();

// The HTML summary page and the tooltip text of a match result, filled from the templates that
// are read from the module directory each time a page is built (a template that cannot be read
// counts as empty). Every value taken from the policy or the rule set is HTML-escaped in the page;
// links and images keep only http, https and mailto addresses. Holds no mutable state: any thread.
class SummaryPage {
  public:
    SummaryPage();
    // A page whose images are looked up under the given DLLPath value.
    explicit SummaryPage(std::string dllPathValue);

    // The filled page template with its mentions of "opt-out" linked to the opt-out address.
    std::string buildPage(const MatchResult& result) const;
    // The filled statement template; number 0 leaves the statement unnumbered.
    std::string buildStatement(const StatementRecord& statement, int number) const;
    // The bird's tooltip for the state of the result, as plain text.
    std::string tooltipText(const MatchResult& result) const;

    // The value of a page placeholder, as HTML.
    std::string pageKeys(std::string_view key, std::string_view format,
                         const MatchResult& result) const;
    // The value of a statement placeholder, as HTML.
    std::string statementKeys(std::string_view key, std::string_view format,
                              const StatementRecord& statement, int number) const;

  private:
    std::string dllPath_;
};

// Links every "opt-out" of the page's text to the address; tags, existing links, scripts and
// style sheets are left alone. The address is set into the link as given.
std::string linkOptOuts(std::string_view page, std::string_view escapedAddress);

// HTML text safe in element content and in quoted attribute values alike.
std::string escapeHtml(std::string_view text);

// Whether an address may stand in a link or an image: its scheme is http, https or mailto.
bool isAllowedLinkAddress(std::string_view address);

}  // namespace perchlight
