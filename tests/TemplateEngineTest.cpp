#include "summary/TemplateEngine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace perchlight {
namespace {

std::string keys(std::string_view key, std::string_view format) {
    return key == "Name" ? formatArguments(format, std::vector<FormatArgument>{std::string("Ann")})
                         : std::string();
}

struct FillCase {
    const char* text;
    const char* expected;
};

class TemplateEngineFill : public ::testing::TestWithParam<FillCase> {};

TEST_P(TemplateEngineFill, ExpandsPlaceholders) {
    EXPECT_EQ(fill(GetParam().text, keys), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TemplateEngineFill,
    ::testing::Values(FillCase{"", ""}, FillCase{"plain", "plain"},
                      FillCase{"a ##Name##@<b>%s</b>@ z", "a <b>Ann</b> z"},
                      FillCase{"##Unknown##@<br>%s@x", "x"},
                      FillCase{"##Name## then ##Name##@%s@", "##Name## then Ann"},
                      FillCase{"##Name##@%s@ and ##Name##@open", "Ann and ##Name##@open"},
                      FillCase{"x ##Name", "x ##Name"}, FillCase{"##Name##", "##Name##"},
                      FillCase{"##Name##@%s##Name##@%s@", "Ann##Name##%s@"}));

struct FormatCase {
    const char* format;
    const char* expected;
};

class TemplateEngineFormat : public ::testing::TestWithParam<FormatCase> {};

// Arguments "x" and 7: conversions that ask for more or other arguments are copied as written.
TEST_P(TemplateEngineFormat, TakesOnlyTheSuppliedArguments) {
    const std::vector<FormatArgument> arguments{std::string("x"), 7LL};
    EXPECT_EQ(formatArguments(GetParam().format, arguments), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TemplateEngineFormat,
    ::testing::Values(FormatCase{"%s-%d", "x-7"}, FormatCase{"%d %s", "%d x"},
                      FormatCase{"%s %s %d", "x %s 7"}, FormatCase{"%s %i %n %p", "x 7 %n %p"},
                      FormatCase{"100%% %s", "100% x"}, FormatCase{"%s%", "x%"},
                      FormatCase{"%3s|%-3s|%03d", "  x|%-3s|007"},
                      FormatCase{"%s %.0s %05d", "x %.0s 00007"},
                      FormatCase{"%99999999s", "%99999999s"}, FormatCase{"%*s", "%*s"},
                      FormatCase{"no conversion", "no conversion"}));

}  // namespace
}  // namespace perchlight
