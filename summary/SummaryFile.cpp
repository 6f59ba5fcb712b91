#include "summary/SummaryFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "util/DataLocations.h"

namespace perchlight {
namespace {

constexpr std::string_view kPrefix = "/summary";
constexpr std::string_view kSuffix = ".html";

bool writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// The directory for a new summary file: TMPDIR when it names a directory, else the user's.
std::string summaryDirectory() {
    if (const char* temporary = std::getenv("TMPDIR"); temporary != nullptr && *temporary != '\0') {
        std::error_code error;
        if (std::filesystem::is_directory(temporary, error)) {
            return temporary;
        }
    }
    const DataLocations locations = DataLocations::forThisProcess();
    locations.createUserDirectories();
    return locations.userDirectory();
}

// Creates a new file with a unique name in the directory; -1 when none can be made.
int createUnique(const std::string& directory, std::string& path) {
    std::string pattern = directory + std::string(kPrefix) + "XXXXXX" + std::string(kSuffix);
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int descriptor = ::mkstemps(buffer.data(), static_cast<int>(kSuffix.size()));
    if (descriptor >= 0) {
        path = buffer.data();
    }
    return descriptor;
}

}  // namespace

SummaryFile::SummaryFile(std::string_view page) {
    std::string path;
    int descriptor = createUnique(summaryDirectory(), path);
    if (descriptor < 0) {
        path = summaryDirectory() + std::string(kPrefix) + std::string(kSuffix);
        descriptor =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (descriptor < 0) {
        return;
    }
    const bool complete = writeAll(descriptor, page);
    if (::close(descriptor) == 0 && complete) {
        path_ = std::move(path);
    } else {
        ::unlink(path.c_str());
    }
}

SummaryFile::~SummaryFile() {
    remove();
}

SummaryFile::SummaryFile(SummaryFile&& other) noexcept : path_(std::exchange(other.path_, {})) {}

SummaryFile& SummaryFile::operator=(SummaryFile&& other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

void SummaryFile::remove() {
    if (!path_.empty()) {
        ::unlink(path_.c_str());
        path_.clear();
    }
}

}  // namespace perchlight
