// The raw read and write of the configuration sequences, on a recording sender.
#include <gtest/gtest.h>

#include "config/ConfigSequences.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/support/RecordingSender.h"

namespace r4t8 {
namespace {

using testing::FakeUserInterface;
using testing::RecordingSender;

ReplyRecord Reply(uint8_t command, const uint8_t* data, size_t count) {
    ReplyRecord r;
    r.command = command;
    std::copy_n(data, count, r.payload.begin());
    r.payloadCount = static_cast<uint16_t>(count);
    return r;
}

ReplyRecord Status(uint8_t command, uint8_t status) { return Reply(command, &status, 1); }

class RawSequences : public ::testing::Test {
  protected:
    RawSequences() : config(sender, ui, settings, image) {
        for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<uint8_t>(i * 13 + 1);
    }
    RecordingSender sender;
    FakeUserInterface ui;
    DeviceSettings settings;
    ConfigImage image{};
    ConfigSequences config;
    RawBlocks blocks{};
};

TEST_F(RawSequences, ReadFillsTheBufferAndLeavesTheSettingsAlone) {
    int calls = 0;
    RawBlocks got{};
    config.ReadBlocksRaw([&](bool ok, const RawBlocks& b) {
        ++calls;
        EXPECT_TRUE(ok);
        got = b;
    });
    const DeviceSettings untouched;
    for (ConfigBlock block : kBlockOrder) {
        ASSERT_EQ(sender.frames.back(), BuildReadBlockFrame(BlockAddress(block)));
        config.OnReadReply(
            Reply(cmd_read_block, blocks.data() + RawIndex(block) * kBlockSize, kBlockSize));
    }
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(got == blocks);
    EXPECT_EQ(sender.frames.size(), 4u);
    for (const FieldSpec& spec : settings.Specs())
        EXPECT_EQ(settings.Text(spec.name), untouched.Text(spec.name)) << spec.name.toStdString();
    EXPECT_TRUE(ui.messages.empty());  // no "读取结束": the caller reports
    EXPECT_EQ(ui.progressHistory, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80}));
    EXPECT_FALSE(ui.progressVisible);
    EXPECT_TRUE(ui.outcomes.empty());
}

TEST_F(RawSequences, ANewSequenceEndsAPendingRawReadOnce) {
    const std::vector<std::function<void()>> takeovers = {
        [this] { config.btn_loadClick(); },
        [this] { config.btn_downClick(); },
        [this] { config.WriteBlocksRaw(blocks); },
        [this] { config.ReadBlocksRaw([](bool, const RawBlocks&) {}); },
    };
    for (size_t i = 0; i < takeovers.size(); ++i) {
        std::vector<bool> results;
        config.ReadBlocksRaw([&](bool ok, const RawBlocks&) { results.push_back(ok); });
        config.OnReadReply(Reply(cmd_read_block, blocks.data(), kBlockSize));
        takeovers[i]();
        EXPECT_EQ(results, std::vector<bool>{false}) << i;
        EXPECT_FALSE(config.RawReadRunning() && i < 3) << i;
    }
}

TEST_F(RawSequences, RawWriteSendsTheBlocksAsGivenAndRemembersThem) {
    // A record that could not be encoded does not matter to a raw write.
    settings.SetText("edt_port", "not a number");
    config.WriteBlocksRaw(blocks);
    for (ConfigBlock block : kBlockOrder) {
        const uint32_t address = BlockAddress(block);
        ASSERT_EQ(sender.frames.back(), BuildEraseBlockFrame(address));
        config.OnEraseReply(Status(cmd_erase_block, 1));
        ASSERT_EQ(sender.frames.back(),
                  BuildWriteBlockFrame(address, blocks.data() + RawIndex(block) * kBlockSize));
        config.OnWriteReply(Status(cmd_write_block, 1));
    }
    EXPECT_EQ(sender.selectors, std::vector<uint8_t>{cmd_write_done});
    EXPECT_TRUE(config.LastWrittenBlocks() == blocks);
    EXPECT_TRUE(ui.MessageTexts().contains(QStringLiteral("写入成功")));
}

TEST_F(RawSequences, LastWrittenHoldsOnlyWhatWasSent) {
    config.btn_downClick();
    config.OnEraseReply(Status(cmd_erase_block, 1));
    config.OnWriteReply(Status(cmd_write_block, 1));
    config.OnEraseReply(Status(cmd_erase_block, 0));  // SensorBlock's erase refused
    RawBlocks expected;
    expected.fill(0xFF);
    ConfigImage encoded;
    encoded.fill(0xFF);
    EncodeBlock(ConfigBlock::PhoneBlock, settings, encoded);
    std::copy_n(encoded.begin() + kPhoneBlockAddress, kBlockSize, expected.begin());
    EXPECT_TRUE(config.LastWrittenBlocks() == expected);
}

}  // namespace
}  // namespace r4t8
