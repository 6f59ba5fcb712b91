#include "core/BaseDataSchema.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using namespace perchlight::test;

TEST(BaseDataSchemaLoad, LoadsOnceAndSharesThePreparedSchema) {
    BaseDataSchema base((dataDir() / BaseDataSchema::kFileName).string());
    EXPECT_TRUE(base.load());
    EXPECT_FALSE(base.load());
    const auto schema = base.schema();
    ASSERT_NE(schema, nullptr);
    EXPECT_EQ(base.schema(), schema);
    EXPECT_NE(schema->findDefinition("user.home-info.postal.street"), nullptr);
}

TEST(BaseDataSchemaLoad, MissingOrUnpreparableFileIsNotTriedAgain) {
    const TempDir dir;
    BaseDataSchema missing((dir / "missing.xml").string());
    EXPECT_TRUE(missing.load());
    writeFile(dir / "missing.xml", readFile(dataDir() / BaseDataSchema::kFileName));
    EXPECT_FALSE(missing.load());
    EXPECT_EQ(missing.schema(), nullptr);

    writeFile(dir / "cycle.xml",
              "<DATASCHEMA><DATA-STRUCT name='a.x' structref='#a'/>"
              "<DATA-DEF name='d' structref='#a'/></DATASCHEMA>");
    BaseDataSchema cyclic((dir / "cycle.xml").string());
    EXPECT_TRUE(cyclic.load());
    EXPECT_EQ(cyclic.schema(), nullptr);
}

TEST(BaseDataSchemaLoad, MalformedFileRaisesAndIsTriedAgain) {
    const TempDir dir;
    writeFile(dir / "base.xml", "<DATASCHEMA>");
    BaseDataSchema base((dir / "base.xml").string());
    try {
        base.load();
        ADD_FAILURE() << "no error raised";
    } catch (const Error& error) {
        EXPECT_EQ(error.message(), "XML parse error");
    }
    writeFile(dir / "base.xml", "<DATASCHEMA><DATA-DEF name='x'/></DATASCHEMA>");
    EXPECT_TRUE(base.load());
    ASSERT_NE(base.schema(), nullptr);
}

TEST(BaseDataSchemaLoad, InstalledSchemaIsTheModuleDirectorysFile) {
    const ModuleHome home({BaseDataSchema::kFileName});
    BaseDataSchema& installed = BaseDataSchema::installed();
    EXPECT_EQ(installed.path(), (home.path() / "BaseDataschema-std.xml").string());
    EXPECT_NE(installed.schema(), nullptr);
    EXPECT_EQ(&BaseDataSchema::installed(), &installed);
}

}  // namespace
}  // namespace perchlight
