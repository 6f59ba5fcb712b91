#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "fuzz/FuzzEntries.h"

namespace perchlight {
namespace {

namespace fs = std::filesystem;

// Every input a fuzzer once crashed on, and every seed, runs through its target's entry again:
// reaching the end without a sanitizer report or an escaped exception is the pass.
class FuzzRegression : public ::testing::TestWithParam<fuzz::Target> {};

TEST_P(FuzzRegression, KeptInputsRunClean) {
    std::size_t inputs = 0;
    for (const char* folder : {"regressions", "seeds"}) {
        const fs::path directory = fs::path(PERCHLIGHT_FUZZ_DIR) / folder / GetParam().name;
        if (!fs::is_directory(directory)) {
            continue;
        }
        for (const fs::directory_entry& file : fs::directory_iterator(directory)) {
            const std::string bytes = test::readFile(file.path());
            SCOPED_TRACE(file.path().string());
            GetParam().entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++inputs;
        }
    }
    SUCCEED() << inputs << " inputs";
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegression, ::testing::ValuesIn(fuzz::targets()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace perchlight
