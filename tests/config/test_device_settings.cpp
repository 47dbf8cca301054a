#include <gtest/gtest.h>

#include <set>

#include "config/DeviceSettings.h"
#include "tests/support/FakeUserInterface.h"

namespace r4t8 {
namespace {

using testing::FakeUserInterface;

QString Box(int k) { return QStringLiteral("CheckBox%1").arg(k); }
QString Picker(int k) { return QStringLiteral("DateTimePicker%1").arg(k); }

TEST(DeviceSettingsTable, EveryFieldOnceWithItsDefaults) {
    DeviceSettings s;
    std::set<QString> names;
    for (const FieldSpec& spec : s.Specs())
        EXPECT_TRUE(names.insert(spec.name).second) << spec.name.toStdString();
    // 3 login + 24 system + 18 phone + 7 GPRS + 48 sensor fields.
    EXPECT_EQ(names.size(), 3u + 24u + 18u + 7u + 48u);

    struct Case {
        const char* name;
        const char* text;
        int maxLength;
        KeyFilter filter;
    };
    const Case cases[] = {
        {"edt_setpwd", "5807", 4, KeyFilter::Decimal},
        {"edt_pwd", "5807", 4, KeyFilter::Digits},
        {"edt_PinCode", "5807", 6, KeyFilter::Digits},
        {"edt_rec_time", "5", 3, KeyFilter::Decimal},
        {"edt1", "24", 3, KeyFilter::Digits},
        {"edt_relay_time", "10", 4, KeyFilter::SignedDecimal},
        {"edt_port", "8000", 0, KeyFilter::Digits},
        {"edt_gprstimeup", "", 4, KeyFilter::Digits},
        {"edt_id", "", 15, KeyFilter::Digits},
        {"edt_tel6", "", 20, KeyFilter::Phone},
        {"edit9", "", 20, KeyFilter::Phone},
        {"edt_ip2", "", 32, KeyFilter::None},
        {"edt_Sensor4_end", "", 8, KeyFilter::SignedDecimal},
        {"edt_Sensor3_STP", "", 2, KeyFilter::Digits},
        {"edt_Sensor2_SP", "", 3, KeyFilter::Digits},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FieldSpec* spec = s.Spec(c.name);
        ASSERT_NE(spec, nullptr);
        EXPECT_EQ(s.Text(c.name), QString::fromUtf8(c.text));
        EXPECT_EQ(spec->maxLength, c.maxLength);
        EXPECT_EQ(spec->filter, c.filter);
        EXPECT_TRUE(s.Enabled(c.name));
    }
    EXPECT_EQ(s.Index("cbb_timemode"), 1);
    EXPECT_EQ(s.Text("cbb_timemode"), QStringLiteral("自动"));
    EXPECT_EQ(s.Items("cbb_tel3_f2").size(), 4);
    EXPECT_EQ(s.Items("cbb_sensor4_ain").at(1), QStringLiteral("0～20mA/0～5V"));
    for (int k = 2; k <= 5; ++k) EXPECT_FALSE(s.Enabled(Box(k)));
    for (int k = 5; k <= 8; ++k) EXPECT_FALSE(s.Enabled(Picker(k)));
    EXPECT_FALSE(s.Enabled("dtp_gprspointup"));
    EXPECT_TRUE(s.Spec("Edit1")->readOnly);
    EXPECT_EQ(s.Spec("edt_Sensor3_SLow")->group, QStringLiteral("报警参数设置3"));
    EXPECT_EQ(s.Spec("edt_Sensor3_SLow")->caption, QStringLiteral("超低限值"));
}

TEST(DeviceSettingsRules, ChainRuleCascadesFromCode) {
    DeviceSettings s;
    s.UserPickIndex("cb_pdat", 1);
    EXPECT_TRUE(s.Enabled(Box(2)));
    EXPECT_TRUE(s.Enabled(Picker(5)));
    s.SetChecked(Box(2), true);
    s.SetChecked(Box(3), true);
    s.SetChecked(Box(4), true);
    for (int k = 3; k <= 5; ++k) EXPECT_TRUE(s.Enabled(Box(k))) << k;
    for (int k = 6; k <= 8; ++k) EXPECT_TRUE(s.Enabled(Picker(k))) << k;

    s.SetChecked(Box(2), false);
    for (int k = 3; k <= 5; ++k) {
        EXPECT_FALSE(s.Checked(Box(k))) << k;
        EXPECT_FALSE(s.Enabled(Box(k))) << k;
    }
    for (int k = 6; k <= 8; ++k) EXPECT_FALSE(s.Enabled(Picker(k))) << k;
    EXPECT_TRUE(s.Enabled(Picker(5)));  // follows the upload mode only
    EXPECT_TRUE(s.Enabled(Box(2)));
}

TEST(DeviceSettingsRules, UploadModeRulesRunOnlyOnAPick) {
    DeviceSettings s;
    s.SetIndex("cb_pdat", 1);
    s.SetIndex("cbb_gprsupmode", 1);
    EXPECT_TRUE(s.Enabled("edt1"));
    EXPECT_FALSE(s.Enabled(Box(2)));
    EXPECT_TRUE(s.Enabled("edt_gprstimeup"));
    EXPECT_FALSE(s.Enabled("dtp_gprspointup"));

    s.SetIndex("cb_pdat", 0);
    s.SetIndex("cbb_gprsupmode", 0);
    s.UserPickIndex("cbb_gprsupmode", 1);
    EXPECT_FALSE(s.Enabled("edt_gprstimeup"));
    EXPECT_TRUE(s.Enabled("dtp_gprspointup"));
    s.UserPickIndex("cbb_gprsupmode", 0);
    EXPECT_TRUE(s.Enabled("edt_gprstimeup"));
    EXPECT_FALSE(s.Enabled("dtp_gprspointup"));

    // Fixed times picked, rows set, then back to timed: all rows unchecked; again fixed:
    // nothing re-checked and only row 1 available.
    s.UserPickIndex("cb_pdat", 1);
    EXPECT_FALSE(s.Enabled("edt1"));
    s.SetChecked(Box(2), true);
    s.SetChecked(Box(3), true);
    s.UserPickIndex("cb_pdat", 0);
    EXPECT_TRUE(s.Enabled("edt1"));
    for (int k = 2; k <= 5; ++k) {
        EXPECT_FALSE(s.Checked(Box(k)));
        EXPECT_FALSE(s.Enabled(Box(k)));
    }
    s.UserPickIndex("cb_pdat", 1);
    EXPECT_TRUE(s.Enabled(Box(2)));
    EXPECT_FALSE(s.Checked(Box(2)));
    EXPECT_FALSE(s.Enabled(Box(3)));
    EXPECT_FALSE(s.Enabled(Picker(6)));

    // Typed text: no selection, nothing changes.
    s.SetComboText("cb_pdat", "x");
    EXPECT_EQ(s.Index("cb_pdat"), -1);
    s.UserPickIndex("cb_pdat", -1);
    EXPECT_TRUE(s.Enabled(Box(2)));
}

TEST(DeviceSettingsRules, GprsTimeLimit) {
    struct Case {
        const char* text;
        const char* after;
        int messages;
    };
    const Case cases[] = {
        {"1440", "1440", 0},  {"1441", "144", 1},       {"2000", "200", 1},
        {"14400", "1440", 1}, {"99999", "999", 2},      {"", "", 0},
        {"abc9", "abc9", 0},  {"0001441", "000441", 1}, {"00014410", "000410", 2},
        {"+1441", "+141", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FakeUserInterface ui;
        DeviceSettings s(&ui);
        s.SetText("edt_gprstimeup", c.text);
        EXPECT_EQ(s.Text("edt_gprstimeup"), QString::fromLatin1(c.after));
        ASSERT_EQ(ui.messages.size(), size_t(c.messages));
        for (const auto& m : ui.messages) {
            EXPECT_EQ(m.text, QStringLiteral("输入值超出范围"));
            EXPECT_EQ(m.caption, QStringLiteral("R4T8报警器设置软件"));
            EXPECT_EQ(m.buttons, MsgButtons::Ok);
        }
    }
}

TEST(DeviceSettingsRules, ListenersSeeEveryRealChangeOnly) {
    DeviceSettings s;
    std::vector<QString> seen;
    const int id = s.AddListener([&](const QString& n) { seen.push_back(n); });
    s.SetText("edt_tel1", "");         // unchanged
    s.SetIndex("cbb_mode", 0);         // unchanged
    s.SetChecked("CheckBox1", false);  // unchanged
    s.SetEnabled("edt1", true);        // unchanged
    EXPECT_TRUE(seen.empty());

    s.SetText("edt_tel1", "123");
    s.SetIndex("cbb_mode", 5);  // out of range: no selection
    EXPECT_EQ(s.Index("cbb_mode"), -1);
    EXPECT_EQ(s.Text("cbb_mode"), QString());
    EXPECT_EQ(seen, (std::vector<QString>{"edt_tel1", "cbb_mode"}));

    seen.clear();
    s.UserPickIndex("cb_pdat", 1);
    EXPECT_EQ(seen, (std::vector<QString>{"cb_pdat", "edt1", "CheckBox2", "DateTimePicker5"}));

    seen.clear();
    s.SetItems("cbb_sensor1", {QStringLiteral("模拟")});
    EXPECT_EQ(seen, (std::vector<QString>{"cbb_sensor1"}));
    s.ResetToDefaults();
    EXPECT_EQ(s.Items("cbb_sensor1").size(), 3);
    EXPECT_EQ(s.Index("cb_pdat"), 0);
    EXPECT_FALSE(s.Enabled("CheckBox2"));
    EXPECT_TRUE(s.Enabled("edt1"));

    s.RemoveListener(id);
    seen.clear();
    s.SetText("edt_tel1", "9");
    EXPECT_TRUE(seen.empty());
}

}  // namespace
}  // namespace r4t8
