#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace perchlight {

// One key of the current user's settings, a stand-in for a registry key that holds 32-bit values.
// The key "Software\Halvard\Perchlight" is the file Halvard/Perchlight.conf in the user's
// configuration directory ($XDG_CONFIG_HOME, else ~/.config); its lines are "name=value" with a
// decimal value; a name given twice takes its last value. The agent never creates a key; the
// installer does (create). Saving replaces the file atomically. A value the file does not hold in a
// readable form counts as missing. One thread per object; the file may be shared between processes.
class RegistryKey {
  public:
    // The key that holds the agent's settings.
    static constexpr std::string_view kPerchlightKey = "Software\\Halvard\\Perchlight";
    // A settings file larger than this is read as a key without values.
    static constexpr std::size_t kMaxFileSize = 64 * 1024;

    // The file that holds the key, or empty when the key name or the configuration directory is
    // unusable.
    static std::string filePath(std::string_view key);
    // Opens an existing key for reading and writing; nothing when it is missing or inaccessible.
    static std::optional<RegistryKey> open(std::string_view key);
    // Opens the key, creating it (without values) and its folders first when it is missing;
    // nothing when that fails.
    static std::optional<RegistryKey> create(std::string_view key);

    // The value of this name, or nothing when the key does not hold it.
    std::optional<std::uint32_t> value(std::string_view name) const;
    // Sets a value in memory; save() writes it. Names hold neither "=" nor a line end.
    void setValue(std::string_view name, std::uint32_t value);
    // Writes every value to the key's file, replacing it; false when that fails.
    bool save() const;

    const std::string& path() const { return path_; }
    const std::map<std::string, std::uint32_t, std::less<>>& values() const { return values_; }

  private:
    explicit RegistryKey(std::string path) : path_(std::move(path)) {}
    void parse(std::string_view text);

    std::string path_;
    std::map<std::string, std::uint32_t, std::less<>> values_;
};

}  // namespace perchlight
