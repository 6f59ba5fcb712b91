#include "util/RegistryTree.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "util/Error.h"
#include "util/FileLock.h"
#include "util/FileReplacement.h"

namespace perchlight {
namespace {

constexpr std::string_view kHeader =
    "# Perchlight browser class and helper entries: [key] lines, then name=value lines\n";

std::string fold(std::string_view text) {
    std::string folded(text);
    std::transform(folded.begin(), folded.end(), folded.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return folded;
}

bool hasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

bool isValidKey(std::string_view key) {
    if (key.empty() || key.front() == '\\' || key.back() == '\\' ||
        key.find("\\\\") != std::string_view::npos) {
        return false;
    }
    return key.find_first_of("[]") == std::string_view::npos && !hasControlCharacter(key);
}

bool isValidValueName(std::string_view name) {
    return !name.empty() && name.find('=') == std::string_view::npos &&
           name.find_first_of("[#;") != 0 && !hasControlCharacter(name);
}

bool isValidValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// The key's ancestors and itself, outermost first.
std::vector<std::string_view> keyAndAncestors(std::string_view key) {
    std::vector<std::string_view> paths;
    for (std::size_t end = key.find('\\'); end != std::string_view::npos;
         end = key.find('\\', end + 1)) {
        paths.push_back(key.substr(0, end));
    }
    paths.push_back(key);
    return paths;
}

enum class ReadResult { Read, Missing, Failed };

ReadResult readFile(const std::string& path, std::string& text) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return ReadResult::Missing;
    }
    if (error || status.type() != std::filesystem::file_type::regular) {
        return ReadResult::Failed;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > RegistryTree::kMaxFileSize) {
        return ReadResult::Failed;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    if (!in && !in.eof()) {
        return ReadResult::Failed;
    }
    text = std::move(content).str();
    return text.size() > RegistryTree::kMaxFileSize ? ReadResult::Failed : ReadResult::Read;
}

}  // namespace

std::string RegistryTree::defaultPath() {
    // Relative values are ignored, as the XDG base directory rules ask.
    std::filesystem::path directory;
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && config[0] == '/') {
        directory = config;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        directory = std::filesystem::path(home) / ".config";
    } else {
        return {};
    }
    return (directory / "perchlight-browser" / "registry").string();
}

bool RegistryTree::load(std::string path) {
    path_ = std::move(path);
    keys_.clear();
    pending_.clear();
    std::string text;
    switch (readFile(path_, text)) {
        case ReadResult::Missing:
            return true;
        case ReadResult::Failed:
            return false;
        case ReadResult::Read:
            break;
    }
    parse(text);
    return true;
}

void RegistryTree::parse(std::string_view text) {
    std::string currentKey;  // empty: lines before the first valid key line are skipped
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            const bool closed = line.size() >= 2 && line.back() == ']';
            const std::string_view key = closed ? line.substr(1, line.size() - 2) : "";
            currentKey = isValidKey(key) ? std::string(key) : std::string();
            if (!currentKey.empty()) {
                apply({Change::Kind::CreateKey, currentKey, {}, {}});
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (currentKey.empty() || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view name = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (isValidValueName(name) && isValidValue(value)) {
            apply({Change::Kind::SetValue, currentKey, std::string(name), std::string(value)});
        }
    }
}

void RegistryTree::apply(const Change& change) {
    switch (change.kind) {
        case Change::Kind::CreateKey:
        case Change::Kind::SetValue: {
            Key* key = nullptr;
            for (std::string_view path : keyAndAncestors(change.key)) {
                key = &keys_.try_emplace(fold(path), Key{std::string(path), {}}).first->second;
            }
            if (change.kind == Change::Kind::SetValue) {
                auto& slot = key->values[fold(change.name)];
                if (slot.first.empty()) {
                    slot.first = change.name;
                }
                slot.second = change.value;
            }
            break;
        }
        case Change::Kind::RemoveTree: {
            const std::string folded = fold(change.key);
            keys_.erase(folded);
            const std::string prefix = folded + "\\";
            auto it = keys_.lower_bound(prefix);
            while (it != keys_.end() && it->first.starts_with(prefix)) {
                it = keys_.erase(it);
            }
            break;
        }
    }
}

bool RegistryTree::createKey(std::string_view key) {
    if (!isValidKey(key)) {
        return false;
    }
    pending_.push_back({Change::Kind::CreateKey, std::string(key), {}, {}});
    apply(pending_.back());
    return true;
}

bool RegistryTree::setValue(std::string_view key, std::string_view name, std::string_view value) {
    if (!isValidKey(key) || !isValidValueName(name) || !isValidValue(value)) {
        return false;
    }
    pending_.push_back(
        {Change::Kind::SetValue, std::string(key), std::string(name), std::string(value)});
    apply(pending_.back());
    return true;
}

const RegistryTree::Key* RegistryTree::find(std::string_view key) const {
    const auto found = keys_.find(fold(key));
    return found == keys_.end() ? nullptr : &found->second;
}

std::optional<std::string> RegistryTree::value(std::string_view key, std::string_view name) const {
    const Key* found = find(key);
    if (found == nullptr) {
        return std::nullopt;
    }
    const auto value = found->values.find(fold(name));
    if (value == found->values.end()) {
        return std::nullopt;
    }
    return value->second.second;
}

bool RegistryTree::hasKey(std::string_view key) const {
    return find(key) != nullptr;
}

std::vector<std::string> RegistryTree::subkeys(std::string_view key) const {
    std::vector<std::string> names;
    if (!isValidKey(key)) {
        return names;
    }
    const std::string prefix = fold(key) + "\\";
    for (auto it = keys_.lower_bound(prefix); it != keys_.end() && it->first.starts_with(prefix);
         ++it) {
        if (it->first.find('\\', prefix.size()) == std::string::npos) {
            names.push_back(it->second.name.substr(prefix.size()));
        }
    }
    return names;
}

bool RegistryTree::removeTree(std::string_view key) {
    if (!isValidKey(key) || !hasKey(key)) {
        return false;
    }
    pending_.push_back({Change::Kind::RemoveTree, std::string(key), {}, {}});
    apply(pending_.back());
    return true;
}

std::string RegistryTree::serialize() const {
    std::string text(kHeader);
    for (const auto& [folded, key] : keys_) {
        text += "[" + key.name + "]\n";
        for (const auto& [foldedName, entry] : key.values) {
            text += entry.first + "=" + entry.second + "\n";
        }
    }
    return text;
}

bool RegistryTree::save() {
    if (path_.empty()) {
        return false;
    }
    try {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), error);
        const FileLock lock(path_ + ".lock");
        std::string text;
        if (readFile(path_, text) == ReadResult::Failed) {
            return false;
        }
        RegistryTree merged;
        merged.parse(text);
        for (const Change& change : pending_) {
            merged.apply(change);
        }
        const std::string output = merged.serialize();
        if (output.size() > kMaxFileSize) {
            return false;
        }
        FileReplacement replacement(path_);
        if (!replacement.reserved()) {
            return false;
        }
        {
            std::ofstream out(replacement.temporaryPath(), std::ios::binary | std::ios::trunc);
            out << output;
            out.close();
            if (!out) {
                return false;
            }
        }
        if (!replacement.commit()) {
            return false;
        }
        keys_ = std::move(merged.keys_);
        pending_.clear();
        return true;
    } catch (const Error&) {
        return false;  // the lock was not had
    }
}

}  // namespace perchlight
