// How the text fields of the controller map between bytes and characters.
//
// Controllers in the field were configured from PCs whose code page is GBK, so text is
// encoded as GBK (ASCII stays ASCII). A byte that is not part of a valid GBK character
// decodes to U+0080 + (b - 0x80), i.e. the character with the byte's own value, and the
// encoder turns U+0080..U+00FF back into that single byte. A GBK pair that would decode into
// that range is kept as two such characters instead. Together this makes every byte
// sequence a decoder produced come back byte for byte from the encoder (a blank device number
// reads as fifteen U+00FF and writes back as fifteen 0xFF).
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace r4t8 {

// Bytes of `text`; characters GBK cannot hold become '?'.
std::vector<uint8_t> EncodeDeviceText(const QString& text);

// As EncodeDeviceText, but at most `maxBytes` bytes: a character that would not fit whole
// is dropped together with everything after it.
std::vector<uint8_t> EncodeDeviceText(const QString& text, size_t maxBytes);

// Characters of `count` bytes (no stop at any byte value).
QString DecodeDeviceText(const uint8_t* bytes, size_t count);

// The same rules on QByteArray, for the settings file.
QByteArray ToDeviceBytes(const QString& text);
QString FromDeviceBytes(const QByteArray& bytes);

}  // namespace r4t8
