#include "prefs/RegistryKey.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "prefs/PreferenceFile.h"

#include "util/FileReader.h"

namespace perchlight {
namespace {

constexpr std::string_view kHeader = "# Perchlight settings: one \"name=value\" line per value\n";

std::filesystem::path configDirectory() {
    // Relative values are ignored, as the XDG base directory rules ask.
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && config[0] == '/') {
        return config;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".config";
    }
    return {};
}

// The key's path below the configuration directory: its components after a leading "Software",
// so that later keys of the installer find their places beside this one.
std::filesystem::path relativeKeyPath(std::string_view key) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= key.size()) {
        const std::size_t end = std::min(key.find('\\', start), key.size());
        parts.push_back(key.substr(start, end - start));
        start = end + 1;
    }
    if (!parts.empty() && parts.front() == "Software") {
        parts.erase(parts.begin());
    }
    std::filesystem::path path;
    for (std::string_view part : parts) {
        if (part.empty() || part == "." || part == ".." ||
            part.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
            return {};
        }
        path /= std::string(part);
    }
    if (path.empty()) {
        return {};
    }
    path += ".conf";
    return path;
}

bool isAccessibleFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) &&
           ::access(path.c_str(), R_OK | W_OK) == 0;
}

// A decimal value; negative values down to -2^31 stand for their two's complement, as signed
// values such as a bird position are stored.
std::optional<std::uint32_t> parseValue(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    std::uint64_t magnitude = 0;
    const char* first = text.data() + (negative ? 1 : 0);
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, magnitude);
    if (first == last || error != std::errc() || end != last) {
        return std::nullopt;
    }
    if (negative) {
        if (magnitude > 0x80000000ull) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(0x100000000ull - magnitude);
    }
    if (magnitude > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(magnitude);
}

bool isValidName(std::string_view name) {
    return !name.empty() &&
           name.find_first_of(std::string_view("=\n\r\0", 4)) == std::string_view::npos &&
           name.front() != '#';
}

}  // namespace

std::string RegistryKey::filePath(std::string_view key) {
    const std::filesystem::path directory = configDirectory();
    const std::filesystem::path relative = relativeKeyPath(key);
    if (directory.empty() || relative.empty()) {
        return {};
    }
    return (directory / relative).string();
}

std::optional<RegistryKey> RegistryKey::open(std::string_view key) {
    const std::string path = filePath(key);
    if (path.empty() || !isAccessibleFile(path)) {
        return std::nullopt;
    }
    RegistryKey result(path);
    if (const std::optional<std::string> text = FileReader::read(path, kMaxFileSize)) {
        result.parse(*text);
    }
    return result;
}

std::optional<RegistryKey> RegistryKey::create(std::string_view key) {
    if (std::optional<RegistryKey> existing = open(key)) {
        return existing;
    }
    const std::string path = filePath(key);
    if (path.empty()) {
        return std::nullopt;
    }
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        return std::nullopt;  // present but not ours to replace
    }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    const RegistryKey created(path);
    if (!created.save()) {
        return std::nullopt;
    }
    return open(key);
}

void RegistryKey::parse(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view name = line.substr(0, equals);
        const std::optional<std::uint32_t> parsed = parseValue(line.substr(equals + 1));
        if (isValidName(name) && parsed) {
            setValue(name, *parsed);
        }
    }
}

std::optional<std::uint32_t> RegistryKey::value(std::string_view name) const {
    const auto found = values_.find(name);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void RegistryKey::setValue(std::string_view name, std::uint32_t value) {
    if (!isValidName(name)) {
        return;
    }
    values_.insert_or_assign(std::string(name), value);
}

bool RegistryKey::save() const {
    std::string text(kHeader);
    for (const auto& [name, value] : values_) {
        text += name + "=" + std::to_string(value) + "\n";
    }
    return PreferenceFile::writeText(path_, text);
}

}  // namespace perchlight
