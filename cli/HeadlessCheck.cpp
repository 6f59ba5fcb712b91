#include "cli/HeadlessCheck.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <thread>

#include "browser/HeadlessOwner.h"
#include "cli/CheckCommand.h"
#include "prefs/ModuleDirectory.h"
#include "prefs/P3PPreferences.h"
#include "retrieval/PageCheck.h"
#include "retrieval/PolicyCache.h"
#include "util/Error.h"

namespace perchlight::cli {
namespace {

// The rule set file of a privacy level named on the command line.
std::string levelRuleSetPath(const std::string& level) {
    constexpr std::array<const char*, 5> kNames = {"low", "medium", "high", "custom", "imported"};
    const auto found = std::find(kNames.begin(), kNames.end(), level);
    const auto number = static_cast<std::int32_t>(found - kNames.begin()) + kLevelLow;
    return moduleDirectory() + P3PPreferences::ruleSetFileName(number);
}

// The rule set file to use, or empty with the reason printed when it is missing.
std::string existingRuleSet(const std::string& level, const std::string& ruleSetPath,
                            std::ostream& err) {
    const std::string rules = ruleSetPath.empty() ? levelRuleSetPath(level) : ruleSetPath;
    std::error_code missing;
    if (std::filesystem::is_regular_file(rules, missing)) {
        return rules;
    }
    err << "perchlight: no rule set at " << rules
        << (level == "custom"     ? "; write one with `perchlight custom`"
            : level == "imported" ? "; import one with `perchlight import FILE`"
                                  : "")
        << "\n";
    return "";
}

bool parsePageUrl(const std::string& text, Url& page, std::ostream& err) {
    try {
        page = Url(text);
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << ": " << text << "\n";
        return false;
    }
    if (page.protocol() != "http" && page.protocol() != "https") {
        err << "perchlight: only http and https pages are checked\n";
        return false;
    }
    return true;
}

}  // namespace

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

int exitStatusForVerdict(int verdict) {
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

bool resolvePageCheck(const std::string& url, const std::string& level,
                      const std::string& ruleSetPath, Url& page, std::string& ruleSet,
                      std::ostream& err) {
    if (!parsePageUrl(url, page, err)) {
        return false;
    }
    ruleSet = existingRuleSet(level, ruleSetPath, err);
    return !ruleSet.empty();
}

int checkPageHeadless(const Url& page, bool posted, const std::string& ruleSet, P3PMatchInfo& info,
                      std::ostream& err) {
    PolicyCache& cache = PolicyCache::instance();
    cache.setRuleSetReader([ruleSet](std::string& bytes) { return readFileInto(ruleSet, bytes); });
    HeadlessOwner owner(info);
    try {
        cache.loadCacheIndex();
        if (!owner.loadPage(page, posted)) {
            err << "perchlight: the page yielded no document; checking its policy only\n";
        }
        std::thread check(runCheckThread, std::ref(owner), page, posted ? "posted" : "");
        check.join();
        cache.writeCacheIndex();
    } catch (const Error& error) {
        err << "perchlight: " << error.message() << "\n";
    }
    return owner.verdict();
}

}  // namespace perchlight::cli
