#include "DemoProfile.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace r4t8::sim {

namespace {

// One configuration block being filled: erased flash (0xFF) with the fields put in.
class Block {
  public:
    explicit Block(uint8_t* at) : m_b(at) { std::fill_n(m_b, kBlockSize, 0xFF); }

    void Byte(size_t offset, uint8_t value) { m_b[offset] = value; }
    void U16(size_t offset, uint16_t value) {
        m_b[offset] = static_cast<uint8_t>(value);
        m_b[offset + 1] = static_cast<uint8_t>(value >> 8);
    }
    void F32(size_t offset, float value) {
        uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        for (size_t i = 0; i < 4; ++i) m_b[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    // Text padded with 0xFF, no terminator.
    void Text(size_t offset, size_t width, std::string_view text) {
        std::copy_n(text.begin(), std::min(width, text.size()), m_b + offset);
    }

  private:
    uint8_t* m_b;
};

struct Phone {
    char smsOrDial;  // '1' SMS and dial, '2' SMS only
    char second;     // '1' state, '2' relay, '3' GPRS online, '4' restart
    std::string_view number;
};

// Who gets the alarms: driver, dispatcher, quality manager, service technician.
constexpr Phone kPhones[6] = {
    {'1', '1', "13800138001"},
    {'1', '2', "13800138002"},
    {'2', '1', "13800138003"},
    {'2', '4', "13800138004"},
    {'1', '1', ""},
    {'1', '1', ""},
};

struct Sensor {
    uint8_t step;
    uint16_t relaySeconds;
    float ultraLow, low, ultraHigh, high;
    uint16_t nextAlarm, confirm;
};

// Cargo front and rear (chilled goods, 2..8 °C), supply air of the refrigeration unit, and
// the outside air.
constexpr Sensor kSensors[4] = {
    {1, 10, 0.0f, 2.0f, 10.0f, 8.0f, 30, 5},
    {1, 10, 0.0f, 2.0f, 10.0f, 8.0f, 30, 5},
    {1, 0, -10.0f, -5.0f, 15.0f, 12.0f, 60, 10},
    {2, 0, -30.0f, -20.0f, 45.0f, 40.0f, 120, 15},
};

void FillPhones(Block b) {
    for (size_t n = 0; n < 6; ++n) {
        const size_t e = 22 * n;
        b.Byte(e, static_cast<uint8_t>(kPhones[n].smsOrDial));
        b.Byte(e + 1, static_cast<uint8_t>(kPhones[n].second));
        b.Text(e + 2, 20, kPhones[n].number);
    }
}

void FillSensors(Block b) {
    for (size_t n = 0; n < 4; ++n) {
        const size_t e = 36 * n;
        const Sensor& s = kSensors[n];
        b.Byte(e, 'C');  // Celsius
        b.Byte(e + 1, s.step);
        b.U16(e + 2, s.relaySeconds);
        b.F32(e + 4, s.ultraLow);
        b.F32(e + 8, s.low);
        b.F32(e + 12, s.ultraHigh);
        b.F32(e + 16, s.high);
        b.U16(e + 20, s.nextAlarm);
        b.U16(e + 22, s.confirm);
        b.Byte(e + 24, '0');  // no analogue range
        b.F32(e + 28, 0.0f);
        b.F32(e + 32, 100.0f);
    }
}

void FillGprs(Block b) {
    b.Text(0, 32, "203.0.113.45");
    b.Text(32, 32, "coldchain.example.com");
    b.U16(64, 9010);
    b.Byte(66, 0);  // TCP
    b.Text(67, 32, "CMNET");
    b.Text(99, 32, "card");
    b.Text(131, 32, "card");
}

void FillSystem(Block b) {
    b.Byte(0, 1);  // clock set automatically
    b.Text(1, 20, "1064899012345");
    b.Text(21, 4, "5807");
    b.Text(27, 15, "860312045178263");
    b.Byte(42, kDemoRecordMinutes);
    b.U16(44, 60);
    b.Byte(46, 1);  // verify the PIN
    b.Text(47, 6, "2468");
    b.Text(53, 20, "13800138002");
    b.Byte(73, 1);  // GPS on
    // GPRS upload every 5 minutes.
    b.Byte(74, 'D');
    b.U16(76, 5);
    // Reports at three fixed times of day.
    b.Byte(80, 'M');
    b.U16(82, 3);
    const uint8_t times[3][2] = {{7, 30}, {12, 0}, {18, 0}};
    for (size_t row = 0; row < 3; ++row) {
        b.Byte(84 + 2 * row, times[row][0]);
        b.Byte(85 + 2 * row, times[row][1]);
    }
    b.Text(92, 20, "13800138002");
    b.Byte(112, 'C');
    b.U16(114, 30);  // relay closes 30 s on an incoming call
}

}  // namespace

void FillDemoMemory(ConfigImage& image) {
    FillPhones(Block(image.data() + kPhoneBlockAddress));
    FillSensors(Block(image.data() + kSensorBlockAddress));
    FillGprs(Block(image.data() + kGprsBlockAddress));
    FillSystem(Block(image.data() + kSystemBlockAddress));
}

}  // namespace r4t8::sim
