#include "browser/NativeHosts.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <optional>
#include <set>

#include "TestSupport.h"

namespace perchlight {
namespace {

using nlohmann::json;

// HOME and XDG_CONFIG_HOME for one test.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            previous_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (previous_) {
            ::setenv(name_, previous_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> previous_;
};

TEST(NativeHosts_Table, NamesEachBrowserOnceWithAbsoluteSystemFolders) {
    std::set<std::string_view> names;
    for (const NativeHostBrowser& browser : NativeHosts::browsers()) {
        EXPECT_TRUE(names.insert(browser.name).second) << browser.name;
        EXPECT_TRUE(browser.systemFolder.starts_with("/")) << browser.name;
    }
    EXPECT_EQ(names, (std::set<std::string_view>{"chromium", "chrome", "firefox"}));
    EXPECT_FALSE(NativeHosts::browserNamed("opera"));
}

TEST(NativeHosts_Folders, ChromiumFollowsTheConfigHomeFirefoxTheHome) {
    const ScopedEnvironment home("HOME", "/home/someone");
    const ScopedEnvironment config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(NativeHosts::userFolder(*NativeHosts::browserNamed("chromium")),
              "/cfg/chromium/NativeMessagingHosts");
    EXPECT_EQ(NativeHosts::userFolder(*NativeHosts::browserNamed("chrome")),
              "/cfg/google-chrome/NativeMessagingHosts");
    EXPECT_EQ(NativeHosts::userFolder(*NativeHosts::browserNamed("firefox")),
              "/home/someone/.mozilla/native-messaging-hosts");
    const ScopedEnvironment relative("XDG_CONFIG_HOME", "not/absolute");
    EXPECT_EQ(NativeHosts::userFolder(*NativeHosts::browserNamed("chromium")),
              "/home/someone/.config/chromium/NativeMessagingHosts");
}

TEST(NativeHosts_Manifest, EachKindNamesTheExtensionAndTheAbsoluteHost) {
    const std::string host = "/opt/perch \"light\"/perchlight-host";
    const json chromium =
        json::parse(NativeHosts::manifest(*NativeHosts::browserNamed("chromium"), host));
    EXPECT_EQ(chromium["name"], "org.perchlight.host");
    EXPECT_EQ(chromium["path"], host);
    EXPECT_EQ(chromium["type"], "stdio");
    EXPECT_EQ(chromium["allowed_origins"],
              json::array({"chrome-extension://hjpmjhnbanphekgigmhiadfomiiiloob/"}));
    EXPECT_FALSE(chromium.contains("allowed_extensions"));
    const json firefox =
        json::parse(NativeHosts::manifest(*NativeHosts::browserNamed("firefox"), host));
    EXPECT_EQ(firefox["allowed_extensions"], json::array({"agent@perchlight.org"}));
    EXPECT_FALSE(firefox.contains("allowed_origins"));
}

TEST(NativeHosts_Manifest, WrittenIntoANewFolderAndRemoved) {
    const test::TempDir directory;
    const std::string folder = (directory / "a" / "b").string();
    ASSERT_TRUE(
        NativeHosts::writeManifest(*NativeHosts::browserNamed("chrome"), folder, "/x/host"));
    const std::string path = NativeHosts::manifestPath(folder);
    EXPECT_EQ(path, folder + "/org.perchlight.host.json");
    EXPECT_EQ(json::parse(test::readFile(path))["path"], "/x/host");
    EXPECT_TRUE(NativeHosts::removeManifest(folder));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(NativeHosts::removeManifest(folder)) << "nothing left to remove is no failure";
}

}  // namespace
}  // namespace perchlight
