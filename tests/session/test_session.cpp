#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/DeviceSettings.h"
#include "protocol/CommandSender.h"
#include "protocol/FrameReceiver.h"
#include "session/DeviceSession.h"
#include "tests/protocol/ProtocolTestUtil.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"

using namespace r4t8;
using r4t8::testing::FakeTimeSource;
using r4t8::testing::FakeUserInterface;
using r4t8::testing::Hex;
using r4t8::testing::RecordingPort;
using r4t8::testing::Unline;

namespace {

const QString kTitle = QStringLiteral("R4T8报警器设置软件");

struct SessionTest : ::testing::Test {
    FakeTimeSource time;
    FakeUserInterface ui;
    RecordingPort port{&time};
    DeviceSettings settings{&ui};
    DeviceSession session{port, time, ui, settings};

    void Reply(uint8_t command, const Bytes& payload) {
        const Bytes line = EscapeFrame(BuildReplyFrame(command, payload));
        // One byte per call, as the port delivers them.
        for (uint8_t b : line) session.cm1ReceiveData(&b, 1);
    }
};

}  // namespace

TEST_F(SessionTest, StartsWithAClearedImage) {
    for (uint8_t b : session.Image()) ASSERT_EQ(b, 0xFF);
    EXPECT_EQ(session.Sender().OutstandingCommand(), 0);
}

TEST_F(SessionTest, LoginFrameCarriesTheFirstFourCharacters) {
    struct Case {
        const char* password;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"5807", {'5', '8', '0', '7'}},
        {"12", {'1', '2', 0, 0}},
        {"", {0, 0, 0, 0}},
        {"123456", {'1', '2', '3', '4'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        time.Advance(60000);  // an unanswered login before is no longer waited for
        port.writes.clear();
        session.btn7Click(QString::fromLatin1(c.password));
        ASSERT_EQ(port.writes.size(), 1u);
        const Bytes raw = Unline(port.writes[0].second);
        ASSERT_EQ(raw.size(), 15u);
        EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 8), Hex("A5 09 00 01 01 00 01 00"));
        EXPECT_EQ(Bytes(raw.begin() + 8, raw.begin() + 12), c.bytes);
        EXPECT_EQ(raw, BuildLoginFrame(c.bytes.data()));
    }
}

TEST_F(SessionTest, LoginReplies) {
    session.btn7Click(QStringLiteral("5807"));
    Reply(cmd_login, {0x00});
    ASSERT_EQ(ui.MessageTexts(), QStringList{QStringLiteral("密码错误")});
    EXPECT_EQ(ui.messages[0].caption, kTitle);
    EXPECT_FALSE(ui.deviceControlsEnabled);
    EXPECT_EQ(session.Image()[kLoginReplyOffset], 0xFF);

    session.btn7Click(QStringLiteral("5807"));
    const Bytes payload = {0x01, 'R', '4', 'T', '1', 0x00, 'V', '1', '.', '0', 0x00};
    Reply(cmd_login, payload);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1].text, QStringLiteral("密码正确"));
    EXPECT_EQ(ui.messages[1].caption, kTitle);
    EXPECT_TRUE(ui.deviceControlsEnabled);
    EXPECT_EQ(session.Model(), QStringLiteral("R4T1"));
    EXPECT_EQ(session.Version(), QStringLiteral("V1.0"));
    for (size_t i = 0; i < payload.size(); ++i)
        EXPECT_EQ(session.Image()[kLoginReplyOffset + i], payload[i]);
    // The rest of the 256 bytes is what the record held beyond the payload.
    EXPECT_EQ(session.Image()[kLoginReplyOffset + 100], 0xFF);
    EXPECT_EQ(ui.outcomes,
              (std::vector<std::pair<Operation, Outcome>>{{Operation::Login, Outcome::Failed},
                                                          {Operation::Login, Outcome::Succeeded}}));
    // No resend follows an answered login.
    time.Advance(5000);
    EXPECT_EQ(port.writes.size(), 2u);
}

TEST(SessionRows, PlainMessages) {
    struct Case {
        uint8_t selector;
        uint8_t command;
        uint8_t status;
        const char* message;
        Operation op;
    };
    const std::vector<Case> cases = {
        {20, cmd_factory_reset, 1, "工厂化成功", Operation::FactoryReset},
        {20, cmd_factory_reset, 0, "工厂化失败", Operation::FactoryReset},
        {24, cmd_relay, 1, "操作成功", Operation::Relay},
        {24, cmd_relay, 2, "继电器操作失败", Operation::Relay},
        {32, cmd_debug_mode, 1, "开启调试模式成功", Operation::DebugMode},
        {41, cmd_debug_mode, 0, "开启调试模式失败", Operation::DebugMode},
        {41, cmd_debug_mode, 1, "开启调试模式成功", Operation::DebugMode},
        {34, cmd_set_time, 1, "设置时间成功", Operation::SetTime},
        {34, cmd_set_time, 0xFF, "设置时间失败", Operation::SetTime},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        FakeTimeSource time;
        FakeUserInterface ui;
        RecordingPort port{&time};
        DeviceSettings settings{&ui};
        DeviceSession session{port, time, ui, settings};
        session.Sender().Args().relayLetter = 'O';
        session.Sender().SendCommand(c.selector);
        ASSERT_EQ(port.writes.size(), 1u);
        const Bytes line = EscapeFrame(BuildReplyFrame(c.command, {c.status}));
        session.cm1ReceiveData(line.data(), static_cast<uint16_t>(line.size()));
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, QString::fromUtf8(c.message));
        EXPECT_EQ(ui.messages[0].caption, QStringLiteral("R4T8报警器设置软件"));
        EXPECT_EQ(ui.messages[0].buttons, MsgButtons::Ok);
        ASSERT_EQ(ui.outcomes.size(), 1u);
        EXPECT_EQ(ui.outcomes[0].first, c.op);
        EXPECT_EQ(ui.outcomes[0].second, c.status == 1 ? Outcome::Succeeded : Outcome::Failed);
        time.Advance(5000);
        EXPECT_EQ(port.writes.size(), 1u) << "the reply stopped the resend timer";
    }
}

TEST_F(SessionTest, RoutedRows) {
    // Write done with status 1 shows nothing.
    session.Sender().SendCommand(cmd_write_done);
    Reply(cmd_write_done, {0x01});
    EXPECT_TRUE(ui.messages.empty());
    session.Sender().SendCommand(cmd_get_time);
    Reply(cmd_get_time, {0x0E, 0x0C, 0x1F, 0x17, 0x3B, 0x3B});
    ASSERT_EQ(ui.deviceTimes.size(), 1u);
    EXPECT_EQ(ui.deviceTimes[0], QDateTime(QDate(2014, 12, 31), QTime(23, 59, 59)));
    // Debug data arrives unasked.
    Reply(cmd_debug_data, {'R', 0x41, 0x54});
    EXPECT_EQ(ui.memo1, QStringLiteral(" 41 54\r\n"));
    // An unknown code answers nothing: the request waiting for its answer is still resent.
    session.Sender().SendCommand(cmd_current_data);
    const size_t before = port.writes.size();
    Reply(0x7E, {0x01});
    time.Advance(5000);
    EXPECT_EQ(port.writes.size(), before + 3);
    EXPECT_EQ(ui.MessageTexts(), QStringList{QStringLiteral("发送命令超时")});
}

TEST_F(SessionTest, AReplyDuringAMessageBoxIsDispatchedAfterIt) {
    session.btn7Click(QStringLiteral("5807"));
    std::vector<size_t> messagesWhileOpen;
    ui.whileMessageOpen = [&](const QString& text) {
        if (text != QStringLiteral("密码错误")) return;
        // The user pressed "执行" meanwhile; its reply arrives while the box is open.
        session.Sender().Args().relayLetter = 'O';
        session.Sender().SendCommand(cmd_relay);
        Reply(cmd_relay, {0x01});
        messagesWhileOpen.push_back(ui.messages.size());
    };
    Reply(cmd_login, {0x00});
    EXPECT_EQ(messagesWhileOpen, (std::vector<size_t>{1}));
    EXPECT_EQ(ui.MessageTexts(),
              (QStringList{QStringLiteral("密码错误"), QStringLiteral("操作成功")}));
}

TEST_F(SessionTest, StopButton) {
    session.Sender().SendCommand(cmd_get_time);
    ui.loginEnabled = true;
    ui.deviceControlsEnabled = true;
    session.btn_stopClick();
    time.Advance(5000);
    EXPECT_EQ(port.writes.size(), 1u);
    EXPECT_FALSE(ui.loginEnabled);
    EXPECT_FALSE(ui.deviceControlsEnabled);
    EXPECT_TRUE(session.History().ExportAbortFlag());
    EXPECT_TRUE(ui.messages.empty());
    // Stop does not end the exchange: a late reply is still taken.
    Reply(cmd_get_time, {0x0E, 0x0C, 0x1F, 0x17, 0x3B, 0x3B});
    EXPECT_EQ(ui.deviceTimes.size(), 1u);
}

TEST_F(SessionTest, ReceiveLogGetsEveryFrame) {
    Reply(0x7E, Bytes(10, 0x01));  // 21 bytes on the line
    EXPECT_EQ(ui.receiveLog.size(), 2);
    EXPECT_EQ(ui.receiveLog.last(), QString());
    // Logged, and no further: no request waits for that code.
    EXPECT_EQ(session.Receiver().Stats().dispatched, 0u);
    EXPECT_EQ(session.Receiver().Stats().filtered, 1u);
}
