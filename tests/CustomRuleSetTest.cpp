#include "prefs/CustomRuleSet.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "TestSupport.h"
#include "core/XmlFile.h"
#include "core/XmlNode.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using enum CustomSetting;

using test::dataDir;
using test::readFile;
using test::TempDir;

constexpr const char* kCreatedOn = "Tue Nov 24 09:00:00 2026\n";

CustomSettings settingsOf(std::initializer_list<CustomSetting> set) {
    CustomSettings settings;
    for (CustomSetting setting : set) {
        settings[setting] = true;
    }
    return settings;
}

std::string written(const CustomSettings& settings) {
    TempDir dir;
    CustomRuleSet::write((dir / "rules.xml").string(), settings, kCreatedOn);
    return readFile(dir / "rules.xml");
}

CustomSettings readBack(const std::string& document) {
    return CustomRuleSet::fromRuleSet(*XmlNode::parseXmlBuffer(document));
}

// A rule set with one limited rule holding the given policy content.
std::string oneRule(const std::string& policy, const std::string& behavior = "limited") {
    return "<appel:RULESET><appel:RULE behavior='" + behavior + "'><p3p:POLICY>" + policy +
           "</p3p:POLICY></appel:RULE></appel:RULESET>";
}

const CustomSettings kLow = settingsOf({healthUse, healthShare, financialShare});
const CustomSettings kMedium =
    kLow | settingsOf({financialUse, identifiedShare, contactPhone, noRemoval});
const CustomSettings kHigh = CustomSettings().set();

TEST(CustomRuleSetWrite, NoSettingGivesTheThreeFixedRules) {
    EXPECT_EQ(written({}),
              "<?xml version=\"1.0\"?>\n"
              "  <appel:RULESET xmlns:appel=\"http://www.w3.org/2001/02/APPELv1\" "
              "xmlns:p3p=\"http://www.w3.org/2000/12/P3Pv1\" crtdby=\"Corvane Perchlight\" "
              "crtdon=\"Tue Nov 24 09:00:00 2026\n\" >\n"
              "    <appel:RULE behavior=\"limited\" description=\"This site collects data for an "
              "unknown purpose\" >\n"
              "      <p3p:POLICY >\n"
              "        <p3p:STATEMENT >\n"
              "          <p3p:PURPOSE >\n"
              "            <p3p:other-purpose required=\"always\" />\n"
              "          </p3p:PURPOSE>\n"
              "        </p3p:STATEMENT>\n"
              "      </p3p:POLICY>\n"
              "    </appel:RULE>\n"
              "    <appel:RULE behavior=\"limited\" description=\"Unless you opt-out, this site "
              "collects data for an unknown purpose\" >\n"
              "      <p3p:POLICY >\n"
              "        <p3p:STATEMENT >\n"
              "          <p3p:PURPOSE >\n"
              "            <p3p:other-purpose required=\"opt-out\" />\n"
              "          </p3p:PURPOSE>\n"
              "        </p3p:STATEMENT>\n"
              "      </p3p:POLICY>\n"
              "    </appel:RULE>\n"
              "    <appel:RULE behavior=\"request\" >\n"
              "      <appel:OTHERWISE />\n"
              "    </appel:RULE>\n"
              "  </appel:RULESET>\n");
}

// High holds every rule: the telephone rules before the other contact rules, the "and" statements
// of identified sharing, connectives only where a part holds more than one child.
TEST(CustomRuleSetWrite, InstalledRuleSetsAreTheFilesOfTheirSettings) {
    EXPECT_EQ(written(kLow), readFile(dataDir() / "appel-low.xml"));
    EXPECT_EQ(written(kMedium), readFile(dataDir() / "appel-medium.xml"));
    EXPECT_EQ(written(kHigh), readFile(dataDir() / "appel-high.xml"));
}

TEST(CustomRuleSetWrite, UnwritableFileRaisesTheWriterError) {
    TempDir dir;
    EXPECT_THROW(CustomRuleSet::write((dir / "missing" / "rules.xml").string(), {}, kCreatedOn),
                 Error);
}

TEST(CustomRuleSetRead, EveryCombinationReadsBackAsWritten) {
    TempDir dir;
    const std::string path = (dir / "rules.xml").string();
    for (unsigned long bits = 0; bits < (1ul << kCustomSettingCount); ++bits) {
        const CustomSettings settings(bits);
        XmlFile file(path);  // written in place: the atomic replacement is tested above
        CustomRuleSet::writeRuleSet(file, settings, kCreatedOn);
        file.close();
        ASSERT_EQ(CustomRuleSet::read(path), settings) << "settings " << settings;
    }
}

TEST(CustomRuleSetRead, InstalledRuleSetsShowTheirBoxes) {
    EXPECT_EQ(CustomRuleSet::read(dataDir() / "appel-low.xml"), kLow);
    EXPECT_EQ(CustomRuleSet::read(dataDir() / "appel-medium.xml"), kMedium);
    EXPECT_EQ(CustomRuleSet::read(dataDir() / "appel-high.xml"), kHigh);
}

struct ReadBackCase {
    const char* name;
    std::string document;
    CustomSettings expected;
};

class CustomRuleSetReadBack : public testing::TestWithParam<ReadBackCase> {};

TEST_P(CustomRuleSetReadBack, GivesTheSettingsTheRulesExpress) {
    EXPECT_EQ(readBack(GetParam().document), GetParam().expected);
}

const std::string kPhoneAlwaysContactOptOut =
    "<p3p:STATEMENT><p3p:PURPOSE appel:connective='or'><p3p:telemarketing required='always'/>"
    "<p3p:contact required='opt-out'/></p3p:PURPOSE></p3p:STATEMENT>";

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, CustomRuleSetReadBack,
    testing::Values(
        ReadBackCase{"NoRemovalAlone",
                     oneRule("<p3p:STATEMENT><p3p:PURPOSE appel:connective='or'>"
                             "<p3p:contact required='always'/><p3p:telemarketing "
                             "required='always'/></p3p:PURPOSE></p3p:STATEMENT>"),
                     settingsOf({noRemoval})},
        ReadBackCase{"TelephoneAlwaysContactOptOut", oneRule(kPhoneAlwaysContactOptOut),
                     settingsOf({contactPhone, contactOther})},
        ReadBackCase{
            "RequestRuleContributesNothing", oneRule(kPhoneAlwaysContactOptOut, "request"), {}},
        ReadBackCase{"BlockRuleCounts", oneRule(kPhoneAlwaysContactOptOut, "BLOCK"),
                     settingsOf({contactPhone, contactOther})},
        ReadBackCase{"CatchAllContributesNothing",
                     "<appel:RULESET><appel:RULE behavior='request'><appel:OTHERWISE/>"
                     "</appel:RULE></appel:RULESET>",
                     {}},
        ReadBackCase{"HealthWithContactIsHealthUseOnly",
                     oneRule("<p3p:STATEMENT><p3p:PURPOSE><p3p:contact required='always'/>"
                             "</p3p:PURPOSE><p3p:DATA-GROUP><p3p:DATA><p3p:CATEGORIES>"
                             "<p3p:health/></p3p:CATEGORIES></p3p:DATA></p3p:DATA-GROUP>"
                             "</p3p:STATEMENT>"),
                     settingsOf({healthUse})},
        ReadBackCase{"ForeignConnectiveContributesNothing",
                     oneRule("<p3p:STATEMENT><p3p:PURPOSE appel:connective='and'>"
                             "<p3p:telemarketing required='always'/></p3p:PURPOSE>"
                             "</p3p:STATEMENT><p3p:STATEMENT appel:connective='or'>"
                             "<p3p:RECIPIENT><p3p:public/></p3p:RECIPIENT></p3p:STATEMENT>"),
                     {}},
        ReadBackCase{"RequiredAbsentCountsForSharing",
                     oneRule("<p3p:STATEMENT><p3p:RECIPIENT><p3p:unrelated/></p3p:RECIPIENT>"
                             "</p3p:STATEMENT><p3p:ACCESS><p3p:none/></p3p:ACCESS>"),
                     settingsOf({anonymousShare, noAccess})},
        ReadBackCase{"ForeignRoot", "<RULESET><appel:RULE behavior='limited'/></RULESET>", {}}),
    [](const testing::TestParamInfo<ReadBackCase>& info) { return info.param.name; });

TEST(CustomRuleSetRead, UnreadableFilesGiveNoSetting) {
    TempDir dir;
    test::writeFile(dir / "broken.xml", "<appel:RULESET><appel:RULE");
    EXPECT_EQ(CustomRuleSet::read((dir / "missing.xml").string()), CustomSettings());
    EXPECT_EQ(CustomRuleSet::read((dir / "broken.xml").string()), CustomSettings());
    EXPECT_EQ(CustomRuleSet::read(dir.path().string()), CustomSettings());
}

TEST(CustomRuleSetNames, CreationTimeIsTheFixedCtimeFormWithATwoDigitDay) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 5;
    local.tm_hour = 10;
    local.tm_min = 21;
    local.tm_sec = 20;
    local.tm_isdst = -1;
    EXPECT_EQ(CustomRuleSet::creationTime(std::mktime(&local)), "Sat Dec 05 10:21:20 2026\n");
    EXPECT_EQ(CustomRuleSet::settingNamed("contactPhone"), contactPhone);
    EXPECT_EQ(CustomRuleSet::settingName(anonymousShare), "anonymousShare");
    EXPECT_FALSE(CustomRuleSet::settingNamed("nothing"));
}

}  // namespace
}  // namespace perchlight
