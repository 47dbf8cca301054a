// Encoders and decoders between DeviceSettings and the four configuration blocks of the
// ConfigImage, byte for byte, and the check that a block's fields can be converted at all.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "config/DeviceSettings.h"
#include "protocol/Frame.h"

namespace r4t8 {

enum class ConfigBlock { PhoneBlock, SensorBlock, GprsBlock, SystemBlock };

uint32_t BlockAddress(ConfigBlock block);
// Bytes of a block that carry fields; the rest of its 256 bytes are 0xFF.
size_t BlockUsedLength(ConfigBlock block);

// A field whose value cannot be written.
struct FieldProblem {
    QString name;   // control name
    QString label;  // what the user sees: group caption, then the field's caption
};

// The first field of the block (in encoding order) that cannot be converted: an integer or
// float field whose text is no number, a device number longer than 15 bytes. Only fields
// the encoder would actually convert are looked at (edt1 only in timed upload mode, for
// instance). A list with no selection is no problem: it writes back what was read for it
// (DeviceSettings::KeepReadBytes).
std::optional<FieldProblem> ValidateBlock(ConfigBlock block, const DeviceSettings& settings);

// A field's name for the user: its group and caption ("报警参数设置1 超低限值").
QString FieldLabel(const DeviceSettings& settings, const QString& name);

// Writes the block's used bytes into `image` at its address. Returns false, after writing the
// fields before it, at the first field that cannot be converted; ValidateBlock first.
bool EncodeBlock(ConfigBlock block, const DeviceSettings& settings, ConfigImage& image);

// Sets the block's fields from `image` and keeps what the encoder needs to write back what
// was read (DeviceSettings::KeepReadBytes, KeepReadBlock). A list code the list does not
// carry leaves it with no selection. Returns false when it stopped at an impossible hour or
// minute of an upload time (the fields after it keep their values).
bool DecodeBlock(ConfigBlock block, const ConfigImage& image, DeviceSettings& settings);

// Conversions shared with the settings file and tests.
// Sum of (code - 48) * 10^(L-i) over the characters; 0 when the computation overflows.
int64_t DigitValue(const QString& text);
// The whole text as a signed decimal integer (leading blanks allowed, int range).
std::optional<int32_t> StandardInteger(const QString& text);
// The text as a single-precision value ("NAN", "INF", "-INF" included); nothing when it is
// no number or too large for single precision.
std::optional<float> FloatValue(const QString& text);
// A stored float as the window shows it: "0.00", and "NAN", "INF", "-INF".
QString FloatText(float value);

}  // namespace r4t8
