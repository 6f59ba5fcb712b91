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

}  // namespace perchlight
