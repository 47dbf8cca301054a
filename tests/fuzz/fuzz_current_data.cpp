// The current-data decoder and the grid texts of what it decoded.
#include <cstdint>

#include "FuzzSupport.h"
#include "operations/CurrentData.h"

using namespace r4t8;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CurrentDataDecode d = DecodeCurrentData(size ? data : nullptr, size);
    const auto texts = CurrentDataTexts(d.snapshot);
    // Column 0 holds captions, never a value.
    R4T8_FUZZ_CHECK(!texts[0].has_value() || texts[0]->isEmpty());
    for (const auto& t : texts)
        if (t) R4T8_FUZZ_CHECK(t->size() < 64);
    return 0;
}
