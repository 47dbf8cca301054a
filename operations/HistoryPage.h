// Decoding of one history page payload into records: pure bytes in, records out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "HistoryQuery.h"

namespace r4t8 {

struct HistoryPageResult {
    size_t recordsAdded = 0;
    // An item of a type other than 0x01 and 0x50 stopped the page; the record it was in
    // was not added.
    bool undefinedItem = false;
};

// Appends the records of a page payload of `count` bytes to `table`. Reads nothing at or
// beyond payload[count]: a record or item cut off by the end of the payload ends the page
// (a record whose header is complete is kept with the items that are).
HistoryPageResult ParseHistoryPage(const uint8_t* payload, size_t count, HistoryTable& table);

}  // namespace r4t8
