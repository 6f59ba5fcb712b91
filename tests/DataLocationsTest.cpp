#include "util/DataLocations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>

#include "TestSupport.h"

namespace perchlight {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Sets (or, with nullopt, removes) an environment variable for the life of the object.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            previous_ = old;
        }
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~ScopedVariable() { previous_ ? ::setenv(name_, previous_->c_str(), 1) : ::unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    std::optional<std::string> previous_;
};

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "<RULESET/>";
}

unsigned mode(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

TEST(DataLocationsTest, OneDirectory_HoldsEverythingWithTheCacheBelow) {
    const DataLocations locations = DataLocations::inOneDirectory("/opt/perchlight/data//");
    EXPECT_EQ(locations.shippedDirectory(), "/opt/perchlight/data");
    EXPECT_EQ(locations.userDirectory(), "/opt/perchlight/data");
    EXPECT_EQ(locations.cacheDirectory(), "/opt/perchlight/data/cache");
    EXPECT_FALSE(locations.perUser());
    EXPECT_EQ(locations.shippedFile("/appel-low.xml"), "/opt/perchlight/data/appel-low.xml");
    EXPECT_EQ(locations.userFile("/NoPromptSites.p3p"), "/opt/perchlight/data/NoPromptSites.p3p");
    EXPECT_EQ(locations.ruleSetFile("/p3ppreferences.xml"),
              "/opt/perchlight/data/p3ppreferences.xml");
}

// How the XDG variables and HOME choose the user's folders.
struct XdgCase {
    const char* name;
    std::optional<std::string> dataHome;
    std::optional<std::string> cacheHome;
    std::string expectedData;   // below the test's HOME when relative
    std::string expectedCache;  // likewise
};

void PrintTo(const XdgCase& testCase, std::ostream* out) {
    *out << testCase.name;
}

class DataLocationsXdgTest : public ::testing::TestWithParam<XdgCase> {};

TEST_P(DataLocationsXdgTest, Installed_UserFoldersFollowXdg) {
    const XdgCase& testCase = GetParam();
    TempDir home;
    const ScopedVariable homeVariable("HOME", home.path().string());
    const ScopedVariable data("XDG_DATA_HOME", testCase.dataHome);
    const ScopedVariable cache("XDG_CACHE_HOME", testCase.cacheHome);
    const auto resolve = [&](const std::string& path) {
        return path.front() == '/' ? path : (home.path() / path).string();
    };
    const DataLocations locations = DataLocations::installed("/usr/share/perchlight/");
    EXPECT_EQ(locations.shippedDirectory(), "/usr/share/perchlight");
    EXPECT_EQ(locations.userDirectory(), resolve(testCase.expectedData));
    EXPECT_EQ(locations.cacheDirectory(), resolve(testCase.expectedCache));
    EXPECT_TRUE(locations.perUser());
}

INSTANTIATE_TEST_SUITE_P(
    Variables, DataLocationsXdgTest,
    ::testing::Values(XdgCase{"Unset", std::nullopt, std::nullopt, ".local/share/perchlight",
                              ".cache/perchlight"},
                      XdgCase{"Absolute", "/srv/data/", "/srv/cache", "/srv/data/perchlight",
                              "/srv/cache/perchlight"},
                      XdgCase{"RelativeIgnored", "data", "cache", ".local/share/perchlight",
                              ".cache/perchlight"},
                      XdgCase{"Empty", "", "", ".local/share/perchlight", ".cache/perchlight"}),
    [](const ::testing::TestParamInfo<XdgCase>& info) { return info.param.name; });

// Where a rule set is found: the user's file first, then the shipped one, else where the user's
// would be written.
struct RuleSetCase {
    const char* name;
    bool inUserFolder;
    bool shipped;
    bool expectUser;
};

void PrintTo(const RuleSetCase& testCase, std::ostream* out) {
    *out << testCase.name;
}

class DataLocationsRuleSetTest : public ::testing::TestWithParam<RuleSetCase> {};

TEST_P(DataLocationsRuleSetTest, RuleSet_UserFolderFirstThenShipped) {
    const RuleSetCase& testCase = GetParam();
    TempDir root;
    const ScopedVariable data("XDG_DATA_HOME", (root / "data").string());
    const ScopedVariable cache("XDG_CACHE_HOME", (root / "cache").string());
    const DataLocations locations = DataLocations::installed((root / "share").string());
    if (testCase.inUserFolder) {
        touch(locations.userFile("/appel-imported.xml"));
    }
    if (testCase.shipped) {
        touch(locations.shippedFile("/appel-imported.xml"));
    }
    EXPECT_EQ(locations.ruleSetFile("/appel-imported.xml"),
              testCase.expectUser ? locations.userFile("/appel-imported.xml")
                                  : locations.shippedFile("/appel-imported.xml"));
}

INSTANTIATE_TEST_SUITE_P(Files, DataLocationsRuleSetTest,
                         ::testing::Values(RuleSetCase{"Neither", false, false, true},
                                           RuleSetCase{"OnlyUser", true, false, true},
                                           RuleSetCase{"OnlyShipped", false, true, false},
                                           RuleSetCase{"Both", true, true, true}),
                         [](const ::testing::TestParamInfo<RuleSetCase>& info) {
                             return info.param.name;
                         });

TEST(DataLocationsTest, CreateUserDirectories_PrivateWithMissingParents) {
    TempDir root;
    const ScopedVariable data("XDG_DATA_HOME", (root / "fresh/share").string());
    const ScopedVariable cache("XDG_CACHE_HOME", (root / "fresh/cache").string());
    const DataLocations locations = DataLocations::installed((root / "shipped").string());
    ASSERT_TRUE(locations.createUserDirectories());
    EXPECT_EQ(mode(locations.userDirectory()), 0700u);
    EXPECT_EQ(mode(locations.cacheDirectory()), 0700u);
    EXPECT_EQ(mode(root / "fresh"), 0700u);
    EXPECT_TRUE(locations.createUserDirectories());  // again: nothing to do
    EXPECT_FALSE(fs::exists(root / "shipped"));
}

TEST(DataLocationsTest, CreateUserDirectories_FailsWhereAFileStands) {
    TempDir root;
    touch(root / "blocked");
    const ScopedVariable data("XDG_DATA_HOME", (root / "blocked").string());
    const ScopedVariable cache("XDG_CACHE_HOME", (root / "cache").string());
    EXPECT_FALSE(DataLocations::installed((root / "shipped").string()).createUserDirectories());
}

TEST(DataLocationsTest, CreateUserDirectories_OneDirectory_CreatesNothing) {
    TempDir root;
    EXPECT_TRUE(DataLocations::inOneDirectory((root / "absent").string()).createUserDirectories());
    EXPECT_FALSE(fs::exists(root / "absent"));
}

TEST(DataLocationsTest, ForThisProcess_PerchlightHomeHoldsEverything) {
    TempDir home;
    const ScopedVariable variable("PERCHLIGHT_HOME", home.path().string() + "/");
    const DataLocations locations = DataLocations::forThisProcess();
    EXPECT_EQ(locations.shippedDirectory(), home.path().string());
    EXPECT_EQ(locations.userDirectory(), home.path().string());
    EXPECT_EQ(locations.cacheDirectory(), home.path().string() + "/cache");
}

}  // namespace
}  // namespace perchlight
