#pragma once

#include <string>
#include <string_view>

namespace perchlight {

// Where every file of the agent lives, the one answer that every reader and writer asks. Three
// folders: the shipped files (installed rule sets, base data schema, summary templates, help
// pages, sounds, example policies), read-only; the files the user's choices write (no-prompt
// sites, cookie preferences and history, custom and imported rule sets); the policy cache and its
// index. In one directory they are one folder (with the cache in "cache/" below it); installed,
// the shipped files lie under the prefix and the written ones in the user's XDG folders. The
// settings key and the registry stand-in stay in the configuration directory
// (prefs/RegistryKey, util/RegistryTree). A value; copies are independent.
class DataLocations {
  public:
    // The resolution order, as `perchlight --help` prints it.
    static constexpr const char* kResolutionOrder =
        "Where the files live (the first that applies):\n"
        "  PERCHLIGHT_HOME set: everything in that directory, the cache in its cache/\n"
        "  data/ beside the program (a build tree): everything there, likewise\n"
        "  installed: the shipped files in ../share/perchlight beside the program, the user's\n"
        "    files in $XDG_DATA_HOME/perchlight (~/.local/share/perchlight), the cache in\n"
        "    $XDG_CACHE_HOME/perchlight (~/.cache/perchlight)\n"
        "  the settings key and the browser's registry: $XDG_CONFIG_HOME (~/.config)";

    // Everything in one directory (a trailing "/" is dropped): PERCHLIGHT_HOME, a build tree's
    // data/, a portable copy, a test's home.
    static DataLocations inOneDirectory(std::string directory);
    // Shipped files in shippedDirectory, the written ones in the XDG folders of this user.
    static DataLocations installed(std::string shippedDirectory);
    // The layout of this process, in the order of kResolutionOrder.
    static DataLocations forThisProcess();

    // The directory of the shipped files, without a trailing "/".
    const std::string& shippedDirectory() const { return shipped_; }
    // The directory the user's files are written to, without a trailing "/".
    const std::string& userDirectory() const { return user_; }
    // The directory of the policy cache and its index.
    const std::string& cacheDirectory() const { return cache_; }
    // True when shipped and written files lie apart (the installed layout).
    bool perUser() const { return shipped_ != user_; }

    // A file's path; name starts with "/" ("/appel-low.xml").
    std::string shippedFile(std::string_view name) const;
    std::string userFile(std::string_view name) const;
    // A rule set: the user's file when there is one (custom, imported), else the shipped one when
    // there is one, else the user's path, where it would be written.
    std::string ruleSetFile(std::string_view name) const;

    // Creates the user's and the cache directory where they are missing, each with mode 0700;
    // false when one of them cannot be made. Nothing is done in the one-directory layout.
    bool createUserDirectories() const;

  private:
    DataLocations(std::string shipped, std::string user, std::string cache);

    std::string shipped_;
    std::string user_;
    std::string cache_;
};

}  // namespace perchlight
