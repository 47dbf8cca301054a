#include <gtest/gtest.h>

#include "operations/DebugText.h"
#include "operations/DirectOperations.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/support/RecordingSender.h"

namespace r4t8::testing {
namespace {

Bytes Payload(const Bytes& frame) { return Bytes(frame.begin() + 8, frame.end() - 3); }

class DirectTest : public ::testing::Test {
  protected:
    RecordingSender sender;
    FakeUserInterface ui;
    FakeTimeSource time;
    DirectOperations ops{sender, ui, ui, time};
};

// Clock

TEST_F(DirectTest, ReadClockFrame) {
    ops.btn_acquiretimeClick();
    ASSERT_EQ(sender.frames.size(), 1u);
    EXPECT_EQ(sender.frames[0],
              (Bytes{0xA5, 0x05, 0x00, 0x23, 0x01, 0x00, 0x01, 0x00, 0xD5, 0xFF, 0xA5}));
}

TEST_F(DirectTest, SetEditedTimeFrameAndItsLineForm) {
    ops.Button4Click(QDate(2014, 3, 5), QTime(8, 7, 6));
    ASSERT_EQ(sender.frames.size(), 1u);
    EXPECT_EQ(sender.selectors, std::vector<uint8_t>{34});
    const Bytes raw = {0xA5, 0x0B, 0x00, 0x22, 0x01, 0x00, 0x01, 0x00, 0x0E,
                       0x03, 0x05, 0x08, 0x07, 0x06, 0xA5, 0xFF, 0xA5};
    EXPECT_EQ(sender.frames[0], raw);
    EXPECT_EQ(EscapeFrame(sender.frames[0]),
              (Bytes{0xA5, 0x0B, 0x00, 0x22, 0x01, 0x00, 0x01, 0x00, 0x0E, 0x03, 0x05, 0x08, 0x07,
                     0x06, 0xAA, 0x05, 0xFF, 0xA5}));
}

TEST_F(DirectTest, DeviceTimeBytesOfDates) {
    const struct {
        QDate date;
        QTime time;
        std::array<uint8_t, 6> bytes;
    } cases[] = {
        {QDate(2014, 3, 5), QTime(8, 7, 6), {14, 3, 5, 8, 7, 6}},
        {QDate(2100, 1, 1), QTime(0, 0, 0), {0, 1, 1, 0, 0, 0}},
        {QDate(2099, 12, 31), QTime(23, 59, 59), {99, 12, 31, 23, 59, 59}},
        {QDate(1999, 6, 15), QTime(12, 30, 0), {99, 6, 15, 12, 30, 0}},
    };
    for (const auto& c : cases) {
        sender.frames.clear();
        ops.Button4Click(c.date, c.time);
        ASSERT_EQ(sender.frames.size(), 1u);
        EXPECT_EQ(Payload(sender.frames[0]), Bytes(c.bytes.begin(), c.bytes.end()))
            << c.date.toString(Qt::ISODate).toStdString();
    }
}

TEST_F(DirectTest, InvalidPickerValueSendsNothing) {
    ops.Button4Click(QDate(), QTime(1, 2, 3));
    ops.Button4Click(QDate(2014, 1, 1), QTime());
    EXPECT_TRUE(sender.frames.empty());
}

TEST_F(DirectTest, SetCurrentTimeTakesThePcClockAtTheClick) {
    time.SetWallClock(QDateTime(QDate(2014, 3, 5), QTime(8, 7, 6)));
    ops.btn_setcurtimeClick();
    time.Advance(61'000);
    ops.btn_setcurtimeClick();
    ASSERT_EQ(sender.frames.size(), 2u);
    EXPECT_EQ(Payload(sender.frames[0]), (Bytes{14, 3, 5, 8, 7, 6}));
    EXPECT_EQ(Payload(sender.frames[1]), (Bytes{14, 3, 5, 8, 8, 7}));
}

TEST_F(DirectTest, ClockReplySetsThePickers) {
    ops.OnGetTimeReply(MakeReply(cmd_get_time, {0x0E, 0x0C, 0x1F, 0x17, 0x3B, 0x3B}));
    ASSERT_EQ(ui.deviceTimes.size(), 1u);
    EXPECT_EQ(ui.deviceTimes[0].date(), QDate(2014, 12, 31));
    EXPECT_EQ(ui.deviceTimes[0].time(), QTime(23, 59, 59));
    EXPECT_EQ(ops.LastDeviceTime(), ui.deviceTimes[0]);
    // A leap day is a real date.
    ops.OnGetTimeReply(MakeReply(cmd_get_time, {16, 2, 29, 0, 0, 0}));
    ASSERT_EQ(ui.deviceTimes.size(), 2u);
    EXPECT_EQ(ui.deviceTimes[1].date(), QDate(2016, 2, 29));
    EXPECT_TRUE(ui.messages.empty());
    ASSERT_EQ(ui.outcomes.size(), 2u);
    EXPECT_EQ(ui.outcomes[0], std::make_pair(Operation::GetTime, Outcome::Succeeded));
}

TEST_F(DirectTest, ImpossibleClockReplyIsRejected) {
    const Bytes good = {0x0E, 0x0C, 0x1F, 0x17, 0x3B, 0x3B};
    const Bytes cases[] = {
        {14, 0, 5, 8, 7, 6},
        {14, 0, 0, 0, 0, 0},
        {0xFF, 0, 0xFF, 0xFF, 0xFF, 0xFF},
        {14, 13, 5, 8, 7, 6},
        {14, 3, 0, 8, 7, 6},
        {14, 3, 32, 8, 7, 6},
        {14, 2, 29, 8, 7, 6},
        {14, 4, 31, 8, 7, 6},
        {100, 1, 1, 0, 0, 0},
        {14, 3, 5, 24, 7, 6},
        {14, 3, 5, 8, 60, 6},
        {14, 3, 5, 8, 7, 60},
        {14, 3, 5, 8, 7},
        {},
    };
    ops.OnGetTimeReply(MakeReply(cmd_get_time, good));
    const QDateTime accepted = ops.LastDeviceTime();
    for (const Bytes& payload : cases) {
        ui.messages.clear();
        ui.outcomes.clear();
        ops.OnGetTimeReply(MakeReply(cmd_get_time, payload));
        ASSERT_EQ(ui.messages.size(), 1u) << ::testing::PrintToString(payload);
        EXPECT_EQ(ui.messages[0].text, "时间不正确");
        EXPECT_EQ(ui.messages[0].caption, "R4T8报警器设置软件");
        ASSERT_EQ(ui.outcomes.size(), 1u);
        EXPECT_EQ(ui.outcomes[0].second, Outcome::Failed);
    }
    EXPECT_EQ(ui.deviceTimes.size(), 1u);
    EXPECT_EQ(ops.LastDeviceTime(), accepted);
}

// Debug mode and factory reset

TEST_F(DirectTest, DebugModeFrames) {
    ops.Button5Click();
    ops.btn_padlockregulationClick();
    ASSERT_EQ(sender.frames.size(), 2u);
    EXPECT_EQ(sender.selectors, (std::vector<uint8_t>{32, 41}));
    EXPECT_EQ(sender.frames[0],
              (Bytes{0xA5, 0x06, 0x00, 0x20, 0x01, 0x00, 0x01, 0x00, 0x01, 0xD6, 0xFF, 0xA5}));
    EXPECT_EQ(sender.frames[1],
              (Bytes{0xA5, 0x06, 0x00, 0x20, 0x01, 0x00, 0x01, 0x00, 0x00, 0xD7, 0xFF, 0xA5}));
}

TEST_F(DirectTest, FactoryResetAsksFirst) {
    ui.answers = {MsgAnswer::No, MsgAnswer::Yes};
    ops.btn_industrialClick();
    EXPECT_TRUE(sender.frames.empty());
    ops.btn_industrialClick();
    ASSERT_EQ(sender.frames.size(), 1u);
    EXPECT_EQ(sender.frames[0],
              (Bytes{0xA5, 0x05, 0x00, 0x14, 0x01, 0x00, 0x01, 0x00, 0xE4, 0xFF, 0xA5}));
    ASSERT_EQ(ui.messages.size(), 2u);
    for (const auto& m : ui.messages) {
        EXPECT_EQ(m.text, "确定恢复工厂化");
        EXPECT_EQ(m.caption, "提示");
        EXPECT_EQ(m.buttons, MsgButtons::YesNo);
    }
}

Bytes Counting(uint8_t letter, int n) {
    Bytes p{letter};
    for (int i = 0; i < n; ++i) p.push_back(static_cast<uint8_t>(i));
    return p;
}

QString HexLine(int from, int to) {
    QString s;
    for (int i = from; i < to; ++i) s += QStringLiteral(" %1").arg(i, 2, 16, QChar('0')).toUpper();
    return s + "\r\n";
}

TEST_F(DirectTest, DebugDataGoesToTheMemoOfItsDirection) {
    ops.OnDebugData(MakeReply(cmd_debug_data, {'R', 0x41, 0x54, 0x0D, 0x0A}));
    EXPECT_EQ(ui.memo1, " 41 54 0D 0A\r\n");
    EXPECT_EQ(ui.memo2, "");
    ops.OnDebugData(MakeReply(cmd_debug_data, {'T', 0xA5, 0xFF, 0x00}));
    EXPECT_EQ(ui.memo2, " A5 FF 00\r\n");
    // Appended, never replaced.
    ops.OnDebugData(MakeReply(cmd_debug_data, {'R', 0xBE}));
    EXPECT_EQ(ui.memo1, " 41 54 0D 0A\r\n BE\r\n");
}

TEST_F(DirectTest, DebugDataLineBreaks) {
    const struct {
        int count;
        QString text;
    } cases[] = {
        {45, HexLine(0, 20) + HexLine(20, 40) + HexLine(40, 45)},
        {20, HexLine(0, 20) + "\r\n"},
        {40, HexLine(0, 20) + HexLine(20, 40) + "\r\n"},
        {21, HexLine(0, 20) + HexLine(20, 21)},
        {0, ""},
    };
    for (const auto& c : cases) {
        ui.memo2.clear();
        ops.OnDebugData(MakeReply(cmd_debug_data, Counting('T', c.count)));
        EXPECT_EQ(ui.memo2, c.text) << c.count;
    }
}

TEST_F(DirectTest, OtherLettersAndEmptyFramesAreDropped) {
    for (const Bytes& p : {Bytes{'X', 1, 2}, Bytes{'r', 1}, Bytes{0, 1}, Bytes{}, Bytes{'R'}}) {
        ops.OnDebugData(MakeReply(cmd_debug_data, p));
    }
    EXPECT_EQ(ui.memo1, "");
    EXPECT_EQ(ui.memo2, "");
    EXPECT_TRUE(ui.messages.empty());
}

TEST(DebugText, FormatsEveryByteValue) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    const QString text = FormatDebugBytes(all.data(), all.size());
    QString expected;
    for (int line = 0; line * 20 < 256; ++line)
        expected += HexLine(line * 20, std::min(256, line * 20 + 20));
    EXPECT_EQ(text, expected);
    EXPECT_EQ(FormatDebugBytes(nullptr, 5), "");
}

}  // namespace
}  // namespace r4t8::testing
