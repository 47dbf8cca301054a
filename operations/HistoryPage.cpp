#include "HistoryPage.h"

#include <cstring>

namespace r4t8 {

namespace {

constexpr uint8_t kRecordMarker = 0x7F;
constexpr uint8_t kEndOfRecords = 0xFF;
constexpr uint8_t kSensorItem = 0x01;
constexpr uint8_t kGpsItem = 0x50;
constexpr size_t kRecordHeader = 8;  // marker, yy mm dd hh nn ss
constexpr size_t kItemSize = 6;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

HistoryPageResult ParseHistoryPage(const uint8_t* payload, size_t count, HistoryTable& table) {
    HistoryPageResult result;
    size_t offset = 0;
    while (offset + 1 < count && payload[offset] == kRecordMarker &&
           payload[offset + 1] == kRecordMarker) {
        if (offset + kRecordHeader > count) break;  // a time stamp cut off: no record
        HistoryRecord record;
        const uint8_t* head = payload + offset;
        record.year = head[2];
        record.month = head[3];
        record.day = head[4];
        record.hour = head[5];
        record.minute = head[6];
        record.second = head[7];

        size_t item = offset + kRecordHeader;
        bool truncated = false;
        while (item < count && payload[item] != kRecordMarker && payload[item] != kEndOfRecords) {
            if (item + kItemSize > count) {
                truncated = true;
                break;
            }
            const uint8_t type = payload[item];
            const uint8_t channel = payload[item + 1];
            const uint32_t value = Le32(payload + item + 2);
            if (type == kSensorItem) {
                if (channel < 4) {
                    float f;
                    std::memcpy(&f, &value, sizeof f);
                    record.sensor[channel] = f;
                    record.sensorPresent[channel] = 1;
                }
            } else if (type == kGpsItem) {
                switch (channel) {
                    case 0x50:
                        record.longitude = value;
                        break;
                    case 0x51:
                        record.latitude = value;
                        break;
                    case 0x52:
                        record.speed = value;
                        break;
                    case 0x53:
                        record.direction = value;
                        break;
                    default:
                        break;  // unknown channel of a known type: skipped
                }
            } else {
                result.undefinedItem = true;
                return result;
            }
            item += kItemSize;
        }
        table.push_back(record);
        ++result.recordsAdded;
        if (truncated) break;
        offset = item;
    }
    return result;
}

}  // namespace r4t8
