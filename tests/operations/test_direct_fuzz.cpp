// Random replies into the decoders: nothing may crash or read past the record, and the
// always-shown cells must always have a text.
#include <gtest/gtest.h>

#include <random>

#include "operations/CurrentData.h"
#include "operations/DebugText.h"
#include "operations/DirectOperations.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/support/RecordingSender.h"

namespace r4t8::testing {
namespace {

constexpr int kRounds = 10000;

ReplyRecord RandomRecord(std::mt19937& rng, uint8_t command) {
    ReplyRecord r;
    r.command = command;
    // Mostly plausible item streams, sometimes raw noise, sometimes a lying count.
    const bool items = rng() % 2 == 0;
    static constexpr uint8_t kTypes[] = {0x01, 0x50, 0x10, 0x20, 0x30};
    for (size_t i = 0; i < r.payload.size(); ++i) {
        r.payload[i] = static_cast<uint8_t>(rng());
        if (items && i % 6 == 0 && rng() % 16 != 0) r.payload[i] = kTypes[rng() % 5];
        if (items && i % 6 == 1 && rng() % 2 == 0)
            r.payload[i] = r.payload[i - 1] == 0x01 ? rng() % 4 : r.payload[i - 1] + rng() % 4;
    }
    r.payloadCount =
        rng() % 8 == 0 ? static_cast<uint16_t>(rng()) : static_cast<uint16_t>(rng() % 257);
    return r;
}

TEST(DirectFuzz, CurrentDataReplies) {
    std::mt19937 rng(20140305);
    RecordingSender sender;
    FakeUserInterface ui;
    FakeTimeSource time;
    DirectOperations ops(sender, ui, ui, time);
    for (int round = 0; round < kRounds; ++round) {
        ops.OnCurrentDataReply(RandomRecord(rng, cmd_current_data));
        for (int column = 9; column <= 11; ++column)
            ASSERT_FALSE(ops.CurrentDataCell(column).isEmpty()) << round;
        const QString& relay = ops.CurrentDataCell(10);
        ASSERT_TRUE(relay == "有效" || relay == "无效");
    }
    EXPECT_EQ(ui.outcomes.size(), static_cast<size_t>(kRounds));
    EXPECT_TRUE(sender.frames.empty());
}

TEST(DirectFuzz, DecoderOnExactSizedBuffers) {
    std::mt19937 rng(7);
    for (int round = 0; round < kRounds; ++round) {
        // A heap block of exactly the claimed size, so ASan sees any over-read.
        Bytes payload(rng() % 300);
        for (auto& b : payload) b = static_cast<uint8_t>(rng());
        const CurrentDataDecode d = DecodeCurrentData(payload.data(), payload.size());
        const auto texts = CurrentDataTexts(d.snapshot);
        ASSERT_TRUE(texts[9].has_value());
        ASSERT_FALSE(texts[0].has_value());
    }
}

TEST(DirectFuzz, DebugFormatterAndClock) {
    std::mt19937 rng(33);
    RecordingSender sender;
    FakeUserInterface ui;
    FakeTimeSource time;
    DirectOperations ops(sender, ui, ui, time);
    for (int round = 0; round < kRounds; ++round) {
        Bytes bytes(rng() % 300);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        const QString text = FormatDebugBytes(bytes.data(), bytes.size());
        const qsizetype n = static_cast<qsizetype>(bytes.size());
        ASSERT_EQ(text.size(), n == 0 ? 0 : 3 * n + 2 * (n / 20) + 2);

        ReplyRecord r = RandomRecord(rng, cmd_debug_data);
        if (rng() % 2) r.payload[0] = rng() % 2 ? 'R' : 'T';
        ops.OnDebugData(r);
        ops.OnGetTimeReply(RandomRecord(rng, cmd_get_time));
    }
    for (const QDateTime& t : ui.deviceTimes) ASSERT_TRUE(t.isValid());
}

}  // namespace
}  // namespace r4t8::testing
