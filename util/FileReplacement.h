#pragma once

#include <string>

namespace perchlight {

// Replaces a file atomically: the new content is written to a temporary file in the target's
// directory and renamed over the target on commit, so a reader in another process sees either the
// old or the new file, never part of one. An uncommitted temporary file is removed when the object
// goes. One thread at a time.
class FileReplacement {
  public:
    // Creates the temporary file beside target; reserved() tells whether that worked.
    explicit FileReplacement(std::string target);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    bool reserved() const { return !temporaryPath_.empty(); }
    const std::string& target() const { return target_; }
    // The file to write the new content to; empty when none could be created.
    const std::string& temporaryPath() const { return temporaryPath_; }

    // Flushes the written temporary file to disk and renames it over the target, keeping the
    // target's permission bits; false when that fails (the target is then untouched).
    bool commit();

  private:
    std::string target_;
    std::string temporaryPath_;
    bool committed_ = false;
};

}  // namespace perchlight
