#include "config/BlockCodecs.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "config/TextCodec.h"

namespace r4t8 {

namespace {

constexpr float kEmptyLimit = 999.0f;
constexpr float kEmptyRange = 99999.0f;
constexpr size_t kDeviceNumberWidth = 15;
// SystemBlock bytes that carry fixed values, no field: the 60 at 44..45 and the "C" at 112.
constexpr std::array<size_t, 3> kFixedSystemBytes{44, 45, 112};
// The bytes each upload-mode list decides: 74..79 and 80..91.
constexpr size_t kGprsUploadBytes = 6;
constexpr size_t kUploadBytes = 12;

// The first field that could not be converted; empty when all were.
using Failure = std::optional<QString>;

bool IsLatin1(const QString& text);
bool HasGbkLeadByte(const uint8_t* b, size_t n);

void PutText(uint8_t* b, size_t offset, size_t width, const QString& text) {
    std::memset(b + offset, 0xFF, width);
    if (IsLatin1(text)) {
        const size_t n = std::min(width, static_cast<size_t>(text.size()));
        for (size_t i = 0; i < n; ++i)
            b[offset + i] = static_cast<uint8_t>(text[static_cast<qsizetype>(i)].unicode());
        return;
    }
    const std::vector<uint8_t> bytes = EncodeDeviceText(text, width);
    std::copy(bytes.begin(), bytes.end(), b + offset);
}

// Sets a text field from `count` device bytes, as DecodeDeviceText reads them.
void SetDeviceText(DeviceSettings& s, const QString& name, const uint8_t* bytes, size_t count) {
    if (HasGbkLeadByte(bytes, count)) {
        s.SetText(name, DecodeDeviceText(bytes, count));
        return;
    }
    s.SetLatin1Text(name, QLatin1StringView(reinterpret_cast<const char*>(bytes),
                                            static_cast<qsizetype>(count)));
}

// A text field of `width` bytes that ends at the first 0xFF.
void SetText(DeviceSettings& s, const QString& name, const uint8_t* b, size_t offset,
             size_t width) {
    size_t n = 0;
    while (n < width && b[offset + n] != 0xFF) ++n;
    SetDeviceText(s, name, b + offset, n);
}

void Put16(uint8_t* b, size_t offset, int64_t value) {
    b[offset] = static_cast<uint8_t>(value & 0xFF);
    b[offset + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

unsigned Get16(const uint8_t* b, size_t offset) {
    return static_cast<unsigned>(b[offset]) | (static_cast<unsigned>(b[offset + 1]) << 8);
}

void PutFloat(uint8_t* b, size_t offset, float value) {
    // Every not-a-number goes out as the pattern a blank controller holds.
    if (std::isnan(value)) {
        std::memset(b + offset, 0xFF, 4);
        return;
    }
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
}

float GetFloat(const uint8_t* b, size_t offset) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(b[offset + i]) << (8 * i);
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Latin-1 characters are their own byte in the device's text encoding, so such text needs
// no converter; anything else takes the general path.
bool IsLatin1(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() > 0xFF) return false;
    return true;
}

// Bytes the decoder would turn into a character pair; without them a text is its bytes.
bool HasGbkLeadByte(const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (b[i] >= 0x81 && b[i] <= 0xFE) return true;
    return false;
}

struct SmallText {
    char data[64];  // the widest float text is 44 characters
    size_t size = 0;
    QLatin1StringView View() const { return QLatin1StringView(data, static_cast<qsizetype>(size)); }
};

SmallText Num(unsigned value) {
    SmallText t;
    t.size = static_cast<size_t>(std::to_chars(t.data, t.data + sizeof t.data, value).ptr - t.data);
    return t;
}

// Control names, built once: making them on every call cost more than the coding itself.
struct PhoneNames {
    QString f1, f2, tel;
};
const std::array<PhoneNames, 6>& PhoneFields() {
    static const std::array<PhoneNames, 6> names = [] {
        std::array<PhoneNames, 6> a;
        for (int n = 1; n <= 6; ++n)
            a[static_cast<size_t>(n - 1)] = {QStringLiteral("cbb_tel%1_f1").arg(n),
                                             QStringLiteral("cbb_tel%1_f2").arg(n),
                                             QStringLiteral("edt_tel%1").arg(n)};
        return a;
    }();
    return names;
}

struct SensorNames {
    QString type, ain, stp, relay, sLow, low, sHigh, high, sp, ens, start, end;
};
const std::array<SensorNames, 4>& SensorFields() {
    static const std::array<SensorNames, 4> names = [] {
        std::array<SensorNames, 4> a;
        for (int n = 1; n <= 4; ++n) {
            const QString p = QStringLiteral("edt_Sensor%1_").arg(n);
            a[static_cast<size_t>(n - 1)] = {QStringLiteral("cbb_sensor%1").arg(n),
                                             QStringLiteral("cbb_sensor%1_ain").arg(n),
                                             p + "STP",
                                             p + "Relay",
                                             p + "SLow",
                                             p + "Low",
                                             p + "SHigh",
                                             p + "High",
                                             p + "SP",
                                             p + "ens",
                                             p + "start",
                                             p + "end"};
        }
        return a;
    }();
    return names;
}

// The fixed-time rows: CheckBox2..5 with DateTimePicker5..8.
struct TimeRowNames {
    QString box, picker;
};
const std::array<TimeRowNames, 4>& TimeRows() {
    static const std::array<TimeRowNames, 4> names = [] {
        std::array<TimeRowNames, 4> a;
        for (int row = 1; row <= 4; ++row)
            a[static_cast<size_t>(row - 1)] = {QStringLiteral("CheckBox%1").arg(row + 1),
                                               QStringLiteral("DateTimePicker%1").arg(row + 4)};
        return a;
    }();
    return names;
}

// Decimal digits of a non-negative integer-valued double, exactly, whatever its size.
std::string IntegerDigits(double value) {
    int exponent = 0;
    const double mantissa = std::frexp(value, &exponent);  // value = mantissa * 2^exponent
    auto m = static_cast<uint64_t>(std::ldexp(mantissa, 53));
    exponent -= 53;
    while (exponent < 0 && m != 0) {  // an integer value only has zero bits shifted out here
        m >>= 1;
        ++exponent;
    }
    std::vector<uint32_t> limbs;  // base 1e9, least significant first
    for (uint64_t t = m; t != 0; t /= 1000000000u)
        limbs.push_back(static_cast<uint32_t>(t % 1000000000u));
    for (int i = 0; i < exponent; ++i) {
        uint64_t carry = 0;
        for (uint32_t& limb : limbs) {
            const uint64_t v = static_cast<uint64_t>(limb) * 2 + carry;
            limb = static_cast<uint32_t>(v % 1000000000u);
            carry = v / 1000000000u;
        }
        if (carry) limbs.push_back(static_cast<uint32_t>(carry));
    }
    if (limbs.empty()) return "0";
    std::string s = std::to_string(limbs.back());
    for (size_t i = limbs.size() - 1; i-- > 0;) {
        const std::string part = std::to_string(limbs[i]);
        s += std::string(9 - part.size(), '0') + part;
    }
    return s;
}

// FloatText without a string allocation.
SmallText FloatChars(float value) {
    SmallText t;
    auto put = [&t](std::string_view v) {
        std::memcpy(t.data, v.data(), v.size());
        t.size = v.size();
    };
    if (std::isnan(value)) {
        put("NAN");
        return t;
    }
    if (std::isinf(value)) {
        put(value > 0 ? "INF" : "-INF");
        return t;
    }
    // A float times 100 is exact in double, so rounding it rounds the true value, half away
    // from zero.
    const double hundredths = std::round(std::fabs(static_cast<double>(value)) * 100.0);
    char digits[48];
    size_t n = 0;
    if (hundredths < 18446744073709551616.0) {  // 2^64: exact as an integer
        n = static_cast<size_t>(
            std::to_chars(digits, digits + sizeof digits, static_cast<uint64_t>(hundredths)).ptr -
            digits);
    } else {
        const std::string wide = IntegerDigits(hundredths);
        n = wide.size();
        std::memcpy(digits, wide.data(), n);
    }
    char* out = t.data;
    if (value < 0 && hundredths != 0) *out++ = '-';
    if (n < 3) {  // at least "0.0x"
        std::memmove(digits + (3 - n), digits, n);
        std::memset(digits, '0', 3 - n);
        n = 3;
    }
    std::memcpy(out, digits, n - 2);
    out += n - 2;
    *out++ = '.';
    std::memcpy(out, digits + n - 2, 2);
    out += 2;
    t.size = static_cast<size_t>(out - t.data);
    return t;
}

// --- encoders -------------------------------------------------------------------------

class Encoder {
  public:
    Encoder(const DeviceSettings& s, uint8_t* b) : m_s(s), m_b(b) {}

    Failure Phone() {
        for (size_t row = 0; row < 6; ++row) {
            const PhoneNames& names = PhoneFields()[row];
            const size_t e = 22 * row;
            if (auto f = PutDigitCode(e, names.f1)) return f;
            if (auto f = PutDigitCode(e + 1, names.f2)) return f;
            PutText(m_b, e + 2, 20, m_s.Text(names.tel));
        }
        return {};
    }

    Failure Sensor() {
        for (size_t row = 0; row < 4; ++row) {
            const SensorNames& p = SensorFields()[row];
            const size_t e = 36 * row;
            const int t = m_s.Index(p.type);
            if (t >= static_cast<int>(m_s.SensorTypeCodes().size())) return p.type;
            if (t < 0)
                PutKept(e, 1, p.type);
            else
                m_b[e] = static_cast<uint8_t>(m_s.SensorTypeCodes()[static_cast<size_t>(t)]);
            const QString stp = m_s.Text(p.stp);
            m_b[e + 1] = static_cast<uint8_t>(stp.isEmpty() ? 99 : DigitValue(stp) & 0xFF);
            PutDigits(e + 2, p.relay, 9999);
            if (auto f = PutFloatField(e + 4, p.sLow, kEmptyLimit)) return f;
            if (auto f = PutFloatField(e + 8, p.low, kEmptyLimit)) return f;
            if (auto f = PutFloatField(e + 12, p.sHigh, kEmptyLimit)) return f;
            if (auto f = PutFloatField(e + 16, p.high, kEmptyLimit)) return f;
            PutDigits(e + 20, p.sp, 999);
            PutDigits(e + 22, p.ens, 999);
            if (auto f = PutFloatField(e + 28, p.start, kEmptyRange)) return f;
            if (auto f = PutFloatField(e + 32, p.end, kEmptyRange)) return f;
            const int a = m_s.Index(p.ain);
            if (a > 3) return p.ain;
            if (a < 0)
                PutKept(e + 24, 1, p.ain);
            else
                m_b[e + 24] = static_cast<uint8_t>('0' + a);
            m_b[e + 25] = m_b[e + 26] = m_b[e + 27] = 0xFF;
        }
        return {};
    }

    Failure Gprs() {
        PutText(m_b, 0, 32, m_s.Text(QStringLiteral("edt_ip1")));
        PutText(m_b, 32, 32, m_s.Text(QStringLiteral("edt_ip2")));
        PutText(m_b, 67, 32, m_s.Text(QStringLiteral("edt_apn")));
        PutText(m_b, 99, 32, m_s.Text(QStringLiteral("edt_gprsname")));
        PutText(m_b, 131, 32, m_s.Text(QStringLiteral("edt_gprspassword")));
        if (auto f = PutInteger16(64, QStringLiteral("edt_port"), 0xFFFF)) return f;
        PutPosition(66, QStringLiteral("cbb_mode"));
        return {};
    }

    Failure System() {
        PutText(m_b, 1, 20, m_s.Text(QStringLiteral("edt_tel_my")));
        // Operation password: four bytes at most, then two bytes that are always 0xFF.
        PutText(m_b, 21, 6, QString());
        const std::vector<uint8_t> pwd = EncodeDeviceText(m_s.Text(QStringLiteral("edt_pwd")), 4);
        std::copy(pwd.begin(), pwd.end(), m_b + 21);
        // Device number: right-aligned, '0' on the left.
        const std::vector<uint8_t> id = EncodeDeviceText(m_s.Text(QStringLiteral("edt_id")));
        if (id.size() > kDeviceNumberWidth) return QStringLiteral("edt_id");
        std::memset(m_b + 27, '0', kDeviceNumberWidth);
        std::copy(id.begin(), id.end(), m_b + 27 + kDeviceNumberWidth - id.size());
        PutText(m_b, 47, 6, m_s.Text(QStringLiteral("edt_PinCode")));
        PutText(m_b, 53, 20, m_s.Text(QStringLiteral("edt_GprsFailTel")));
        const QString rec = m_s.Text(QStringLiteral("edt_rec_time"));
        if (rec.isEmpty()) {
            m_b[42] = 0xFF;
        } else {
            const auto v = StandardInteger(rec);
            if (!v) return QStringLiteral("edt_rec_time");
            m_b[42] = static_cast<uint8_t>(*v & 0xFF);
        }
        PutFlag(46, QStringLiteral("chk1"));
        PutPosition(0, QStringLiteral("cbb_timemode"));
        m_b[43] = 0xFF;
        m_b[44] = 0x3C;
        m_b[45] = 0x00;
        PutFlag(73, QStringLiteral("CheckBox1"));

        const int gprsMode = m_s.Index(QStringLiteral("cbb_gprsupmode"));
        if (gprsMode > 1) return QStringLiteral("cbb_gprsupmode");
        if (gprsMode < 0) {
            PutKept(74, kGprsUploadBytes, QStringLiteral("cbb_gprsupmode"));
        } else if (gprsMode == 0) {
            m_b[74] = 'D';
            m_b[75] = 0xFF;
            if (auto f = PutInteger16(76, QStringLiteral("edt_gprstimeup"), 0)) return f;
            m_b[78] = m_b[79] = 0xFF;
        } else {
            m_b[74] = 'M';
            m_b[75] = 0xFF;
            Put16(m_b, 76, 0);
            if (auto f = PutTime(78, QStringLiteral("dtp_gprspointup"))) return f;
        }

        const int upload = m_s.Index(QStringLiteral("cb_pdat"));
        if (upload > 1) return QStringLiteral("cb_pdat");
        if (upload < 0) {
            PutKept(80, kUploadBytes, QStringLiteral("cb_pdat"));
        } else if (upload == 0) {
            m_b[80] = 'D';
            if (auto f = PutInteger16(82, QStringLiteral("edt1"), 0)) return f;
            std::memset(m_b + 84, 0xFF, 8);
        } else {
            m_b[80] = 'M';
            int count = 0;
            for (size_t row = 0; row < 4; ++row) {
                const size_t at = 84 + 2 * row;
                if (m_s.Checked(TimeRows()[row].box)) {
                    ++count;
                    if (auto f = PutTime(at, TimeRows()[row].picker)) return f;
                } else {
                    m_b[at] = m_b[at + 1] = 0xFF;
                }
            }
            Put16(m_b, 82, count);
        }
        m_b[81] = 0xFF;
        PutText(m_b, 92, 20, m_s.Text(QStringLiteral("edit9")));
        m_b[112] = 'C';
        m_b[113] = 0xFF;
        if (auto f = PutInteger16(114, QStringLiteral("edt_relay_time"), 0)) return f;
        std::memset(m_b + 116, 0xFF, 4);
        return {};
    }

  private:
    // A list with no entry selected has no code: it writes back the bytes the read left for
    // it (0xFF where none), so that a code it does not carry goes back as it was read.
    void PutKept(size_t offset, size_t width, const QString& name) {
        const KeptBytes kept = m_s.ReadBytes(name);
        for (size_t i = 0; i < width; ++i) m_b[offset + i] = i < kept.size ? kept.bytes[i] : 0xFF;
    }

    // Function codes: the digit "1" plus the list position.
    Failure PutDigitCode(size_t offset, const QString& name) {
        const int p = m_s.Index(name);
        if (p > 8) return name;
        if (p < 0)
            PutKept(offset, 1, name);
        else
            m_b[offset] = static_cast<uint8_t>('1' + p);
        return {};
    }

    // Protocol and clock mode: the list position itself.
    void PutPosition(size_t offset, const QString& name) {
        const int p = m_s.Index(name);
        if (p < 0)
            PutKept(offset, 1, name);
        else
            m_b[offset] = static_cast<uint8_t>(p);
    }

    // 1 or 0; a checked flag that a read set from another non-zero byte keeps that byte.
    void PutFlag(size_t offset, const QString& name) {
        const bool checked = m_s.Checked(name);
        const KeptBytes kept = m_s.ReadBytes(name);
        m_b[offset] = checked && kept.size == 1 ? kept.bytes[0] : (checked ? 1 : 0);
    }

    void PutDigits(size_t offset, const QString& name, int64_t empty) {
        const QString text = m_s.Text(name);
        Put16(m_b, offset, text.isEmpty() ? empty : DigitValue(text));
    }

    Failure PutInteger16(size_t offset, const QString& name, int64_t empty) {
        const QString text = m_s.Text(name);
        if (text.isEmpty()) {
            Put16(m_b, offset, empty);
            return {};
        }
        const auto v = StandardInteger(text);
        if (!v) return name;
        Put16(m_b, offset, *v);
        return {};
    }

    Failure PutFloatField(size_t offset, const QString& name, float empty) {
        const QString text = m_s.Text(name);
        if (text.isEmpty()) {
            PutFloat(m_b, offset, empty);
            return {};
        }
        const auto v = FloatValue(text);
        if (!v) return name;
        PutFloat(m_b, offset, *v);
        return {};
    }

    Failure PutTime(size_t offset, const QString& name) {
        const QTime t = m_s.Time(name);
        if (!t.isValid()) return name;
        m_b[offset] = static_cast<uint8_t>(t.hour());
        m_b[offset + 1] = static_cast<uint8_t>(t.minute());
        return {};
    }

    const DeviceSettings& m_s;
    uint8_t* m_b;
};

Failure RunEncoder(ConfigBlock block, const DeviceSettings& settings, uint8_t* bytes) {
    Encoder e(settings, bytes);
    switch (block) {
        case ConfigBlock::PhoneBlock:
            return e.Phone();
        case ConfigBlock::SensorBlock:
            return e.Sensor();
        case ConfigBlock::GprsBlock:
            return e.Gprs();
        case ConfigBlock::SystemBlock:
            return e.System();
    }
    return {};
}

// --- decoders -------------------------------------------------------------------------

// Selects the list entry of a code (-1: a code the list does not carry, which leaves it with
// no selection rather than showing a value the controller does not hold) and keeps the bytes
// the list decides, for the encoder.
void SelectCode(DeviceSettings& s, const QString& name, int index, const uint8_t* bytes,
                size_t count) {
    s.SetIndex(name, index);
    s.KeepReadBytes(name, bytes, count);
}

// Any non-zero byte checks a flag; one other than 1 is kept to be written back.
void SetFlag(DeviceSettings& s, const QString& name, uint8_t byte) {
    s.SetChecked(name, byte != 0);
    if (byte > 1) s.KeepReadBytes(name, &byte, 1);
}

void DecodePhone(const uint8_t* b, DeviceSettings& s) {
    for (size_t row = 0; row < 6; ++row) {
        const PhoneNames& names = PhoneFields()[row];
        const size_t e = 22 * row;
        SelectCode(s, names.f1, b[e] >= '1' && b[e] <= '2' ? b[e] - '1' : -1, b + e, 1);
        SelectCode(s, names.f2, b[e + 1] >= '1' && b[e + 1] <= '4' ? b[e + 1] - '1' : -1, b + e + 1,
                   1);
        SetText(s, names.tel, b, e + 2, 20);
    }
}

void DecodeSensor(const uint8_t* b, DeviceSettings& s) {
    for (size_t row = 0; row < 4; ++row) {
        const SensorNames& p = SensorFields()[row];
        const size_t e = 36 * row;
        const int positions = std::min<int>(static_cast<int>(s.Items(p.type).size()),
                                            static_cast<int>(s.SensorTypeCodes().size()));
        int type = -1;
        for (int i = 0; i < positions && type < 0; ++i)
            if (static_cast<uint8_t>(s.SensorTypeCodes()[static_cast<size_t>(i)]) == b[e]) type = i;
        SelectCode(s, p.type, type, b + e, 1);
        s.SetLatin1Text(p.stp, Num(b[e + 1]).View());
        s.SetLatin1Text(p.relay, Num(Get16(b, e + 2)).View());
        s.SetLatin1Text(p.sLow, FloatChars(GetFloat(b, e + 4)).View());
        s.SetLatin1Text(p.low, FloatChars(GetFloat(b, e + 8)).View());
        s.SetLatin1Text(p.sHigh, FloatChars(GetFloat(b, e + 12)).View());
        s.SetLatin1Text(p.high, FloatChars(GetFloat(b, e + 16)).View());
        s.SetLatin1Text(p.sp, Num(Get16(b, e + 20)).View());
        s.SetLatin1Text(p.ens, Num(Get16(b, e + 22)).View());
        SelectCode(s, p.ain, b[e + 24] >= '0' && b[e + 24] <= '3' ? b[e + 24] - '0' : -1,
                   b + e + 24, 1);
        s.SetLatin1Text(p.start, FloatChars(GetFloat(b, e + 28)).View());
        s.SetLatin1Text(p.end, FloatChars(GetFloat(b, e + 32)).View());
    }
}

void DecodeGprs(const uint8_t* b, DeviceSettings& s) {
    SetText(s, QStringLiteral("edt_ip1"), b, 0, 32);
    SetText(s, QStringLiteral("edt_ip2"), b, 32, 32);
    s.SetLatin1Text(QStringLiteral("edt_port"), Num(Get16(b, 64)).View());
    SelectCode(s, QStringLiteral("cbb_mode"), b[66], b + 66, 1);  // beyond the list: none
    SetText(s, QStringLiteral("edt_apn"), b, 67, 32);
    SetText(s, QStringLiteral("edt_gprsname"), b, 99, 32);
    SetText(s, QStringLiteral("edt_gprspassword"), b, 131, 32);
}

bool ValidTime(uint8_t hour, uint8_t minute) { return hour <= 23 && minute <= 59; }

bool DecodeSystem(const uint8_t* b, DeviceSettings& s) {
    SetText(s, QStringLiteral("edt_tel_my"), b, 1, 20);
    SetText(s, QStringLiteral("edt_pwd"), b, 21, 6);
    SetDeviceText(s, QStringLiteral("edt_id"), b + 27, kDeviceNumberWidth);
    s.SetLatin1Text(QStringLiteral("edt_rec_time"), Num(b[42]).View());
    SetText(s, QStringLiteral("edt_PinCode"), b, 47, 6);
    SetText(s, QStringLiteral("edt_GprsFailTel"), b, 53, 20);
    SelectCode(s, QStringLiteral("cbb_timemode"), b[0], b, 1);
    SetFlag(s, QStringLiteral("chk1"), b[46]);
    SetFlag(s, QStringLiteral("CheckBox1"), b[73]);
    SetText(s, QStringLiteral("edit9"), b, 92, 20);
    s.SetLatin1Text(QStringLiteral("edt_relay_time"), Num(Get16(b, 114)).View());

    const QString gprsMode = QStringLiteral("cbb_gprsupmode");
    SelectCode(s, gprsMode, b[74] == 'D' ? 0 : b[74] == 'M' ? 1 : -1, b + 74, kGprsUploadBytes);
    if (b[74] == 'D') {
        s.SetLatin1Text(QStringLiteral("edt_gprstimeup"), Num(Get16(b, 76)).View());
        s.SetEnabled(QStringLiteral("edt_gprstimeup"), true);
        s.SetEnabled(QStringLiteral("dtp_gprspointup"), false);
        s.SetTime(QStringLiteral("dtp_gprspointup"), QTime(0, 0));
    } else if (b[74] == 'M') {
        s.SetEnabled(QStringLiteral("edt_gprstimeup"), false);
        if (b[78] == 0xFF) {
            s.SetEnabled(QStringLiteral("dtp_gprspointup"), false);
        } else {
            // The picker is enabled before its time is set, so an impossible time stops the
            // decoder with the picker on and its old time kept.
            s.SetEnabled(QStringLiteral("dtp_gprspointup"), true);
            if (!ValidTime(b[78], b[79])) return false;
            s.SetTime(QStringLiteral("dtp_gprspointup"), QTime(b[78], b[79]));
        }
    }

    const QString upload = QStringLiteral("cb_pdat");
    SelectCode(s, upload, b[80] == 'D' ? 0 : b[80] == 'M' ? 1 : -1, b + 80, kUploadBytes);
    if (b[80] == 'D') {
        s.SetLatin1Text(QStringLiteral("edt1"), Num(Get16(b, 82)).View());
        s.SetEnabled(QStringLiteral("edt1"), true);
        for (const TimeRowNames& row : TimeRows()) {
            s.SetEnabled(row.box, false);
            s.SetChecked(row.box, false);
        }
        for (const TimeRowNames& row : TimeRows()) {
            s.SetEnabled(row.picker, false);
            s.SetTime(row.picker, QTime(0, 0));
        }
    } else if (b[80] == 'M') {
        s.SetEnabled(QStringLiteral("edt1"), false);
        for (size_t row = 0; row < 4; ++row) {
            const QString& box = TimeRows()[row].box;
            const QString& picker = TimeRows()[row].picker;
            const size_t at = 84 + 2 * row;
            if (b[at] == 0xFF) {
                s.SetChecked(box, false);
                s.SetEnabled(picker, false);
                continue;
            }
            // The row is switched on before its time is set: an impossible time leaves it on
            // with the picker's old time, rather than writing the row back as unused.
            s.SetEnabled(box, true);
            s.SetChecked(box, true);
            s.SetEnabled(picker, true);
            if (!ValidTime(b[at], b[at + 1])) return false;
            s.SetTime(picker, QTime(b[at], b[at + 1]));
        }
    }
    return true;
}

// A blank controller holds 0xFF where the layout puts fixed values. When the block would go
// back exactly as it was read but for those, they go back as read too, so that writing an
// unchanged blank controller leaves it blank; any changed byte brings the layout's values.
void KeepUnchangedFixedBytes(const DeviceSettings& settings, uint8_t* b) {
    const ReadBlockBytes* read = settings.ReadBlock(kSystemBlockAddress);
    if (!read) return;
    auto fixed = [](size_t i) {
        return std::find(kFixedSystemBytes.begin(), kFixedSystemBytes.end(), i) !=
               kFixedSystemBytes.end();
    };
    for (size_t i = 0; i < kBlockSize; ++i)
        if (b[i] != (*read)[i] && !fixed(i)) return;
    for (size_t i : kFixedSystemBytes) b[i] = (*read)[i];
}

}  // namespace

QString FieldLabel(const DeviceSettings& settings, const QString& name) {
    const FieldSpec* spec = settings.Spec(name);
    if (!spec) return name;
    // The function-code columns repeat per row; the row's caption tells them apart.
    if (name.startsWith(QLatin1String("cbb_tel")) && name.size() >= 8)
        return spec->group + ' ' + QStringLiteral("电话号") + name.at(7) + ' ' + spec->caption;
    if (spec->caption.isEmpty() && name.endsWith(QLatin1String("_ain")))
        return spec->group + ' ' + QStringLiteral("模拟量程");
    return spec->group + ' ' + spec->caption;
}

uint32_t BlockAddress(ConfigBlock block) {
    switch (block) {
        case ConfigBlock::PhoneBlock:
            return kPhoneBlockAddress;
        case ConfigBlock::SensorBlock:
            return kSensorBlockAddress;
        case ConfigBlock::GprsBlock:
            return kGprsBlockAddress;
        case ConfigBlock::SystemBlock:
            return kSystemBlockAddress;
    }
    return kPhoneBlockAddress;
}

size_t BlockUsedLength(ConfigBlock block) {
    switch (block) {
        case ConfigBlock::PhoneBlock:
            return 132;
        case ConfigBlock::SensorBlock:
            return 144;
        case ConfigBlock::GprsBlock:
            return 163;
        case ConfigBlock::SystemBlock:
            return 120;
    }
    return 0;
}

std::optional<FieldProblem> ValidateBlock(ConfigBlock block, const DeviceSettings& settings) {
    std::array<uint8_t, kBlockSize> scratch;
    scratch.fill(0xFF);
    const Failure f = RunEncoder(block, settings, scratch.data());
    if (!f) return std::nullopt;
    return FieldProblem{*f, FieldLabel(settings, *f)};
}

bool EncodeBlock(ConfigBlock block, const DeviceSettings& settings, ConfigImage& image) {
    uint8_t* b = image.data() + BlockAddress(block);
    if (RunEncoder(block, settings, b)) return false;
    if (block == ConfigBlock::SystemBlock) KeepUnchangedFixedBytes(settings, b);
    return true;
}

bool DecodeBlock(ConfigBlock block, const ConfigImage& image, DeviceSettings& settings) {
    const uint8_t* b = image.data() + BlockAddress(block);
    settings.KeepReadBlock(BlockAddress(block), b);
    switch (block) {
        case ConfigBlock::PhoneBlock:
            DecodePhone(b, settings);
            return true;
        case ConfigBlock::SensorBlock:
            DecodeSensor(b, settings);
            return true;
        case ConfigBlock::GprsBlock:
            DecodeGprs(b, settings);
            return true;
        case ConfigBlock::SystemBlock:
            return DecodeSystem(b, settings);
    }
    return false;
}

int64_t DigitValue(const QString& text) {
    long double value = 0;
    if (IsLatin1(text)) {  // each character is its own byte: no need to encode
        for (const QChar c : text) value = value * 10 + (static_cast<int>(c.unicode()) - 48);
    } else {
        for (uint8_t c : EncodeDeviceText(text)) value = value * 10 + (static_cast<int>(c) - 48);
    }
    constexpr long double kLimit = 9223372036854775808.0L;  // 2^63
    if (!std::isfinite(value) || value >= kLimit || value <= -kLimit) return 0;
    return static_cast<int64_t>(value);  // truncates toward zero
}

std::optional<int32_t> StandardInteger(const QString& text) {
    int i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(value);
}

namespace {

// The general conversion; FloatValue hands it what its fast path does not cover.
std::optional<float> FloatValueGeneral(const QString& input) {
    const QString text = input.trimmed();
    const QString upper = text.toUpper();
    if (upper == QLatin1String("NAN")) return std::numeric_limits<float>::quiet_NaN();
    if (upper == QLatin1String("INF") || upper == QLatin1String("+INF"))
        return std::numeric_limits<float>::infinity();
    if (upper == QLatin1String("-INF")) return -std::numeric_limits<float>::infinity();

    // Sign, digits with an optional point, optional exponent; nothing else.
    int i = 0;
    const int n = static_cast<int>(text.size());
    auto digit = [&](int at) { return at < n && text[at] >= '0' && text[at] <= '9'; };
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    int digits = 0;
    while (digit(i)) ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (digit(i)) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        if (!digit(i)) return std::nullopt;
        while (digit(i)) ++i;
    }
    if (i != n) return std::nullopt;
    bool ok = false;
    const double d = text.toDouble(&ok);
    if (!ok && !std::isinf(d)) return std::nullopt;
    if (!std::isfinite(d)) return std::nullopt;
    const auto f = static_cast<float>(d);  // round to nearest
    if (std::isinf(f)) return std::nullopt;
    return f;
}

bool EqualsUpper(const char* s, size_t n, std::string_view upper) {
    if (n != upper.size()) return false;
    for (size_t i = 0; i < n; ++i) {
        const char c = (s[i] >= 'a' && s[i] <= 'z') ? static_cast<char>(s[i] - 32) : s[i];
        if (c != upper[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<float> FloatValue(const QString& input) {
    // Plain ASCII text of sane length is parsed here without allocating; anything else
    // (other scripts, whose upper case may still spell "INF", or huge texts) takes the
    // general path so that both accept exactly the same texts.
    constexpr qsizetype kFastLimit = 64;
    qsizetype begin = 0, end = input.size();
    while (begin < end && input[begin].isSpace()) ++begin;
    while (end > begin && input[end - 1].isSpace()) --end;
    if (end - begin > kFastLimit) return FloatValueGeneral(input);
    char buf[kFastLimit];
    const size_t n = static_cast<size_t>(end - begin);
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = input[begin + static_cast<qsizetype>(i)].unicode();
        if (c >= 0x80) return FloatValueGeneral(input);
        buf[i] = static_cast<char>(c);
    }
    if (EqualsUpper(buf, n, "NAN")) return std::numeric_limits<float>::quiet_NaN();
    if (EqualsUpper(buf, n, "INF") || EqualsUpper(buf, n, "+INF"))
        return std::numeric_limits<float>::infinity();
    if (EqualsUpper(buf, n, "-INF")) return -std::numeric_limits<float>::infinity();

    // Sign, digits with an optional point, optional exponent; nothing else.
    size_t i = 0;
    auto digit = [&](size_t at) { return at < n && buf[at] >= '0' && buf[at] <= '9'; };
    if (i < n && (buf[i] == '+' || buf[i] == '-')) ++i;
    int digits = 0;
    while (digit(i)) ++i, ++digits;
    if (i < n && buf[i] == '.') {
        ++i;
        while (digit(i)) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (buf[i] == 'e' || buf[i] == 'E')) {
        ++i;
        if (i < n && (buf[i] == '+' || buf[i] == '-')) ++i;
        if (!digit(i)) return std::nullopt;
        while (digit(i)) ++i;
    }
    if (i != n) return std::nullopt;
    // from_chars takes no '+'; it rounds correctly, as the general conversion does.
    const char* first = buf[0] == '+' ? buf + 1 : buf;
    double d = 0;
    const auto [ptr, ec] = std::from_chars(first, buf + n, d);
    // Out of range (overflow, underflow, subnormals) is rare: let the general path decide.
    if (ec != std::errc() || ptr != buf + n) return FloatValueGeneral(input);
    if (!std::isfinite(d)) return std::nullopt;
    const auto f = static_cast<float>(d);  // round to nearest
    if (std::isinf(f)) return std::nullopt;
    return f;
}

QString FloatText(float value) { return QString(FloatChars(value).View()); }

}  // namespace r4t8
