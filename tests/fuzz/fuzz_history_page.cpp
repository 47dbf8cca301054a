// The history page parser on arbitrary payloads, appended to a table that already holds
// records, as pages of one query are.
#include <cstdint>

#include "FuzzSupport.h"
#include "operations/HistoryPage.h"
#include "operations/HistoryQuery.h"

using namespace r4t8;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HistoryTable table(1);
    const HistoryRecord before = table[0];
    // libFuzzer's buffer has exactly `size` bytes: a read beyond them is reported.
    const HistoryPageResult r = ParseHistoryPage(size ? data : nullptr, size, table);
    R4T8_FUZZ_CHECK(table.size() == 1 + r.recordsAdded);
    // A record takes at least its 8-byte header.
    R4T8_FUZZ_CHECK(r.recordsAdded <= size / 8);
    R4T8_FUZZ_CHECK(table[0].longitude == before.longitude && table[0].year == before.year);
    for (const HistoryRecord& rec : table)
        for (uint8_t p : rec.sensorPresent) R4T8_FUZZ_CHECK(p <= 1);
    return 0;
}
