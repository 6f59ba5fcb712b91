#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace perchlight {

// The per-user stand-in for the class and helper entries of the Windows registry: a tree of keys
// such as "HKCR\CLSID\{...}\InprocServer32", each holding named text values ("@" names the key's
// default value), kept in one text file:
//
//   [HKCR\CLSID\{00000178-CD4A-447a-BCF9-6FD0096B5527}\InprocServer32]
//   @=/usr/lib/perchlight/libperchlight-agent.so
//   ThreadingModel=Apartment
//
// Key and value names compare without regard to ASCII letter case, as the registry's do; they
// keep the spelling they were first written with. Every ancestor of a key exists as a key too.
// Changes are kept in memory until save(), which merges them into the file as it is then, so two
// processes editing different entries both keep theirs. One thread per object.
class RegistryTree {
  public:
    // A larger file is not read (and not overwritten): real trees hold a few dozen lines, and the
    // whole file is held in memory.
    static constexpr std::size_t kMaxFileSize = 1024 * 1024;

    // $XDG_CONFIG_HOME (when absolute), else ~/.config, followed by
    // "/perchlight-browser/registry"; empty when neither is known.
    static std::string defaultPath();

    RegistryTree() = default;
    explicit RegistryTree(std::string path) { load(std::move(path)); }

    // Reads the file at path and makes it the file save() writes. A missing file is an empty
    // tree; malformed lines are skipped. False, with an empty tree, when the file exists but
    // cannot be read or is larger than kMaxFileSize.
    bool load(std::string path);
    const std::string& path() const { return path_; }

    // Creates the key and its ancestors; false for a malformed key name (empty, an empty
    // component, or a character that the file cannot hold: "[", "]", a control character).
    bool createKey(std::string_view key);
    // Sets a value, creating the key; false for a malformed key or value name (empty, "=", a
    // control character, or beginning with "[", "#" or ";") or a value holding a line end or NUL.
    bool setValue(std::string_view key, std::string_view name, std::string_view value);
    std::optional<std::string> value(std::string_view key, std::string_view name) const;
    bool hasKey(std::string_view key) const;
    // The names of the key's immediate subkeys as written, in case-insensitive name order.
    std::vector<std::string> subkeys(std::string_view key) const;
    // Removes the key with all its subkeys; false when it does not exist.
    bool removeTree(std::string_view key);

    // Under a lock shared with other processes, reads the file again, applies this object's
    // changes since load() or the last save() to it, and replaces the file atomically; this
    // object then holds the merged tree. False when the lock, the reading or the writing fails
    // (the file is then unchanged and the changes stay pending).
    bool save();

  private:
    struct Key {
        std::string name;  // the full path as first written
        std::map<std::string, std::pair<std::string, std::string>> values;  // folded -> name, value
    };
    struct Change {
        enum class Kind { CreateKey, SetValue, RemoveTree } kind;
        std::string key, name, value;
    };

    void apply(const Change& change);
    void parse(std::string_view text);
    std::string serialize() const;
    const Key* find(std::string_view key) const;

    std::string path_;
    std::map<std::string, Key> keys_;  // by case-folded path, so a key's subtree follows it
    std::vector<Change> pending_;
};

}  // namespace perchlight
