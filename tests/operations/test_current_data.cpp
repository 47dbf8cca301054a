#include <gtest/gtest.h>

#include <limits>

#include "DirectTestSupport.h"
#include "operations/CurrentData.h"
#include "operations/DirectOperations.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/support/RecordingSender.h"

namespace r4t8::testing {
namespace {

class CurrentDataTest : public ::testing::Test {
  protected:
    void Reply(const Bytes& payload) {
        ops.OnCurrentDataReply(MakeReply(cmd_current_data, payload));
    }

    // A reply that sets every cell, so later replies can show what they leave alone.
    static Bytes FullPayload() {
        Bytes p;
        AppendFloatItem(p, 0x01, 0, 21.5f);
        AppendFloatItem(p, 0x01, 1, -3.0f);
        AppendFloatItem(p, 0x01, 2, 0.456f);
        AppendFloatItem(p, 0x01, 3, 12.345f);
        AppendItem(p, 0x50, 0x50, 23456789);
        AppendItem(p, 0x50, 0x51, 113250000);
        AppendItem(p, 0x50, 0x52, 125);
        AppendItem(p, 0x50, 0x53, 3600);
        AppendFloatItem(p, 0x10, 0x10, 25.0f);
        AppendFloatItem(p, 0x20, 0x20, 1.0f);
        AppendFloatItem(p, 0x30, 0x30, 0.0f);
        return p;
    }

    RecordingSender sender;
    FakeUserInterface ui;
    FakeTimeSource time;
    DirectOperations ops{sender, ui, ui, time};
};

TEST_F(CurrentDataTest, RequestFrameIsTheKnownOne) {
    ops.btn_inquire_curdatClick();
    ASSERT_EQ(sender.frames.size(), 1u);
    EXPECT_EQ(sender.selectors, std::vector<uint8_t>{23});
    EXPECT_EQ(sender.frames[0],
              (Bytes{0xA5, 0x05, 0x00, 0x17, 0x01, 0x00, 0x01, 0x00, 0xE1, 0xFF, 0xA5}));
}

TEST_F(CurrentDataTest, FullReplyFillsEveryValueCell) {
    Reply(FullPayload());
    const std::map<int, QString> expected = {
        {1, "21.5"}, {2, "-3"},  {3, "0.46"}, {4, "12.35"}, {5, "23.456789"}, {6, "113.25"},
        {7, "12.5"}, {8, "360"}, {9, "25"},   {10, "有效"}, {11, "无效"}};
    EXPECT_EQ(ui.cells, expected);
    for (const auto& [column, text] : expected) EXPECT_EQ(ops.CurrentDataCell(column), text);
    EXPECT_TRUE(ui.messages.empty());
    ASSERT_EQ(ui.outcomes.size(), 1u);
    EXPECT_EQ(ui.outcomes[0], std::make_pair(Operation::CurrentData, Outcome::Succeeded));
}

TEST_F(CurrentDataTest, EmptyReplyResetsOnlyGsmRelayAndPower) {
    Reply(FullPayload());
    ui.cells.clear();
    Reply({});
    // Only the three always-shown cells are written; the rest keep the earlier text.
    const std::map<int, QString> written = {{9, "0"}, {10, "无效"}, {11, "无效"}};
    EXPECT_EQ(ui.cells, written);
    EXPECT_EQ(ops.CurrentDataCell(1), "21.5");
    EXPECT_EQ(ops.CurrentDataCell(5), "23.456789");
    EXPECT_EQ(ops.CurrentDataCell(8), "360");
    EXPECT_EQ(ops.CurrentDataCell(10), "无效");
    // The readings of the first reply do not leak into the second.
    EXPECT_EQ(ops.LastSnapshot().sensorPresent[0], 0);
    EXPECT_EQ(ops.LastSnapshot().longitude, kGpsNotReceived);
}

TEST_F(CurrentDataTest, StateIsValidOnlyForExactlyOne) {
    const struct {
        float value;
        const char* text;
    } cases[] = {{1.0f, "有效"},  {2.0f, "无效"},
                 {0.0f, "无效"},  {0.9999f, "无效"},
                 {-1.0f, "无效"}, {std::numeric_limits<float>::quiet_NaN(), "无效"}};
    for (const auto& c : cases) {
        Bytes p;
        AppendFloatItem(p, 0x20, 0x20, c.value);
        AppendFloatItem(p, 0x30, 0x30, c.value);
        Reply(p);
        EXPECT_EQ(ops.CurrentDataCell(10), QString::fromUtf8(c.text)) << c.value;
        EXPECT_EQ(ops.CurrentDataCell(11), QString::fromUtf8(c.text)) << c.value;
    }
}

TEST_F(CurrentDataTest, LaterItemOfTheSameKindWins) {
    Bytes p;
    AppendFloatItem(p, 0x01, 0, 1.0f);
    AppendItem(p, 0x50, 0x50, 1000000);
    AppendFloatItem(p, 0x01, 0, 2.25f);
    AppendItem(p, 0x50, 0x50, 2500000);
    Reply(p);
    EXPECT_EQ(ops.CurrentDataCell(1), "2.25");
    EXPECT_EQ(ops.CurrentDataCell(5), "2.5");
}

TEST_F(CurrentDataTest, UndefinedTypeStopsTheWalkButShowsWhatCameBefore) {
    Bytes p;
    AppendFloatItem(p, 0x01, 1, 7.5f);
    AppendItem(p, 0x50, 0x52, 42);
    AppendItem(p, 0x77, 0x00, 0);
    AppendFloatItem(p, 0x01, 2, 9.0f);     // after the undefined item: not decoded
    AppendFloatItem(p, 0x20, 0x20, 1.0f);  // neither
    Reply(p);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "当前数据出现未定义项");
    EXPECT_EQ(ui.messages[0].caption, "R4T8报警器设置软件");
    EXPECT_EQ(ops.CurrentDataCell(2), "7.5");
    EXPECT_EQ(ops.CurrentDataCell(7), "4.2");
    EXPECT_EQ(ops.CurrentDataCell(3), "");
    EXPECT_EQ(ops.CurrentDataCell(10), "无效");
    EXPECT_EQ(ops.CurrentDataCell(9), "0");
    ASSERT_EQ(ui.outcomes.size(), 1u);
    EXPECT_EQ(ui.outcomes[0].second, Outcome::Failed);
}

TEST_F(CurrentDataTest, KnownTypeWithUnlistedChannelIsSkipped) {
    Bytes p;
    AppendFloatItem(p, 0x01, 4, 99.0f);    // sensor channel beyond the four
    AppendItem(p, 0x50, 0x54, 123);        // GPS channel without a meaning
    AppendFloatItem(p, 0x10, 0x11, 5.0f);  // GSM type, wrong channel
    AppendFloatItem(p, 0x20, 0x30, 1.0f);  // relay type, power's channel
    AppendFloatItem(p, 0x30, 0x20, 1.0f);  // power type, relay's channel
    AppendFloatItem(p, 0x01, 3, 4.0f);     // still reached after all of them
    Reply(p);
    EXPECT_TRUE(ui.messages.empty());
    const std::map<int, QString> written = {{4, "4"}, {9, "0"}, {10, "无效"}, {11, "无效"}};
    EXPECT_EQ(ui.cells, written);
    EXPECT_EQ(ui.outcomes.back().second, Outcome::Succeeded);
}

TEST_F(CurrentDataTest, TruncatedLastItemIsNotReadPastThePayload) {
    Bytes p;
    AppendFloatItem(p, 0x01, 0, 3.5f);
    Bytes tail;
    AppendFloatItem(tail, 0x01, 1, 8.0f);
    // Only four bytes of the second item arrive; the record's unused bytes behind them
    // would otherwise complete it.
    ReplyRecord r = MakeReply(cmd_current_data, p);
    std::copy(tail.begin(), tail.end(), r.payload.begin() + 6);
    r.payloadCount = 10;
    ops.OnCurrentDataReply(r);
    EXPECT_EQ(ops.CurrentDataCell(1), "3.5");
    EXPECT_EQ(ops.CurrentDataCell(2), "");
    EXPECT_EQ(ops.LastSnapshot().sensorPresent[1], 0);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(CurrentDataTest, CountBeyondThePayloadArrayIsClamped) {
    ReplyRecord r = MakeReply(cmd_current_data, {});
    // 42 whole sensor-4 items fill 252 bytes; the last four bytes are a partial item.
    for (size_t off = 0; off + 6 <= r.payload.size(); off += 6) {
        Bytes item;
        AppendFloatItem(item, 0x01, 3, static_cast<float>(off));
        std::copy(item.begin(), item.end(), r.payload.begin() + off);
    }
    r.payload[252] = 0x77;
    r.payloadCount = 0xFFFF;
    ops.OnCurrentDataReply(r);
    EXPECT_EQ(ops.CurrentDataCell(4), "246");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(CurrentDataTest, SnapshotKeepsTheRawReadings) {
    Reply(FullPayload());
    const CurrentDataSnapshot& s = ops.LastSnapshot();
    EXPECT_EQ(s.longitude, 23456789u);
    EXPECT_EQ(s.latitude, 113250000u);
    EXPECT_EQ(s.speed, 125u);
    EXPECT_EQ(s.direction, 3600u);
    EXPECT_DOUBLE_EQ(s.sensor[3], static_cast<double>(12.345f));
    EXPECT_EQ(s.sensorPresent[3], 1);
    EXPECT_DOUBLE_EQ(s.gsm, 25.0);
    EXPECT_DOUBLE_EQ(s.relay, 1.0);
}

TEST(CurrentDataDecoder, NullOrShortInputDecodesNothing) {
    const uint8_t item[6] = {0x01, 0x00, 0, 0, 0x80, 0x3F};
    EXPECT_FALSE(DecodeCurrentData(nullptr, 60).snapshot.sensorPresent[0]);
    EXPECT_FALSE(DecodeCurrentData(item, 5).snapshot.sensorPresent[0]);
    const CurrentDataDecode d = DecodeCurrentData(item, 6);
    EXPECT_EQ(d.snapshot.sensorPresent[0], 1);
    EXPECT_DOUBLE_EQ(d.snapshot.sensor[0], 1.0);
    EXPECT_EQ(d.snapshot.speed, kGpsNotReceived);
}

}  // namespace
}  // namespace r4t8::testing
