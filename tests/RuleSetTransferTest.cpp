#include "prefs/RuleSetTransfer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "util/Error.h"

namespace perchlight {
namespace {

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

}  // namespace
}  // namespace perchlight

namespace perchlight {
namespace {

TEST(RuleSetTransferStaging, EveryDialogStagesUnderItsOwnName) {
    TempDir dir;
    const std::string first = RuleSetTransfer::uniqueStagedPath(dir.path().string());
    const std::string second = RuleSetTransfer::uniqueStagedPath(dir.path().string());
    EXPECT_NE(first, second);
    EXPECT_NE(first.find("/temp-appel-imported-" + std::to_string(::getpid()) + "-"),
              std::string::npos);
}

TEST(RuleSetTransferStaging, AbandonedStagingFilesOfEndedProcessesAreRemoved) {
    TempDir dir;
    const pid_t ended = ::fork();
    if (ended == 0) {
        ::_exit(0);
    }
    ::waitpid(ended, nullptr, 0);
    const std::string own = RuleSetTransfer::uniqueStagedPath(dir.path().string());
    writeFile(own, "mine");
    writeFile(dir / ("temp-appel-imported-" + std::to_string(ended) + "-1.xml"), "theirs");
    writeFile(dir / "temp-appel-imported.xml", "the command line's");
    writeFile(dir / "appel-imported.xml", "installed");
    RuleSetTransfer::discardAbandonedStaged(dir.path().string());
    EXPECT_TRUE(std::filesystem::exists(own));
    EXPECT_FALSE(
        std::filesystem::exists(dir / ("temp-appel-imported-" + std::to_string(ended) + "-1.xml")));
    EXPECT_TRUE(std::filesystem::exists(dir / "temp-appel-imported.xml"));
    EXPECT_TRUE(std::filesystem::exists(dir / "appel-imported.xml"));
}

// The previous imported rule set stays in force until a new one has taken its place whole.
TEST(RuleSetTransferStaging, AFailedInstallKeepsThePreviousRuleSet) {
    TempDir dir;
    writeFile(dir / "appel-imported.xml", "old");
    writeFile(dir / "source.xml", "new");
    const std::string staged = RuleSetTransfer::uniqueStagedPath(dir.path().string());
    EXPECT_FALSE(RuleSetTransfer::installStaged(staged, dir.path().string()));  // nothing staged
    EXPECT_EQ(test::readFile(dir / "appel-imported.xml"), "old");
    ASSERT_TRUE(RuleSetTransfer::copyRuleSet((dir / "source.xml").string(), staged));
    EXPECT_TRUE(RuleSetTransfer::installStaged(staged, dir.path().string()));
    EXPECT_EQ(test::readFile(dir / "appel-imported.xml"), "new");
    EXPECT_FALSE(std::filesystem::exists(staged));
}

}  // namespace
}  // namespace perchlight
