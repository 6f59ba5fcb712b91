// One libFuzzer binary per target: PERCHLIGHT_FUZZ_TARGET names its entry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const perchlight::fuzz::Entry entry =
        perchlight::fuzz::findEntry(PERCHLIGHT_FUZZ_TARGET);
    if (!entry) {
        std::abort();
    }
    entry(data, size);
    return 0;
}
