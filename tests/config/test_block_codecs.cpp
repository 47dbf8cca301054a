#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "config/BlockCodecs.h"
#include "tests/support/FakeUserInterface.h"

namespace r4t8 {
namespace {

using B = std::vector<uint8_t>;

B Hex(const char* text) {
    B out;
    unsigned v = 0;
    int nibbles = 0;
    for (const char* p = text; *p; ++p) {
        const char c = *p;
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) continue;
        v = v * 16 + unsigned(d);
        if (++nibbles == 2) {
            out.push_back(uint8_t(v));
            v = 0;
            nibbles = 0;
        }
    }
    return out;
}

struct Fixture : ::testing::Test {
    Fixture() { image->fill(0xFF); }
    B Bytes(ConfigBlock block, size_t offset, size_t n) const {
        const size_t a = BlockAddress(block) + offset;
        return B(image->begin() + a, image->begin() + a + n);
    }
    void Encode(ConfigBlock block) {
        ASSERT_FALSE(ValidateBlock(block, s).has_value());
        ASSERT_TRUE(EncodeBlock(block, s, *image));
    }
    void Put(ConfigBlock block, size_t offset, const B& bytes) {
        std::copy(bytes.begin(), bytes.end(), image->begin() + BlockAddress(block) + offset);
    }
    DeviceSettings s;
    std::unique_ptr<ConfigImage> image = std::make_unique<ConfigImage>();
};

using BlockCodecs = Fixture;

TEST_F(BlockCodecs, PhoneEntryExample) {
    s.SetText("edt_tel3", "123");
    s.SetIndex("cbb_tel3_f1", 1);
    s.SetIndex("cbb_tel3_f2", 1);
    Encode(ConfigBlock::PhoneBlock);
    B expected{0x32, 0x32, 0x31, 0x32, 0x33};
    expected.resize(22, 0xFF);
    EXPECT_EQ(Bytes(ConfigBlock::PhoneBlock, 44, 22), expected);
    EXPECT_EQ(Bytes(ConfigBlock::PhoneBlock, 0, 2), (B{'1', '1'}));
    EXPECT_EQ(Bytes(ConfigBlock::PhoneBlock, 132, 124), B(124, 0xFF));

    DeviceSettings back;
    ASSERT_TRUE(DecodeBlock(ConfigBlock::PhoneBlock, *image, back));
    EXPECT_EQ(back.Text("edt_tel3"), "123");
    EXPECT_EQ(back.Index("cbb_tel3_f1"), 1);
    EXPECT_EQ(back.Index("cbb_tel3_f2"), 1);
}

TEST_F(BlockCodecs, FullWidthPhoneNumberHasNoTerminator) {
    s.SetText("edt_tel6", "12345678901234567890");
    Encode(ConfigBlock::PhoneBlock);
    EXPECT_EQ(Bytes(ConfigBlock::PhoneBlock, 112, 20),
              B(std::begin("12345678901234567890"), std::end("12345678901234567890") - 1));
    DeviceSettings back;
    DecodeBlock(ConfigBlock::PhoneBlock, *image, back);
    EXPECT_EQ(back.Text("edt_tel6"), "12345678901234567890");
}

TEST_F(BlockCodecs, SensorEntryExample) {
    s.SetText("edt_Sensor2_STP", "1");
    s.SetText("edt_Sensor2_Relay", "10");
    s.SetText("edt_Sensor2_SLow", "-10");
    s.SetText("edt_Sensor2_Low", "0");
    s.SetText("edt_Sensor2_SHigh", "50");
    s.SetText("edt_Sensor2_High", "40");
    s.SetText("edt_Sensor2_SP", "30");
    s.SetText("edt_Sensor2_ens", "5");
    s.SetText("edt_Sensor2_start", "0");
    s.SetText("edt_Sensor2_end", "100");
    Encode(ConfigBlock::SensorBlock);
    EXPECT_EQ(Bytes(ConfigBlock::SensorBlock, 36, 36),
              Hex("43 01 0A 00 00 00 20 C1 00 00 00 00 00 00 48 42 00 00 20 42 1E 00 05 00 30 "
                  "FF FF FF 00 00 00 00 00 00 C8 42"));
    // Sensor 1 with every field empty: the empty-field values.
    EXPECT_EQ(Bytes(ConfigBlock::SensorBlock, 0, 36),
              Hex("43 63 0F 27 00 C0 79 44 00 C0 79 44 00 C0 79 44 00 C0 79 44 E7 03 E7 03 30 "
                  "FF FF FF 80 4F C3 47 80 4F C3 47"));
    EXPECT_EQ(Bytes(ConfigBlock::SensorBlock, 144, 112), B(112, 0xFF));

    DeviceSettings back;
    DecodeBlock(ConfigBlock::SensorBlock, *image, back);
    const char* expect1[][2] = {{"STP", "99"},         {"Relay", "9999"},  {"SLow", "999.00"},
                                {"High", "999.00"},    {"SP", "999"},      {"ens", "999"},
                                {"start", "99999.00"}, {"end", "99999.00"}};
    for (auto& e : expect1)
        EXPECT_EQ(back.Text(QStringLiteral("edt_Sensor1_") + e[0]), e[1]) << e[0];
    EXPECT_EQ(back.Text("edt_Sensor2_SLow"), "-10.00");
    EXPECT_EQ(back.Text("edt_Sensor2_end"), "100.00");
    EXPECT_EQ(back.Text("edt_Sensor2_Relay"), "10");
}

TEST_F(BlockCodecs, FloatsRoundToSinglePrecisionAndShowTwoDecimals) {
    s.SetText("edt_Sensor1_Low", "25.3");
    Encode(ConfigBlock::SensorBlock);
    const float nearest = 25.3f;
    B bits(4);
    std::memcpy(bits.data(), &nearest, 4);
    EXPECT_EQ(Bytes(ConfigBlock::SensorBlock, 8, 4), bits);
    DeviceSettings back;
    DecodeBlock(ConfigBlock::SensorBlock, *image, back);
    EXPECT_EQ(back.Text("edt_Sensor1_Low"), "25.30");

    struct Case {
        float value;
        const char* text;
    };
    const Case cases[] = {{0.125f, "0.13"},
                          {-0.125f, "-0.13"},
                          {-0.001f, "0.00"},
                          {1e10f, "10000000000.00"},
                          {3.4028235e38f, "340282346638528859811704183484516925440.00"},
                          {0.005f, "0.00"},
                          {2.675f, "2.67"},
                          {1e-40f, "0.00"}};
    for (const Case& c : cases) EXPECT_EQ(FloatText(c.value), c.text) << c.text;
    EXPECT_EQ(FloatValue("1e39"), std::nullopt);  // too large for single precision
    EXPECT_EQ(FloatValue(" 1.5 "), 1.5f);
    EXPECT_EQ(FloatValue("1.5."), std::nullopt);
    EXPECT_EQ(FloatValue("."), std::nullopt);
    EXPECT_EQ(FloatValue("+.5"), 0.5f);
}

TEST_F(BlockCodecs, IntegerConversions) {
    EXPECT_EQ(DigitValue("123"), 123);
    EXPECT_EQ(DigitValue("1a"), 10 + ('a' - 48));  // characters are not checked
    EXPECT_EQ(DigitValue("-1"), -30 + 1);
    EXPECT_EQ(DigitValue(QString(6000, '9')), 0);  // overflows: 0
    EXPECT_EQ(StandardInteger("  -42"), -42);
    EXPECT_EQ(StandardInteger("5.5"), std::nullopt);
    EXPECT_EQ(StandardInteger("2147483648"), std::nullopt);
    EXPECT_EQ(StandardInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(StandardInteger("12 "), std::nullopt);
}

TEST_F(BlockCodecs, GprsBlockPortAndTexts) {
    s.SetText("edt_ip1", "10.0.0.1");
    s.SetText("edt_apn", QString(40, 'x'));  // cut to 32
    s.SetIndex("cbb_mode", 1);
    Encode(ConfigBlock::GprsBlock);
    EXPECT_EQ(Bytes(ConfigBlock::GprsBlock, 64, 3), (B{0x40, 0x1F, 0x01}));
    EXPECT_EQ(Bytes(ConfigBlock::GprsBlock, 67, 32), B(32, 'x'));
    EXPECT_EQ(Bytes(ConfigBlock::GprsBlock, 99, 157), B(157, 0xFF));

    s.SetText("edt_port", "");
    Encode(ConfigBlock::GprsBlock);
    EXPECT_EQ(Bytes(ConfigBlock::GprsBlock, 64, 2), (B{0xFF, 0xFF}));
    DeviceSettings back;
    DecodeBlock(ConfigBlock::GprsBlock, *image, back);
    EXPECT_EQ(back.Text("edt_port"), "65535");
    EXPECT_EQ(back.Text("edt_ip1"), "10.0.0.1");
    EXPECT_EQ(back.Index("cbb_mode"), 1);
}

TEST_F(BlockCodecs, SystemBlockDefaultsAndExceptions) {
    s.SetText("edt_id", "123");
    s.SetText("edt_pwd", "123456");
    s.SetText("edt_rec_time", "");
    s.SetText("edt_relay_time", "");
    Encode(ConfigBlock::SystemBlock);
    EXPECT_EQ(Bytes(ConfigBlock::SystemBlock, 0, 1), B{1});
    EXPECT_EQ(Bytes(ConfigBlock::SystemBlock, 21, 6), (B{'1', '2', '3', '4', 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(ConfigBlock::SystemBlock, 27, 15),
              (B{'0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '1', '2', '3'}));
    EXPECT_EQ(Bytes(ConfigBlock::SystemBlock, 42, 4), (B{0xFF, 0xFF, 0x3C, 0x00}));
    EXPECT_EQ(Bytes(ConfigBlock::SystemBlock, 47, 6), (B{'5', '8', '0', '7', 0xFF, 0xFF}));
    // Timed modes: D, interval, FF FF; edt1 = 24; fixed times all FF.
    EXPECT_EQ(Bytes(ConfigBlock::SystemBlock, 73, 19),
              Hex("00 44 FF 00 00 FF FF 44 FF 18 00 FF FF FF FF FF FF FF FF"));
    EXPECT_EQ(Bytes(ConfigBlock::SystemBlock, 112, 8), Hex("43 FF 00 00 FF FF FF FF"));
    EXPECT_EQ(Bytes(ConfigBlock::SystemBlock, 120, 136), B(136, 0xFF));

    DeviceSettings back;
    ASSERT_TRUE(DecodeBlock(ConfigBlock::SystemBlock, *image, back));
    EXPECT_EQ(back.Text("edt_id"), "000000000000123");
    EXPECT_EQ(back.Text("edt_pwd"), "1234");
    EXPECT_EQ(back.Text("edt_rec_time"), "255");
    EXPECT_EQ(back.Text("edt_relay_time"), "0");
    EXPECT_EQ(back.Text("edt_gprstimeup"), "0");

    s.SetText("edt_id", "");
    Encode(ConfigBlock::SystemBlock);
    EXPECT_EQ(Bytes(ConfigBlock::SystemBlock, 27, 15), B(15, '0'));
}

TEST_F(BlockCodecs, FixedTimesRowsOneAndThree) {
    s.UserPickIndex("cb_pdat", 1);
    s.SetChecked("CheckBox2", true);
    s.SetTime("DateTimePicker5", QTime(7, 30));
    s.SetChecked("CheckBox3", true);
    s.SetChecked("CheckBox4", true);
    s.SetTime("DateTimePicker7", QTime(23, 59));
    s.SetChecked("CheckBox3", false);  // row 2 off; the chain rule unchecks row 3 too
    s.SetEnabled("CheckBox4", true);
    s.SetChecked("CheckBox4", true);
    s.UserPickIndex("cbb_gprsupmode", 1);
    s.SetTime("dtp_gprspointup", QTime(12, 5));
    Encode(ConfigBlock::SystemBlock);
    EXPECT_EQ(Bytes(ConfigBlock::SystemBlock, 74, 18),
              Hex("4D FF 00 00 0C 05 4D FF 02 00 07 1E FF FF 17 3B FF FF"));

    DeviceSettings back;
    ASSERT_TRUE(DecodeBlock(ConfigBlock::SystemBlock, *image, back));
    EXPECT_EQ(back.Index("cb_pdat"), 1);
    EXPECT_FALSE(back.Enabled("edt1"));
    EXPECT_EQ(back.Text("edt1"), "24");  // the count is not shown
    const bool checked[] = {true, false, true, false};
    for (int row = 1; row <= 4; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(back.Checked(QStringLiteral("CheckBox%1").arg(row + 1)), checked[row - 1]);
        EXPECT_EQ(back.Enabled(QStringLiteral("DateTimePicker%1").arg(row + 4)), checked[row - 1]);
    }
    EXPECT_EQ(back.Time("DateTimePicker7"), QTime(23, 59));
    EXPECT_EQ(back.Time("dtp_gprspointup"), QTime(12, 5));
    EXPECT_TRUE(back.Enabled("dtp_gprspointup"));
    EXPECT_FALSE(back.Enabled("edt_gprstimeup"));
}

TEST_F(BlockCodecs, DecoderStopsAtImpossibleTimeWithItsRowSwitchedOn) {
    // Each case puts one impossible time into an "M" block; the decoder must switch the
    // field's own controls on before the time fails, so a write straight after the read
    // sends the row as used (with the picker's old time), never as unused.
    struct Case {
        const char* what;
        size_t offset;  // of the hour byte
        B time;
        const char* box;  // nullptr for the GPRS time, which has no check box
        const char* picker;
    };
    const Case cases[] = {
        {"row 1 hour 24", 84, {24, 0}, "CheckBox2", "DateTimePicker5"},
        {"row 3 minute 60", 88, {3, 60}, "CheckBox4", "DateTimePicker7"},
        {"row 4 hour 0xFE", 90, {0xFE, 0}, "CheckBox5", "DateTimePicker8"},
        {"GPRS minute 60", 78, {3, 60}, nullptr, "dtp_gprspointup"},
        {"GPRS hour 200", 78, {200, 0}, nullptr, "dtp_gprspointup"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceSettings src;
        src.UserPickIndex("cb_pdat", 1);
        src.UserPickIndex("cbb_gprsupmode", 1);
        for (int box = 2; box <= 5; ++box)
            src.SetChecked(QStringLiteral("CheckBox%1").arg(box), true);
        src.SetTime("DateTimePicker5", QTime(1, 2));
        src.SetTime("DateTimePicker6", QTime(3, 4));
        src.SetTime("DateTimePicker7", QTime(5, 6));
        src.SetTime("DateTimePicker8", QTime(7, 8));
        src.SetTime("dtp_gprspointup", QTime(9, 10));
        image->fill(0xFF);
        ASSERT_FALSE(ValidateBlock(ConfigBlock::SystemBlock, src).has_value());
        ASSERT_TRUE(EncodeBlock(ConfigBlock::SystemBlock, src, *image));
        Put(ConfigBlock::SystemBlock, c.offset, c.time);

        // The window before the read: timed upload, every row off, pickers at 11:12.
        DeviceSettings back;
        back.SetText("edit9", "old");
        for (const char* p : {"DateTimePicker5", "DateTimePicker6", "DateTimePicker7",
                              "DateTimePicker8", "dtp_gprspointup"})
            back.SetTime(p, QTime(11, 12));
        EXPECT_FALSE(DecodeBlock(ConfigBlock::SystemBlock, *image, back));
        EXPECT_EQ(back.Text("edit9"), "");  // decoded before the upload times
        EXPECT_TRUE(back.Enabled(c.picker));
        EXPECT_EQ(back.Time(c.picker), QTime(11, 12));  // the impossible time is not shown
        if (c.box) {
            EXPECT_TRUE(back.Enabled(c.box));
            EXPECT_TRUE(back.Checked(c.box));
        } else {
            EXPECT_EQ(back.Index("cb_pdat"), 0);  // the upload mode comes after: untouched
        }

        auto out = std::make_unique<ConfigImage>();
        out->fill(0xFF);
        ASSERT_TRUE(EncodeBlock(ConfigBlock::SystemBlock, back, *out));
        const size_t a = kSystemBlockAddress + c.offset;
        EXPECT_EQ(B(out->begin() + a, out->begin() + a + 2), B({11, 12}));
    }
}

TEST_F(BlockCodecs, BlankControllerDecodes) {
    // Lists get a non-default state first: a blank block must not leave them showing it.
    s.SetIndex("cbb_tel1_f2", 3);
    s.SetIndex("cbb_sensor1", 2);
    s.SetIndex("cbb_sensor1_ain", 1);
    s.SetIndex("cb_pdat", 1);
    s.SetIndex("cbb_gprsupmode", 1);
    s.SetText("edt1", "12");
    for (ConfigBlock b : {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock, ConfigBlock::GprsBlock,
                          ConfigBlock::SystemBlock})
        EXPECT_TRUE(DecodeBlock(b, *image, s));
    EXPECT_EQ(s.Text("edt_tel1"), "");
    for (const char* list : {"cbb_tel1_f1", "cbb_tel1_f2", "cbb_sensor1", "cbb_sensor1_ain",
                             "cbb_mode", "cbb_timemode", "cb_pdat", "cbb_gprsupmode"})
        EXPECT_EQ(s.Index(list), -1) << list;
    EXPECT_EQ(s.Text("edt_Sensor1_STP"), "255");
    EXPECT_EQ(s.Text("edt_Sensor1_Relay"), "65535");
    EXPECT_EQ(s.Text("edt_Sensor1_SLow"), "NAN");
    EXPECT_EQ(s.Text("edt_port"), "65535");
    EXPECT_EQ(s.Text("edt_id"), QString(15, QChar(0xFF)));
    EXPECT_EQ(s.Text("edt_rec_time"), "255");
    EXPECT_EQ(s.Text("edt1"), "12");  // an upload code it does not know leaves the fields
    EXPECT_TRUE(s.Checked("chk1"));
    EXPECT_TRUE(s.Checked("CheckBox1"));
}

TEST_F(BlockCodecs, ValidationNamesTheFirstFailingField) {
    struct Case {
        const char* field;
        const char* value;
        ConfigBlock block;
        const char* label;
    };
    const Case cases[] = {
        {"edt_Sensor1_SLow", "abc", ConfigBlock::SensorBlock, "报警参数设置1 超低限值"},
        {"edt_Sensor4_end", "1-2", ConfigBlock::SensorBlock, "报警参数设置4 终止值"},
        {"edt_port", "80.5", ConfigBlock::GprsBlock, "GPRS参数设置 端口："},
        {"edt_rec_time", "5.5", ConfigBlock::SystemBlock, "系统参数 记录时间："},
        {"edt_relay_time", "+-1", ConfigBlock::SystemBlock, "系统参数 呼入继电器闭合时间："},
        {"edt_id", "1234567890123456", ConfigBlock::SystemBlock, "系统参数 设备编号："},
        {"edt1", "x", ConfigBlock::SystemBlock, "系统参数 定时时间："},
        {"edt_gprstimeup", "-", ConfigBlock::SystemBlock, "系统参数 GPRS定时时间："},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        DeviceSettings t;
        t.SetText(c.field, QString::fromUtf8(c.value));
        const auto p = ValidateBlock(c.block, t);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->name, c.field);
        EXPECT_EQ(p->label, QString::fromUtf8(c.label));
    }
    DeviceSettings t;
    // A list whose text was typed over has no code; it writes 0xFF, nothing is refused.
    t.SetComboText("cbb_tel2_f1", "x");
    EXPECT_FALSE(ValidateBlock(ConfigBlock::PhoneBlock, t).has_value());
    ASSERT_TRUE(EncodeBlock(ConfigBlock::PhoneBlock, t, *image));
    EXPECT_EQ((*image)[kPhoneBlockAddress + 22], 0xFF);
    // Fields that the current upload modes do not store are not looked at.
    t.SetText("edt1", "x");
    t.SetIndex("cb_pdat", 1);
    EXPECT_FALSE(ValidateBlock(ConfigBlock::SystemBlock, t).has_value());
    // The defaults always validate.
    DeviceSettings d;
    for (ConfigBlock b : {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock, ConfigBlock::GprsBlock,
                          ConfigBlock::SystemBlock})
        EXPECT_FALSE(ValidateBlock(b, d).has_value());
}

// Settings built from valid values come back unchanged through encode and decode.
TEST_F(BlockCodecs, ValidSettingsSurviveARoundTrip) {
    std::mt19937 rng(42);
    auto num = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto digits = [&](int maxLen) {
        QString t;
        const int n = num(0, maxLen);
        for (int i = 0; i < n; ++i) t += QChar('0' + num(0, 9));
        return t;
    };
    auto uintText = [&](int hi) { return QString::number(num(0, hi)); };
    auto limit = [&] { return FloatText(float(num(-99999, 99999)) / 100.0f); };
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        DeviceSettings a;
        for (int n = 1; n <= 6; ++n) {
            a.SetText(QStringLiteral("edt_tel%1").arg(n), digits(20));
            a.SetIndex(QStringLiteral("cbb_tel%1_f1").arg(n), num(0, 1));
            a.SetIndex(QStringLiteral("cbb_tel%1_f2").arg(n), num(0, 3));
        }
        for (int n = 1; n <= 4; ++n) {
            const QString p = QStringLiteral("edt_Sensor%1_").arg(n);
            a.SetIndex(QStringLiteral("cbb_sensor%1").arg(n), num(0, 2));
            a.SetIndex(QStringLiteral("cbb_sensor%1_ain").arg(n), num(0, 2));
            a.SetText(p + "STP", uintText(255));
            a.SetText(p + "Relay", uintText(65535));
            a.SetText(p + "SP", uintText(65535));
            a.SetText(p + "ens", uintText(65535));
            for (const char* f : {"SLow", "Low", "SHigh", "High", "start", "end"})
                a.SetText(p + f, limit());
        }
        a.SetText("edt_ip1", QStringLiteral("主机%1.example").arg(num(0, 999)));
        a.SetText("edt_gprspassword", digits(32));
        a.SetText("edt_port", uintText(65535));
        a.SetIndex("cbb_mode", num(0, 1));
        a.SetIndex("cbb_timemode", num(0, 1));
        a.SetText("edt_tel_my", digits(20));
        a.SetText("edt_pwd", digits(4));
        a.SetText("edt_id", QString(15, '0'));
        a.SetText("edt_rec_time", uintText(255));
        a.SetChecked("chk1", num(0, 1));
        a.SetChecked("CheckBox1", num(0, 1));
        a.SetText("edt_PinCode", digits(6));
        a.SetText("edit9", digits(20));
        a.SetText("edt_relay_time", uintText(65535));
        if (num(0, 1)) {
            a.UserPickIndex("cbb_gprsupmode", 1);
            a.SetTime("dtp_gprspointup", QTime(num(0, 23), num(0, 59)));
        } else {
            a.SetText("edt_gprstimeup", uintText(1440));
        }
        if (num(0, 1)) {
            a.UserPickIndex("cb_pdat", 1);
            for (int row = 1; row <= 4 && num(0, 3) != 0; ++row) {
                a.SetChecked(QStringLiteral("CheckBox%1").arg(row + 1), true);
                a.SetTime(QStringLiteral("DateTimePicker%1").arg(row + 4),
                          QTime(num(0, 23), num(0, 59)));
            }
        } else {
            a.SetText("edt1", uintText(999));
        }

        image->fill(0xFF);
        DeviceSettings b;
        for (ConfigBlock blk : {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock,
                                ConfigBlock::GprsBlock, ConfigBlock::SystemBlock}) {
            ASSERT_FALSE(ValidateBlock(blk, a).has_value());
            ASSERT_TRUE(EncodeBlock(blk, a, *image));
            ASSERT_TRUE(DecodeBlock(blk, *image, b));
        }
        for (const FieldSpec& spec : a.Specs()) {
            const QString& n = spec.name;
            SCOPED_TRACE(n.toStdString());
            ASSERT_EQ(b.Index(n), a.Index(n));
            ASSERT_EQ(b.Checked(n), a.Checked(n));
            // An unchecked row is read as "off": its box keeps what the chain rule left and
            // its picker is disabled, whatever the window had.
            bool uncheckedRow = false;
            for (int row = 1; row <= 4; ++row) {
                const QString box = QStringLiteral("CheckBox%1").arg(row + 1);
                if ((n == box || n == QStringLiteral("DateTimePicker%1").arg(row + 4)) &&
                    !a.Checked(box))
                    uncheckedRow = true;
            }
            if (!uncheckedRow) {
                ASSERT_EQ(b.Enabled(n), a.Enabled(n));
            }
            // Unchecked rows keep their times on the window; the block does not carry them.
            if (spec.kind == FieldKind::Time && b.Enabled(n)) {
                ASSERT_EQ(b.Time(n), a.Time(n));
            }
            // edt1 is not shown in fixed-time mode; an empty text reads back as its value.
            if (n == "edt1" && a.Index("cb_pdat") == 1) continue;
            if (n == "edt_gprstimeup" && a.Index("cbb_gprsupmode") == 1) continue;
            if (spec.kind != FieldKind::Choice && !a.Text(n).isEmpty()) {
                ASSERT_EQ(b.Text(n), a.Text(n));
            }
        }
    }
}

TEST(BlockCodecsFuzz, RandomBlocksDecodeWithoutHarm) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> byte(0, 255);
    auto image = std::make_unique<ConfigImage>();
    testing::FakeUserInterface ui;
    DeviceSettings s(&ui);
    for (int round = 0; round < 10000; ++round) {
        const ConfigBlock block = static_cast<ConfigBlock>(round % 4);
        const uint32_t a = BlockAddress(block);
        for (size_t i = 0; i < kBlockSize; ++i) {
            const int r = byte(rng);
            // Bias towards the bytes the decoders branch on.
            const uint8_t special[] = {'D', 'M', '0', '1', '2', '3', 'C', 'F', 'B', 0xFF, 0};
            (*image)[a + i] = r < 64 ? special[r % sizeof special] : uint8_t(byte(rng));
        }
        DecodeBlock(block, *image, s);
        // Whatever was decoded either validates and encodes, or names a field.
        const auto problem = ValidateBlock(block, s);
        if (!problem) {
            ASSERT_TRUE(EncodeBlock(block, s, *image));
        } else {
            ASSERT_FALSE(problem->label.isEmpty());
        }
    }
}

}  // namespace
}  // namespace r4t8
