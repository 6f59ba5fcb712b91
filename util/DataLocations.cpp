#include "util/DataLocations.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "util/ModuleDirectory.h"

namespace perchlight {
namespace {

constexpr const char* kFolderName = "/perchlight";

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The user's home: HOME when absolute, else the password database's entry; empty when neither.
std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return withoutTrailingSlash(home);
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return withoutTrailingSlash(found->pw_dir);
    }
    return {};
}

// An XDG base directory: the variable when it holds an absolute path (relative values are
// ignored, as the XDG rules ask), else the fallback below the home; empty without a home.
std::string xdgDirectory(const char* variable, const char* belowHome) {
    if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') {
        return withoutTrailingSlash(value);
    }
    const std::string home = homeDirectory();
    return home.empty() ? std::string() : home + belowHome;
}

bool isDirectory(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

bool isFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// Creates the directory and its missing parents; the last one gets mode 0700, the parents the
// XDG folders' own 0700 as well.
bool createPrivateDirectory(const std::string& directory) {
    if (directory.empty()) {
        return false;
    }
    if (isDirectory(directory)) {
        return true;
    }
    std::string partial;
    std::size_t start = 1;
    while (start <= directory.size()) {
        std::size_t end = directory.find('/', start);
        if (end == std::string::npos) {
            end = directory.size();
        }
        partial = directory.substr(0, end);
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        start = end + 1;
    }
    return isDirectory(directory);
}

}  // namespace

DataLocations::DataLocations(std::string shipped, std::string user, std::string cache)
    : shipped_(std::move(shipped)), user_(std::move(user)), cache_(std::move(cache)) {}

DataLocations DataLocations::inOneDirectory(std::string directory) {
    std::string single = withoutTrailingSlash(std::move(directory));
    std::string cache = single + "/cache";
    return DataLocations(single, single, std::move(cache));
}

DataLocations DataLocations::installed(std::string shippedDirectory) {
    std::string shipped = withoutTrailingSlash(std::move(shippedDirectory));
    std::string data = xdgDirectory("XDG_DATA_HOME", "/.local/share");
    std::string cache = xdgDirectory("XDG_CACHE_HOME", "/.cache");
    if (data.empty() || cache.empty()) {
        // No home at all: everything in the shipped directory, where writing fails with the
        // writers' own messages instead of landing somewhere unexpected.
        return inOneDirectory(std::move(shipped));
    }
    return DataLocations(std::move(shipped), data + kFolderName, cache + kFolderName);
}

DataLocations DataLocations::forThisProcess() {
    if (const char* home = std::getenv("PERCHLIGHT_HOME"); home != nullptr && *home != '\0') {
        return inOneDirectory(home);
    }
    const std::filesystem::path program(programDirectory());
    if (const std::filesystem::path build = program / "data"; isDirectory(build)) {
        return inOneDirectory(build.lexically_normal().string());
    }
    if (const std::filesystem::path share = program / ".." / "share" / "perchlight";
        isDirectory(share)) {
        return installed(share.lexically_normal().string());
    }
    return inOneDirectory(program.string());
}

std::string DataLocations::shippedFile(std::string_view name) const {
    return shipped_ + std::string(name);
}

std::string DataLocations::userFile(std::string_view name) const {
    return user_ + std::string(name);
}

std::string DataLocations::ruleSetFile(std::string_view name) const {
    std::string user = userFile(name);
    if (!perUser() || isFile(user)) {
        return user;
    }
    std::string shipped = shippedFile(name);
    return isFile(shipped) ? shipped : user;
}

bool DataLocations::createUserDirectories() const {
    if (!perUser()) {
        return true;
    }
    return createPrivateDirectory(user_) && createPrivateDirectory(cache_);
}

}  // namespace perchlight
