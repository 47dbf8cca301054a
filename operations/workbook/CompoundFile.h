// The OLE2 compound-file wrapper that an .xls file is: one "Workbook" stream in a
// version-3 file of 512-byte sectors.
#pragma once

#include <QIODevice>
#include <cstdint>
#include <vector>

namespace r4t8::workbook {

// Writes a compound file holding `stream` as its only stream "Workbook". Streams shorter
// than 4096 bytes are padded with zeros to that size, so that no mini stream is needed.
// False when the device refused a write.
bool WriteCompoundFile(QIODevice& out, const std::vector<uint8_t>& stream);

}  // namespace r4t8::workbook
