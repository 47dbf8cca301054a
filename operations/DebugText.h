// Hex text of the controller's debug output, as its two memos show it.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

namespace r4t8 {

// " XX" per byte (upper-case hex), CR LF after every 20th byte and after the last; so a
// count that is a multiple of 20 ends with an empty line. Empty for no bytes.
QString FormatDebugBytes(const uint8_t* bytes, size_t count);

}  // namespace r4t8
