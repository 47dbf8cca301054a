#include "config/BlockCodecs.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "config/BlockLayout.h"
#include "config/TextCodec.h"

namespace r4t8 {

namespace {

using namespace layout;

constexpr float kEmptyLimit = 999.0f;
constexpr float kEmptyRange = 99999.0f;
// SystemBlock bytes that carry fixed values, no field: the 60 and the "C".
constexpr std::array<size_t, 3> kFixedSystemBytes{layout::kFixed44, layout::kFixed45,
                                                  layout::kFixedC};

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
        for (size_t row = 0; row < kPhoneRows; ++row) {
            const PhoneNames& names = PhoneFields()[row];
            const size_t e = kPhoneRowSize * row;
            if (auto f = PutDigitCode(e + kPhoneFunction1, names.f1)) return f;
            if (auto f = PutDigitCode(e + kPhoneFunction2, names.f2)) return f;
            PutText(m_b, e + kPhoneNumber, kPhoneNumberWidth, m_s.Text(names.tel));
        }
        return {};
    }

    Failure Sensor() {
        for (size_t row = 0; row < kSensorRows; ++row) {
            const SensorNames& p = SensorFields()[row];
            const size_t e = kSensorRowSize * row;
            const int t = m_s.Index(p.type);
            if (t >= static_cast<int>(m_s.SensorTypeCodes().size())) return p.type;
            if (t < 0)
                PutKept(e + kSensorType, 1, p.type);
            else
                m_b[e + kSensorType] =
                    static_cast<uint8_t>(m_s.SensorTypeCodes()[static_cast<size_t>(t)]);
            const QString stp = m_s.Text(p.stp);
            m_b[e + kSensorStp] = static_cast<uint8_t>(stp.isEmpty() ? 99 : DigitValue(stp) & 0xFF);
            PutDigits(e + kSensorRelay, p.relay, 9999);
            if (auto f = PutFloatField(e + kSensorSuperLow, p.sLow, kEmptyLimit)) return f;
            if (auto f = PutFloatField(e + kSensorLow, p.low, kEmptyLimit)) return f;
            if (auto f = PutFloatField(e + kSensorSuperHigh, p.sHigh, kEmptyLimit)) return f;
            if (auto f = PutFloatField(e + kSensorHigh, p.high, kEmptyLimit)) return f;
            PutDigits(e + kSensorSp, p.sp, 999);
            PutDigits(e + kSensorEns, p.ens, 999);
            if (auto f = PutFloatField(e + kSensorRangeStart, p.start, kEmptyRange)) return f;
            if (auto f = PutFloatField(e + kSensorRangeEnd, p.end, kEmptyRange)) return f;
            const int a = m_s.Index(p.ain);
            if (a > 3) return p.ain;
            if (a < 0)
                PutKept(e + kSensorAin, 1, p.ain);
            else
                m_b[e + kSensorAin] = static_cast<uint8_t>('0' + a);
            std::memset(m_b + e + kSensorSpare, 0xFF, kSensorSpareWidth);
        }
        return {};
    }

    Failure Gprs() {
        PutText(m_b, kGprsIp1, kGprsTextWidth, m_s.Text(QStringLiteral("edt_ip1")));
        PutText(m_b, kGprsIp2, kGprsTextWidth, m_s.Text(QStringLiteral("edt_ip2")));
        PutText(m_b, kGprsApn, kGprsTextWidth, m_s.Text(QStringLiteral("edt_apn")));
        PutText(m_b, kGprsName, kGprsTextWidth, m_s.Text(QStringLiteral("edt_gprsname")));
        PutText(m_b, kGprsPassword, kGprsTextWidth, m_s.Text(QStringLiteral("edt_gprspassword")));
        if (auto f = PutInteger16(kGprsPort, QStringLiteral("edt_port"), 0xFFFF)) return f;
        PutPosition(kGprsMode, QStringLiteral("cbb_mode"));
        return {};
    }

    Failure System() {
        PutText(m_b, kOwnNumber, kOwnNumberWidth, m_s.Text(QStringLiteral("edt_tel_my")));
        // Operation password: four bytes at most, then two bytes that are always 0xFF.
        PutText(m_b, kPassword, kPasswordWidth, QString());
        const std::vector<uint8_t> pwd =
            EncodeDeviceText(m_s.Text(QStringLiteral("edt_pwd")), kPasswordUsed);
        std::copy(pwd.begin(), pwd.end(), m_b + kPassword);
        // Device number: right-aligned, '0' on the left.
        const std::vector<uint8_t> id = EncodeDeviceText(m_s.Text(QStringLiteral("edt_id")));
        if (id.size() > kDeviceNumberWidth) return QStringLiteral("edt_id");
        std::memset(m_b + kDeviceNumber, '0', kDeviceNumberWidth);
        std::copy(id.begin(), id.end(), m_b + kDeviceNumber + kDeviceNumberWidth - id.size());
        PutText(m_b, kPinCode, kPinCodeWidth, m_s.Text(QStringLiteral("edt_PinCode")));
        PutText(m_b, kGprsFailNumber, kGprsFailNumberWidth,
                m_s.Text(QStringLiteral("edt_GprsFailTel")));
        const QString rec = m_s.Text(QStringLiteral("edt_rec_time"));
        if (rec.isEmpty()) {
            m_b[kRecordTime] = 0xFF;
        } else {
            const auto v = StandardInteger(rec);
            if (!v) return QStringLiteral("edt_rec_time");
            m_b[kRecordTime] = static_cast<uint8_t>(*v & 0xFF);
        }
        PutFlag(kChk1, QStringLiteral("chk1"));
        PutPosition(kTimeMode, QStringLiteral("cbb_timemode"));
        m_b[kFixed43] = 0xFF;
        m_b[kFixed44] = 0x3C;
        m_b[kFixed45] = 0x00;
        PutFlag(kCheckBox1, QStringLiteral("CheckBox1"));

        const int gprsMode = m_s.Index(QStringLiteral("cbb_gprsupmode"));
        if (gprsMode > 1) return QStringLiteral("cbb_gprsupmode");
        if (gprsMode < 0) {
            PutKept(kGprsUpload, kGprsUploadWidth, QStringLiteral("cbb_gprsupmode"));
        } else if (gprsMode == 0) {
            m_b[kGprsUpload] = 'D';
            m_b[kGprsUpload + 1] = 0xFF;
            if (auto f = PutInteger16(kGprsUploadInterval, QStringLiteral("edt_gprstimeup"), 0))
                return f;
            m_b[kGprsUploadTime] = m_b[kGprsUploadTime + 1] = 0xFF;
        } else {
            m_b[kGprsUpload] = 'M';
            m_b[kGprsUpload + 1] = 0xFF;
            Put16(m_b, kGprsUploadInterval, 0);
            if (auto f = PutTime(kGprsUploadTime, QStringLiteral("dtp_gprspointup"))) return f;
        }

        const int upload = m_s.Index(QStringLiteral("cb_pdat"));
        if (upload > 1) return QStringLiteral("cb_pdat");
        if (upload < 0) {
            PutKept(kUpload, kUploadWidth, QStringLiteral("cb_pdat"));
        } else if (upload == 0) {
            m_b[kUpload] = 'D';
            if (auto f = PutInteger16(kUploadCount, QStringLiteral("edt1"), 0)) return f;
            std::memset(m_b + kUploadTimes, 0xFF, 2 * kUploadTimeRows);
        } else {
            m_b[kUpload] = 'M';
            int count = 0;
            for (size_t row = 0; row < kUploadTimeRows; ++row) {
                const size_t at = kUploadTimes + 2 * row;
                if (m_s.Checked(TimeRows()[row].box)) {
                    ++count;
                    if (auto f = PutTime(at, TimeRows()[row].picker)) return f;
                } else {
                    m_b[at] = m_b[at + 1] = 0xFF;
                }
            }
            Put16(m_b, kUploadCount, count);
        }
        m_b[kUpload + 1] = 0xFF;
        PutText(m_b, kEdit9, kEdit9Width, m_s.Text(QStringLiteral("edit9")));
        m_b[kFixedC] = 'C';
        m_b[kFixed113] = 0xFF;
        if (auto f = PutInteger16(kRelayTime, QStringLiteral("edt_relay_time"), 0)) return f;
        std::memset(m_b + kSystemSpare, 0xFF, kSystemSpareWidth);
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
    for (size_t row = 0; row < kPhoneRows; ++row) {
        const PhoneNames& names = PhoneFields()[row];
        const uint8_t* f1 = b + kPhoneRowSize * row + kPhoneFunction1;
        const uint8_t* f2 = b + kPhoneRowSize * row + kPhoneFunction2;
        SelectCode(s, names.f1, *f1 >= '1' && *f1 <= '2' ? *f1 - '1' : -1, f1, 1);
        SelectCode(s, names.f2, *f2 >= '1' && *f2 <= '4' ? *f2 - '1' : -1, f2, 1);
        SetText(s, names.tel, b, kPhoneRowSize * row + kPhoneNumber, kPhoneNumberWidth);
    }
}

void DecodeSensor(const uint8_t* b, DeviceSettings& s) {
    for (size_t row = 0; row < kSensorRows; ++row) {
        const SensorNames& p = SensorFields()[row];
        const size_t e = kSensorRowSize * row;
        const int positions = std::min<int>(static_cast<int>(s.Items(p.type).size()),
                                            static_cast<int>(s.SensorTypeCodes().size()));
        int type = -1;
        for (int i = 0; i < positions && type < 0; ++i)
            if (static_cast<uint8_t>(s.SensorTypeCodes()[static_cast<size_t>(i)]) ==
                b[e + kSensorType])
                type = i;
        SelectCode(s, p.type, type, b + e + kSensorType, 1);
        s.SetLatin1Text(p.stp, Num(b[e + kSensorStp]).View());
        s.SetLatin1Text(p.relay, Num(Get16(b, e + kSensorRelay)).View());
        s.SetLatin1Text(p.sLow, FloatChars(GetFloat(b, e + kSensorSuperLow)).View());
        s.SetLatin1Text(p.low, FloatChars(GetFloat(b, e + kSensorLow)).View());
        s.SetLatin1Text(p.sHigh, FloatChars(GetFloat(b, e + kSensorSuperHigh)).View());
        s.SetLatin1Text(p.high, FloatChars(GetFloat(b, e + kSensorHigh)).View());
        s.SetLatin1Text(p.sp, Num(Get16(b, e + kSensorSp)).View());
        s.SetLatin1Text(p.ens, Num(Get16(b, e + kSensorEns)).View());
        const uint8_t* ain = b + e + kSensorAin;
        SelectCode(s, p.ain, *ain >= '0' && *ain <= '3' ? *ain - '0' : -1, ain, 1);
        s.SetLatin1Text(p.start, FloatChars(GetFloat(b, e + kSensorRangeStart)).View());
        s.SetLatin1Text(p.end, FloatChars(GetFloat(b, e + kSensorRangeEnd)).View());
    }
}

void DecodeGprs(const uint8_t* b, DeviceSettings& s) {
    SetText(s, QStringLiteral("edt_ip1"), b, kGprsIp1, kGprsTextWidth);
    SetText(s, QStringLiteral("edt_ip2"), b, kGprsIp2, kGprsTextWidth);
    s.SetLatin1Text(QStringLiteral("edt_port"), Num(Get16(b, kGprsPort)).View());
    // A position beyond the list: none.
    SelectCode(s, QStringLiteral("cbb_mode"), b[kGprsMode], b + kGprsMode, 1);
    SetText(s, QStringLiteral("edt_apn"), b, kGprsApn, kGprsTextWidth);
    SetText(s, QStringLiteral("edt_gprsname"), b, kGprsName, kGprsTextWidth);
    SetText(s, QStringLiteral("edt_gprspassword"), b, kGprsPassword, kGprsTextWidth);
}

bool ValidTime(uint8_t hour, uint8_t minute) { return hour <= 23 && minute <= 59; }

bool DecodeSystem(const uint8_t* b, DeviceSettings& s) {
    SetText(s, QStringLiteral("edt_tel_my"), b, kOwnNumber, kOwnNumberWidth);
    SetText(s, QStringLiteral("edt_pwd"), b, kPassword, kPasswordWidth);
    SetDeviceText(s, QStringLiteral("edt_id"), b + kDeviceNumber, kDeviceNumberWidth);
    s.SetLatin1Text(QStringLiteral("edt_rec_time"), Num(b[kRecordTime]).View());
    SetText(s, QStringLiteral("edt_PinCode"), b, kPinCode, kPinCodeWidth);
    SetText(s, QStringLiteral("edt_GprsFailTel"), b, kGprsFailNumber, kGprsFailNumberWidth);
    SelectCode(s, QStringLiteral("cbb_timemode"), b[kTimeMode], b + kTimeMode, 1);
    SetFlag(s, QStringLiteral("chk1"), b[kChk1]);
    SetFlag(s, QStringLiteral("CheckBox1"), b[kCheckBox1]);
    SetText(s, QStringLiteral("edit9"), b, kEdit9, kEdit9Width);
    s.SetLatin1Text(QStringLiteral("edt_relay_time"), Num(Get16(b, kRelayTime)).View());

    const QString gprsMode = QStringLiteral("cbb_gprsupmode");
    const uint8_t gprsCode = b[kGprsUpload];
    SelectCode(s, gprsMode,
               gprsCode == 'D'   ? 0
               : gprsCode == 'M' ? 1
                                 : -1,
               b + kGprsUpload, kGprsUploadWidth);
    if (gprsCode == 'D') {
        s.SetLatin1Text(QStringLiteral("edt_gprstimeup"),
                        Num(Get16(b, kGprsUploadInterval)).View());
        s.SetEnabled(QStringLiteral("edt_gprstimeup"), true);
        s.SetEnabled(QStringLiteral("dtp_gprspointup"), false);
        s.SetTime(QStringLiteral("dtp_gprspointup"), QTime(0, 0));
    } else if (gprsCode == 'M') {
        s.SetEnabled(QStringLiteral("edt_gprstimeup"), false);
        const uint8_t* time = b + kGprsUploadTime;
        if (time[0] == 0xFF) {
            s.SetEnabled(QStringLiteral("dtp_gprspointup"), false);
        } else {
            // The picker is enabled before its time is set, so an impossible time stops the
            // decoder with the picker on and its old time kept.
            s.SetEnabled(QStringLiteral("dtp_gprspointup"), true);
            if (!ValidTime(time[0], time[1])) return false;
            s.SetTime(QStringLiteral("dtp_gprspointup"), QTime(time[0], time[1]));
        }
    }

    const QString upload = QStringLiteral("cb_pdat");
    const uint8_t uploadCode = b[kUpload];
    SelectCode(s, upload,
               uploadCode == 'D'   ? 0
               : uploadCode == 'M' ? 1
                                   : -1,
               b + kUpload, kUploadWidth);
    if (uploadCode == 'D') {
        s.SetLatin1Text(QStringLiteral("edt1"), Num(Get16(b, kUploadCount)).View());
        s.SetEnabled(QStringLiteral("edt1"), true);
        for (const TimeRowNames& row : TimeRows()) {
            s.SetEnabled(row.box, false);
            s.SetChecked(row.box, false);
        }
        for (const TimeRowNames& row : TimeRows()) {
            s.SetEnabled(row.picker, false);
            s.SetTime(row.picker, QTime(0, 0));
        }
    } else if (uploadCode == 'M') {
        s.SetEnabled(QStringLiteral("edt1"), false);
        for (size_t row = 0; row < kUploadTimeRows; ++row) {
            const QString& box = TimeRows()[row].box;
            const QString& picker = TimeRows()[row].picker;
            const size_t at = kUploadTimes + 2 * row;
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
            return kPhoneUsed;
        case ConfigBlock::SensorBlock:
            return kSensorUsed;
        case ConfigBlock::GprsBlock:
            return kGprsUsed;
        case ConfigBlock::SystemBlock:
            return kSystemUsed;
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
