// Decoder of the current-data reply and the texts its grid row shows.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace r4t8 {

// The present readings as one current-data reply reports them.
struct CurrentDataSnapshot {
    double sensor[4] = {0, 0, 0, 0};
    uint8_t sensorPresent[4] = {0, 0, 0, 0};
    double gsm = 0;
    double relay = 0;
    double power = 0;
    uint32_t longitude = 0xFFFFFFFF;
    uint32_t latitude = 0xFFFFFFFF;
    uint32_t speed = 0xFFFFFFFF;
    uint32_t direction = 0xFFFFFFFF;
};

// Value of a GPS quantity that the reply did not carry.
constexpr uint32_t kGpsNotReceived = 0xFFFFFFFF;
// Columns of `strngrd_curdata`: 0 holds the row captions, 1..11 the values.
constexpr int kCurrentDataColumns = 12;

struct CurrentDataDecode {
    CurrentDataSnapshot snapshot;
    // An item of a type the controller should never send ended the walk.
    bool undefinedItem = false;
};

// Walks the 6-byte items of a payload of `count` bytes. A trailing partial item is ignored:
// its missing bytes are not part of the reply.
CurrentDataDecode DecodeCurrentData(const uint8_t* payload, size_t count);

// The value texts of one reply, by column; columns the reply does not set are empty and
// keep the text of the previous reply.
std::array<std::optional<QString>, kCurrentDataColumns> CurrentDataTexts(
    const CurrentDataSnapshot& snapshot);

// Row 0 captions ("名称", "传感器1", ...) and the row-1 caption of column 0 ("数值").
QStringList CurrentDataCaptions();
QString CurrentDataValueCaption();
// Column widths in pixels.
int CurrentDataColumnWidth(int column);

}  // namespace r4t8
