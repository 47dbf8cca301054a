// The allocation-free conversions and lookups must give exactly what the straightforward
// ones (QString::toDouble, text rebuilt by digits, name scans) gave.
#include <gtest/gtest.h>

#include <QStringList>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "config/TextCodec.h"
#include "protocol/Sender.h"

namespace r4t8 {
namespace {

// The previous conversion, kept as the reference the fast one is held to.
std::optional<float> ReferenceFloatValue(const QString& input) {
    const QString text = input.trimmed();
    const QString upper = text.toUpper();
    if (upper == QLatin1String("NAN")) return std::numeric_limits<float>::quiet_NaN();
    if (upper == QLatin1String("INF") || upper == QLatin1String("+INF"))
        return std::numeric_limits<float>::infinity();
    if (upper == QLatin1String("-INF")) return -std::numeric_limits<float>::infinity();
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
    const auto f = static_cast<float>(d);
    if (std::isinf(f)) return std::nullopt;
    return f;
}

// Same value, bit for bit (NaN, signed zero).
std::string Describe(const std::optional<float>& v) {
    if (!v) return "none";
    uint32_t bits = 0;
    std::memcpy(&bits, &*v, sizeof bits);
    return std::to_string(bits);
}

void ExpectSameAsReference(const QString& text) {
    EXPECT_EQ(Describe(FloatValue(text)), Describe(ReferenceFloatValue(text)))
        << "text: \"" << text.toStdString() << "\"";
}

TEST(FloatValueParser, AgreesWithReferenceOnOddTexts) {
    const QStringList texts{"",
                            " ",
                            "\t",
                            "0",
                            "-0",
                            "+0",
                            "+1",
                            "-1",
                            "-.5",
                            "+.5",
                            ".5",
                            "5.",
                            ".",
                            "-",
                            "+",
                            "+-1",
                            "--1",
                            "1e3",
                            "1E3",
                            "1e+3",
                            "1e-3",
                            "1e",
                            "1e+",
                            "e3",
                            ".e3",
                            "1.e3",
                            ".5e-2",
                            " 12.5 ",
                            "\t-3.25\n",
                            "1 2",
                            "12,5",
                            "0x10",
                            "1f",
                            "1d",
                            "NAN",
                            "nan",
                            "NaN",
                            " nan ",
                            "-NAN",
                            "+NAN",
                            "INF",
                            "inf",
                            "+inf",
                            "-Inf",
                            "INFINITY",
                            "infinity",
                            "IN",
                            "1.5.2",
                            "999",
                            "99999",
                            "-999.99",
                            "0.005",
                            "0.015",
                            "123456789",
                            "16777217",
                            "3.4028235e38",
                            "3.4028236e38",
                            "3.5e38",
                            "-3.5e38",
                            "1e39",
                            "1e308",
                            "1e309",
                            "-1e309",
                            "1e-38",
                            "1e-45",
                            "1e-46",
                            "1e-300",
                            "1e-310",
                            "4e-320",
                            "1e-400",
                            "0e999999",
                            "0.0e-999",
                            "1e99999999999999999999",
                            "1e-99999999999999999999",
                            "00000000000000000001.5",
                            "0.30000000000000004",
                            "2.5000000000000000000000001",
                            "9007199254740993",
                            "\u00A01.5",
                            "1.5\u3000",
                            "\u0131nf",
                            "\u0131NF",
                            "-\u0131nf",
                            "n\u00E1n",
                            "\uFF11",
                            "1\u0660",
                            "\u2212"
                            "1",
                            "1e\u0033"};
    for (const QString& t : texts) ExpectSameAsReference(t);
}

TEST(FloatValueParser, AgreesWithReferenceOnLongTexts) {
    ExpectSameAsReference(QString(400, '9'));
    ExpectSameAsReference("0." + QString(500, '0') + "1");
    ExpectSameAsReference("1." + QString(60, '0') + "1");  // just under the fast path's limit
    ExpectSameAsReference("1." + QString(70, '0') + "1");  // just over it
    ExpectSameAsReference(QString(70, ' ') + "2.5" + QString(70, ' '));
    ExpectSameAsReference("1" + QString(100, '0') + "e-100");
}

TEST(FloatValueParser, AgreesWithReferenceOnRandomNumbers) {
    std::mt19937 rng(11);
    const char alphabet[] = "0123456789.+-eE ";
    for (int round = 0; round < 20000; ++round) {
        QString t;
        if (round % 2 == 0) {
            // Well-formed numbers of many magnitudes and lengths.
            std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
            const int exp = static_cast<int>(rng() % 90) - 45;
            t = QString::number(mantissa(rng), 'g', 1 + static_cast<int>(rng() % 17));
            if (rng() % 2) t += QStringLiteral("e%1").arg(exp);
        } else {
            // Random strings over the characters a number is made of.
            const int len = 1 + static_cast<int>(rng() % 10);
            for (int i = 0; i < len; ++i) t += QChar(alphabet[rng() % (sizeof alphabet - 1)]);
        }
        ExpectSameAsReference(t);
    }
}

TEST(FloatValueParser, AgreesWithReferenceOnEveryTwoDecimalText) {
    // What the window shows and users retype: every value from -1000.00 to 1000.00.
    for (int h = -100000; h <= 100000; ++h) {
        const QString t = QStringLiteral("%1%2.%3")
                              .arg(h < 0 ? "-" : "")
                              .arg(std::abs(h) / 100)
                              .arg(std::abs(h) % 100, 2, 10, QChar('0'));
        const auto got = FloatValue(t);
        ASSERT_TRUE(got.has_value()) << t.toStdString();
        ASSERT_EQ(Describe(got), Describe(ReferenceFloatValue(t))) << t.toStdString();
    }
}

// The previous text of a stored float, built digit by digit through a long double.
QString ReferenceFloatText(float value) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    const double hundredths = std::round(std::fabs(static_cast<double>(value)) * 100.0);
    // Exact decimal digits of an integer-valued double by repeated doubling in base 10.
    int exponent = 0;
    const double mantissa = std::frexp(hundredths, &exponent);
    auto m = static_cast<uint64_t>(std::ldexp(mantissa, 53));
    exponent -= 53;
    while (exponent < 0 && m != 0) {
        m >>= 1;
        ++exponent;
    }
    std::vector<int> digits;  // least significant first
    for (uint64_t t = m; t != 0; t /= 10) digits.push_back(static_cast<int>(t % 10));
    for (int i = 0; i < exponent; ++i) {
        int carry = 0;
        for (int& d : digits) {
            const int v = d * 2 + carry;
            d = v % 10;
            carry = v / 10;
        }
        if (carry) digits.push_back(carry);
    }
    std::string s;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) s += char('0' + *it);
    if (s.empty()) s = "0";
    if (s.size() < 3) s.insert(0, 3 - s.size(), '0');
    s.insert(s.size() - 2, 1, '.');
    if (value < 0 && hundredths != 0) s.insert(0, 1, '-');
    return QString::fromLatin1(s.c_str());
}

TEST(FloatTextFormat, AgreesWithDigitByDigitText) {
    const std::vector<float> fixed{0.0f,
                                   -0.0f,
                                   0.004f,
                                   0.005f,
                                   -0.004f,
                                   -0.005f,
                                   1.0f,
                                   999.0f,
                                   99999.0f,
                                   -12.345f,
                                   1e17f,
                                   1.8e17f,
                                   1.9e17f,
                                   1e18f,
                                   3.4028235e38f,
                                   -3.4028235e38f,
                                   1e-45f,
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::quiet_NaN()};
    for (float f : fixed) EXPECT_EQ(FloatText(f), ReferenceFloatText(f)) << f;
    std::mt19937 rng(5);
    for (int i = 0; i < 20000; ++i) {
        const uint32_t bits = static_cast<uint32_t>(rng());
        float f = 0;
        std::memcpy(&f, &bits, sizeof f);
        ASSERT_EQ(FloatText(f), ReferenceFloatText(f)) << bits;
    }
}

TEST(DigitValueFastPath, AgreesWithEncodedBytes) {
    auto reference = [](const QString& text) {
        long double value = 0;
        for (uint8_t c : EncodeDeviceText(text)) value = value * 10 + (static_cast<int>(c) - 48);
        if (!std::isfinite(value) || value >= 9223372036854775808.0L ||
            value <= -9223372036854775808.0L)
            return int64_t{0};
        return static_cast<int64_t>(value);
    };
    const QStringList texts{"",
                            "0",
                            "7",
                            "99",
                            "9999",
                            "12a",
                            "-1",
                            " 5",
                            "\u00FF",
                            "\u00E9"
                            "1",
                            "\u4E2D",
                            "1\u4E2D",
                            QString(25, '9'),
                            "922337203685477580",
                            "9223372036854775807"};
    for (const QString& t : texts) EXPECT_EQ(DigitValue(t), reference(t)) << t.toStdString();
}

TEST(DeviceSettingsLookup, EveryNameFindsItsOwnSpec) {
    DeviceSettings s;
    for (const FieldSpec& spec : s.Specs()) {
        ASSERT_EQ(s.Spec(spec.name), &spec) << spec.name.toStdString();
        EXPECT_TRUE(s.Has(spec.name));
    }
    EXPECT_EQ(s.Spec(QStringLiteral("edt_Sensor5_SLow")), nullptr);
    EXPECT_EQ(s.Spec(QString()), nullptr);
    EXPECT_EQ(s.Spec(QStringLiteral("EDT_ID")), nullptr);  // names are case-sensitive
}

TEST(DeviceSettingsLookup, Latin1TextBehavesAsSetText) {
    struct Case {
        const char* name;
        const char* before;  // set first through SetText
        const char* text;
    };
    const Case cases[] = {
        {"edt_Sensor1_SLow", "1.00", "1.00"},  // unchanged edit
        {"edt_Sensor1_SLow", "1.00", "2.00"},  // changed edit
        {"edt_Sensor1_SLow", "1.00", ""},     {"edt_port", "8000", "8000"},
        {"cbb_mode", nullptr, "TCP"},     // combo with that item selected: becomes typed text
        {"cbb_mode", "UDP", "UDP"},       // combo already holding typed text
        {"edt_gprstimeup", "", "99999"},  // limit rule shortens it
        {"no_such_control", nullptr, "1"},
    };
    for (const Case& c : cases) {
        const QString name = QString::fromLatin1(c.name);
        DeviceSettings a, b;
        if (c.before) {
            a.SetText(name, QString::fromLatin1(c.before));
            b.SetText(name, QString::fromLatin1(c.before));
        }
        int notesA = 0, notesB = 0;
        a.AddListener([&](const QString&) { ++notesA; });
        b.AddListener([&](const QString&) { ++notesB; });
        a.SetText(name, QString::fromLatin1(c.text));
        b.SetLatin1Text(name, QLatin1StringView(c.text));
        EXPECT_EQ(b.Text(name), a.Text(name)) << c.name << " " << c.text;
        EXPECT_EQ(b.Index(name), a.Index(name)) << c.name << " " << c.text;
        EXPECT_EQ(notesB, notesA) << c.name << " " << c.text;
    }
}

TEST(DecodeWithoutChange, SendsNoNotifications) {
    DeviceSettings s;
    auto image = std::make_unique<ConfigImage>();
    ClearConfigImage(*image);
    const ConfigBlock blocks[] = {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock,
                                  ConfigBlock::GprsBlock, ConfigBlock::SystemBlock};
    s.SetText(QStringLiteral("edt_tel1"), QStringLiteral("13800138000"));
    s.SetText(QStringLiteral("edt_ip1"), QStringLiteral("\u4E2D\u6587.example"));
    for (ConfigBlock b : blocks) ASSERT_TRUE(EncodeBlock(b, s, *image));
    for (ConfigBlock b : blocks) ASSERT_TRUE(DecodeBlock(b, *image, s));
    QStringList changed;
    s.AddListener([&](const QString& name) { changed << name; });
    for (ConfigBlock b : blocks) ASSERT_TRUE(DecodeBlock(b, *image, s));
    EXPECT_TRUE(changed.isEmpty()) << changed.join(' ').toStdString();
    EXPECT_EQ(s.Text(QStringLiteral("edt_ip1")), QStringLiteral("\u4E2D\u6587.example"));
}

}  // namespace
}  // namespace r4t8
