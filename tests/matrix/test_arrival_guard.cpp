// The reply guard's arrival-time rule with a fake clock: a reply whose start byte arrived before
// the request on the line was sent is a late duplicate of an earlier reply, even when its code
// and its bytes look like the answer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "config/DeviceSettings.h"
#include "protocol/FrameReceiver.h"
#include "protocol/ProtocolLink.h"
#include "session/DeviceSession.h"
#include "support/FakeTimeSource.h"
#include "support/FakeUserInterface.h"

using namespace r4t8;
using r4t8::testing::FakeTimeSource;
using r4t8::testing::FakeUserInterface;

namespace {

// Keeps the raw request frames written to it.
struct RawPort : IPort {
    bool WriteBytes(const uint8_t* data, size_t count) override {
        const Bytes line(data, data + count);
        Bytes raw = {kFrameDelimiter};
        const Bytes body = UnescapeFrame(line.data() + 1, line.size() - 2);
        raw.insert(raw.end(), body.begin(), body.end());
        raw.push_back(kFrameDelimiter);
        requests.push_back(raw);
        return true;
    }
    // Block address of every read request, in order.
    std::vector<uint32_t> ReadAddresses() const {
        std::vector<uint32_t> out;
        for (const Bytes& r : requests) {
            uint8_t cmd = 0;
            Bytes payload;
            if (ParseRawFrame(r, cmd, payload) && cmd == cmd_read_block && payload.size() >= 4)
                out.push_back(payload[0] | payload[1] << 8 | payload[2] << 16 | payload[3] << 24);
        }
        return out;
    }
    std::vector<Bytes> requests;
};

Bytes Line(const Bytes& raw) { return EscapeFrame(raw); }

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes BlockReply(uint8_t fill) { return Line(BuildReplyFrame(cmd_read_block, Bytes(256, fill))); }

// Bytes are stamped this long before they are handed over: the read thread's hop.
constexpr int64_t kHopUs = 40;

struct SessionReadTest : ::testing::Test {
    FakeTimeSource time;
    FakeUserInterface ui;
    RawPort port;
    DeviceSettings settings{&ui};
    DeviceSession session{port, time, ui, settings};

    void Deliver(const Bytes& bytes) {
        time.AdvanceUs(kHopUs);
        session.cm1ReceiveData(bytes.data(), static_cast<uint16_t>(bytes.size()),
                               time.NowUs() - kHopUs);
    }
};

TEST_F(SessionReadTest, DuplicateBlockReplyIsNotStoredAsTheNextBlock) {
    session.Config().btn_loadClick();
    ASSERT_EQ(port.ReadAddresses(), (std::vector<uint32_t>{1024}));
    time.Advance(5);
    // The controller sends block 1's reply twice, back to back; the read of block 2 leaves
    // while the second copy is still in the receive queue.
    Deliver(Concat(BlockReply(0x11), BlockReply(0x11)));
    EXPECT_EQ(port.ReadAddresses(), (std::vector<uint32_t>{1024, 2048}));
    EXPECT_EQ(session.Config().ReadStep(), 1);
    EXPECT_EQ(session.Commands().EarlyReplies(), 1u);
    EXPECT_EQ(session.Image()[2048], 0xFF);

    for (uint8_t fill : {0x22, 0x33}) {
        time.Advance(5);
        Deliver(BlockReply(fill));
    }
    EXPECT_EQ(session.Image()[2048], 0x22);
    EXPECT_EQ(session.Image()[3072], 0x33);
    time.Advance(5);
    Deliver(BlockReply(0x44));
    EXPECT_EQ(port.ReadAddresses(), (std::vector<uint32_t>{1024, 2048, 3072, 4096}));
    EXPECT_TRUE(ui.MessageTexts().contains(QStringLiteral("读取结束")));
    EXPECT_EQ(ui.MessageTexts().count(QStringLiteral("发送命令超时")), 0);
    // Nothing was resent: the guard needed no time-out to tell the copies apart.
    EXPECT_EQ(port.requests.size(), 4u);
}

TEST_F(SessionReadTest, RepliesWithoutArrivalTimeKeepTheOldRules) {
    // Bytes handed over without a stamp count as arriving now: never before their request.
    session.Config().btn_loadClick();
    time.Advance(1);
    for (uint8_t fill : {0x11, 0x22, 0x33, 0x44}) {
        const Bytes reply = BlockReply(fill);
        session.cm1ReceiveData(reply.data(), static_cast<uint16_t>(reply.size()));
    }
    EXPECT_EQ(port.ReadAddresses(), (std::vector<uint32_t>{1024, 2048, 3072, 4096}));
    EXPECT_EQ(session.Commands().EarlyReplies(), 0u);
    EXPECT_TRUE(ui.MessageTexts().contains(QStringLiteral("读取结束")));
}

// The link alone, for the codes whose sequences send the next request of the same code.
struct LinkTest : ::testing::Test {
    FakeTimeSource time;
    FakeUserInterface ui;
    RawPort port;
    ProtocolLink link{port, time, ui, ui};
    std::vector<ReplyRecord> dispatched;
    std::function<void(const ReplyRecord&)> next;

    LinkTest() {
        for (int code = 0; code < 256; ++code)
            link.Dispatcher().Register(static_cast<uint8_t>(code), [this](const ReplyRecord& r) {
                dispatched.push_back(r);
                if (next) next(r);
            });
    }
};

Bytes PageReply(uint8_t marker) {
    return Line(BuildReplyFrame(cmd_history_page, Bytes{0x7F, 0x7F, 14, 1, 5, marker, 0, 0, 0xFF}));
}

TEST_F(LinkTest, DuplicateHistoryPageIsNotTakenForTheNextPage) {
    uint16_t page = 1;
    next = [&](const ReplyRecord& r) {
        if (r.command == cmd_history_page && page < 3)
            link.Sender().SendFrame(BuildHistoryPageFrame(++page));
    };
    link.Sender().SendFrame(BuildHistoryPageFrame(1));
    time.Advance(3);
    const Bytes both = Concat(PageReply(1), PageReply(1));
    const int64_t stamp = time.NowUs();
    time.AdvanceUs(25);
    link.cm1ReceiveData(both.data(), both.size(), stamp);
    ASSERT_EQ(dispatched.size(), 1u);
    EXPECT_EQ(link.Sender().OutstandingCommand(), cmd_history_page);
    EXPECT_TRUE(link.Sender().tmr_cf().IsActive());

    // The genuine reply to page 2, then to page 3.
    for (uint8_t marker : {2, 3}) {
        time.Advance(3);
        const Bytes reply = PageReply(marker);
        link.cm1ReceiveData(reply.data(), reply.size(), time.NowUs());
    }
    ASSERT_EQ(dispatched.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(dispatched[i].payload[5], i + 1) << i;
    EXPECT_EQ(link.Sender().EarlyReplies(), 1u);
}

TEST_F(LinkTest, ArrivalRuleBoundaries) {
    struct Case {
        const char* name;
        int64_t arrivalOffsetUs;  // relative to the send time of the request on the line
        uint8_t code;
        bool dispatched;
    };
    const Case cases[] = {
        {"a microsecond before", -1, cmd_get_time, false},
        {"at the send time", 0, cmd_get_time, true},
        {"after", 500, cmd_get_time, true},
        {"another code, never an answer", 500, cmd_current_data, false},
        {"debug data, early", -100, cmd_debug_data, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dispatched.clear();
        time.Advance(100);
        const int64_t sentUs = time.NowUs();
        link.Sender().SendFrame(BuildGetTimeFrame());
        time.AdvanceUs(700);
        const Bytes reply = Line(BuildReplyFrame(c.code, Bytes{14, 1, 2, 3, 4, 5}));
        link.cm1ReceiveData(reply.data(), reply.size(), sentUs + c.arrivalOffsetUs);
        EXPECT_EQ(dispatched.size(), c.dispatched ? 1u : 0u);
        link.Sender().StopResend();
        time.Advance(6000);  // let every stale expectation lapse
    }
}

TEST_F(LinkTest, EarlyReplyDoesNotStopTheResendAndTheResentCopyIsAnswered) {
    link.Sender().SendFrame(BuildGetTimeFrame());
    const int64_t sentUs = time.NowUs();
    const Bytes reply = Line(BuildReplyFrame(cmd_get_time, Bytes{14, 1, 2, 3, 4, 5}));
    link.cm1ReceiveData(reply.data(), reply.size(), sentUs - 10);
    EXPECT_TRUE(dispatched.empty());
    time.Advance(1000);  // resent once
    EXPECT_EQ(port.requests.size(), 2u);
    link.cm1ReceiveData(reply.data(), reply.size(), time.NowUs());
    EXPECT_EQ(dispatched.size(), 1u);
    time.Advance(5000);
    EXPECT_EQ(ui.MessageTexts().count(QStringLiteral("发送命令超时")), 0);
}

// The receiver keeps the arrival time of each frame's own start byte.
TEST(ReceiverArrival, EachFrameCarriesTheStampOfItsStartByte) {
    FrameReceiver rx;
    std::vector<int64_t> seen;
    const Bytes a = Line(BuildReplyFrame(cmd_relay, {0x01}));
    const Bytes b = Line(BuildReplyFrame(cmd_set_time, {0x01}));
    bool fed = false;
    rx.SetDispatch([&](const ReplyRecord&) {
        seen.push_back(rx.FrameArrivalUs());
        // A frame completed during a dispatch waits in the queue with its own stamp.
        if (!fed) {
            fed = true;
            rx.cm1ReceiveData(b.data(), b.size(), 900);
        }
    });
    // Frame a split over two deliveries: the first part holds its start byte.
    rx.cm1ReceiveData(a.data(), 3, 100);
    rx.cm1ReceiveData(a.data() + 3, a.size() - 3, 500);
    ASSERT_EQ(seen, (std::vector<int64_t>{100, 900}));

    // An empty A5 A5 pair: the second delimiter starts the frame and its stamp counts.
    seen.clear();
    const uint8_t lone = kFrameDelimiter;
    rx.cm1ReceiveData(&lone, 1, 1000);
    rx.cm1ReceiveData(a.data(), a.size(), 2000);
    ASSERT_EQ(seen, (std::vector<int64_t>{2000}));

    // Without a stamp the frame is never taken as early.
    seen.clear();
    rx.cm1ReceiveData(a.data(), a.size());
    ASSERT_EQ(seen, (std::vector<int64_t>{FrameReceiver::kArrivalUnknown}));
}

}  // namespace
