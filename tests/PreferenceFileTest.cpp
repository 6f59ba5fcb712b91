#include "prefs/PreferenceFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "TestSupport.h"
#include "core/XmlFile.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

std::size_t filesIn(const TempDir& dir) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++count;
    }
    return count;
}

TEST(PreferenceFileWrite, FailedWriteLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const std::string path = (dir / "prefs.xml").string();
    writeFile(path, "old");
    EXPECT_THROW(PreferenceFile::writeXml(path,
                                          [](XmlFile& file) {
                                              XmlElementWriter root(file, false);
                                              root.setNodeName("ROOT");
                                              throw std::runtime_error("interrupted");
                                          }),
                 std::runtime_error);
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(filesIn(dir), 1u);
    EXPECT_THROW(PreferenceFile::writeXml((dir / "no" / "prefs.xml").string(), [](XmlFile&) {}),
                 Error);
}

TEST(PreferenceFileWrite, ReplacesTheFileKeepingItsMode) {
    TempDir dir;
    const std::string path = (dir / "list.p3p").string();
    writeFile(path, "old");
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(PreferenceFile::writeText(path, "new\n"));
    EXPECT_EQ(readFile(path), "new\n");
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(filesIn(dir), 1u);
}

}  // namespace
}  // namespace perchlight
