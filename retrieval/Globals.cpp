#include "retrieval/Globals.h"
#include "retrieval/GlobalsDetail.h"

#include <curl/curl.h>

#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include "core/CompactPolicy.h"
#include "util/Error.h"
#include "util/Monitor.h"

namespace perchlight {
namespace {

constexpr const char* kUnit = "Globals";
constexpr const char* kPolicyRefKey = "policyref=";
constexpr int kTempNameCount = 65536;

Monitor& tempNameLock() {
    static Monitor lock;
    return lock;
}

std::uint16_t tempNameCounter = 0;  // guarded by tempNameLock()

bool pathExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() !=
           std::filesystem::file_type::not_found;
}

}  // namespace

Url extractPolicyRef(const std::string& headers, const Url& page) {
    const std::size_t key = headers.find(kPolicyRefKey);
    if (key == std::string::npos) {
        return Url();
    }
    const std::size_t open = headers.find('"', key);
    const std::size_t close = open == std::string::npos ? open : headers.find('"', open + 1);
    if (close == std::string::npos) {
        return Url();
    }
    try {
        return page.resolve(headers.substr(open + 1, close - open - 1));
    } catch (const Error&) {
        return Url();
    }
}

std::vector<std::string> p3pHeaderValues(const std::string& headers) {
    std::vector<std::string> values;
    std::size_t at = 0;
    while (at < headers.size()) {
        std::size_t end = headers.find('\n', at);
        if (end == std::string::npos) {
            end = headers.size();
        }
        std::string_view line(headers.data() + at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.starts_with("HTTP/")) {
            values.clear();  // a later response of the chain: only its headers count
        } else if (line.size() >= 4 && (line[0] == 'P' || line[0] == 'p') && line[1] == '3' &&
                   (line[2] == 'P' || line[2] == 'p') && line[3] == ':') {
            line.remove_prefix(4);
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                line.remove_prefix(1);
            }
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
                line.remove_suffix(1);
            }
            values.emplace_back(line);
        }
        at = end + 1;
    }
    return values;
}

std::string compactPolicyFor(const std::vector<SeenP3PHeader>& seen, const Url& url) {
    for (const SeenP3PHeader& header : seen) {
        if (header.url == url) {
            if (std::optional<std::string> field = compactPolicyField(header.value)) {
                return std::move(*field);
            }
        }
    }
    return {};
}

std::uint32_t parseHttpDate(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    const time_t seconds = curl_getdate(text, nullptr);
    if (seconds == -1 || seconds == 0) {
        PERCHLIGHT_RAISE("Invalid TIME string", kUnit);
    }
    if (seconds < 0) {
        return 1;
    }
    if (static_cast<std::uint64_t>(seconds) > std::numeric_limits<std::uint32_t>::max()) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    return static_cast<std::uint32_t>(seconds);
}

std::string uniqueTempName(const std::string& directory) {
    MonitorLock guard(tempNameLock());
    for (int attempt = 0; attempt < kTempNameCount; ++attempt) {
        ++tempNameCounter;  // wraps from 65535 to 0
        std::string name = "temp" + std::to_string(tempNameCounter);
        if (!pathExists(directory + "/" + name)) {
            return name;
        }
    }
    PERCHLIGHT_RAISE("No free temporary file name", kUnit);
}

void setTempNameCounterForTesting(std::uint16_t counter) {
    MonitorLock guard(tempNameLock());
    tempNameCounter = counter;
}

}  // namespace perchlight
