#include "prefs/P3PPreferences.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "PreferenceTestEnvironment.h"
#include "prefs/BirdSettings.h"
#include "util/Error.h"

namespace perchlight {
namespace {

struct StoredValue {
    const char* line;
    std::uint32_t PreferenceValues::*field;
    std::uint32_t expected;
};

class P3PPreferencesTest : public ::testing::Test {
  protected:
    PreferenceValues loadWith(const std::string& lines) {
        environment_.writeSettings(lines);
        P3PPreferences preferences(environment_.home());
        EXPECT_TRUE(preferences.loadSettings());
        return preferences.snapshot();
    }

    test::PreferenceTestEnvironment environment_;
};

TEST_F(P3PPreferencesTest, Load_OutOfRangeLevelsReadAsMedium) {
    for (const char* level : {"0", "6", "4294967295", "5"}) {
        EXPECT_EQ(loadWith(std::string("Privacy Level=") + level + "\n").privacyLevel, 2) << level;
    }
    std::filesystem::create_directory(environment_.homeFile("appel-imported.xml"));
    EXPECT_EQ(loadWith("Privacy Level=5\n").privacyLevel, 2);
    std::filesystem::remove(environment_.homeFile("appel-imported.xml"));
    test::writeFile(environment_.homeFile("appel-imported.xml"), "<x/>");
    EXPECT_EQ(loadWith("Privacy Level=5\n").privacyLevel, 5);
    EXPECT_EQ(loadWith("Privacy Level=3\n").privacyLevel, 3);
}

TEST_F(P3PPreferencesTest, Load_AppliesEachValuesAcceptanceRule) {
    const StoredValue cases[] = {
        {"Enable Sounds=15", &PreferenceValues::sounds, 15},
        {"Enable Sounds=16", &PreferenceValues::sounds, 6},
        {"Hotkey Mod=0", &PreferenceValues::hotkeyModifier, 3},
        {"Hotkey Mod=8", &PreferenceValues::hotkeyModifier, 3},
        {"Hotkey Mod=7", &PreferenceValues::hotkeyModifier, 7},
        {"Hotkey Keys=0", &PreferenceValues::hotkeyKey, 3},
        {"Hotkey Keys=200", &PreferenceValues::hotkeyKey, 200},
        {"User Preferences=2", &PreferenceValues::userPreferences, 2},
    };
    for (const StoredValue& value : cases) {
        EXPECT_EQ(loadWith(std::string(value.line) + "\n").*value.field, value.expected)
            << value.line;
    }
}

TEST_F(P3PPreferencesTest, Load_ClampsTheBirdToTheWorkArea) {
    loadWith("Position X=5000\nPosition Y=5000\n");
    EXPECT_EQ(BirdSettings::positionX, 1920 - 50);
    EXPECT_EQ(BirdSettings::positionY, 1080 - 10);
    loadWith("Position X=4294967196\nPosition Y=20\n");  // -100
    EXPECT_EQ(BirdSettings::positionX, 0);
    EXPECT_EQ(BirdSettings::positionY, 20);
}

TEST_F(P3PPreferencesTest, MissingKey_FallsBackAndRefusesToSave) {
    P3PPreferences preferences(environment_.home());
    EXPECT_FALSE(preferences.loadSettings());
    EXPECT_EQ(preferences.privacyLevel(), 2);
    EXPECT_EQ(preferences.snapshot().sounds, 6u);
    try {
        preferences.saveSettings();
        ADD_FAILURE() << "saved without a key";
    } catch (const Error& error) {
        EXPECT_EQ(error.message(), "Unable to access registry key");
    }
    EXPECT_FALSE(std::filesystem::exists(environment_.settingsFile()));
}

TEST_F(P3PPreferencesTest, SaveThenLoad_KeepsEveryValue) {
    environment_.writeSettings("");
    {
        P3PPreferences preferences(environment_.home());
        preferences.loadSettings();
        preferences.setPrivacyLevel(3);
        preferences.setDontWarnOnForms(true);
    }
    P3PPreferences reloaded(environment_.home());
    reloaded.loadSettings();
    EXPECT_EQ(reloaded.privacyLevel(), 3);
    EXPECT_TRUE(reloaded.dontWarnOnForms());
}

TEST_F(P3PPreferencesTest, ActiveRuleSet_IsReadAfreshFromTheLevelsFile) {
    environment_.installRuleSets();
    environment_.writeSettings("Privacy Level=1\n");
    P3PPreferences preferences(environment_.home());
    preferences.loadSettings();
    std::string ruleSet;
    ASSERT_TRUE(preferences.readActiveRuleSet(ruleSet));
    EXPECT_EQ(ruleSet, test::readFile(environment_.homeFile("appel-low.xml")));
    preferences.setPrivacyLevel(4);
    EXPECT_FALSE(preferences.readActiveRuleSet(ruleSet));  // no custom file written yet
}

}  // namespace
}  // namespace perchlight
