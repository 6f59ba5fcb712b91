#pragma once

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>

namespace perchlight {
class BaseDataSchema;
struct EmbeddedItem;

// How test failures print an embedded item: its kind and URL.
void PrintTo(const EmbeddedItem& item, std::ostream* out);
}

namespace perchlight::test {

// The bundled data directory (rule sets, example policies).
std::filesystem::path dataDir();

// The whole content of a file; fails the calling test when it cannot be read.
std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// The base data schema of the bundled data directory, loaded once per test program.
BaseDataSchema& shippedSchema();

// A fresh directory removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// A fresh module directory: PERCHLIGHT_HOME points at a TempDir holding copies of the named files
// of the bundled data directory for as long as the object lives.
class ModuleHome {
  public:
    explicit ModuleHome(std::initializer_list<const char*> dataFiles = {});
    ~ModuleHome();
    ModuleHome(const ModuleHome&) = delete;
    ModuleHome& operator=(const ModuleHome&) = delete;

    const std::filesystem::path& path() const { return directory_.path(); }

  private:
    TempDir directory_;
    std::optional<std::string> previous_;
};

}  // namespace perchlight::test
