#include "prefs/P3PPreferences.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PreferenceTestEnvironment.h"
#include "core/DocumentSource.h"
#include "core/P3PEvaluator.h"
#include "prefs/BirdSettings.h"
#include "prefs/RegistryKey.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using enum CustomSetting;
using enum PrivacyLevel;

using test::dataDir;
using test::PreferenceTestEnvironment;
using test::readFile;
using test::writeFile;

class P3PPreferencesTest : public testing::Test {
  protected:
    P3PPreferences& load(const std::string& settings) {
        environment_.writeSettings(settings);
        preferences_.loadSettings();
        return preferences_;
    }

    PreferenceTestEnvironment environment_;
    P3PPreferences preferences_{environment_.home()};
};

// --- settings key ----------------------------------------------------------------------------

struct AcceptanceCase {
    const char* line;
    std::uint32_t (*field)(const PreferenceValues&);
    std::uint32_t expected;
};

std::uint32_t level(const PreferenceValues& v) {
    return static_cast<std::uint32_t>(v.privacyLevel);
}
std::uint32_t sounds(const PreferenceValues& v) {
    return v.sounds;
}
std::uint32_t dontWarn(const PreferenceValues& v) {
    return v.dontWarnOnForms;
}
std::uint32_t modifier(const PreferenceValues& v) {
    return v.hotkeyModifier;
}
std::uint32_t hotkey(const PreferenceValues& v) {
    return v.hotkeyKey;
}
std::uint32_t userPreferences(const PreferenceValues& v) {
    return v.userPreferences;
}
std::uint32_t enabled(const PreferenceValues&) {
    return BirdSettings::enabled;
}
std::uint32_t onTitleBar(const PreferenceValues&) {
    return BirdSettings::onTitleBar;
}

TEST_F(P3PPreferencesTest, LoadSettings_AppliesEachAcceptanceRule) {
    const AcceptanceCase cases[] = {
        {"Privacy Level=0", level, 2},
        {"Privacy Level=6", level, 2},
        {"Privacy Level=4294967295", level, 2},
        {"Privacy Level=1", level, 1},
        {"Privacy Level=4", level, 4},
        {"Privacy Level=5", level, 2},
        {"", level, 2},
        {"Enable Sounds=15", sounds, 15},
        {"Enable Sounds=0", sounds, 0},
        {"Enable Sounds=16", sounds, 6},
        {"", sounds, 6},
        {"Dont warn on forms=1", dontWarn, 1},
        {"Dont warn on forms=2", dontWarn, 0},
        {"Enabled=0", enabled, 0},
        {"Enabled=1", enabled, 1},
        {"Enabled=2", enabled, 1},
        {"Hotkey Mod=0", modifier, 3},
        {"Hotkey Mod=8", modifier, 3},
        {"Hotkey Mod=7", modifier, 7},
        {"Hotkey Keys=0", hotkey, 3},
        {"Hotkey Keys=200", hotkey, 200},
        {"Enabled=1", modifier, kDefaultHotkeyModifier},  // none stored: CTRL+SHIFT+F10
        {"Enabled=1", hotkey, kDefaultHotkeyKey},
        {"User Preferences=0", userPreferences, 0},
        {"User Preferences=77", userPreferences, 77},
        {"On Titlebar=0", onTitleBar, 0},
        {"On Titlebar=9", onTitleBar, 1},
    };
    for (const AcceptanceCase& row : cases) {
        BirdSettings::reset();
        EXPECT_TRUE(load(std::string(row.line) + "\n").loadSettings());
        EXPECT_EQ(row.field(preferences_.snapshot()), row.expected) << row.line;
    }
}

TEST_F(P3PPreferencesTest, LoadSettings_ImportedLevelNeedsItsRegularFile) {
    const std::filesystem::path imported = environment_.homeFile("appel-imported.xml");
    std::filesystem::create_directory(imported);
    EXPECT_EQ(load("Privacy Level=5\n").privacyLevel(), kLevelMedium);
    std::filesystem::remove(imported);
    writeFile(imported, readFile(dataDir() / "appel-high.xml"));
    EXPECT_EQ(load("Privacy Level=5\n").privacyLevel(), kLevelImported);
}

TEST_F(P3PPreferencesTest, LoadSettings_ClampsThePositionToTheWorkArea) {
    preferences_.setWorkArea({100, 200, 1000, 800});
    const struct {
        const char* lines;
        std::int32_t x;
        std::int32_t y;
    } cases[] = {
        {"Position X=1001\nPosition Y=801\n", 950, 790},
        {"Position X=1000\nPosition Y=800\n", 1000, 800},
        {"Position X=-5\nPosition Y=10\n", 100, 200},
        {"Position X=500\nPosition Y=300\n", 500, 300},
    };
    for (const auto& row : cases) {
        load(row.lines);
        EXPECT_EQ(BirdSettings::positionX, row.x) << row.lines;
        EXPECT_EQ(BirdSettings::positionY, row.y) << row.lines;
    }
}

TEST_F(P3PPreferencesTest, LoadSettings_WithoutTheKeyFallsBackAndSaveFails) {
    PreferenceValues values = preferences_.snapshot();
    values.privacyLevel = kLevelHigh;
    values.sounds = 1;
    values.hotkeyKey = 90;
    values.upgrade = true;
    preferences_.restore(values);
    EXPECT_FALSE(preferences_.loadSettings());
    values = preferences_.snapshot();
    EXPECT_EQ(values.privacyLevel, kLevelMedium);
    EXPECT_EQ(values.sounds, 6u);
    EXPECT_FALSE(values.upgrade);
    EXPECT_EQ(values.hotkeyKey, 90u);  // kept
    try {
        preferences_.saveSettings();
        FAIL() << "saved without a key";
    } catch (const Error& error) {
        EXPECT_EQ(error.message(), "Unable to access registry key");
        EXPECT_EQ(error.unit(), "P3PPreferences");
    }
    EXPECT_FALSE(std::filesystem::exists(environment_.settingsFile()));
}

TEST_F(P3PPreferencesTest, SaveSettings_WritesTheTenValuesAndKeepsThemInMemory) {
    load("Privacy Level=3\n");
    BirdSettings::onTitleBar = false;
    BirdSettings::positionX = -3;
    BirdSettings::positionY = 40;
    preferences_.setDontWarnOnForms(true);
    const std::optional<RegistryKey> key = RegistryKey::open(RegistryKey::kPerchlightKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->values().size(), 10u);
    EXPECT_EQ(key->value("Privacy Level"), 3u);
    EXPECT_EQ(key->value("Dont warn on forms"), 1u);
    EXPECT_EQ(key->value("Position X"), static_cast<std::uint32_t>(-3));
    EXPECT_FALSE(BirdSettings::onTitleBar);
    EXPECT_EQ(BirdSettings::positionX, -3);
    load(readFile(environment_.settingsFile()));
    EXPECT_EQ(BirdSettings::positionX, 0);  // clamped on the way in
    EXPECT_TRUE(preferences_.dontWarnOnForms());
}

struct RecordingBroadcast : BirdBroadcast {
    void broadcast(int command, bool allProcesses) override {
        sent.emplace_back(command, allProcesses);
    }
    std::vector<std::pair<int, bool>> sent;
};

TEST_F(P3PPreferencesTest, SetDontWarnOnForms_TellsTheOtherProcesses) {
    RecordingBroadcast broadcast;
    preferences_.setBroadcast(&broadcast);
    load("");
    preferences_.setDontWarnOnForms(true);
    EXPECT_EQ(broadcast.sent, (std::vector<std::pair<int, bool>>{{32804, false}}));
}

// --- rule sets -------------------------------------------------------------------------------

TEST_F(P3PPreferencesTest, ActiveRuleSet_IsReadAfreshForTheLevel) {
    environment_.installRuleSets();
    std::string ruleSet;
    load("Privacy Level=1\n");
    EXPECT_EQ(preferences_.activeRuleSetPath(false), environment_.home() + "/appel-low.xml");
    ASSERT_TRUE(preferences_.readActiveRuleSet(ruleSet));
    EXPECT_EQ(ruleSet, readFile(dataDir() / "appel-low.xml"));
    preferences_.setPrivacyLevel(kLevelCustom);
    EXPECT_FALSE(preferences_.readActiveRuleSet(ruleSet));  // no custom file yet
}

TEST_F(P3PPreferencesTest, ActiveRuleSetPath_RefreshShowsTheLevelsWarnings) {
    environment_.installRuleSets();
    writeFile(environment_.homeFile("appel-imported.xml"), readFile(dataDir() / "appel-high.xml"));
    load("Privacy Level=1\n");
    preferences_.activeRuleSetPath(true);
    EXPECT_EQ(preferences_.customSettings(),
              CustomSettings().set(healthUse).set(healthShare).set(financialShare));
    preferences_.setPrivacyLevel(kLevelImported);
    preferences_.activeRuleSetPath(true);
    EXPECT_TRUE(preferences_.customSettings().none());
    preferences_.setPrivacyLevel(kLevelCustom);
    preferences_.setCustomSettings(CustomSettings().set(noAccess));
    preferences_.writeCustomRuleSet(environment_.home() + "/p3ppreferences.xml");
    preferences_.setCustomSettings({});
    preferences_.activeRuleSetPath(true);
    EXPECT_EQ(preferences_.customSettings(), CustomSettings().set(noAccess));
}

TEST_F(P3PPreferencesTest, LoadPreferences_FillsTheStoreFromItsFiles) {
    environment_.installRuleSets();
    environment_.writeSettings("Privacy Level=3\n");
    writeFile(environment_.homeFile("p3pcookiepreferences.xml"),
              "<COOKIERULESET><DEFAULTCOOKIERULE accept='NONE' headers='' cross-site=''/>"
              "</COOKIERULESET>");
    writeFile(environment_.homeFile("NoPromptSites.p3p"), "http://a.example/\n");
    writeFile(environment_.homeFile("CookieHistory.xml"),
              "<COOKIEHISTORY><MAINSITE NAME='a'/></COOKIEHISTORY>");
    EXPECT_TRUE(preferences_.loadPreferences());
    EXPECT_EQ(preferences_.privacyLevel(), kLevelHigh);
    EXPECT_TRUE(preferences_.customSettings().all());
    EXPECT_EQ(preferences_.cookiePreferences().setting, kCookiesNever);
    EXPECT_TRUE(preferences_.isNoPrompt(Url("http://a.example")));
    EXPECT_EQ(preferences_.cookieHistory().sites().size(), 1u);
}

// --- cookie decisions ------------------------------------------------------------------------

class Documents : public DocumentSource {
  public:
    std::optional<std::string> getDocument(const std::string& url, HttpHeaders*) override {
        asked.push_back(url);
        const auto found = texts.find(url);
        return found == texts.end() ? std::nullopt : std::optional(found->second);
    }
    std::map<std::string, std::string> texts;
    std::vector<std::string> asked;
};

struct RecordingSink : CookieRecordSink {
    void appendCookieRecord(const CookieRecord& record) override { records.push_back(record); }
    std::vector<CookieRecord> records;
};

class CookieDecisionTest : public P3PPreferencesTest {
  protected:
    void SetUp() override {
        environment_.installRuleSets();
        writeFile(environment_.homeFile("BaseDataschema-std.xml"),
                  readFile(dataDir() / "BaseDataschema-std.xml"));
        load("Privacy Level=1\n");
        documents_.texts["http://shop.example/p3p.xml"] =
            readFile(dataDir() / "examples" / "shop-basic.xml");
        documents_.texts["http://retail.example/p3p.xml"] =
            readFile(dataDir() / "examples" / "marketing.xml");
        documents_.texts["http://broken.example/p3p.xml"] =
            readFile(dataDir() / "examples" / "malformed.xml");
        documents_.texts["http://garbage.example/p3p.xml"] = "<POLICY";
        preferences_.setCookiePolicySource(
            [](const std::string& name, const std::string&, const std::string& domain,
               const std::string&) -> std::string {
                if (name == "nopolicy") {
                    return "";
                }
                return "http://" + domain + "/p3p.xml" + (name == "named" ? "#basic" : "");
            },
            &documents_, &evaluator_);
    }

    void setCookies(std::int32_t setting, std::int32_t accept = 0, std::int32_t crossSite = 0) {
        CookiePreferences cookies = preferences_.cookiePreferences();
        cookies.setting = setting;
        cookies.customAccept = accept;
        cookies.customCrossSite = crossSite;
        preferences_.setCookiePreferences(cookies);
    }

    Documents documents_;
    const P3PEvaluator evaluator_{nullptr, test::shippedSchema()};
};

TEST_F(CookieDecisionTest, PolicyCheck_CountsTheRulesThePolicyBreaks) {
    EXPECT_EQ(preferences_.cookiePolicyCheck("id", "", "shop.example", "/"), 0);
    EXPECT_EQ(preferences_.cookiePolicyCheck("named", "", "shop.example", "/"), 0);
    EXPECT_EQ(preferences_.cookiePolicyCheck("id", "", "retail.example", "/"), 1);
    EXPECT_EQ(preferences_.cookiePolicyCheck("nopolicy", "", "shop.example", "/"), -1);
    EXPECT_EQ(preferences_.cookiePolicyCheck("id", "", "nodocument.example", "/"), -1);
    EXPECT_EQ(preferences_.cookiePolicyCheck("id", "", "broken.example", "/"), -2);
    EXPECT_EQ(preferences_.cookiePolicyCheck("id", "", "garbage.example", "/"), -2);
    EXPECT_EQ(documents_.asked.at(1), "http://shop.example/p3p.xml");  // without its fragment
    preferences_.setPrivacyLevel(kLevelCustom);
    EXPECT_EQ(preferences_.cookiePolicyCheck("id", "", "shop.example", "/"), -2);
    preferences_.setCookiePolicySource(nullptr, nullptr, nullptr);
    EXPECT_EQ(preferences_.cookiePolicyCheck("id", "", "shop.example", "/"), -1);
}

TEST_F(CookieDecisionTest, Decide_MapsTheCheckAndRecordsTheCookie) {
    RecordingSink sink;
    const CookieRequest request{"http://x/", "id", "1", "/"};
    EXPECT_FALSE(preferences_.decideCookie("page.example", "shop.example", request, "", &sink));
    EXPECT_TRUE(preferences_.decideCookie("page.example", "retail.example", request, "", &sink));
    EXPECT_TRUE(preferences_.decideCookie("page.example", "broken.example", request, "", &sink));
    EXPECT_FALSE(preferences_.decideCookie("nodocument.example", "", request, "", &sink));
    ASSERT_EQ(sink.records.size(), 4u);
    EXPECT_FALSE(sink.records[0].undetermined);
    EXPECT_TRUE(sink.records[0].fromAnotherSite);
    EXPECT_TRUE(sink.records[2].blocked);
    EXPECT_FALSE(sink.records[2].undetermined);
    EXPECT_TRUE(sink.records[3].undetermined);
    EXPECT_FALSE(sink.records[3].fromAnotherSite);
    EXPECT_EQ(sink.records[3].site, "nodocument.example");
    EXPECT_EQ(preferences_.cookieHistory().sites(),
              (CookieHistory::Sites{
                  {"page.example", {"broken.example", "retail.example", "shop.example"}},
                  {"nodocument.example", {}}}));
    EXPECT_TRUE(preferences_.queryCookie("other.example", "retail.example", request, ""));
    EXPECT_EQ(preferences_.cookieHistory().sites().size(), 2u);  // a query records nothing
}

TEST_F(CookieDecisionTest, Decide_OverridesComeFirst) {
    CookiePreferences cookies = preferences_.cookiePreferences();
    cookies.siteOverrides = {{"a.example", kOverrideNeverAllow},
                             {"b.example", kOverrideAlwaysAllow},
                             {"c.example", kOverrideThisSession}};
    preferences_.setCookiePreferences(cookies);
    setCookies(kCookiesAlways);
    const CookieRequest request;
    EXPECT_TRUE(preferences_.queryCookie("p", "a.example", request, ""));
    EXPECT_FALSE(preferences_.queryCookie("p", "d.example", request, ""));
    setCookies(kCookiesNever);
    EXPECT_FALSE(preferences_.queryCookie("p", "b.example", request, ""));
    EXPECT_FALSE(preferences_.queryCookie("c.example", "", request, ""));
    EXPECT_TRUE(preferences_.queryCookie("p", "d.example", request, ""));
}

// Another process rewrote the file (broadcast 32803): this process's session-only overrides
// are not in any file and must outlive the reload, unless the file now decides their site.
TEST_F(P3PPreferencesTest, CookieReload_KeepsSessionOnlyOverrides) {
    const std::string file = environment_.homeFile("p3pcookiepreferences.xml").string();
    CookiePreferences cookies;
    cookies.siteOverrides = {{"kept.example", kOverrideThisSession},
                             {"decided.example", kOverrideThisSession},
                             {"gone.example", kOverrideNeverAllow}};
    preferences_.setCookiePreferences(cookies);
    writeFile(file,
              "<COOKIERULESET><COOKIERULE domain='decided.example' accept='NONE'/>"
              "<COOKIERULE domain='new.example' accept='ALL'/>"
              "<DEFAULTCOOKIERULE accept='NONE' headers='' cross-site=''/></COOKIERULESET>");
    preferences_.readCookiePreferences(file);
    const CookiePreferences read = preferences_.cookiePreferences();
    EXPECT_EQ(read.setting, kCookiesNever);
    EXPECT_EQ(read.siteOverrides,
              (std::map<std::string, std::int32_t>{{"decided.example", kOverrideNeverAllow},
                                                   {"kept.example", kOverrideThisSession},
                                                   {"new.example", kOverrideAlwaysAllow}}));
    writeFile(file, "<COOKIERULESET><COOKIERULE domain='x' accept='ALL'/>");  // half-written
    preferences_.readCookiePreferences(file);
    EXPECT_EQ(preferences_.cookiePreferences().siteOverrides, read.siteOverrides);
}

TEST_F(CookieDecisionTest, Decide_CustomSettingNeedsADotBeforeTheSiteForFirstParty) {
    setCookies(kCookiesCustom, kCookieRuleAll, kCookieRuleNone);
    const CookieRequest request{"", "id", "", "/"};
    EXPECT_FALSE(preferences_.queryCookie("p", "s.example", request, "http://www.s.example/a"));
    EXPECT_TRUE(preferences_.queryCookie("p", "s.example", request, "http://s.example/a"));
    EXPECT_TRUE(preferences_.queryCookie("p", "s.example", request, ""));
    EXPECT_FALSE(preferences_.queryCookie("p", "s.example", request, "http://www.s.example:81/"));
    setCookies(kCookiesCustom, kCookieRuleNone, kCookieRuleMatching);
    EXPECT_FALSE(preferences_.queryCookie("p", "shop.example", request, "http://shop.example/"));
    EXPECT_TRUE(preferences_.queryCookie("p", "retail.example", request, "http://x.example/"));
}

// --- cookie history and no-prompt sites ------------------------------------------------------

TEST_F(P3PPreferencesTest, WriteCookieHistory_KeepsWhatOthersWrote) {
    P3PPreferences other(environment_.home());
    other.recordCookieSite("b", "c");
    other.writeCookieHistory();
    preferences_.recordCookieSite("a", "");
    preferences_.writeCookieHistory();
    P3PPreferences reader(environment_.home());
    reader.readCookieHistory();
    EXPECT_EQ(reader.cookieHistory().sites(), (CookieHistory::Sites{{"a", {}}, {"b", {"c"}}}));
}

TEST_F(P3PPreferencesTest, WriteCookieHistory_TwoProcessesAtOnceLoseNothing) {
    constexpr int kSitesPerProcess = 40;
    std::vector<pid_t> children;
    for (const char* prefix : {"first", "second"}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int status = 0;
            try {
                for (int i = 0; i < kSitesPerProcess; ++i) {
                    P3PPreferences process(environment_.home());  // one new entry per write
                    process.recordCookieSite(prefix + std::to_string(i), "x");
                    process.writeCookieHistory();
                }
            } catch (...) {
                status = 1;
            }
            ::_exit(status);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    preferences_.readCookieHistory();
    EXPECT_EQ(preferences_.cookieHistory().sites().size(), 2u * kSitesPerProcess);
}

TEST_F(P3PPreferencesTest, NoPromptList_IsSavedAtEveryChange) {
    const std::string file = environment_.home() + "/NoPromptSites.p3p";
    preferences_.addNoPrompt(Url(Url("http://a.example/form?x").base()), true);
    EXPECT_TRUE(preferences_.isNoPrompt(Url("http://a.example")));
    EXPECT_EQ(readFile(file), "http://a.example/\n");
    preferences_.setNoPromptList({Url("http://b.example/"), Url("http://c.example/")});
    EXPECT_FALSE(preferences_.isNoPrompt(Url("http://a.example/")));
    P3PPreferences other(environment_.home());
    other.loadNoPromptList(file);
    EXPECT_EQ(other.noPromptList(),
              (std::vector<Url>{Url("http://b.example/"), Url("http://c.example/")}));
}

}  // namespace
}  // namespace perchlight
