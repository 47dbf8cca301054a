#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ProtocolTestUtil.h"
#include "protocol/ProtocolLink.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"

using namespace r4t8;
using r4t8::testing::FakeTimeSource;
using r4t8::testing::FakeUserInterface;
using r4t8::testing::RecordingPort;
using r4t8::testing::Unline;

namespace {

// A controller on the far end of the port. For the n-th request written it answers after
// each of the delays the fault plan gives (none: the reply is lost).
struct FakeController {
    using Plan = std::function<std::vector<int>(int n, uint8_t command)>;
    struct Pending {
        int64_t due;
        Bytes bytes;
    };

    Plan plan = [](int, uint8_t) { return std::vector<int>{5}; };
    std::function<Bytes(uint8_t command, const Bytes& payload)> answer;
    std::vector<Pending> pending;
    int requests = 0;

    void OnWrite(int64_t now, const Bytes& line) {
        uint8_t command = 0;
        Bytes payload;
        if (!ParseRawFrame(Unline(line), command, payload)) return;
        const Bytes reply = EscapeFrame(answer(command, payload));
        for (int delay : plan(requests, command)) pending.push_back({now + delay, reply});
        ++requests;
    }
};

struct GuardTest : ::testing::Test {
    FakeTimeSource time;
    FakeUserInterface ui;
    RecordingPort port{&time};
    ProtocolLink link{port, time, ui, ui};
    FakeController device;
    std::vector<ReplyRecord> dispatched;
    std::map<uint8_t, std::function<void(const ReplyRecord&)>> handlers;

    GuardTest() {
        device.answer = [](uint8_t command, const Bytes& payload) {
            if (command == cmd_read_block) {
                // Each block is full of its number: 1..4.
                const uint32_t address = payload[0] | (payload[1] << 8);
                return BuildReplyFrame(command, Bytes(256, static_cast<uint8_t>(address / 1024)));
            }
            return BuildReplyFrame(command, {0x01});
        };
        port.onWrite = [this](const Bytes& line) { device.OnWrite(time.NowMs(), line); };
        for (int code = 0; code < 256; ++code)
            link.Dispatcher().Register(static_cast<uint8_t>(code), [this](const ReplyRecord& r) {
                dispatched.push_back(r);
                auto it = handlers.find(r.command);
                if (it != handlers.end()) it->second(r);
            });
    }

    // Moves time in 1 ms steps, delivering every reply that is due.
    void Run(int64_t ms) {
        for (int64_t i = 0; i < ms; ++i) {
            for (size_t k = 0; k < device.pending.size();) {
                if (device.pending[k].due <= time.NowMs()) {
                    const Bytes bytes = device.pending[k].bytes;
                    device.pending.erase(device.pending.begin() + static_cast<long>(k));
                    link.cm1ReceiveData(bytes.data(), bytes.size());
                } else {
                    ++k;
                }
            }
            time.Advance(1);
        }
    }

    int TimeoutMessages() const {
        return static_cast<int>(ui.MessageTexts().count(QStringLiteral("发送命令超时")));
    }

    // A four-block read as the settings sequence does it: each reply requests the next block.
    std::vector<int> blocks;
    void StartRead() {
        blocks.clear();
        handlers[cmd_read_block] = [this](const ReplyRecord& r) {
            blocks.push_back(r.payload[0]);
            if (blocks.size() < 4)
                link.Sender().SendFrame(BuildReadBlockFrame(1024 * (blocks.size() + 1)));
        };
        link.Sender().SendFrame(BuildReadBlockFrame(1024));
    }
};

}  // namespace

TEST_F(GuardTest, ReadSurvivesTheFaultMatrix) {
    struct Case {
        std::string name;
        FakeController::Plan plan;
    };
    const std::vector<Case> cases = {
        {"clean", [](int, uint8_t) { return std::vector<int>{5}; }},
        {"first reply dropped",
         [](int n, uint8_t) { return n == 0 ? std::vector<int>{} : std::vector<int>{5}; }},
        {"every second reply dropped",
         [](int n, uint8_t) { return n % 2 ? std::vector<int>{} : std::vector<int>{5}; }},
        {"copy answered after the resend, both replies arrive",
         [](int n, uint8_t) { return n == 0 ? std::vector<int>{1100} : std::vector<int>{5}; }},
        {"all replies delayed 0.95 s", [](int, uint8_t) { return std::vector<int>{950}; }},
        {"all replies delayed 1.5 s", [](int, uint8_t) { return std::vector<int>{1500}; }},
        {"second block's replies delayed 1.5 s",
         [](int n, uint8_t) { return std::vector<int>{n == 1 || n == 2 ? 1500 : 5}; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device.pending.clear();
        device.requests = 0;
        device.plan = c.plan;
        ui.messages.clear();
        StartRead();
        Run(30000);
        EXPECT_EQ(blocks, (std::vector<int>{1, 2, 3, 4}));
        EXPECT_EQ(TimeoutMessages(), 0);
        EXPECT_FALSE(link.Sender().HasDeferredFrame());
    }
}

TEST_F(GuardTest, RepliesAfterATimeOutDoNotFeedTheNextOperation) {
    // Every copy of the first request is answered 4.1 s late.
    device.plan = [](int n, uint8_t) { return std::vector<int>{n < 4 ? 4100 : 5}; };
    StartRead();
    Run(4050);
    EXPECT_EQ(TimeoutMessages(), 1);
    EXPECT_TRUE(blocks.empty());
    // No frame answering the last copy (sent at 3 s) can begin after its window.
    EXPECT_EQ(link.Sender().HoldUntilUs(cmd_read_block),
              (3000 + reply_timing::kReplyWindowMs) * 1000);
    // The user reads again at once: the request waits until then.
    StartRead();
    EXPECT_TRUE(link.Sender().HasDeferredFrame());
    Run(20000);
    EXPECT_EQ(blocks, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(TimeoutMessages(), 1);
    ASSERT_GE(port.writes.size(), 5u);
    EXPECT_EQ(port.writes[4].first, 3000 + reply_timing::kReplyWindowMs);
}

TEST_F(GuardTest, StaleRepliesOfAnotherCodeNeitherDispatchNorStopTheTimer) {
    device.plan = [](int n, uint8_t) {
        if (n < 4) return std::vector<int>{4100};  // get time: all answered too late
        if (n == 4) return std::vector<int>{};     // current data: first copy lost
        return std::vector<int>{5};
    };
    link.Sender().SendCommand(cmd_get_time);
    Run(4500);
    ASSERT_EQ(TimeoutMessages(), 1);
    link.Sender().SendCommand(cmd_current_data);  // at 4.5 s, while the late replies come in
    Run(3000);
    std::vector<int> codes;
    for (const auto& r : dispatched) codes.push_back(r.command);
    EXPECT_EQ(codes, (std::vector<int>{cmd_current_data}));
    // Sent at 4.5 s, resent at 5.5 s (the late get-time reply at 5.1 s did not stop it).
    EXPECT_EQ(port.Times(), (std::vector<int64_t>{0, 1000, 2000, 3000, 4500, 5500}));
    EXPECT_EQ(TimeoutMessages(), 1);
}

TEST_F(GuardTest, DuplicatedStatusRepliesAreDroppedAndKeepTheResend) {
    // Erase and write alternate; every erase reply comes twice, the first write reply is lost.
    device.plan = [](int n, uint8_t command) {
        if (command == cmd_erase_block) return std::vector<int>{5, 6};
        if (n == 1) return std::vector<int>{};
        return std::vector<int>{5};
    };
    int erases = 0, writes = 0;
    ConfigImage image;
    image.fill(0x11);
    handlers[cmd_erase_block] = [&](const ReplyRecord&) {
        ++erases;
        link.Sender().PrepareBlockWrite(image, 1024);
        link.Sender().SendBlockWrite();
    };
    handlers[cmd_write_block] = [&](const ReplyRecord&) { ++writes; };
    link.Sender().SendFrame(BuildEraseBlockFrame(1024));
    Run(5000);
    EXPECT_EQ(erases, 1);
    EXPECT_EQ(writes, 1);
    // Erase at 0, write at 5, write resent at 1005 although the duplicate came at 6.
    EXPECT_EQ(port.Times(), (std::vector<int64_t>{0, 5, 1005}));
    EXPECT_EQ(TimeoutMessages(), 0);
}

TEST_F(GuardTest, ADuplicatedFinalReplyIsShownOnce) {
    device.plan = [](int, uint8_t) { return std::vector<int>{5, 5, 300}; };
    link.Sender().SendCommand(cmd_factory_reset);
    Run(2000);
    ASSERT_EQ(dispatched.size(), 1u);
    EXPECT_EQ(dispatched[0].command, cmd_factory_reset);
    // A new request of the same code is answered normally.
    link.Sender().SendCommand(cmd_factory_reset);
    Run(2000);
    EXPECT_EQ(dispatched.size(), 2u);
}

TEST_F(GuardTest, DebugDataIsNeverGuardedAndKeepsTheResend) {
    device.plan = [](int, uint8_t) { return std::vector<int>{}; };
    link.Sender().SendCommand(cmd_get_time);
    const Bytes debug = EscapeFrame(BuildReplyFrame(cmd_debug_data, {'R', 0x41}));
    for (int i = 0; i < 3; ++i) {
        Run(300);
        link.cm1ReceiveData(debug.data(), debug.size());
    }
    EXPECT_EQ(dispatched.size(), 3u);
    Run(5000);
    EXPECT_EQ(port.writes.size(), 4u);
    EXPECT_EQ(TimeoutMessages(), 1);
}

// A frame no request on the line waits for (an unknown code, a late reply of another code)
// answers nothing: the lost request is still resent, and nobody sees the frame.
TEST_F(GuardTest, AFrameOfAnotherCodeNeitherDispatchesNorStopsTheTimer) {
    for (uint8_t code : {uint8_t{0x7E}, uint8_t{cmd_login}, uint8_t{cmd_current_data}}) {
        SCOPED_TRACE(int(code));
        dispatched.clear();
        port.writes.clear();
        device.pending.clear();
        device.plan = [](int, uint8_t) { return std::vector<int>{}; };
        link.Sender().SendCommand(cmd_get_time);
        const Bytes other = EscapeFrame(BuildReplyFrame(code, {0x01}));
        Run(100);
        link.cm1ReceiveData(other.data(), other.size());
        // Long enough for the time-out, and for the window of the last copy that the next
        // get-time request waits out.
        Run(reply_timing::kTimeOutMs + reply_timing::kReplyWindowMs);
        EXPECT_TRUE(dispatched.empty());
        EXPECT_EQ(port.Times().size(), 4u);
    }
    EXPECT_EQ(TimeoutMessages(), 3);
}

TEST_F(GuardTest, OutstandingCommandDuringAndAfterDispatch) {
    std::vector<int> seen;
    handlers[cmd_get_time] = [&](const ReplyRecord&) {
        seen.push_back(link.Sender().OutstandingCommand());
    };
    handlers[cmd_current_data] = [&](const ReplyRecord&) {
        seen.push_back(link.Sender().OutstandingCommand());
        link.Sender().SendCommand(cmd_get_time);
    };
    link.Sender().SendCommand(cmd_current_data);
    Run(100);
    EXPECT_EQ(seen, (std::vector<int>{cmd_current_data, cmd_get_time}));
    EXPECT_EQ(link.Sender().OutstandingCommand(), 0);
}

TEST_F(GuardTest, StopCancelsAHeldRequest) {
    device.plan = [](int n, uint8_t) { return n == 0 ? std::vector<int>{} : std::vector<int>{5}; };
    link.Sender().SendCommand(cmd_get_time);
    Run(1300);  // the resend was answered: the first copy's reply may still come
    ASSERT_EQ(dispatched.size(), 1u);
    device.plan = [](int, uint8_t) { return std::vector<int>{}; };
    device.pending.clear();
    link.Sender().SendCommand(cmd_get_time);
    EXPECT_TRUE(link.Sender().HasDeferredFrame());
    link.Sender().StopResend();
    Run(5000);
    EXPECT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(TimeoutMessages(), 0);
}
