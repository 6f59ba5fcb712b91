#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "core/BaseDataSchema.h"
#include "retrieval/CheckOwner.h"

namespace perchlight {

void PrintTo(const EmbeddedItem& item, std::ostream* out) {
    *out << item.contentType << " " << item.url.str();
}

}  // namespace perchlight

namespace perchlight::test {

std::filesystem::path dataDir() {
    return PERCHLIGHT_DATA_DIR;
}

BaseDataSchema& shippedSchema() {
    static BaseDataSchema schema((dataDir() / BaseDataSchema::kFileName).string());
    return schema;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    EXPECT_TRUE(out) << "cannot write " << path;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "perchlight-test-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot create a temporary directory";
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ModuleHome::ModuleHome(std::initializer_list<const char*> dataFiles) {
    if (const char* home = std::getenv("PERCHLIGHT_HOME")) {
        previous_ = home;
    }
    for (const char* name : dataFiles) {
        std::error_code error;
        std::filesystem::copy_file(dataDir() / name, directory_ / name, error);
        EXPECT_FALSE(error) << "cannot copy " << name;
    }
    ::setenv("PERCHLIGHT_HOME", directory_.path().c_str(), 1);
}

ModuleHome::~ModuleHome() {
    if (previous_) {
        ::setenv("PERCHLIGHT_HOME", previous_->c_str(), 1);
    } else {
        ::unsetenv("PERCHLIGHT_HOME");
    }
}

}  // namespace perchlight::test
