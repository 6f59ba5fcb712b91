#include "util/FileReader.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

namespace perchlight {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::optional<std::string> failed(FileReader::Failure reason, FileReader::Failure* failure) {
    if (failure != nullptr) {
        *failure = reason;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> FileReader::read(const std::string& path, std::uintmax_t maxBytes,
                                            Failure* failure) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = path.empty() ? fs::file_status() : fs::status(path, error);
    if (!fs::exists(status)) {
        return failed(Failure::kMissing, failure);
    }
    if (!fs::is_regular_file(status)) {
        return failed(Failure::kNotRegularFile, failure);
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        return failed(Failure::kUnreadable, failure);
    }
    if (size > maxBytes) {
        return failed(Failure::kTooLarge, failure);
    }
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return failed(Failure::kUnreadable, failure);
    }
    std::string bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return failed(Failure::kTooLarge, failure);
    }
    // Only the measured size is read: a file that grows meanwhile never costs more than the limit.
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    if (std::ferror(file.get())) {
        return failed(Failure::kUnreadable, failure);
    }
    if (failure != nullptr) {
        *failure = Failure::kNone;
    }
    return bytes;
}

std::string FileReader::describe(Failure failure) {
    switch (failure) {
        case Failure::kNone:
            return "read";
        case Failure::kMissing:
            return "no such file";
        case Failure::kNotRegularFile:
            return "not a regular file";
        case Failure::kTooLarge:
            return "file too large";
        case Failure::kUnreadable:
            return "cannot be read";
    }
    return "cannot be read";
}

}  // namespace perchlight
