// What was read is what is written: blocks read from a controller and written back without an
// edit come back byte for byte, codes the window cannot show included, and what makes the
// window forget such a code.
#include <gtest/gtest.h>

#include <random>

#include "config/BlockCodecs.h"
#include "config/RawBlocks.h"

namespace r4t8 {
namespace {

using B = std::vector<uint8_t>;

// A controller as the tool configures it, with every list at a non-default entry.
RawBlocks Configured() {
    DeviceSettings s;
    s.SetText("edt_tel1", "13800138000");
    s.SetIndex("cbb_tel1_f1", 1);
    s.SetIndex("cbb_tel1_f2", 2);
    s.SetIndex("cbb_sensor2", 1);
    s.SetIndex("cbb_sensor2_ain", 2);
    s.SetText("edt_Sensor1_High", "8");
    s.SetIndex("cbb_mode", 1);
    s.SetIndex("cbb_timemode", 0);
    s.SetChecked("chk1", true);
    s.UserPickIndex("cbb_gprsupmode", 1);
    s.SetTime("dtp_gprspointup", QTime(3, 15));
    s.UserPickIndex("cb_pdat", 1);
    s.SetChecked("CheckBox2", true);
    s.SetTime("DateTimePicker5", QTime(6, 30));
    s.SetText("edt_id", "861234567890123");
    RawBlocks blocks;
    EXPECT_FALSE(EncodeBlocks(s, blocks).has_value());
    return blocks;
}

void Put(RawBlocks& blocks, ConfigBlock block, size_t offset, const B& bytes) {
    std::copy(bytes.begin(), bytes.end(), blocks.begin() + RawIndex(block) * kBlockSize + offset);
}

B Get(const RawBlocks& blocks, ConfigBlock block, size_t offset, size_t n) {
    const auto at = blocks.begin() + RawIndex(block) * kBlockSize + offset;
    return B(at, at + n);
}

RawBlocks WrittenBack(const DeviceSettings& s) {
    RawBlocks out;
    const auto problem = EncodeBlocks(s, out);
    EXPECT_FALSE(problem.has_value()) << problem->label.toStdString();
    return out;
}

uint8_t WrittenByte(const DeviceSettings& s, ConfigBlock block, size_t offset) {
    return Get(WrittenBack(s), block, offset, 1)[0];
}

TEST(ReadWriteBack, BlankControllerGoesBackByteForByte) {
    RawBlocks blank;
    blank.fill(0xFF);
    DeviceSettings s;
    s.SetIndex("cbb_tel4_f2", 2);  // a state from before the read must not leak into the write
    s.SetIndex("cb_pdat", 1);
    ASSERT_TRUE(DecodeBlocks(blank, s));
    for (ConfigBlock block : kBlockOrder)
        EXPECT_FALSE(ValidateBlock(block, s).has_value()) << BlockGroupName(block).toStdString();
    const RawBlocks back = WrittenBack(s);
    EXPECT_EQ(BlockNames(DifferingBlocks(back, blank)), "");
    EXPECT_EQ(back, blank);
}

// A configured block with one code poked in that no list entry or flag state stands for.
struct Poke {
    const char* field;
    ConfigBlock block;
    size_t offset;
    B bytes;
    bool list;
};

const Poke kPokes[] = {
    {"cbb_tel3_f1", ConfigBlock::PhoneBlock, 44, {7}, true},
    {"cbb_tel6_f2", ConfigBlock::PhoneBlock, 111, {'9'}, true},
    {"cbb_sensor1", ConfigBlock::SensorBlock, 0, {'K'}, true},
    {"cbb_sensor4_ain", ConfigBlock::SensorBlock, 132, {'7'}, true},
    {"cbb_mode", ConfigBlock::GprsBlock, 66, {7}, true},
    {"cbb_timemode", ConfigBlock::SystemBlock, 0, {7}, true},
    {"cbb_gprsupmode", ConfigBlock::SystemBlock, 74, {'X', 0xFF, 0x12, 0x34, 5, 6}, true},
    {"cb_pdat", ConfigBlock::SystemBlock, 80, {'Q', 0xFF, 3, 0, 1, 2, 3, 4, 5, 6, 7, 8}, true},
    {"chk1", ConfigBlock::SystemBlock, 46, {7}, false},
    {"CheckBox1", ConfigBlock::SystemBlock, 73, {0x80}, false},
};

// A text field of each block, to change something else in the same block.
QString OtherField(ConfigBlock block) {
    switch (block) {
        case ConfigBlock::PhoneBlock:
            return "edt_tel2";
        case ConfigBlock::SensorBlock:
            return "edt_Sensor3_Low";
        case ConfigBlock::GprsBlock:
            return "edt_apn";
        case ConfigBlock::SystemBlock:
            return "edit9";
    }
    return {};
}

TEST(ReadWriteBack, CodesTheWindowCannotShowSurviveAReadWriteCycle) {
    for (const Poke& p : kPokes) {
        SCOPED_TRACE(p.field);
        RawBlocks read = Configured();
        Put(read, p.block, p.offset, p.bytes);
        DeviceSettings s;
        ASSERT_TRUE(DecodeBlocks(read, s));
        if (p.list)
            EXPECT_EQ(s.Index(p.field), -1);
        else
            EXPECT_TRUE(s.Checked(p.field));
        EXPECT_EQ(WrittenBack(s), read);

        // Another field of the same block changes; the code still goes back as read.
        s.SetText(OtherField(p.block), "7");
        const RawBlocks edited = WrittenBack(s);
        EXPECT_EQ(Get(edited, p.block, p.offset, p.bytes.size()), p.bytes);
        EXPECT_NE(edited, read);
    }
}

TEST(ReadWriteBack, APickALoadOrAReadReplacesTheCodeTheReadLeft) {
    RawBlocks read = Configured();
    Put(read, ConfigBlock::GprsBlock, 66, {7});
    Put(read, ConfigBlock::SystemBlock, 46, {0xFF});
    const auto gprs = ConfigBlock::GprsBlock;

    DeviceSettings s;
    DecodeBlocks(read, s);
    s.SetComboText("cbb_mode", "T");  // typing is no pick: still no code of its own
    EXPECT_EQ(WrittenByte(s, gprs, 66), 7);
    s.UserPickIndex("cbb_mode", 1);
    EXPECT_EQ(WrittenByte(s, gprs, 66), 1);
    s.SetComboText("cbb_mode", "");  // the pick forgot the code that was read
    EXPECT_EQ(WrittenByte(s, gprs, 66), 0xFF);

    DecodeBlocks(read, s);
    s.ForgetRead();  // a settings file was loaded
    EXPECT_EQ(WrittenByte(s, gprs, 66), 0xFF);
    EXPECT_EQ(WrittenByte(s, ConfigBlock::SystemBlock, 46), 1);

    // A later read replaces the code, also by one the list carries.
    DecodeBlocks(read, s);
    Put(read, gprs, 66, {9});
    DecodeBlocks(read, s);
    EXPECT_EQ(WrittenByte(s, gprs, 66), 9);
    Put(read, gprs, 66, {0});
    DecodeBlocks(read, s);
    EXPECT_EQ(s.Index("cbb_mode"), 0);
    s.SetComboText("cbb_mode", "");
    EXPECT_EQ(WrittenByte(s, gprs, 66), 0);

    // A refill at login selects the first entry: that entry's code.
    Put(read, ConfigBlock::SensorBlock, 0, {'K'});
    DecodeBlocks(read, s);
    s.SetItems("cbb_sensor1", s.Items("cbb_sensor1"), 0);
    EXPECT_EQ(WrittenByte(s, ConfigBlock::SensorBlock, 0), 'C');

    // A flag the user sets, even back to checked, is written as 1.
    DecodeBlocks(read, s);
    EXPECT_EQ(WrittenByte(s, ConfigBlock::SystemBlock, 46), 0xFF);
    s.SetChecked("chk1", false);
    EXPECT_EQ(WrittenByte(s, ConfigBlock::SystemBlock, 46), 0);
    s.SetChecked("chk1", true);
    EXPECT_EQ(WrittenByte(s, ConfigBlock::SystemBlock, 46), 1);

    DecodeBlocks(read, s);
    s.ResetToDefaults();
    EXPECT_EQ(WrittenByte(s, gprs, 66), 0);  // the default entry, TCP
    EXPECT_EQ(WrittenByte(s, ConfigBlock::SystemBlock, 46), 0);
}

TEST(ReadWriteBack, FixedBytesOfABlankSystemBlockStayUntilSomethingChanges) {
    const auto sys = ConfigBlock::SystemBlock;
    RawBlocks blank;
    blank.fill(0xFF);
    DeviceSettings s;
    DecodeBlocks(blank, s);
    EXPECT_EQ(Get(WrittenBack(s), sys, 44, 2), (B{0xFF, 0xFF}));

    // Any change brings the layout's fixed values: 60 and "C".
    for (int change = 0; change < 3; ++change) {
        SCOPED_TRACE(change);
        DeviceSettings t;
        DecodeBlocks(blank, t);
        if (change == 0) t.SetText("edt_id", "123");
        if (change == 1) t.UserPickIndex("cbb_timemode", 1);
        if (change == 2) t.SetChecked("CheckBox1", false);
        const RawBlocks w = WrittenBack(t);
        EXPECT_EQ(Get(w, sys, 44, 2), (B{0x3C, 0x00}));
        EXPECT_EQ(Get(w, sys, 112, 1), B{'C'});
    }

    // So does a read block that the encoder would not reproduce anyway (a reserved byte).
    RawBlocks odd = blank;
    Put(odd, sys, 43, {0});
    DecodeBlocks(odd, s);
    EXPECT_EQ(Get(WrittenBack(s), sys, 43, 3), (B{0xFF, 0x3C, 0x00}));

    // A configured controller holds them already.
    const RawBlocks configured = Configured();
    DecodeBlocks(configured, s);
    EXPECT_EQ(WrittenBack(s), configured);
}

// Offsets of the bytes that a list or flag decides, for a list the code byte only.
std::vector<std::pair<ConfigBlock, size_t>> CodeBytes() {
    std::vector<std::pair<ConfigBlock, size_t>> v;
    for (size_t n = 0; n < 6; ++n) {
        v.emplace_back(ConfigBlock::PhoneBlock, 22 * n);
        v.emplace_back(ConfigBlock::PhoneBlock, 22 * n + 1);
    }
    for (size_t n = 0; n < 4; ++n) {
        v.emplace_back(ConfigBlock::SensorBlock, 36 * n);
        v.emplace_back(ConfigBlock::SensorBlock, 36 * n + 24);
    }
    v.emplace_back(ConfigBlock::GprsBlock, 66);
    for (size_t at : {0, 46, 73, 74, 80}) v.emplace_back(ConfigBlock::SystemBlock, at);
    return v;
}

TEST(ReadWriteBack, RandomBlocksKeepEveryCodeByte) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> byte(0, 255);
    const uint8_t special[] = {'D', 'M', '0', '1', '2', '3', 'C', 'F', 'B', 0xFF, 0, 1};
    for (int round = 0; round < 500; ++round) {
        SCOPED_TRACE(round);
        RawBlocks read;
        for (uint8_t& b : read) {
            const int r = byte(rng);
            b = r < 96 ? special[r % sizeof special] : static_cast<uint8_t>(byte(rng));
        }
        // Valid upload times, so that the decoder reaches every field.
        for (size_t at : {78, 84, 86, 88, 90}) Put(read, ConfigBlock::SystemBlock, at, {1, 2});
        DeviceSettings s;
        ASSERT_TRUE(DecodeBlocks(read, s));
        RawBlocks back;
        if (EncodeBlocks(s, back)) continue;  // a field that cannot be written: refused
        for (const auto& [block, at] : CodeBytes())
            ASSERT_EQ(Get(back, block, at, 1), Get(read, block, at, 1))
                << BlockGroupName(block).toStdString() << " byte " << at;
    }
}

}  // namespace
}  // namespace r4t8
