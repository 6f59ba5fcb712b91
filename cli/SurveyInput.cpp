#include "cli/SurveyInput.h"

#include <filesystem>
#include <fstream>
#include <istream>

#include "cli/SurveyRecord.h"

namespace perchlight::cli {
namespace {

std::string trimmed(const std::string& line) {
    const char* space = " \t\r\n";
    const std::size_t first = line.find_first_not_of(space);
    if (first == std::string::npos) {
        return "";
    }
    return line.substr(first, line.find_last_not_of(space) - first + 1);
}

// Cuts a half-written last line off the file; the length that remains.
std::uintmax_t dropUnfinishedLine(const std::string& path) {
    std::error_code failure;
    const std::uintmax_t size = std::filesystem::file_size(path, failure);
    if (failure || size == 0) {
        return 0;
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty() || bytes.back() == '\n') {
        return bytes.size();
    }
    const std::size_t lastEnd = bytes.rfind('\n');
    const std::uintmax_t kept = lastEnd == std::string::npos ? 0 : lastEnd + 1;
    std::filesystem::resize_file(path, kept, failure);
    return kept;
}

}  // namespace

std::string absoluteAddress(const std::string& address) {
    if (address.find("://") != std::string::npos) {
        return address;
    }
    return "http://" + address + (address.find('/') == std::string::npos ? "/" : "");
}

std::vector<std::string> readSurveyList(std::istream& in) {
    std::vector<std::string> addresses;
    std::set<std::string> seen;
    std::string line;
    while (std::getline(in, line)) {
        std::string address = trimmed(line);
        if (address.empty() || address[0] == '#') {
            continue;
        }
        address = absoluteAddress(address);
        if (seen.insert(address).second) {
            addresses.push_back(address);
        }
    }
    return addresses;
}

std::optional<Shard> parseShard(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) {
        return std::nullopt;
    }
    try {
        std::size_t used = 0;
        const unsigned long index = std::stoul(text.substr(0, slash), &used);
        if (used != slash) {
            return std::nullopt;
        }
        const std::string countText = text.substr(slash + 1);
        const unsigned long count = std::stoul(countText, &used);
        if (used != countText.size() || count == 0 || index >= count || count > 1000000) {
            return std::nullopt;
        }
        return Shard{static_cast<unsigned>(index), static_cast<unsigned>(count)};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::uint64_t stableHash(const std::string& address) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char byte : address) {
        hash = (hash ^ byte) * 1099511628211ULL;
    }
    return hash;
}

bool inShard(const std::string& address, const Shard& shard) {
    return stableHash(address) % shard.count == shard.index;
}

std::set<std::string> recordedAddresses(const std::string& outputPath, bool csv) {
    std::set<std::string> recorded;
    if (dropUnfinishedLine(outputPath) == 0) {
        return recorded;
    }
    std::ifstream in(outputPath);
    std::string line;
    while (std::getline(in, line)) {
        const std::optional<SurveyRecord> record = csv ? fromCsvLine(line) : fromJsonLine(line);
        if (record) {
            recorded.insert(record->url);
        }
    }
    return recorded;
}

}  // namespace perchlight::cli
