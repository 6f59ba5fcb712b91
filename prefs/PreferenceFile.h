#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace perchlight {

class XmlFile;

// The way the preference store writes and reads its files in the module directory, which other
// browser processes share: every write replaces the file atomically. Stateless.
class PreferenceFile {
  public:
    // Writes an XML file through the XmlFile writer under a temporary name and renames it over
    // path. Raises the writer's "Could not open file for writing, File could be locked by other
    // program" when no temporary file can be made, and "Could not write file" (unit XmlFile) when
    // writing or renaming fails; path is then untouched.
    static void writeXml(const std::string& path, const std::function<void(XmlFile&)>& body);
    // Writes a text file the same way; false when that fails.
    static bool writeText(const std::string& path, const std::string& text);
};

}  // namespace perchlight
