#include "prefs/RuleSetTransfer.h"

#include <gtest/gtest.h>

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
