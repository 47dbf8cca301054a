#include <gtest/gtest.h>

#include "config/SetupForModel.h"

namespace r4t8 {
namespace {

using B = std::vector<uint8_t>;

B Login(const char* model, const char* version) {
    B p{1};
    for (const char* c = model; *c; ++c) p.push_back(uint8_t(*c));
    p.push_back(0);
    for (const char* c = version; *c; ++c) p.push_back(uint8_t(*c));
    p.push_back(0);
    return p;
}

ModelInfo Apply(DeviceSettings& s, const B& p) { return SetupForModel(s, p.data(), p.size()); }

const QStringList kTemp{QStringLiteral("摄氏度"), QStringLiteral("华氏度")};
const QStringList kAnalogue{QStringLiteral("模拟")};

TEST(SetupForModel, FourVariants) {
    struct Case {
        const char* model;
        QStringList items12, items34;
        SensorTypeCodeTable codes;
        bool sensors34;
    };
    const QStringList design = DeviceSettings().Items("cbb_sensor3");
    const Case cases[] = {
        {"R4T0", kTemp, design, {'C', 'F', 'B'}, false},
        {"R4T1", kTemp, kTemp, {'C', 'F', 'B'}, true},
        {"R4T2", kAnalogue, design, {'B', 'F', 'B'}, false},
        {"R4T3xyz", kAnalogue, kAnalogue, {'B', 'F', 'B'}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        DeviceSettings s;
        s.SetIndex("cbb_sensor1", 1);
        const ModelInfo info = Apply(s, Login(c.model, "V2.3"));
        EXPECT_EQ(info.model, c.model);
        EXPECT_EQ(info.version, "V2.3");
        EXPECT_EQ(s.Text("Edit1"), c.model);
        EXPECT_EQ(s.Text("edt43"), "V2.3");
        EXPECT_EQ(s.Items("cbb_sensor1"), c.items12);
        EXPECT_EQ(s.Items("cbb_sensor2"), c.items12);
        EXPECT_EQ(s.Items("cbb_sensor4"), c.items34);
        EXPECT_EQ(s.Index("cbb_sensor1"), 0);  // refilled: item 0
        EXPECT_EQ(s.SensorTypeCodes(), c.codes);
        for (int n = 1; n <= 4; ++n)
            for (const QString& name : SensorControlNames(n))
                EXPECT_EQ(s.Enabled(name), n <= 2 || c.sensors34) << name.toStdString();
    }
}

TEST(SetupForModel, AnalogueAfterTemperature) {
    DeviceSettings s;
    Apply(s, Login("R4T1", "a"));
    Apply(s, Login("R4T2", "b"));
    EXPECT_EQ(s.Items("cbb_sensor1"), kAnalogue);
    EXPECT_EQ(s.Items("cbb_sensor2"), kAnalogue);
    EXPECT_EQ(s.Items("cbb_sensor3"), kTemp);
    EXPECT_EQ(s.Items("cbb_sensor4"), kTemp);
    EXPECT_FALSE(s.Enabled("cbb_sensor3"));
    EXPECT_FALSE(s.Enabled("edt_Sensor4_end"));
    EXPECT_EQ(s.SensorTypeCodes(), (SensorTypeCodeTable{'B', 'F', 'B'}));
}

TEST(SetupForModel, UnmatchedIdentifiersOnlyShowTheirTexts) {
    const char* models[] = {"R4T4", "r4t1", "X4T1", "R4T", "", "R4"};
    for (const char* m : models) {
        SCOPED_TRACE(m);
        DeviceSettings s;
        Apply(s, Login("R4T0", "x"));  // a set-up that must survive
        Apply(s, Login(m, "V9"));
        EXPECT_EQ(s.Text("Edit1"), m);
        EXPECT_EQ(s.Text("edt43"), "V9");
        EXPECT_EQ(s.Items("cbb_sensor1"), kTemp);
        EXPECT_FALSE(s.Enabled("cbb_sensor3"));
    }
}

TEST(SetupForModel, OddPayloads) {
    DeviceSettings s;
    // 0xFF ends the shown text; the variant test still sees the first four bytes.
    B p{1, 'R', '4', 'T', '3', 0xFF, 'Z', 0, 'V', 0xFF, '1', 0};
    ModelInfo info = Apply(s, p);
    EXPECT_EQ(info.model, "R4T3");
    EXPECT_EQ(info.version, "V");
    EXPECT_EQ(s.Items("cbb_sensor4"), kAnalogue);

    B q{1, 'R', '4', 0xFF, '2', 0};
    info = Apply(s, q);
    EXPECT_EQ(info.model, "R4");
    EXPECT_EQ(s.Items("cbb_sensor1"), kAnalogue);  // "R4\xFF2" matches nothing

    // No terminating zeros: the texts end with the payload; an empty payload is harmless.
    B r{1, 'R', '4', 'T', '1', 'x'};
    info = Apply(s, r);
    EXPECT_EQ(info.model, "R4T1x");
    EXPECT_EQ(info.version, "");
    EXPECT_EQ(s.Items("cbb_sensor1"), kTemp);
    info = SetupForModel(s, nullptr, 0);
    EXPECT_EQ(info.model, "");

    // Through a reply record, the payload count bounds the texts.
    ReplyRecord rec;
    rec.payload.fill('A');
    rec.payloadCount = 3;
    rec.payload[0] = 1;
    EXPECT_EQ(SetupForModel(s, rec).model, "AA");
    rec.payloadCount = 256;
    EXPECT_EQ(SetupForModel(s, rec).model.size(), 255);
}

}  // namespace
}  // namespace r4t8
