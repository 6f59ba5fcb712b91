#pragma once

#include <chrono>
#include <string>

namespace perchlight {

// An advisory lock (flock) on a lock file, held for the lifetime of the object, that keeps a
// read-merge-write of a file shared between processes whole. Each object opens the lock file
// itself, so two objects exclude each other in one process too. One thread per object.
class FileLock {
  public:
    // Waits this long for another holder before giving up.
    static constexpr std::chrono::milliseconds kDefaultTimeout{10000};

    // Creates the lock file if need be and takes the lock; raises "Unable to lock file" (unit
    // FileLock) when the file cannot be created or the lock is not had within the time-out.
    explicit FileLock(const std::string& path, std::chrono::milliseconds timeout = kDefaultTimeout);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_ = -1;
};

}  // namespace perchlight
