#include "CurrentData.h"

#include <cstring>

#include "NumberText.h"

namespace r4t8 {

namespace {

constexpr size_t kItemSize = 6;

uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

double ReadFloat(const uint8_t* p) {
    const uint32_t bits = ReadU32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

QString StateText(double state) {
    return state == 1.0 ? QStringLiteral("有效") : QStringLiteral("无效");
}

}  // namespace

CurrentDataDecode DecodeCurrentData(const uint8_t* payload, size_t count) {
    CurrentDataDecode out;
    CurrentDataSnapshot& s = out.snapshot;
    s.longitude = s.latitude = s.speed = s.direction = kGpsNotReceived;
    if (!payload) return out;
    for (size_t offset = 0; offset + kItemSize <= count; offset += kItemSize) {
        const uint8_t type = payload[offset];
        const uint8_t channel = payload[offset + 1];
        const uint8_t* value = payload + offset + 2;
        switch (type) {
            case 0x01:
                if (channel < 4) {
                    s.sensor[channel] = ReadFloat(value);
                    s.sensorPresent[channel] = 1;
                }
                break;
            case 0x50:
                switch (channel) {
                    case 0x50:
                        s.longitude = ReadU32(value);
                        break;
                    case 0x51:
                        s.latitude = ReadU32(value);
                        break;
                    case 0x52:
                        s.speed = ReadU32(value);
                        break;
                    case 0x53:
                        s.direction = ReadU32(value);
                        break;
                    default:
                        break;
                }
                break;
            // For the three single values only their own channel is meaningful; any other
            // channel of a known type is skipped like an unknown channel of the GPS type.
            case 0x10:
                if (channel == 0x10) s.gsm = ReadFloat(value);
                break;
            case 0x20:
                if (channel == 0x20) s.relay = ReadFloat(value);
                break;
            case 0x30:
                if (channel == 0x30) s.power = ReadFloat(value);
                break;
            default:
                out.undefinedItem = true;
                return out;
        }
    }
    return out;
}

std::array<std::optional<QString>, kCurrentDataColumns> CurrentDataTexts(
    const CurrentDataSnapshot& s) {
    std::array<std::optional<QString>, kCurrentDataColumns> texts;
    for (int k = 0; k < 4; ++k)
        if (s.sensorPresent[k]) texts[1 + k] = FormatZeroHash(s.sensor[k]);
    if (s.longitude != kGpsNotReceived) texts[5] = GeneralFloatText(s.longitude / 1000000.0);
    if (s.latitude != kGpsNotReceived) texts[6] = GeneralFloatText(s.latitude / 1000000.0);
    if (s.speed != kGpsNotReceived) texts[7] = GeneralFloatText(s.speed / 10.0);
    if (s.direction != kGpsNotReceived) texts[8] = GeneralFloatText(s.direction / 10.0);
    texts[9] = GeneralFloatText(s.gsm);
    texts[10] = StateText(s.relay);
    texts[11] = StateText(s.power);
    return texts;
}

QStringList CurrentDataCaptions() {
    return {QStringLiteral("名称"),    QStringLiteral("传感器1"),    QStringLiteral("传感器2"),
            QStringLiteral("传感器3"), QStringLiteral("传感器4"),    QStringLiteral("经度"),
            QStringLiteral("纬度"),    QStringLiteral("速度"),       QStringLiteral("方向"),
            QStringLiteral("GSM信息"), QStringLiteral("继电器状态"), QStringLiteral("电源状态")};
}

QString CurrentDataValueCaption() { return QStringLiteral("数值"); }

int CurrentDataColumnWidth(int column) { return column == 8 ? 65 : 64; }

}  // namespace r4t8
