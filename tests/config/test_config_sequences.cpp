#include <gtest/gtest.h>

#include <memory>

#include "config/ConfigSequences.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/support/RecordingSender.h"

namespace r4t8 {
namespace {

using testing::FakeUserInterface;
using testing::MakeReply;
using testing::RecordingSender;

const QString kTitle = QStringLiteral("R4T8报警器设置软件");
const uint32_t kAddresses[] = {kPhoneBlockAddress, kSensorBlockAddress, kGprsBlockAddress,
                               kSystemBlockAddress};

struct Sequences : ::testing::Test {
    Sequences() { image->fill(0xFF); }

    ReplyRecord Status(uint8_t command, uint8_t status) { return MakeReply(command, {status}); }
    // Confirms the outstanding erase or write with status 1.
    void Confirm() {
        const uint8_t cmd = sender.OutstandingCommand();
        if (cmd == cmd_erase_block)
            seq.OnEraseReply(Status(cmd, 1));
        else
            seq.OnWriteReply(Status(cmd, 1));
    }
    Bytes WriteData(size_t frameIndex) const {
        const Bytes& f = sender.frames.at(frameIndex);
        return Bytes(f.begin() + 12, f.begin() + 12 + 256);
    }

    FakeUserInterface ui;
    RecordingSender sender;
    DeviceSettings settings{&ui};
    std::unique_ptr<ConfigImage> image = std::make_unique<ConfigImage>();
    ConfigSequences seq{sender, ui, settings, *image};
};

TEST_F(Sequences, ReadRequestsEachBlockAndDecodesIt) {
    // The controller's blocks, made from other settings.
    DeviceSettings device;
    device.SetText("edt_tel2", "13800000000");
    device.SetText("edt_Sensor3_High", "40.5");
    device.SetText("edt_apn", "cmnet");
    device.SetText("edt_id", "42");
    auto blocks = std::make_unique<ConfigImage>();
    blocks->fill(0xFF);
    for (ConfigBlock b : {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock, ConfigBlock::GprsBlock,
                          ConfigBlock::SystemBlock})
        EncodeBlock(b, device, *blocks);

    seq.btn_loadClick();
    EXPECT_TRUE(ui.progressVisible);
    for (int step = 0; step < 4; ++step) {
        ASSERT_EQ(sender.frames.size(), size_t(step + 1));
        EXPECT_EQ(sender.frames.back(), BuildReadBlockFrame(kAddresses[step]));
        EXPECT_EQ(seq.ReadStep(), step);
        Bytes data(blocks->begin() + kAddresses[step], blocks->begin() + kAddresses[step] + 256);
        seq.OnReadReply(MakeReply(cmd_read_block, data));
    }
    EXPECT_EQ(sender.frames.size(), 4u);
    EXPECT_EQ(ui.progressHistory, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80}));
    EXPECT_EQ(settings.Text("edt_tel2"), "13800000000");
    EXPECT_EQ(settings.Text("edt_Sensor3_High"), "40.50");
    EXPECT_EQ(settings.Text("edt_apn"), "cmnet");
    EXPECT_EQ(settings.Text("edt_id"), "000000000000042");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("读取结束"));
    EXPECT_EQ(ui.messages[0].caption, kTitle);
    EXPECT_EQ(ui.status[2], QString());
    EXPECT_FALSE(ui.progressVisible);
    EXPECT_EQ(seq.ReadStep(), 0);
    EXPECT_TRUE(std::all_of(image->begin(), image->end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(ui.outcomes, (std::vector<std::pair<Operation, Outcome>>{
                               {Operation::ReadSettings, Outcome::Succeeded}}));
}

TEST_F(Sequences, SecondReadClickRestartsAtPhoneBlock) {
    seq.btn_loadClick();
    seq.OnReadReply(MakeReply(cmd_read_block, Bytes(256, 0xFF)));
    seq.OnReadReply(MakeReply(cmd_read_block, Bytes(256, 0xFF)));
    EXPECT_EQ(seq.ReadStep(), 2);
    seq.btn_loadClick();
    EXPECT_EQ(seq.ReadStep(), 0);
    EXPECT_EQ(sender.frames.back(), BuildReadBlockFrame(kPhoneBlockAddress));
}

TEST_F(Sequences, WriteDefaultsRightAfterStart) {
    seq.btn_downClick();
    for (int i = 0; i < 8; ++i) Confirm();
    ASSERT_EQ(sender.frames.size(), 9u);
    DeviceSettings defaults;
    auto expected = std::make_unique<ConfigImage>();
    expected->fill(0xFF);
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(sender.frames[2 * k], BuildEraseBlockFrame(kAddresses[k]));
        const ConfigBlock block = static_cast<ConfigBlock>(k);
        EncodeBlock(block, defaults, *expected);
        const Bytes want(expected->begin() + kAddresses[k],
                         expected->begin() + kAddresses[k] + 256);
        EXPECT_EQ(sender.frames[2 * k + 1], BuildWriteBlockFrame(kAddresses[k], want.data()));
        const Bytes data = WriteData(2 * k + 1);
        EXPECT_TRUE(std::all_of(data.begin() + BlockUsedLength(block), data.end(),
                                [](uint8_t b) { return b == 0xFF; }));
    }
    EXPECT_EQ(sender.frames[8], BuildWriteDoneFrame());
    EXPECT_EQ(sender.selectors, (std::vector<uint8_t>{cmd_write_done}));
    EXPECT_EQ(ui.progressHistory, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80}));
    EXPECT_EQ(ui.MessageTexts(), QStringList{QStringLiteral("写入成功")});
    EXPECT_FALSE(ui.progressVisible);
    EXPECT_EQ(seq.WriteStep(), 0);

    seq.OnWriteDoneReply(Status(cmd_write_done, 1));
    EXPECT_EQ(ui.messages.size(), 1u);
    seq.OnWriteDoneReply(Status(cmd_write_done, 0));
    EXPECT_EQ(ui.messages.back().text, QStringLiteral("操作失败"));
    EXPECT_EQ(ui.outcomes.back(), std::make_pair(Operation::WriteDone, Outcome::Failed));

    // A late write reply after the end is no reply the sequence waits for: it is refused,
    // and nothing is shown or sent.
    sender.outstanding = 0;
    const size_t shown = ui.messages.size();
    seq.OnWriteReply(Status(cmd_write_block, 1));
    EXPECT_EQ(ui.messages.size(), shown);
    EXPECT_EQ(sender.rejects, 1);
    EXPECT_EQ(sender.frames.size(), 9u);
}

TEST_F(Sequences, RefusalAtEachStepStopsThere) {
    for (int refused = 0; refused < 8; ++refused) {
        SCOPED_TRACE(refused);
        FakeUserInterface u;
        RecordingSender s;
        auto img = std::make_unique<ConfigImage>();
        DeviceSettings d;
        ConfigSequences q(s, u, d, *img);
        q.btn_downClick();
        for (int i = 0; i < refused; ++i) {
            if (s.outstanding == cmd_erase_block)
                q.OnEraseReply(MakeReply(cmd_erase_block, {1}));
            else
                q.OnWriteReply(MakeReply(cmd_write_block, {1}));
        }
        const bool erase = refused % 2 == 0;
        ASSERT_EQ(s.outstanding, erase ? cmd_erase_block : cmd_write_block);
        if (erase)
            q.OnEraseReply(MakeReply(cmd_erase_block, {0}));
        else
            q.OnWriteReply(MakeReply(cmd_write_block, {2}));
        EXPECT_EQ(s.frames.size(), size_t(refused + 1));
        // The refusal, then where the blocks are: the ones before written, the refused one
        // as it was (erase refused) or erased (write refused), the rest as they were.
        const int k = refused / 2;
        const QString names[] = {QStringLiteral("报警号码设置"), QStringLiteral("报警参数设置"),
                                 QStringLiteral("GPRS参数设置"), QStringLiteral("系统参数")};
        QStringList written, unchanged;
        for (int b = 0; b < k; ++b) written << names[b];
        for (int b = erase ? k : k + 1; b < 4; ++b) unchanged << names[b];
        QStringList parts;
        if (!written.isEmpty())
            parts << QStringLiteral("已写入：") + written.join(QStringLiteral("、"));
        if (!erase) parts << QStringLiteral("可能已被擦除：") + names[k];
        if (!unchanged.isEmpty())
            parts << QStringLiteral("未改变：") + unchanged.join(QStringLiteral("、"));
        EXPECT_EQ(u.MessageTexts(),
                  (QStringList{erase ? QStringLiteral("擦出失败") : QStringLiteral("写入失败"),
                               QStringLiteral("写入未完成。") + parts.join(QStringLiteral("；"))}));
        EXPECT_EQ(u.outcomes.back(), std::make_pair(Operation::WriteSettings, Outcome::Failed));
        EXPECT_TRUE(u.progressVisible);
    }
}

TEST_F(Sequences, RepliesForAnotherRequestDoNotAdvance) {
    seq.btn_downClick();
    seq.OnWriteReply(Status(cmd_write_block, 1));  // erase of 1024 outstanding
    seq.OnWriteReply(Status(cmd_write_block, 0));
    EXPECT_EQ(sender.frames.size(), 1u);
    EXPECT_TRUE(ui.messages.empty());
    Confirm();  // erase done: write of 1024 goes out
    ASSERT_EQ(sender.frames.size(), 2u);
    seq.OnEraseReply(Status(cmd_erase_block, 1));  // a stray erase reply: no second write
    seq.OnEraseReply(Status(cmd_erase_block, 0));
    EXPECT_EQ(sender.frames.size(), 2u);
    EXPECT_EQ(seq.WriteStep(), 1);
    EXPECT_TRUE(ui.messages.empty());
    Confirm();
    EXPECT_EQ(sender.frames.back(), BuildEraseBlockFrame(kSensorBlockAddress));
}

TEST_F(Sequences, UnconvertibleFieldSendsNothing) {
    settings.SetText("edt_Sensor1_SLow", "1.2.3");
    seq.btn_downClick();
    EXPECT_TRUE(sender.frames.empty());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("报警参数设置1 超低限值 的值无法写入"));
    EXPECT_EQ(ui.messages[0].caption, kTitle);
    EXPECT_EQ(ui.outcomes.back(), std::make_pair(Operation::WriteSettings, Outcome::Failed));
}

TEST_F(Sequences, FieldBrokenDuringTheWriteStopsBeforeItsBlock) {
    seq.btn_downClick();
    Confirm();  // erase 1024 done, write 1024 sent
    settings.SetText("edt_port", "x");
    Confirm();  // write 1024 done: sensor block erase goes out
    Confirm();  // erase 2048 done, write 2048 sent
    Confirm();  // write 2048 done: GPRS block refused before its erase
    EXPECT_EQ(sender.frames.size(), 4u);
    EXPECT_EQ(ui.MessageTexts(),
              (QStringList{QStringLiteral("GPRS参数设置 端口： 的值无法写入"),
                           QStringLiteral("写入未完成。已写入：报警号码设置、报警参数设置；未改变："
                                          "GPRS参数设置、系统参数")}));
    EXPECT_EQ(ui.outcomes.back(), std::make_pair(Operation::WriteSettings, Outcome::Failed));
}

TEST_F(Sequences, SensorBlockCarriesEditsMadeWhilePhoneBlockIsWritten) {
    seq.btn_downClick();
    Confirm();  // PhoneBlock write sent
    settings.SetText("edt_Sensor1_SLow", "-10");
    Confirm();  // PhoneBlock written; erase of 2048 sent
    settings.SetText("edt_Sensor1_Low", "0");
    Confirm();  // erase confirmed: SensorBlock encoded now
    const Bytes data = WriteData(3);
    EXPECT_EQ(Bytes(data.begin() + 4, data.begin() + 12),
              (Bytes{0x00, 0x00, 0x20, 0xC1, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(Sequences, SecondWriteClickRestartsAtTheFirstErase) {
    seq.btn_downClick();
    Confirm();
    Confirm();
    seq.btn_downClick();
    EXPECT_EQ(seq.WriteStep(), 0);
    EXPECT_EQ(sender.frames.back(), BuildEraseBlockFrame(kPhoneBlockAddress));
    Confirm();
    EXPECT_EQ(sender.frames.back()[8], 0x00);  // write of 1024
    EXPECT_EQ(sender.frames.back()[9], 0x04);
}

}  // namespace
}  // namespace r4t8

namespace r4t8 {
namespace {

// A lost write reply: the resent copy meets a written block and is refused. The block is read
// back, and what it holds decides: written as sent, the write goes on; erased, it is written
// again; anything else, it is erased and written again.
TEST_F(Sequences, RefusedResentWriteIsCheckedByReadingTheBlockBack) {
    struct Case {
        const char* name;
        int holds;  // 0: what was sent, 1: erased, 2: something else
    };
    for (const Case c : {Case{"written", 0}, Case{"erased", 1}, Case{"other", 2}}) {
        SCOPED_TRACE(c.name);
        FakeUserInterface u;
        RecordingSender s;
        auto img = std::make_unique<ConfigImage>();
        DeviceSettings d;
        ConfigSequences q(s, u, d, *img);
        q.btn_downClick();
        q.OnEraseReply(Status(cmd_erase_block, 1));
        const Bytes sent(s.frames[1].begin() + 12, s.frames[1].begin() + 12 + 256);
        s.resends = 1;
        q.OnWriteReply(Status(cmd_write_block, 0));
        EXPECT_TRUE(u.MessageTexts().isEmpty());
        ASSERT_EQ(s.frames.size(), 3u);
        EXPECT_EQ(s.frames[2], BuildReadBlockFrame(kPhoneBlockAddress));
        s.resends = 0;
        const Bytes holds = c.holds == 0 ? sent : Bytes(256, c.holds == 1 ? 0xFF : 0x5A);
        q.OnReadReply(MakeReply(cmd_read_block, holds));
        ASSERT_EQ(s.frames.size(), 4u);
        const Bytes next[] = {BuildEraseBlockFrame(kSensorBlockAddress),
                              BuildWriteBlockFrame(kPhoneBlockAddress, sent.data()),
                              BuildEraseBlockFrame(kPhoneBlockAddress)};
        EXPECT_EQ(s.frames[3], next[c.holds]);
        // The write then goes on to its end.
        while (!u.MessageTexts().contains(QStringLiteral("写入成功"))) {
            ASSERT_LT(s.frames.size(), 20u);
            if (s.outstanding == cmd_erase_block)
                q.OnEraseReply(Status(cmd_erase_block, 1));
            else
                q.OnWriteReply(Status(cmd_write_block, 1));
        }
        EXPECT_EQ(u.outcomes.back(), std::make_pair(Operation::WriteSettings, Outcome::Succeeded));
    }
}

TEST_F(Sequences, BlockRefusedAfterEveryReadBackFails) {
    seq.btn_downClick();
    Confirm();
    for (int check = 0; check < 3; ++check) {
        sender.resends = 1;
        seq.OnWriteReply(Status(cmd_write_block, 0));
        ASSERT_EQ(sender.outstanding, cmd_read_block) << check;
        sender.resends = 0;
        seq.OnReadReply(MakeReply(cmd_read_block, Bytes(256, 0x5A)));
        Confirm();  // erased again: the write goes out again
    }
    sender.resends = 1;
    seq.OnWriteReply(Status(cmd_write_block, 0));  // no further read-back
    EXPECT_EQ(
        ui.MessageTexts(),
        (QStringList{QStringLiteral("写入失败"),
                     QStringLiteral("写入未完成。可能已被擦除：报警号码设置；未改变：报警参数设置、"
                                    "GPRS参数设置、系统参数")}));
    EXPECT_EQ(ui.outcomes.back(), std::make_pair(Operation::WriteSettings, Outcome::Failed));
}

TEST_F(Sequences, RefusedWriteSentOnceIsAFailure) {
    seq.btn_downClick();
    Confirm();
    seq.OnWriteReply(Status(cmd_write_block, 0));
    ASSERT_EQ(ui.MessageTexts().size(), 2);
    EXPECT_EQ(ui.MessageTexts()[0], QStringLiteral("写入失败"));
    EXPECT_EQ(sender.frames.size(), 2u);
}

// A read reply without a whole block (a refusal carries one status byte) is no block.
TEST_F(Sequences, ShortReadReplyEndsTheReadWithAMessage) {
    settings.SetText("edt_tel1", "123");
    seq.btn_loadClick();
    seq.OnReadReply(MakeReply(cmd_read_block, {0}));
    EXPECT_EQ(ui.MessageTexts(), QStringList{QStringLiteral("读取失败")});
    EXPECT_EQ(ui.outcomes.back(), std::make_pair(Operation::ReadSettings, Outcome::Failed));
    EXPECT_EQ(sender.frames.size(), 1u);
    EXPECT_EQ(settings.Text("edt_tel1"), QStringLiteral("123"));
    EXPECT_EQ(seq.ReadStep(), 0);
}

}  // namespace
}  // namespace r4t8
