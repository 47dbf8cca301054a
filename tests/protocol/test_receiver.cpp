#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ProtocolTestUtil.h"
#include "protocol/FrameReceiver.h"

using namespace r4t8;
using r4t8::testing::Hex;

namespace {

Bytes Line(uint8_t command, const Bytes& payload) {
    return EscapeFrame(BuildReplyFrame(command, payload));
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A payload of n bytes whose frame needs no escaping, so its line length is n + 11.
Bytes PlainPayload(size_t n) {
    for (uint8_t seed = 1;; ++seed) {
        Bytes p(n);
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>((seed + i) % 0x50 + 1);
        const Bytes raw = BuildReplyFrame(0x17, p);
        if (EscapeFrame(raw).size() == raw.size()) return p;
    }
}

struct Harness {
    FrameReceiver rx;
    std::vector<ReplyRecord> records;
    std::vector<QString> lines;
    int stops = 0;
    std::function<void(const ReplyRecord&)> onDispatch;

    Harness() {
        rx.SetLogSink([this](const QString& l) { lines.push_back(l); });
        rx.SetBeforeDispatch([this](const ReplyRecord&) { ++stops; });
        rx.SetDispatch([this](const ReplyRecord& r) {
            records.push_back(r);
            if (onDispatch) onDispatch(r);
        });
    }
    void Feed(const Bytes& b) {
        for (uint8_t byte : b) rx.cm1ReceiveData(&byte, 1);
    }
    std::vector<int> Commands() const {
        std::vector<int> c;
        for (const auto& r : records) c.push_back(r.command);
        return c;
    }
};

Bytes WithByte(Bytes raw, size_t index, uint8_t value) {
    raw[index] = value;
    return raw;
}

}  // namespace

TEST(FrameReceiver, StreamsTable) {
    const Bytes a = Line(0x23, {0x0E, 0x0C, 0x1F, 0x17, 0x3B, 0x3B});
    const Bytes b = Line(0x18, {0x01});
    const Bytes rawB = BuildReplyFrame(0x18, {0x01});  // L = 6: checksum at 9 and 10
    Bytes longer = BuildReplyFrame(0x18, {0x01});
    longer.insert(longer.end() - 1, {0x11, 0x22, 0x33});
    Bytes junkBeforeChecksum = BuildReplyFrame(0x18, {0x01});
    junkBeforeChecksum.insert(junkBeforeChecksum.begin() + 9, 0x77);
    Bytes tooLong = BuildFrameWithLength(0x18, Bytes(257, 0x01), 262);
    Bytes shortOfLength = BuildFrameWithLength(0x18, {0x01, 0x02}, 12);
    Bytes lengthBelowHeader = BuildFrameWithLength(0x18, {0x01}, 3);

    struct Case {
        std::string name;
        Bytes stream;
        std::vector<int> commands;
        uint64_t dropped, oversized, resyncs;
    };
    const std::vector<Case> cases = {
        {"leading garbage", Cat({Hex("00 11 FF AA 05"), a}), {0x23}, 0, 0, 0},
        {"back to back", Cat({a, b, a}), {0x23, 0x18, 0x23}, 0, 0, 0},
        {"wrong high checksum",
         Cat({EscapeFrame(WithByte(rawB, 10, rawB[10] ^ 1)), b}),
         {0x18},
         1,
         0,
         0},
        {"wrong low checksum", EscapeFrame(WithByte(rawB, 9, rawB[9] ^ 1)), {}, 1, 0, 0},
        {"longer than its length field", EscapeFrame(longer), {0x18}, 0, 0, 0},
        {"junk before a correct checksum", EscapeFrame(junkBeforeChecksum), {0x18}, 0, 0, 0},
        {"shorter than its length field", Cat({EscapeFrame(shortOfLength), a}), {0x23}, 1, 0, 0},
        {"payload beyond the record", Cat({EscapeFrame(tooLong), b}), {0x18}, 0, 1, 0},
        {"length below the header", Cat({EscapeFrame(lengthBelowHeader), b}), {0x18}, 0, 1, 0},
        {"unknown command", Line(0x7E, {0x01}), {0x7E}, 0, 0, 0},
        // The collector starts on the end byte of a frame: the empty pair resynchronises.
        {"started inside a frame", Cat({Hex("01 02 A5"), a, b}), {0x23, 0x18}, 0, 0, 1},
        {"stray delimiters between frames",
         Cat({a, Hex("A5"), b, Hex("A5 A5"), b}),
         {0x23, 0x18, 0x18},
         0,
         0,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.Feed(c.stream);
        EXPECT_EQ(h.Commands(), c.commands);
        EXPECT_EQ(h.stops, static_cast<int>(c.commands.size()));
        EXPECT_EQ(h.rx.Stats().dropped, c.dropped);
        EXPECT_EQ(h.rx.Stats().oversized, c.oversized);
        EXPECT_EQ(h.rx.Stats().resyncs, c.resyncs);
    }
}

TEST(FrameReceiver, RecordFields) {
    Harness h;
    // Payload bytes that must be escaped, and a checksum whose low byte is 0xA5.
    const Bytes payload = {0xAA, 0x05, 0xA5, 0x00};
    h.Feed(Line(0x10, payload));
    const Bytes timeRaw = BuildReplyFrame(0x22, {0x0E, 0x03, 0x05, 0x08, 0x07, 0x06});
    ASSERT_EQ(timeRaw[14], 0xA5);
    h.Feed(EscapeFrame(timeRaw));
    ASSERT_EQ(h.records.size(), 2u);
    const ReplyRecord& r = h.records[0];
    EXPECT_EQ(r.start, 0xA5);
    EXPECT_EQ(r.length[0], 9);
    EXPECT_EQ(r.length[1], 0);
    EXPECT_EQ(r.command, 0x10);
    EXPECT_EQ(r.payloadCount, 4);
    EXPECT_EQ(Bytes(r.payload.begin(), r.payload.begin() + 4), payload);
    EXPECT_EQ(h.records[1].checksumLow, 0xA5);
    EXPECT_EQ(h.records[1].checksumHigh, 0xFF);
    EXPECT_EQ(h.records[1].payloadCount, 6);
}

TEST(FrameReceiver, PayloadBeyondAShortFrameReadsFF) {
    Harness h;
    std::vector<std::array<uint8_t, kReplyPayloadSize>> seen;
    h.onDispatch = [&](const ReplyRecord& r) { seen.push_back(r.payload); };
    h.Feed(Line(0x11, {0x01, 0x02}));
    // Before any frame was dispatched the area is all 0.
    EXPECT_EQ(seen[0][2], 0x00);
    EXPECT_EQ(seen[0][255], 0x00);
    Bytes full(256);
    for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(i);
    h.Feed(Line(0x11, full));
    h.Feed(Line(0x11, {0x09}));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1][255], 255);
    EXPECT_EQ(seen[2][0], 0x09);
    EXPECT_EQ(seen[2][1], 0xFF);
    EXPECT_EQ(seen[2][254], 0xFF);
    EXPECT_EQ(seen[2][255], 255) << "byte 255 keeps its value";

    // A frame dropped for its checksum leaves none of its bytes for the next one.
    Bytes bad = BuildReplyFrame(0x11, {0x55, 0x66, 0x77});
    bad[bad.size() - 2] ^= 1;
    h.Feed(EscapeFrame(bad));
    h.Feed(Line(0x11, {0x01}));
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3][1], 0xFF);
    EXPECT_EQ(seen[3][2], 0xFF);
}

TEST(FrameReceiver, ReceiveLogLines) {
    struct Case {
        size_t lineBytes;
        std::vector<int> lengths;  // characters per logged line
    };
    const std::vector<Case> cases = {
        {11, {33}}, {20, {60}}, {21, {63, 0}}, {22, {63, 3}}, {42, {63, 63, 0}}, {43, {63, 63, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lineBytes);
        Harness h;
        const Bytes frame = Line(0x17, PlainPayload(c.lineBytes - 11));
        ASSERT_EQ(frame.size(), c.lineBytes);
        h.Feed(frame);
        ASSERT_EQ(h.lines.size(), c.lengths.size());
        QString joined;
        for (size_t i = 0; i < h.lines.size(); ++i) {
            EXPECT_EQ(h.lines[i].size(), c.lengths[i]);
            if (!h.lines[i].isEmpty()) {
                EXPECT_TRUE(h.lines[i].startsWith(QLatin1Char(' ')));
            }
            joined += h.lines[i];
        }
        QString expected;
        for (uint8_t b : frame) expected += QString::asprintf(" %02X", b);
        EXPECT_EQ(joined, expected);
    }
    // The log shows the line form: escapes and all.
    Harness h;
    h.Feed(Line(0x17, {0xA5}));
    ASSERT_FALSE(h.lines.empty());
    EXPECT_TRUE(h.lines[0].contains(QStringLiteral(" AA 05 ")));
}

TEST(FrameReceiver, FramesArrivingDuringADispatchWaitTheirTurn) {
    Harness h;
    const Bytes first = Line(0x01, {0x01});
    const Bytes second = Line(0x16, {0x02});
    const Bytes third = Line(0x17, {0x03});
    const Bytes fourth = Line(0x18, {0x04});
    int depth = 0, maxDepth = 0;
    h.onDispatch = [&](const ReplyRecord& r) {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        // As if a message box were open: its event loop delivers the next bytes.
        if (r.command == 0x01) {
            h.Feed(second);
            h.Feed(Bytes(third.begin(), third.begin() + 5));
            EXPECT_EQ(h.records.size(), 1u) << "nothing is dispatched inside a dispatch";
            EXPECT_EQ(h.rx.QueuedFrames(), 1u);
        } else if (r.command == 0x16) {
            h.Feed(Bytes(third.begin() + 5, third.end()));
            h.Feed(fourth);
        }
        --depth;
    };
    h.Feed(first);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_EQ(h.Commands(), (std::vector<int>{0x01, 0x16, 0x17, 0x18}));
    EXPECT_EQ(h.records[2].payload[0], 0x03);
    EXPECT_FALSE(h.rx.Busy());
    EXPECT_EQ(h.rx.QueuedFrames(), 0u);
}

TEST(FrameReceiver, FilterRefusesBeforeTheTimerStops) {
    Harness h;
    h.rx.SetReplyFilter([](const ReplyRecord& r) { return r.command != 0x11; });
    h.Feed(Cat({Line(0x11, {0x01}), Line(0x12, {0x01})}));
    EXPECT_EQ(h.Commands(), (std::vector<int>{0x12}));
    EXPECT_EQ(h.stops, 1);
    EXPECT_EQ(h.rx.Stats().filtered, 1u);
}

TEST(FrameReceiver, UnboundedCollectionIsDroppedAndResynchronised) {
    Harness h;
    Bytes stream = {0xA5};
    stream.insert(stream.end(), 70000, 0x42);
    stream.push_back(0xA5);  // the end of the overlong frame, taken as a start
    const Bytes good = Line(0x23, {0x01});
    stream.insert(stream.end(), good.begin(), good.end());
    h.Feed(stream);
    EXPECT_EQ(h.rx.Stats().oversized, 1u);
    EXPECT_EQ(h.Commands(), (std::vector<int>{0x23}));

    // Exactly at the limit: both delimiters and 65,534 bytes still fit (and fail the checks).
    Harness edge;
    Bytes atLimit = {0xA5};
    atLimit.insert(atLimit.end(), FrameReceiver::kBufferSize - 2, 0x42);
    atLimit.push_back(0xA5);
    edge.Feed(atLimit);
    // Collected whole (every byte logged); only its length field 0x4242 rejects it.
    EXPECT_EQ(edge.rx.Stats().oversized, 1u);
    EXPECT_EQ(edge.lines.size(), FrameReceiver::kBufferSize / 21 + 1);
    edge.Feed(good);
    EXPECT_EQ(edge.Commands(), (std::vector<int>{0x23}));
}

TEST(FrameReceiver, ArbitraryStreamsNeverBreakIt) {
    // Random bytes with many delimiters and escapes, then a good frame must still get through.
    uint32_t state = 12345;
    auto next = [&] {
        state = state * 1103515245u + 12345u;
        return static_cast<uint8_t>(state >> 16);
    };
    for (int round = 0; round < 200; ++round) {
        Harness h;
        Bytes junk(1 + next() * 4);
        for (auto& b : junk) {
            const uint8_t r = next();
            b = r < 20 ? 0xA5 : r < 40 ? 0xAA : next();
        }
        h.Feed(junk);
        // Two stray delimiters close any half frame and restore the pairing.
        h.Feed(Hex("A5 A5"));
        const size_t before = h.records.size();
        h.Feed(Line(0x35, {0x07}));
        h.Feed(Line(0x35, {0x08}));
        ASSERT_GE(h.records.size(), before + 1);
        EXPECT_EQ(h.records.back().payload[0], 0x08);
    }
}

TEST(FrameReceiver, UnescapeIntoMatchesUnescape) {
    uint32_t state = 99;
    for (int round = 0; round < 500; ++round) {
        Bytes body(round % 64);
        for (auto& b : body) {
            state = state * 1103515245u + 12345u;
            const uint8_t r = static_cast<uint8_t>(state >> 16);
            b = r < 60 ? 0xAA : r < 100 ? 0x05 : r < 140 ? 0x0A : r;
        }
        Bytes out(body.size() + 1, 0xEE);
        const size_t n = UnescapeFrameInto(body.data(), body.size(), out.data());
        out.resize(n);
        EXPECT_EQ(out, UnescapeFrame(body));
    }
}
