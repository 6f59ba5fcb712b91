#include "prefs/RegistryKey.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "PreferenceTestEnvironment.h"

namespace perchlight {
namespace {

using test::PreferenceTestEnvironment;

constexpr std::string_view kKey = RegistryKey::kPerchlightKey;

TEST(RegistryKeyPath, KeyIsAFileUnderTheConfigurationDirectory) {
    PreferenceTestEnvironment environment;
    EXPECT_EQ(RegistryKey::filePath(kKey), environment.settingsFile().string());
    for (const char* hostile :
         {"Software\\..\\x", "Software\\", "", "Software\\a/b", "Software\\\\Perchlight"}) {
        EXPECT_EQ(RegistryKey::filePath(hostile), "") << hostile;
    }
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(RegistryKey::filePath(kKey), "/home/someone/.config/Halvard/Perchlight.conf");
    if (home) {
        ::setenv("HOME", savedHome.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

TEST(RegistryKeyOpen, MissingKeyIsNotCreated) {
    PreferenceTestEnvironment environment;
    EXPECT_FALSE(RegistryKey::open(kKey));
    EXPECT_FALSE(std::filesystem::exists(environment.settingsFile()));
    std::filesystem::create_directories(environment.settingsFile());  // a directory: no key
    EXPECT_FALSE(RegistryKey::open(kKey));
    EXPECT_FALSE(RegistryKey::create(kKey));
}

TEST(RegistryKeyOpen, UnreadableLinesAreMissingValues) {
    PreferenceTestEnvironment environment;
    using namespace std::string_literals;
    environment.writeSettings(
        "# comment=1\nPrivacy Level=3\r\nEnable Sounds=-1\nHotkey Mod=4294967296\n"
        "Hotkey Keys=12abc\nno equals sign\n=5\nPosition X=-2147483648\nPosition Y=\n"
        "User Preferences= 2\nOn Titlebar=0x1\nEnabled=7\nEnabled=1\nbin\0ary=3\n"s);
    const std::optional<RegistryKey> key = RegistryKey::open(kKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->value("Privacy Level"), 3u);
    EXPECT_EQ(key->value("Enable Sounds"), 0xFFFFFFFFu);
    EXPECT_EQ(key->value("Position X"), 0x80000000u);
    EXPECT_EQ(key->value("Enabled"), 1u);
    for (const char* missing : {"Hotkey Mod", "Hotkey Keys", "Position Y", "User Preferences",
                                "On Titlebar", "# comment", "", "bin"}) {
        EXPECT_FALSE(key->value(missing)) << missing;
    }
}

TEST(RegistryKeyOpen, OversizedFileIsAKeyWithoutValues) {
    PreferenceTestEnvironment environment;
    environment.writeSettings("Privacy Level=3\n" + std::string(RegistryKey::kMaxFileSize, '#'));
    const std::optional<RegistryKey> key = RegistryKey::open(kKey);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->values().empty());
}

TEST(RegistryKeySave, CreatedKeyKeepsWhatIsSaved) {
    PreferenceTestEnvironment environment;
    std::optional<RegistryKey> key = RegistryKey::create(kKey);
    ASSERT_TRUE(key);
    key->setValue("Position X", static_cast<std::uint32_t>(-20));
    key->setValue("bad=name", 1);
    ASSERT_TRUE(key->save());
    const std::optional<RegistryKey> again = RegistryKey::open(kKey);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->value("Position X"), static_cast<std::uint32_t>(-20));
    EXPECT_EQ(again->values().size(), 1u);
    int files = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(environment.settingsFile().parent_path())) {
        ++files;
    }
    EXPECT_EQ(files, 1) << "no temporary file is left behind";
}

}  // namespace
}  // namespace perchlight
