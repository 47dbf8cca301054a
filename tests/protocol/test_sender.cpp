#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProtocolTestUtil.h"
#include "protocol/CommandSender.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"

using namespace r4t8;
using r4t8::testing::FakeTimeSource;
using r4t8::testing::FakeUserInterface;
using r4t8::testing::Hex;
using r4t8::testing::RecordingPort;

namespace {

struct SenderTest : ::testing::Test {
    FakeTimeSource time;
    FakeUserInterface ui;
    RecordingPort port{&time};
    CommandSender sender{port, time, ui, ui};

    int TimeoutMessages() const {
        return static_cast<int>(ui.MessageTexts().count(QStringLiteral("发送命令超时")));
    }
};

}  // namespace

TEST_F(SenderTest, ResendsThreeTimesThenTimesOutOnce) {
    std::vector<QString> panel;
    sender.SendFrame(BuildReadBlockFrame(1024));
    for (int i = 0; i < 4; ++i) {
        time.Advance(1000);
        panel.push_back(ui.status.count(2) ? ui.status[2] : QStringLiteral("<unset>"));
    }
    QString panelAtMessage;
    EXPECT_EQ(port.Times(), (std::vector<int64_t>{0, 1000, 2000, 3000}));
    for (const auto& w : port.writes)
        EXPECT_EQ(w.second, Hex("A5 09 00 11 01 00 01 00 00 04 00 00 DF FF A5"));
    EXPECT_EQ(panel, (std::vector<QString>{QStringLiteral("<unset>"), QStringLiteral("重发命令1次"),
                                           QStringLiteral("重发命令2次"), QString()}));
    ASSERT_EQ(TimeoutMessages(), 1);
    EXPECT_EQ(ui.messages.back().caption, QStringLiteral("Information"));
    EXPECT_EQ(ui.messages.back().buttons, MsgButtons::Ok);
    ASSERT_EQ(ui.outcomes.size(), 1u);
    EXPECT_EQ(ui.outcomes[0], std::make_pair(Operation::ReadSettings, Outcome::TimedOut));
    EXPECT_EQ(sender.OutstandingCommand(), 0);
    time.Advance(10000);
    EXPECT_EQ(port.writes.size(), 4u);
    EXPECT_EQ(TimeoutMessages(), 1);
}

TEST_F(SenderTest, PanelShowsTheCountWhileTheTimeOutBoxIsOpen) {
    QString atMessage;
    ui.whileMessageOpen = [&](const QString&) { atMessage = ui.status[2]; };
    sender.SendCommand(cmd_get_time);
    time.Advance(4000);
    EXPECT_EQ(atMessage, QStringLiteral("重发命令3次"));
    EXPECT_EQ(ui.status[2], QString());
}

TEST_F(SenderTest, AReplyAfterTheSecondTickStopsTheCycleAndKeepsThePanel) {
    sender.SendCommand(cmd_get_time);
    time.Advance(2500);
    EXPECT_EQ(sender.ResendCount(), 2);
    sender.StopResendTimer();  // what the receiver does on a correct reply
    time.Advance(10000);
    EXPECT_EQ(port.writes.size(), 3u);
    EXPECT_EQ(ui.status[2], QStringLiteral("重发命令1次"));
    EXPECT_EQ(TimeoutMessages(), 0);
}

TEST_F(SenderTest, ANewRequestReplacesThePendingOne) {
    sender.SendCommand(cmd_get_time);
    time.Advance(500);
    sender.SendCommand(cmd_current_data);
    time.Advance(5000);
    const Bytes current = Hex("A5 05 00 17 01 00 01 00 E1 FF A5");
    EXPECT_EQ(port.Times(), (std::vector<int64_t>{0, 500, 1500, 2500, 3500}));
    for (size_t i = 1; i < port.writes.size(); ++i) EXPECT_EQ(port.writes[i].second, current);
    EXPECT_EQ(TimeoutMessages(), 1);
    ASSERT_EQ(ui.outcomes.size(), 1u);
    EXPECT_EQ(ui.outcomes[0].first, Operation::CurrentData);
}

TEST_F(SenderTest, StopAndClosedPort) {
    sender.SendCommand(cmd_get_time);
    sender.StopResend();
    time.Advance(5000);
    EXPECT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(TimeoutMessages(), 0);

    // A closed port still logs and still ends in the time-out.
    port.open = false;
    sender.SendCommand(cmd_get_time);
    time.Advance(4000);
    EXPECT_EQ(TimeoutMessages(), 1);
    EXPECT_EQ(ui.sendLog.count(QStringLiteral("\r\n")), 5);
}

TEST_F(SenderTest, WorstCaseWriteFrameIsResentWhole) {
    ConfigImage image;
    image.fill(0xFF);
    for (size_t i = 0; i < kBlockSize; ++i) image[1024 + i] = (i % 2) ? 0xAA : 0xA5;
    sender.PrepareBlockWrite(image, 1024);
    sender.SendBlockWrite();
    const Bytes raw = BuildWriteBlockFrame(1024, image.data() + 1024);
    const Bytes line = EscapeFrame(raw);
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.writes[0].second, line);
    // Every data byte is escaped; the header and this checksum (5F 58) need none.
    EXPECT_EQ(line.size(), 271u + 256u);
    time.Advance(3000);
    ASSERT_EQ(port.writes.size(), 4u);
    for (const auto& w : port.writes) EXPECT_EQ(w.second, line);
    EXPECT_EQ(sender.LastFrame(), line);
}

TEST_F(SenderTest, BlockWriteLayout) {
    ConfigImage image;
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
    struct Case {
        uint32_t address;
    };
    for (const Case c : {Case{1024}, Case{2048}, Case{3072}, Case{4096}}) {
        SCOPED_TRACE(c.address);
        time.Advance(60000);  // the unanswered write before is no longer waited for
        port.writes.clear();
        sender.PrepareBlockWrite(image, c.address);
        sender.SendBlockWrite();
        ASSERT_EQ(port.writes.size(), 1u);
        Bytes got = port.writes[0].second;
        EXPECT_EQ(got, EscapeFrame(BuildWriteBlockFrame(c.address, image.data() + c.address)));
        uint8_t command = 0;
        Bytes payload;
        ASSERT_TRUE(ParseRawFrame(r4t8::testing::Unline(got), command, payload));
        EXPECT_EQ(command, cmd_write_block);
        ASSERT_EQ(payload.size(), 260u);
        EXPECT_EQ(payload[0] | (payload[1] << 8), static_cast<int>(c.address & 0xFFFF));
        EXPECT_EQ(payload[4], image[c.address]);
        EXPECT_EQ(payload[259], image[c.address + 255]);
    }
    // An address at the very end of the image never reads past it.
    time.Advance(60000);
    port.writes.clear();
    sender.PrepareBlockWrite(image, 65500);
    sender.SendBlockWrite();
    ASSERT_EQ(port.writes.size(), 1u);
}

// A request of the same code as an unanswered one is held back by the reply guard, so every
// case gets a sender of its own.
TEST(SenderTable, SelectorTable) {
    SendCommandArgs a;
    struct Case {
        std::string name;
        std::function<void()> setup;
        uint8_t selector;
        const char* line;  // empty: nothing is sent
    };
    const std::vector<Case> cases = {
        {"write done", [] {}, 19, "A5 05 00 13 01 00 01 00 E5 FF A5"},
        {"factory reset", [] {}, 20, "A5 05 00 14 01 00 01 00 E4 FF A5"},
        {"history count", [&] { a.historyRange = {14, 1, 1, 14, 1, 31}; }, 21,
         "A5 0B 00 15 01 00 01 00 0E 01 01 0E 01 1F 9F FF A5"},
        {"history page 1", [&] { a.historyPageIndex = 1; }, 22,
         "A5 07 00 16 01 00 01 00 01 00 DF FF A5"},
        {"history page 0", [&] { a.historyPageIndex = 0; }, 22,
         "A5 07 00 16 01 00 01 00 00 00 E0 FF A5"},
        {"current data", [] {}, 23, "A5 05 00 17 01 00 01 00 E1 FF A5"},
        {"relay without a letter", [&] { a.relayLetter = 0; }, 24, ""},
        {"relay close 10 s",
         [&] {
             a.relayLetter = 'C';
             a.relayCloseTime = 10;
         },
         24, "A5 08 00 18 01 00 01 00 01 43 0A 00 8F FF A5"},
        {"relay pulse 3 1 5",
         [&] {
             a.relayLetter = 'P';
             a.relayPulseTime = 3;
             a.relayInterval = 1;
             a.relayCount = 5;
         },
         24, "A5 0B 00 18 01 00 01 00 01 50 03 00 01 00 05 80 FF A5"},
        {"relay release", [&] { a.relayLetter = 'O'; }, 24,
         "A5 06 00 18 01 00 01 00 01 4F 8F FF A5"},
        {"relay other letter", [&] { a.relayLetter = 'X'; }, 24, ""},
        {"debug on", [] {}, 32, "A5 06 00 20 01 00 01 00 01 D6 FF A5"},
        {"set time, escaped checksum", [&] { a.deviceTime = {14, 3, 5, 8, 7, 6}; }, 34,
         "A5 0B 00 22 01 00 01 00 0E 03 05 08 07 06 AA 05 FF A5"},
        {"get time", [] {}, 35, "A5 05 00 23 01 00 01 00 D5 FF A5"},
        {"debug off", [] {}, 41, "A5 06 00 20 01 00 01 00 00 D7 FF A5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTimeSource time;
        FakeUserInterface ui;
        RecordingPort port{&time};
        CommandSender sender{port, time, ui, ui};
        c.setup();
        sender.Args() = a;
        sender.SendCommand(c.selector);
        if (std::string(c.line).empty()) {
            EXPECT_TRUE(port.writes.empty());
        } else {
            ASSERT_EQ(port.writes.size(), 1u);
            EXPECT_EQ(port.writes[0].second, Hex(c.line));
        }
    }
    FakeTimeSource time;
    FakeUserInterface ui;
    RecordingPort port{&time};
    CommandSender sender{port, time, ui, ui};
    for (int selector : {0, 1, 16, 17, 18, 33, 36, 40, 42, 255}) {
        SCOPED_TRACE(selector);
        sender.SendCommand(static_cast<uint8_t>(selector));
        EXPECT_TRUE(port.writes.empty());
    }
}

TEST(SendLog, LineBreaks) {
    struct Case {
        size_t count;
        int breaks;
    };
    for (const Case c : {Case{1, 1}, Case{11, 1}, Case{19, 1}, Case{20, 2}, Case{21, 2},
                         Case{40, 3}, Case{41, 3}}) {
        SCOPED_TRACE(c.count);
        Bytes bytes(c.count);
        for (size_t i = 0; i < c.count; ++i) bytes[i] = static_cast<uint8_t>(0xF0 + i % 16);
        const QString text = CommandSender::FormatSentLog(bytes.data(), bytes.size());
        EXPECT_EQ(text.count(QStringLiteral("\r\n")), c.breaks);
        EXPECT_TRUE(text.endsWith(QStringLiteral("\r\n")));
        EXPECT_EQ(text.size(), static_cast<qsizetype>(c.count * 3 + c.breaks * 2));
        if (c.count % 20 == 0) {
            EXPECT_TRUE(text.endsWith(QStringLiteral("\r\n\r\n")));
        }
    }
    const Bytes b = {0x0A, 0xFF, 0xA5};
    EXPECT_EQ(CommandSender::FormatSentLog(b.data(), b.size()), QStringLiteral(" 0A FF A5\r\n"));
}

TEST_F(SenderTest, SendLogShowsTheLineForm) {
    sender.Args().deviceTime = {14, 3, 5, 8, 7, 6};
    sender.SendCommand(cmd_set_time);
    EXPECT_EQ(ui.sendLog,
              QStringLiteral(" A5 0B 00 22 01 00 01 00 0E 03 05 08 07 06 AA 05 FF A5\r\n"));
}
