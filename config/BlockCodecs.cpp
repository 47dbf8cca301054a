#include "config/BlockCodecs.h"

#include "config/TextCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace r4t8 {

namespace {

constexpr float kEmptyLimit = 999.0f;
constexpr float kEmptyRange = 99999.0f;
constexpr size_t kDeviceNumberWidth = 15;

// The first field that could not be converted; empty when all were.
using Failure = std::optional<QString>;

void PutText(uint8_t* b, size_t offset, size_t width, const QString& text) {
    std::memset(b + offset, 0xFF, width);
    const std::vector<uint8_t> bytes = EncodeDeviceText(text, width);
    std::copy(bytes.begin(), bytes.end(), b + offset);
}

QString GetText(const uint8_t* b, size_t offset, size_t width) {
    size_t n = 0;
    while (n < width && b[offset + n] != 0xFF) ++n;
    return DecodeDeviceText(b + offset, n);
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

QString Num(unsigned value) { return QString::number(value); }

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

// --- encoders -------------------------------------------------------------------------

class Encoder {
public:
    Encoder(const DeviceSettings& s, uint8_t* b) : m_s(s), m_b(b) {}

    Failure Phone() {
        for (int n = 1; n <= 6; ++n) {
            const size_t e = 22 * static_cast<size_t>(n - 1);
            const QString f1 = QStringLiteral("cbb_tel%1_f1").arg(n);
            const QString f2 = QStringLiteral("cbb_tel%1_f2").arg(n);
            const int p1 = m_s.Index(f1), p2 = m_s.Index(f2);
            if (p1 < 0 || p1 > 8) return f1;
            m_b[e] = static_cast<uint8_t>('1' + p1);
            if (p2 < 0 || p2 > 8) return f2;
            m_b[e + 1] = static_cast<uint8_t>('1' + p2);
            PutText(m_b, e + 2, 20, m_s.Text(QStringLiteral("edt_tel%1").arg(n)));
        }
        return {};
    }

    Failure Sensor() {
        for (int n = 1; n <= 4; ++n) {
            const size_t e = 36 * static_cast<size_t>(n - 1);
            const QString type = QStringLiteral("cbb_sensor%1").arg(n);
            const QString ain = QStringLiteral("cbb_sensor%1_ain").arg(n);
            const QString p = QStringLiteral("edt_Sensor%1_").arg(n);
            const int t = m_s.Index(type);
            if (t < 0 || t >= static_cast<int>(m_s.SensorTypeCodes().size())) return type;
            m_b[e] = static_cast<uint8_t>(m_s.SensorTypeCodes()[static_cast<size_t>(t)]);
            const QString stp = m_s.Text(p + "STP");
            m_b[e + 1] = static_cast<uint8_t>(stp.isEmpty() ? 99 : DigitValue(stp) & 0xFF);
            PutDigits(e + 2, p + "Relay", 9999);
            if (auto f = PutFloatField(e + 4, p + "SLow", kEmptyLimit)) return f;
            if (auto f = PutFloatField(e + 8, p + "Low", kEmptyLimit)) return f;
            if (auto f = PutFloatField(e + 12, p + "SHigh", kEmptyLimit)) return f;
            if (auto f = PutFloatField(e + 16, p + "High", kEmptyLimit)) return f;
            PutDigits(e + 20, p + "SP", 999);
            PutDigits(e + 22, p + "ens", 999);
            if (auto f = PutFloatField(e + 28, p + "start", kEmptyRange)) return f;
            if (auto f = PutFloatField(e + 32, p + "end", kEmptyRange)) return f;
            const int a = m_s.Index(ain);
            if (a < 0 || a > 3) return ain;
            m_b[e + 24] = static_cast<uint8_t>('0' + a);
            m_b[e + 25] = m_b[e + 26] = m_b[e + 27] = 0xFF;
        }
        return {};
    }

    Failure Gprs() {
        PutText(m_b, 0, 32, m_s.Text("edt_ip1"));
        PutText(m_b, 32, 32, m_s.Text("edt_ip2"));
        PutText(m_b, 67, 32, m_s.Text("edt_apn"));
        PutText(m_b, 99, 32, m_s.Text("edt_gprsname"));
        PutText(m_b, 131, 32, m_s.Text("edt_gprspassword"));
        if (auto f = PutInteger16(64, "edt_port", 0xFFFF)) return f;
        const int mode = m_s.Index("cbb_mode");
        if (mode < 0) return QStringLiteral("cbb_mode");
        m_b[66] = static_cast<uint8_t>(mode);
        return {};
    }

    Failure System() {
        PutText(m_b, 1, 20, m_s.Text("edt_tel_my"));
        // Operation password: four bytes at most, then two bytes that are always 0xFF.
        PutText(m_b, 21, 6, QString());
        const std::vector<uint8_t> pwd = EncodeDeviceText(m_s.Text("edt_pwd"), 4);
        std::copy(pwd.begin(), pwd.end(), m_b + 21);
        // Device number: right-aligned, '0' on the left.
        const std::vector<uint8_t> id = EncodeDeviceText(m_s.Text("edt_id"));
        if (id.size() > kDeviceNumberWidth) return QStringLiteral("edt_id");
        std::memset(m_b + 27, '0', kDeviceNumberWidth);
        std::copy(id.begin(), id.end(), m_b + 27 + kDeviceNumberWidth - id.size());
        PutText(m_b, 47, 6, m_s.Text("edt_PinCode"));
        PutText(m_b, 53, 20, m_s.Text("edt_GprsFailTel"));
        const QString rec = m_s.Text("edt_rec_time");
        if (rec.isEmpty()) {
            m_b[42] = 0xFF;
        } else {
            const auto v = StandardInteger(rec);
            if (!v) return QStringLiteral("edt_rec_time");
            m_b[42] = static_cast<uint8_t>(*v & 0xFF);
        }
        m_b[46] = m_s.Checked("chk1") ? 1 : 0;
        const int clock = m_s.Index("cbb_timemode");
        if (clock < 0) return QStringLiteral("cbb_timemode");
        m_b[0] = static_cast<uint8_t>(clock);
        m_b[43] = 0xFF;
        m_b[44] = 0x3C;
        m_b[45] = 0x00;
        m_b[73] = m_s.Checked("CheckBox1") ? 1 : 0;

        const int gprsMode = m_s.Index("cbb_gprsupmode");
        if (gprsMode < 0 || gprsMode > 1) return QStringLiteral("cbb_gprsupmode");
        m_b[75] = 0xFF;
        if (gprsMode == 0) {
            m_b[74] = 'D';
            if (auto f = PutInteger16(76, "edt_gprstimeup", 0)) return f;
            m_b[78] = m_b[79] = 0xFF;
        } else {
            m_b[74] = 'M';
            Put16(m_b, 76, 0);
            if (auto f = PutTime(78, "dtp_gprspointup")) return f;
        }

        const int upload = m_s.Index("cb_pdat");
        if (upload < 0 || upload > 1) return QStringLiteral("cb_pdat");
        if (upload == 0) {
            m_b[80] = 'D';
            if (auto f = PutInteger16(82, "edt1", 0)) return f;
            std::memset(m_b + 84, 0xFF, 8);
        } else {
            m_b[80] = 'M';
            int count = 0;
            for (int row = 1; row <= 4; ++row) {
                const size_t at = 84 + 2 * static_cast<size_t>(row - 1);
                if (m_s.Checked(QStringLiteral("CheckBox%1").arg(row + 1))) {
                    ++count;
                    if (auto f = PutTime(at, QStringLiteral("DateTimePicker%1").arg(row + 4)))
                        return f;
                } else {
                    m_b[at] = m_b[at + 1] = 0xFF;
                }
            }
            Put16(m_b, 82, count);
        }
        m_b[81] = 0xFF;
        PutText(m_b, 92, 20, m_s.Text("edit9"));
        m_b[112] = 'C';
        m_b[113] = 0xFF;
        if (auto f = PutInteger16(114, "edt_relay_time", 0)) return f;
        std::memset(m_b + 116, 0xFF, 4);
        return {};
    }

private:
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

void DecodePhone(const uint8_t* b, DeviceSettings& s) {
    for (int n = 1; n <= 6; ++n) {
        const size_t e = 22 * static_cast<size_t>(n - 1);
        if (b[e] >= '1' && b[e] <= '2')
            s.SetIndex(QStringLiteral("cbb_tel%1_f1").arg(n), b[e] - '1');
        if (b[e + 1] >= '1' && b[e + 1] <= '4')
            s.SetIndex(QStringLiteral("cbb_tel%1_f2").arg(n), b[e + 1] - '1');
        s.SetText(QStringLiteral("edt_tel%1").arg(n), GetText(b, e + 2, 20));
    }
}

void DecodeSensor(const uint8_t* b, DeviceSettings& s) {
    for (int n = 1; n <= 4; ++n) {
        const size_t e = 36 * static_cast<size_t>(n - 1);
        const QString type = QStringLiteral("cbb_sensor%1").arg(n);
        const QString p = QStringLiteral("edt_Sensor%1_").arg(n);
        const int positions = std::min<int>(static_cast<int>(s.Items(type).size()),
                                            static_cast<int>(s.SensorTypeCodes().size()));
        for (int i = 0; i < positions; ++i) {
            if (static_cast<uint8_t>(s.SensorTypeCodes()[static_cast<size_t>(i)]) == b[e]) {
                s.SetIndex(type, i);
                break;
            }
        }
        s.SetText(p + "STP", Num(b[e + 1]));
        s.SetText(p + "Relay", Num(Get16(b, e + 2)));
        s.SetText(p + "SLow", FloatText(GetFloat(b, e + 4)));
        s.SetText(p + "Low", FloatText(GetFloat(b, e + 8)));
        s.SetText(p + "SHigh", FloatText(GetFloat(b, e + 12)));
        s.SetText(p + "High", FloatText(GetFloat(b, e + 16)));
        s.SetText(p + "SP", Num(Get16(b, e + 20)));
        s.SetText(p + "ens", Num(Get16(b, e + 22)));
        if (b[e + 24] >= '0' && b[e + 24] <= '3')
            s.SetIndex(QStringLiteral("cbb_sensor%1_ain").arg(n), b[e + 24] - '0');
        s.SetText(p + "start", FloatText(GetFloat(b, e + 28)));
        s.SetText(p + "end", FloatText(GetFloat(b, e + 32)));
    }
}

void DecodeGprs(const uint8_t* b, DeviceSettings& s) {
    s.SetText("edt_ip1", GetText(b, 0, 32));
    s.SetText("edt_ip2", GetText(b, 32, 32));
    s.SetText("edt_port", Num(Get16(b, 64)));
    s.SetIndex("cbb_mode", b[66]);  // beyond the list: no selection
    s.SetText("edt_apn", GetText(b, 67, 32));
    s.SetText("edt_gprsname", GetText(b, 99, 32));
    s.SetText("edt_gprspassword", GetText(b, 131, 32));
}

bool ValidTime(uint8_t hour, uint8_t minute) { return hour <= 23 && minute <= 59; }

bool DecodeSystem(const uint8_t* b, DeviceSettings& s) {
    s.SetText("edt_tel_my", GetText(b, 1, 20));
    s.SetText("edt_pwd", GetText(b, 21, 6));
    s.SetText("edt_id", DecodeDeviceText(b + 27, kDeviceNumberWidth));
    s.SetText("edt_rec_time", Num(b[42]));
    s.SetText("edt_PinCode", GetText(b, 47, 6));
    s.SetText("edt_GprsFailTel", GetText(b, 53, 20));
    s.SetIndex("cbb_timemode", b[0]);
    s.SetChecked("chk1", b[46] != 0);
    s.SetChecked("CheckBox1", b[73] != 0);
    s.SetText("edit9", GetText(b, 92, 20));
    s.SetText("edt_relay_time", Num(Get16(b, 114)));

    if (b[74] == 'D') {
        s.SetIndex("cbb_gprsupmode", 0);
        s.SetText("edt_gprstimeup", Num(Get16(b, 76)));
        s.SetEnabled("edt_gprstimeup", true);
        s.SetEnabled("dtp_gprspointup", false);
        s.SetTime("dtp_gprspointup", QTime(0, 0));
    } else if (b[74] == 'M') {
        s.SetIndex("cbb_gprsupmode", 1);
        s.SetEnabled("edt_gprstimeup", false);
        if (b[78] == 0xFF) {
            s.SetEnabled("dtp_gprspointup", false);
        } else {
            if (!ValidTime(b[78], b[79])) return false;
            s.SetEnabled("dtp_gprspointup", true);
            s.SetTime("dtp_gprspointup", QTime(b[78], b[79]));
        }
    }

    if (b[80] == 'D') {
        s.SetIndex("cb_pdat", 0);
        s.SetText("edt1", Num(Get16(b, 82)));
        s.SetEnabled("edt1", true);
        for (int k = 2; k <= 5; ++k) {
            s.SetEnabled(QStringLiteral("CheckBox%1").arg(k), false);
            s.SetChecked(QStringLiteral("CheckBox%1").arg(k), false);
        }
        for (int k = 5; k <= 8; ++k) {
            s.SetEnabled(QStringLiteral("DateTimePicker%1").arg(k), false);
            s.SetTime(QStringLiteral("DateTimePicker%1").arg(k), QTime(0, 0));
        }
    } else if (b[80] == 'M') {
        s.SetIndex("cb_pdat", 1);
        s.SetEnabled("edt1", false);
        for (int row = 1; row <= 4; ++row) {
            const QString box = QStringLiteral("CheckBox%1").arg(row + 1);
            const QString picker = QStringLiteral("DateTimePicker%1").arg(row + 4);
            const size_t at = 84 + 2 * static_cast<size_t>(row - 1);
            if (b[at] == 0xFF) {
                s.SetChecked(box, false);
                s.SetEnabled(picker, false);
                continue;
            }
            if (!ValidTime(b[at], b[at + 1])) return false;
            s.SetEnabled(box, true);
            s.SetChecked(box, true);
            s.SetEnabled(picker, true);
            s.SetTime(picker, QTime(b[at], b[at + 1]));
        }
    }
    return true;
}

QString LabelOf(const DeviceSettings& settings, const QString& name) {
    const FieldSpec* spec = settings.Spec(name);
    if (!spec) return name;
    // The function-code columns repeat per row; the row's caption tells them apart.
    if (name.startsWith(QLatin1String("cbb_tel")) && name.size() >= 8)
        return spec->group + ' ' + QStringLiteral("电话号") + name.at(7) + ' ' + spec->caption;
    if (spec->caption.isEmpty() && name.endsWith(QLatin1String("_ain")))
        return spec->group + ' ' + QStringLiteral("模拟量程");
    return spec->group + ' ' + spec->caption;
}

}  // namespace

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
    return FieldProblem{*f, LabelOf(settings, *f)};
}

bool EncodeBlock(ConfigBlock block, const DeviceSettings& settings, ConfigImage& image) {
    return !RunEncoder(block, settings, image.data() + BlockAddress(block));
}

bool DecodeBlock(ConfigBlock block, const ConfigImage& image, DeviceSettings& settings) {
    const uint8_t* b = image.data() + BlockAddress(block);
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
    for (uint8_t c : EncodeDeviceText(text)) value = value * 10 + (static_cast<int>(c) - 48);
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

std::optional<float> FloatValue(const QString& input) {
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

QString FloatText(float value) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    // A float times 100 is exact in double, so rounding it rounds the true value, half away
    // from zero.
    const double hundredths = std::round(std::fabs(static_cast<double>(value)) * 100.0);
    std::string digits = IntegerDigits(hundredths);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    digits.insert(digits.size() - 2, 1, '.');
    if (value < 0 && hundredths != 0) digits.insert(0, 1, '-');
    return QString::fromLatin1(digits.data(), static_cast<qsizetype>(digits.size()));
}

}  // namespace r4t8
