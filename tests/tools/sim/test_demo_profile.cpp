// The demo controller's memory, built by the simulator from the block layout, read with the
// tool's own decoders: every field holds what the profile means, and writing the decoded
// settings back unchanged reproduces the memory byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "DemoProfile.h"
#include "config/RawBlocks.h"
#include "config/SetupForModel.h"

namespace r4t8 {
namespace {

// What a field should show: text, list entry, check state, or time.
struct Shown {
    const char* text = nullptr;
    int index = -2;
    int checked = -1;
    const char* time = nullptr;
    int enabled = -1;
};
Shown Text(const char* t) { return {t}; }
Shown Entry(int i) { return {nullptr, i}; }
Shown Check(bool c, int enabled = -1) { return {nullptr, -2, c ? 1 : 0, nullptr, enabled}; }
Shown At(const char* t, bool enabled) { return {nullptr, -2, -1, t, enabled ? 1 : 0}; }

std::map<QString, Shown> Expected() {
    std::map<QString, Shown> e;
    const char* phones[6] = {"13800138001", "13800138002", "13800138003", "13800138004", "", ""};
    const int f1[6] = {0, 0, 1, 1, 0, 0};  // 发短信并拨号 / 只发短信
    const int f2[6] = {0, 1, 0, 3, 0, 0};  // 返回主机状态, 操作继电器, ..., 设备重启
    for (int n = 1; n <= 6; ++n) {
        e[QStringLiteral("edt_tel%1").arg(n)] = Text(phones[n - 1]);
        e[QStringLiteral("cbb_tel%1_f1").arg(n)] = Entry(f1[n - 1]);
        e[QStringLiteral("cbb_tel%1_f2").arg(n)] = Entry(f2[n - 1]);
    }
    // Cargo front and rear, supply air, outside air.
    const char* sensors[4][8] = {
        {"1", "10", "0.00", "2.00", "8.00", "10.00", "30", "5"},
        {"1", "10", "0.00", "2.00", "8.00", "10.00", "30", "5"},
        {"1", "0", "-10.00", "-5.00", "12.00", "15.00", "60", "10"},
        {"2", "0", "-30.00", "-20.00", "40.00", "45.00", "120", "15"},
    };
    for (int n = 1; n <= 4; ++n) {
        const QString p = QStringLiteral("edt_Sensor%1_").arg(n);
        const char* const* v = sensors[n - 1];
        e[QStringLiteral("cbb_sensor%1").arg(n)] = Entry(0);      // 摄氏度
        e[QStringLiteral("cbb_sensor%1_ain").arg(n)] = Entry(0);  // 关闭
        e[p + "STP"] = Text(v[0]);
        e[p + "Relay"] = Text(v[1]);
        e[p + "SLow"] = Text(v[2]);
        e[p + "Low"] = Text(v[3]);
        e[p + "High"] = Text(v[4]);
        e[p + "SHigh"] = Text(v[5]);
        e[p + "SP"] = Text(v[6]);
        e[p + "ens"] = Text(v[7]);
        e[p + "start"] = Text("0.00");
        e[p + "end"] = Text("100.00");
    }
    e["edt_ip1"] = Text("203.0.113.45");
    e["edt_ip2"] = Text("coldchain.example.com");
    e["edt_port"] = Text("9010");
    e["cbb_mode"] = Entry(0);  // TCP
    e["edt_apn"] = Text("CMNET");
    e["edt_gprsname"] = Text("card");
    e["edt_gprspassword"] = Text("card");

    e["cbb_timemode"] = Entry(1);  // 自动
    e["edt_tel_my"] = Text("1064899012345");
    e["edt_pwd"] = Text("5807");
    e["edt_id"] = Text("860312045178263");
    e["edt_rec_time"] = Text("5");
    e["CheckBox1"] = Check(true);
    e["chk1"] = Check(true);
    e["edt_PinCode"] = Text("2468");
    e["edt_GprsFailTel"] = Text("13800138002");
    e["cb_pdat"] = Entry(1);  // 定点上传
    e["edit9"] = Text("13800138002");
    e["edt1"] = Text("24");  // not stored in fixed-time mode: the window's default stays
    e["CheckBox2"] = Check(true, 1);
    e["CheckBox3"] = Check(true, 1);
    e["CheckBox4"] = Check(true, 1);
    e["CheckBox5"] = Check(false, 1);
    e["DateTimePicker5"] = At("07:30", true);
    e["DateTimePicker6"] = At("12:00", true);
    e["DateTimePicker7"] = At("18:00", true);
    e["DateTimePicker8"] = At("00:00", false);
    e["edt_relay_time"] = Text("30");
    e["cbb_gprsupmode"] = Entry(0);  // 定时上传
    e["edt_gprstimeup"] = Text("5");
    e["dtp_gprspointup"] = At("00:00", false);
    return e;
}

// The settings of the window after logging in to an R4T1 and reading the demo controller.
struct Read {
    Read() {
        image->fill(0xFF);
        sim::FillDemoMemory(*image);
        const char login[] = "\x01R4T1\0V2.3 20140105";
        SetupForModel(settings, reinterpret_cast<const uint8_t*>(login), sizeof login);
        complete = DecodeBlocks(BlocksFromImage(*image), settings);
    }
    std::unique_ptr<ConfigImage> image = std::make_unique<ConfigImage>();
    DeviceSettings settings;
    bool complete = false;
};

TEST(DemoProfile, TheToolsDecodersReadWhatTheProfileMeans) {
    const Read read;
    ASSERT_TRUE(read.complete);
    const DeviceSettings& s = read.settings;
    const std::map<QString, Shown> expected = Expected();
    for (const FieldSpec& spec : s.Specs()) {
        if (spec.group == QLatin1String("grp8")) continue;  // login, model, version
        SCOPED_TRACE(spec.name.toStdString());
        const auto it = expected.find(spec.name);
        ASSERT_NE(it, expected.end()) << "no intended value";
        const Shown& want = it->second;
        if (want.text) {
            EXPECT_EQ(s.Text(spec.name), QString::fromUtf8(want.text));
        }
        if (want.index != -2) {
            EXPECT_EQ(s.Index(spec.name), want.index);
        }
        if (want.checked >= 0) {
            EXPECT_EQ(s.Checked(spec.name), want.checked == 1);
        }
        if (want.time) {
            EXPECT_EQ(s.Time(spec.name).toString("HH:mm"), want.time);
        }
        if (want.enabled >= 0) {
            EXPECT_EQ(s.Enabled(spec.name), want.enabled == 1);
        }
    }
}

TEST(DemoProfile, LimitsAreInOrderForEverySensor) {
    const Read read;
    for (int n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        const QString p = QStringLiteral("edt_Sensor%1_").arg(n);
        const double ultraLow = read.settings.Text(p + "SLow").toDouble();
        const double low = read.settings.Text(p + "Low").toDouble();
        const double high = read.settings.Text(p + "High").toDouble();
        const double ultraHigh = read.settings.Text(p + "SHigh").toDouble();
        EXPECT_LT(ultraLow, low);
        EXPECT_LT(low, high);
        EXPECT_LT(high, ultraHigh);
    }
}

TEST(DemoProfile, WrittenBackUnchangedItIsTheSameMemory) {
    const Read read;
    RawBlocks written;
    const auto problem = EncodeBlocks(read.settings, written);
    ASSERT_FALSE(problem.has_value()) << problem->label.toStdString();
    EXPECT_EQ(written, BlocksFromImage(*read.image));

    // The same without the read's kept bytes: the profile needs none of them.
    DeviceSettings fresh;
    SetUpLike(read.settings, fresh);
    DecodeBlocks(BlocksFromImage(*read.image), fresh);
    fresh.ForgetRead();
    ASSERT_FALSE(EncodeBlocks(fresh, written).has_value());
    EXPECT_EQ(written, BlocksFromImage(*read.image));

    // Nothing outside the four blocks.
    ConfigImage blank;
    blank.fill(0xFF);
    CopyBlocksToImage(BlocksFromImage(*read.image), blank);
    EXPECT_TRUE(blank == *read.image);
}

}  // namespace
}  // namespace r4t8
