#include "core/BaseDataSchema.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "util/Error.h"

namespace perchlight {
namespace {

using namespace perchlight::test;

TEST(BaseDataSchemaLoad, MissingOrUnpreparableFileIsNotTriedAgain) {
    const TempDir dir;
    BaseDataSchema missing((dir / "base.xml").string());
    EXPECT_TRUE(missing.load());
    writeFile(dir / "base.xml", "<DATASCHEMA><DATA-DEF name='x'/></DATASCHEMA>");
    EXPECT_FALSE(missing.load());
    EXPECT_EQ(missing.schema(), nullptr);

    writeFile(dir / "cycle.xml",
              "<DATASCHEMA><DATA-STRUCT name='a.x' structref='#a'/>"
              "<DATA-DEF name='d' structref='#a'/></DATASCHEMA>");
    BaseDataSchema cyclic((dir / "cycle.xml").string());
    EXPECT_EQ(cyclic.schema(), nullptr);
}

TEST(BaseDataSchemaLoad, MalformedFileRaisesAndIsTriedAgain) {
    const TempDir dir;
    writeFile(dir / "base.xml", "<DATASCHEMA>");
    BaseDataSchema base((dir / "base.xml").string());
    EXPECT_THROW(base.load(), Error);
    writeFile(dir / "base.xml", "<DATASCHEMA><DATA-DEF name='x'/></DATASCHEMA>");
    EXPECT_TRUE(base.load());
    EXPECT_FALSE(base.load());
    EXPECT_NE(base.schema(), nullptr);
}

}  // namespace
}  // namespace perchlight
