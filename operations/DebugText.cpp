#include "DebugText.h"

namespace r4t8 {

QString FormatDebugBytes(const uint8_t* bytes, size_t count) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QString text;
    if (!bytes || count == 0) return text;
    text.reserve(static_cast<qsizetype>(count * 3 + (count / 20 + 1) * 2));
    for (size_t i = 0; i < count; ++i) {
        text += QLatin1Char(' ');
        text += QLatin1Char(kHex[bytes[i] >> 4]);
        text += QLatin1Char(kHex[bytes[i] & 0x0F]);
        if ((i + 1) % 20 == 0) text += QLatin1String("\r\n");
    }
    text += QLatin1String("\r\n");
    return text;
}

}  // namespace r4t8
