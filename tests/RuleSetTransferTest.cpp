#include "prefs/RuleSetTransfer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct ValidationCase {
    const char* document;
    bool valid;
    bool blockRule;
};

TEST(RuleSetTransferValidate, FindsBlockRulesOfEveryRuleSet) {
    const ValidationCase cases[] = {
        {"<appel:RULESET><appel:RULE behavior='Block'/></appel:RULESET>", true, false},
        {"<appel:RULESET><appel:RULE behavior='block'/><appel:RULE behavior='block'/>"
         "</appel:RULESET>",
         true, true},
        {"<appel:RULESET><x><appel:RULESET><appel:RULE behavior='block'/></appel:RULESET></x>"
         "</appel:RULESET>",
         true, true},
        {"<appel:RULESET><appel:OTHERWISE behavior='block'/></appel:RULESET>", true, false},
        {"<RULESET><appel:RULE behavior='block'/></RULESET>", false, false},
    };
    TempDir dir;
    for (const ValidationCase& row : cases) {
        writeFile(dir / "r.xml", row.document);
        bool blockRule = true;
        EXPECT_EQ(RuleSetTransfer::validateImportedRuleSet((dir / "r.xml").string(), blockRule),
                  row.valid)
            << row.document;
        EXPECT_EQ(blockRule, row.blockRule) << row.document;
    }
    writeFile(dir / "broken.xml", "<appel:RULESET>");
    bool blockRule = false;
    EXPECT_THROW(RuleSetTransfer::validateImportedRuleSet((dir / "broken.xml").string(), blockRule),
                 Error);
}

TEST(RuleSetTransferImport, StagesInstallsAndExportsByteForByte) {
    TempDir home;
    const std::string directory = home.path().string();
    writeFile(home / "chosen.xml", "<appel:RULESET>\r\n</appel:RULESET>");
    EXPECT_FALSE(RuleSetTransfer::exportImported(directory, (home / "out.xml").string()));
    EXPECT_FALSE(RuleSetTransfer::stageImport((home / "missing.xml").string(), directory));
    ASSERT_TRUE(RuleSetTransfer::stageImport((home / "chosen.xml").string(), directory));
    ASSERT_TRUE(RuleSetTransfer::exportImported(directory, (home / "out.xml").string()));
    EXPECT_EQ(readFile(home / "out.xml"), readFile(home / "chosen.xml"));  // the staged copy
    writeFile(home / "appel-imported.xml", "old");
    ASSERT_TRUE(RuleSetTransfer::exportImported(directory, (home / "out.xml").string()));
    EXPECT_EQ(readFile(home / "out.xml"), "old");  // the installed one first
    ASSERT_TRUE(RuleSetTransfer::installStagedImport(directory));
    EXPECT_EQ(readFile(home / "appel-imported.xml"), readFile(home / "chosen.xml"));
    EXPECT_FALSE(std::filesystem::exists(home / "temp-appel-imported.xml"));
    EXPECT_FALSE(RuleSetTransfer::installStagedImport(directory));
}

}  // namespace
}  // namespace perchlight
