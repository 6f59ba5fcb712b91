#include "util/RegistryTree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace perchlight {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

constexpr const char* kClassKey = "HKCR\\CLSID\\{00000178-CD4A-447a-BCF9-6FD0096B5527}";
constexpr const char* kServerKey =
    "HKCR\\CLSID\\{00000178-CD4A-447a-BCF9-6FD0096B5527}\\InprocServer32";
constexpr const char* kHelpersKey =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";

TEST(RegistryTreePath, DefaultPathIsUnderTheConfigurationDirectory) {
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string config = savedConfig ? savedConfig : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/config", 1);
    EXPECT_EQ(RegistryTree::defaultPath(), "/tmp/config/perchlight-browser/registry");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        EXPECT_EQ(RegistryTree::defaultPath(),
                  std::string(home) + "/.config/perchlight-browser/registry");
    }
    if (savedConfig) {
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

TEST(RegistryTreeLoad, MissingFileIsAnEmptyTree) {
    TempDir directory;
    RegistryTree tree;
    EXPECT_TRUE(tree.load((directory / "registry").string()));
    EXPECT_FALSE(tree.hasKey("HKCR"));
    EXPECT_TRUE(tree.subkeys("HKCR").empty());
    EXPECT_FALSE(std::filesystem::exists(directory / "registry"));
}

TEST(RegistryTreeLoad, MalformedLinesAreSkipped) {
    TempDir directory;
    writeFile(directory / "registry",
              "orphan=before any key\n"
              "[HKCR\\CLSID\\{A}\\InprocServer32]\r\n"
              "@=/opt/helper.so\r\n"
              "no equals sign\n"
              "=empty name\n"
              "# comment=1\n"
              "ThreadingModel=Apartment=yes\n"
              "[unclosed\n"
              "lost=after a bad key line\n"
              "[a\\\\b]\n"
              "[]\n"
              "[HKLM\\x]\n"
              "tab\tname=1\n"
              "ok= spaces kept \n");
    RegistryTree tree((directory / "registry").string());
    EXPECT_EQ(tree.value("HKCR\\CLSID\\{A}\\InprocServer32", "@"), "/opt/helper.so");
    EXPECT_EQ(tree.value("HKCR\\CLSID\\{A}\\InprocServer32", "ThreadingModel"), "Apartment=yes");
    EXPECT_EQ(tree.value("HKLM\\x", "ok"), " spaces kept ");
    EXPECT_FALSE(tree.value("HKLM\\x", "tab\tname"));
    EXPECT_FALSE(tree.value("HKCR\\CLSID\\{A}\\InprocServer32", "lost"));
    EXPECT_FALSE(tree.hasKey("unclosed"));
    EXPECT_EQ(tree.subkeys("HKCR\\CLSID"), std::vector<std::string>{"{A}"});
}

TEST(RegistryTreeLoad, FileOverTheSizeCapIsNeitherReadNorOverwritten) {
    TempDir directory;
    const std::string path = (directory / "registry").string();
    const std::string big = "[HKLM\\big]\nfiller=" + std::string(RegistryTree::kMaxFileSize, 'x');
    writeFile(path, big);
    RegistryTree tree;
    EXPECT_FALSE(tree.load(path));
    EXPECT_FALSE(tree.hasKey("HKLM\\big"));
    EXPECT_TRUE(tree.setValue("HKLM\\other", "a", "1"));
    EXPECT_FALSE(tree.save());
    EXPECT_EQ(readFile(path), big);
}

TEST(RegistryTreeKeys, NamesCompareWithoutLetterCaseAndKeepTheirFirstSpelling) {
    RegistryTree tree;
    ASSERT_TRUE(tree.setValue(kServerKey, "@", "/opt/a.so"));
    EXPECT_EQ(
        tree.value("hkcr\\clsid\\{00000178-cd4a-447A-bcf9-6fd0096b5527}\\inprocserver32", "@"),
        "/opt/a.so");
    ASSERT_TRUE(tree.setValue("HKCR\\CLSID\\{00000178-CD4A-447A-BCF9-6FD0096B5527}",
                              "threadingmodel", "Both"));
    ASSERT_TRUE(tree.setValue(kClassKey, "ThreadingModel", "Apartment"));
    EXPECT_EQ(tree.value(kClassKey, "THREADINGMODEL"), "Apartment");
    EXPECT_EQ(tree.subkeys("hkcr\\CLSID"),
              std::vector<std::string>{"{00000178-CD4A-447a-BCF9-6FD0096B5527}"});
}

TEST(RegistryTreeKeys, SubkeysAreImmediateChildrenAndAncestorsExist) {
    RegistryTree tree;
    ASSERT_TRUE(tree.createKey(std::string(kHelpersKey) + "\\{B}"));
    ASSERT_TRUE(tree.createKey(std::string(kHelpersKey) + "\\{A}\\Deeper"));
    ASSERT_TRUE(tree.createKey(std::string(kHelpersKey) + " Extra"));  // a sibling sharing a prefix
    EXPECT_EQ(tree.subkeys(kHelpersKey), (std::vector<std::string>{"{A}", "{B}"}));
    EXPECT_TRUE(tree.hasKey("HKLM\\SOFTWARE\\Microsoft"));
    EXPECT_EQ(tree.subkeys("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer"),
              (std::vector<std::string>{"Browser Helper Objects", "Browser Helper Objects Extra"}));
    EXPECT_TRUE(tree.subkeys("HKLM\\nothing").empty());
}

TEST(RegistryTreeKeys, RemoveTreeTakesTheKeyAndAllItsSubkeysOnly) {
    RegistryTree tree;
    ASSERT_TRUE(tree.setValue(kServerKey, "@", "/opt/a.so"));
    ASSERT_TRUE(tree.setValue(kClassKey, "@", "P3PObject Class"));
    ASSERT_TRUE(tree.setValue("HKCR\\CLSID\\{00000178-CD4A-447a-BCF9-6FD0096B5527}x", "@", "kept"));
    EXPECT_TRUE(tree.removeTree("hkcr\\clsid\\{00000178-CD4A-447a-BCF9-6FD0096B5527}"));
    EXPECT_FALSE(tree.hasKey(kClassKey));
    EXPECT_FALSE(tree.value(kServerKey, "@"));
    EXPECT_TRUE(tree.hasKey("HKCR\\CLSID"));
    EXPECT_EQ(tree.value("HKCR\\CLSID\\{00000178-CD4A-447a-BCF9-6FD0096B5527}x", "@"), "kept");
    EXPECT_FALSE(tree.removeTree(kClassKey));
}

class RegistryTreeRejects : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(RegistryTreeRejects, NamesAndValuesTheFileCannotHold) {
    const std::vector<std::string>& entry = GetParam();  // key, name, value
    RegistryTree tree;
    EXPECT_FALSE(tree.setValue(entry[0], entry[1], entry[2]));
    EXPECT_TRUE(tree.subkeys("HKLM").empty());
    EXPECT_FALSE(tree.hasKey("HKLM"));
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Entries, RegistryTreeRejects,
    testing::Values(std::vector<std::string>{"HKLM\\k", "name", "two\nlines"},
                    std::vector<std::string>{"HKLM\\k", "name", "carriage\rreturn"},
                    std::vector<std::string>{"HKLM\\k", "name", "nul\0byte"s},
                    std::vector<std::string>{"HKLM\\k", "", "empty name"},
                    std::vector<std::string>{"HKLM\\k", "a=b", "equals in name"},
                    std::vector<std::string>{"HKLM\\k", "[name", "looks like a key"},
                    std::vector<std::string>{"HKLM\\k", "#name", "looks like a comment"},
                    std::vector<std::string>{"HKLM\\k", "line\nname", "x"},
                    std::vector<std::string>{"", "name", "empty key"},
                    std::vector<std::string>{"HKLM\\", "name", "trailing separator"},
                    std::vector<std::string>{"HKLM\\\\k", "name", "empty component"},
                    std::vector<std::string>{"HKLM\\[k]", "name", "brackets"},
                    std::vector<std::string>{"HKLM\\k\nx", "name", "line end in key"}));

TEST(RegistryTreeSave, RoundTripsThroughTheFile) {
    TempDir directory;
    const std::string path = (directory / "sub" / "registry").string();
    RegistryTree tree;
    ASSERT_TRUE(tree.load(path));
    ASSERT_TRUE(tree.setValue(kServerKey, "@", "/opt/a b.so"));
    ASSERT_TRUE(tree.setValue(kServerKey, "ThreadingModel", "Apartment"));
    ASSERT_TRUE(
        tree.createKey(std::string(kHelpersKey) + "\\{00000178-CD4A-447a-BCF9-6FD0096B5527}"));
    ASSERT_TRUE(tree.save());
    const std::string text = readFile(path);
    EXPECT_NE(text.find("[HKCR\\CLSID\\{00000178-CD4A-447a-BCF9-6FD0096B5527}\\InprocServer32]\n"
                        "@=/opt/a b.so\nThreadingModel=Apartment\n"),
              std::string::npos)
        << text;

    const RegistryTree reread(path);
    EXPECT_EQ(reread.value(kServerKey, "@"), "/opt/a b.so");
    EXPECT_EQ(reread.subkeys(kHelpersKey),
              std::vector<std::string>{"{00000178-CD4A-447a-BCF9-6FD0096B5527}"});
}

TEST(RegistryTreeSave, TwoWritersKeepEachOthersEntries) {
    TempDir directory;
    const std::string path = (directory / "registry").string();
    {
        RegistryTree seed(path);
        ASSERT_TRUE(seed.setValue("HKLM\\shared", "old", "1"));
        ASSERT_TRUE(seed.setValue("HKLM\\gone\\child", "x", "1"));
        ASSERT_TRUE(seed.save());
    }
    RegistryTree first(path);
    RegistryTree second(path);
    ASSERT_TRUE(first.setValue("HKLM\\shared", "first", "a"));
    ASSERT_TRUE(second.setValue("HKLM\\shared", "second", "b"));
    ASSERT_TRUE(second.removeTree("HKLM\\gone"));
    ASSERT_TRUE(first.save());
    ASSERT_TRUE(second.save());
    EXPECT_EQ(second.value("HKLM\\shared", "first"), "a");  // the merged tree is held after saving

    const RegistryTree merged(path);
    EXPECT_EQ(merged.value("HKLM\\shared", "old"), "1");
    EXPECT_EQ(merged.value("HKLM\\shared", "first"), "a");
    EXPECT_EQ(merged.value("HKLM\\shared", "second"), "b");
    EXPECT_FALSE(merged.hasKey("HKLM\\gone"));
}

TEST(RegistryTreeSave, FailsWithoutAFileName) {
    RegistryTree tree;
    ASSERT_TRUE(tree.setValue("HKLM\\k", "a", "1"));
    EXPECT_FALSE(tree.save());
}

}  // namespace
}  // namespace perchlight
