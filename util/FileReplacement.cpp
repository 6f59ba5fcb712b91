#include "util/FileReplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace perchlight {
namespace {

// Files written the first time are readable by everyone, as files written with the C runtime are
// under the usual umask; a replaced file keeps the mode it had.
constexpr mode_t kNewFileMode = 0644;

bool syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

}  // namespace

FileReplacement::FileReplacement(std::string target) : target_(std::move(target)) {
    if (target_.empty()) {
        return;
    }
    std::string pattern = target_ + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return;
    }
    struct stat existing {};
    const mode_t mode =
        ::stat(target_.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : kNewFileMode;
    ::fchmod(fd, mode);
    ::close(fd);
    temporaryPath_ = name.data();
}

FileReplacement::~FileReplacement() {
    if (!committed_ && reserved()) {
        ::unlink(temporaryPath_.c_str());
    }
}

bool FileReplacement::commit() {
    if (!reserved() || committed_) {
        return false;
    }
    if (!syncFile(temporaryPath_) || std::rename(temporaryPath_.c_str(), target_.c_str()) != 0) {
        return false;
    }
    committed_ = true;
    return true;
}

}  // namespace perchlight
