#pragma once

#include <optional>
#include <string>
#include <vector>

namespace perchlight::cli {

// What a survey writes for one address, as soon as its check ends.
struct SurveyRecord {
    struct Item {
        std::string url;
        std::string type;    // "Image", "Frame/IFrame", ...
        std::string check;   // "Matched", "UnMatched" or "Unknown"
        std::string policy;  // empty when none covers the item
    };

    std::string url;                 // the address as the list gave it, made absolute
    std::string finalUrl;            // where the redirects ended; the page that was checked
    std::string verdict;             // "matched", "unmatched", "partly matched" or "unknown"
    std::string policy;              // the page's policy URL, empty when none was found
    std::string route;               // how the policy was found: see SurveyRoute
    int code = 0;                    // the evaluation code of the page's policy
    std::vector<std::string> rules;  // descriptions of the fired rules, in firing order
    std::vector<Item> items;
    long requests = 0;      // HTTP requests made for this address
    long milliseconds = 0;  // wall time of the whole check
    std::string error;      // an error class (see SurveyError) when the verdict is unknown
    long httpStatus = 0;    // the status behind an "http-status" error; else the page's status
    std::optional<std::string> cp;           // the page's compact policy, when it sent one
    std::vector<std::string> cpProblems;     // "class token" of each of its problems
    std::vector<std::string> cpMismatches;   // "unsupported TOKEN" or "omitted TOKEN"
    std::vector<std::string> firedElements;  // "PURPOSE telemarketing": what fired the rules
};

// Routes by which a page's policy is found, in the order the check tries them.
namespace SurveyRoute {
inline constexpr const char* kKnown = "known";  // a reference file loaded before the check
inline constexpr const char* kWellKnown = "well-known";
inline constexpr const char* kLink = "link";
inline constexpr const char* kHeader = "header";
}  // namespace SurveyRoute

// Why a page ended without a verdict. "no-policy" is said only when no route named a policy;
// a policy that was named but could not be had or read gets one of the other classes.
namespace SurveyError {
inline constexpr const char* kDns = "dns";
inline constexpr const char* kConnect = "connect";
inline constexpr const char* kTimeout = "timeout";
inline constexpr const char* kTls = "tls";
inline constexpr const char* kTransfer = "transfer";  // the connection broke or answered nothing
inline constexpr const char* kHttpStatus = "http-status";
inline constexpr const char* kNotXml = "not-xml";
inline constexpr const char* kMalformedPolicy = "malformed-policy";  // codes 6, 9, 10
inline constexpr const char* kUnresolvableReference = "unresolvable-reference";
inline constexpr const char* kRuleSet = "rule-set";  // the rule set could not be read
inline constexpr const char* kNoPolicy = "no-policy";
inline constexpr const char* kTestPolicy = "test-policy";
inline constexpr const char* kBadAddress = "bad-address";  // not an http or https URL
}  // namespace SurveyError

// JSON Lines: one object per line, fields named as in SurveyRecord ("final_url", "http_status").
std::string toJsonLine(const SurveyRecord& record);
// None for a line that is no record (a half-written last line, say).
std::optional<SurveyRecord> fromJsonLine(const std::string& line);

// CSV with a header line; lists are joined with " | ", and every field is quoted and kept on one
// line so that a row is a line, except a missing compact policy, which is an empty field. Rows
// of the twelve fields before "cp" are read too.
std::string csvHeader();
std::string toCsvLine(const SurveyRecord& record);
std::optional<SurveyRecord> fromCsvLine(const std::string& line);

}  // namespace perchlight::cli
