#include "prefs/NoPromptSites.h"

#include <optional>
#include <string_view>

#include "prefs/PreferenceFile.h"
#include "util/Error.h"
#include "util/FileReader.h"

namespace perchlight {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

void NoPromptSites::assign(const std::vector<Url>& sites) {
    sites_.clear();
    for (const Url& site : sites) {
        sites_[site] = true;
    }
}

void NoPromptSites::read(const std::string& path) {
    sites_.clear();
    const std::optional<std::string> text = FileReader::read(path, kMaxFileSize);
    if (!text) {
        return;
    }
    std::string_view rest = *text;
    while (!rest.empty()) {
        std::size_t start = 0;
        while (start < rest.size() && isSpace(rest[start])) {
            ++start;
        }
        std::size_t end = start;
        while (end < rest.size() && !isSpace(rest[end])) {
            ++end;
        }
        const std::string_view token = rest.substr(start, end - start);
        rest.remove_prefix(end);
        if (token.empty() || token.size() > kMaxTokenLength) {
            continue;
        }
        try {
            sites_[Url(std::string(token))] = true;
        } catch (const Error&) {
            // A token that is no URL names no site.
        }
    }
}

bool NoPromptSites::write(const std::string& path) const {
    std::string text;
    for (const auto& [site, flag] : sites_) {
        text += site.str() + "\n";
    }
    return PreferenceFile::writeText(path, text);
}

}  // namespace perchlight
