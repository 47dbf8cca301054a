// Two valid, different settings sets and their block images, shared by the tests that check
// what a controller holds after a read or a write.
#pragma once

#include <QString>
#include <utility>
#include <vector>

#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "protocol/Frame.h"

namespace r4t8::matrix {

constexpr uint32_t kBlockAddresses[4] = {1024, 2048, 3072, 4096};
constexpr ConfigBlock kBlocks[4] = {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock,
                                    ConfigBlock::GprsBlock, ConfigBlock::SystemBlock};

// Two valid, different settings sets: what the controller holds at start (0) and what the
// tool writes (1). Every block differs between them, so a block with another's data shows.
inline std::vector<std::pair<QString, QString>> VariantFields(int v) {
    return {
        {"edt_tel1", v ? "13911112222" : "13800000001"},
        {"edt_tel2", v ? "02155556666" : "075512345678"},
        {"edt_Sensor1_SLow", v ? "-5.50" : "2.25"},
        {"edt_Sensor2_SHigh", v ? "88.00" : "41.50"},
        {"edt_apn", v ? "uninet" : "cmnet"},
        {"edt_port", v ? "9001" : "8000"},
        {"edt_tel_my", v ? "13600000001" : "13700000000"},
        {"edt_id", v ? "543210987654321" : "123456789012345"},
    };
}

inline void ApplyVariant(DeviceSettings& s, int v) {
    for (const auto& [name, value] : VariantFields(v)) s.SetText(name, value);
}

inline ConfigImage EncodeAll(const DeviceSettings& s, ConfigImage base) {
    for (ConfigBlock b : kBlocks) EncodeBlock(b, s, base);
    return base;
}

inline ConfigImage VariantImage(int v) {
    DeviceSettings s;
    ApplyVariant(s, v);
    ConfigImage blank;
    blank.fill(0xFF);
    return EncodeAll(s, blank);
}

inline std::vector<uint8_t> ToVector(const ConfigImage& image) {
    return std::vector<uint8_t>(image.begin(), image.end());
}

}  // namespace r4t8::matrix
