#include "util/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "util/Error.h"

namespace perchlight {
namespace {

constexpr const char* kUnit = "FileLock";
constexpr std::chrono::milliseconds kPollInterval{10};

}  // namespace

FileLock::FileLock(const std::string& path, std::chrono::milliseconds timeout) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        PERCHLIGHT_RAISE("Unable to lock file", kUnit);
    }
    // Polling rather than a blocking flock bounds the wait when another process hangs.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            ::close(fd_);
            fd_ = -1;
            PERCHLIGHT_RAISE("Unable to lock file", kUnit);
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
}

}  // namespace perchlight
