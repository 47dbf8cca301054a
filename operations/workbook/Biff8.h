// The BIFF8 record stream of an Excel 97-2003 workbook: the one place that knows the
// record layouts (the compound-file wrapper lives in CompoundFile).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "Workbook.h"

namespace r4t8::workbook {

// The largest record body the format allows; longer data goes on in CONTINUE records.
constexpr size_t kMaxRecordData = 8224;

// The records of the "Workbook" stream: the workbook globals with one shared string table,
// then one worksheet substream per sheet.
std::vector<uint8_t> BuildBiff8Stream(const std::deque<Worksheet>& sheets);

}  // namespace r4t8::workbook
