#include "host/SocketBroadcast.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace perchlight {
namespace {

bool isProcessId(const std::string& name) {
    if (name.empty() || name.size() > 10 || name[0] == '0') {
        return false;
    }
    for (const char c : name) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// Anyone who can write into the folder could impersonate the processes in it.
bool folderIsPrivate(const std::string& folder) {
    struct stat status {};
    return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid();
}

void sendTo(const std::string& path, const std::string& line) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        return;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    int connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (connected != 0 && errno == ECONNREFUSED) {
        ::unlink(path.c_str());  // its process is gone
    } else if (connected == 0 || errno == EAGAIN || errno == EINPROGRESS) {
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, SocketBroadcast::kSocketTimeoutMs) == 1 &&
            (ready.revents & POLLOUT) != 0) {
            (void)::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        }
    }
    ::close(fd);
}

}  // namespace

std::string SocketBroadcast::defaultFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && runtime[0] == '/' ? std::string(runtime) + "/perchlight"
                                                   : std::string();
}

void SocketBroadcast::broadcast(int command, bool) {
    if (folder_.empty() || !folderIsPrivate(folder_)) {
        return;
    }
    const std::string line = std::to_string(command) + "\n";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        const std::string name = entry.path().filename().string();
        std::error_code typeError;
        if (isProcessId(name) && entry.is_socket(typeError)) {
            sendTo(entry.path().string(), line);
        }
    }
}

}  // namespace perchlight
