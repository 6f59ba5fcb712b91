#include "prefs/PreferenceFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/XmlFile.h"
#include "util/Error.h"
#include "util/FileReplacement.h"

namespace perchlight {
namespace {
constexpr const char* kWriterUnit = "XmlFile";
}

void PreferenceFile::writeXml(const std::string& path, const std::function<void(XmlFile&)>& body) {
    if (path.empty()) {
        PERCHLIGHT_RAISE("Empty file name", kWriterUnit);
    }
    FileReplacement replacement(path);
    if (!replacement.reserved()) {
        PERCHLIGHT_RAISE("Could not open file for writing, File could be locked by other program",
                         kWriterUnit);
    }
    XmlFile file(replacement.temporaryPath());
    body(file);
    file.close();
    if (!replacement.commit()) {
        PERCHLIGHT_RAISE("Could not write file", kWriterUnit);
    }
}

bool PreferenceFile::writeText(const std::string& path, const std::string& text) {
    FileReplacement replacement(path);
    if (!replacement.reserved()) {
        return false;
    }
    std::ofstream out(replacement.temporaryPath(), std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return out && replacement.commit();
}

std::optional<std::string> PreferenceFile::readWhole(const std::string& path, std::size_t maxSize) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > maxSize) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size())) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace perchlight
