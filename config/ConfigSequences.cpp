#include "config/ConfigSequences.h"

#include <array>
#include <cstring>
#include <utility>

#include "config/BlockCodecs.h"

namespace r4t8 {

namespace {

const QString kCaption = QStringLiteral("R4T8报警器设置软件");

constexpr std::array<ConfigBlock, 4> kOrder{ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock,
                                            ConfigBlock::GprsBlock, ConfigBlock::SystemBlock};

bool StatusOk(const ReplyRecord& reply) { return reply.payload[0] == 1; }

}  // namespace

ConfigSequences::ConfigSequences(ISender& sender, IUserInterface& ui, DeviceSettings& settings,
                                 ConfigImage& image)
    : m_sender(sender), m_ui(ui), m_settings(settings), m_image(image) {}

void ConfigSequences::btn_loadClick() {
    AbandonRawRead();
    m_readStep = 0;
    ClearConfigImage(m_image);
    m_sender.SendFrame(BuildReadBlockFrame(kPhoneBlockAddress));
    m_ui.SetProgressVisible(true);
    m_ui.RepaintStatus();
}

void ConfigSequences::ReadBlocksRaw(RawReadDone done) {
    AbandonRawRead();
    m_rawReadDone = std::move(done);
    m_rawRead.fill(0xFF);
    m_readStep = 0;
    ClearConfigImage(m_image);
    m_sender.SendFrame(BuildReadBlockFrame(kPhoneBlockAddress));
    m_ui.SetProgressVisible(true);
    m_ui.RepaintStatus();
}

void ConfigSequences::AbandonRawRead() {
    if (!m_rawReadDone) return;
    RawReadDone done = std::move(m_rawReadDone);
    m_rawReadDone = nullptr;
    done(false, m_rawRead);
}

void ConfigSequences::OnReadReply(const ReplyRecord& reply) {
    if (reply.payloadCount < kBlockSize) {
        // A reply without a whole block (a refusal) must not be stored and decoded as one.
        m_readStep = 0;
        ClearConfigImage(m_image);
        if (m_rawReadDone) {
            AbandonRawRead();
            return;
        }
        m_ui.ShowMessage(QStringLiteral("读取失败"), kCaption, MsgButtons::Ok);
        m_ui.OperationFinished(Operation::ReadSettings, Outcome::Failed);
        return;
    }
    m_ui.SetProgress(m_readStep * 20 + 10);
    const ConfigBlock block = kOrder[m_readStep < 4 ? m_readStep : 0];
    StoreReply(m_image, BlockAddress(block), reply);
    if (m_rawReadDone) {
        std::memcpy(m_rawRead.data() + RawIndex(block) * kBlockSize,
                    m_image.data() + BlockAddress(block), kBlockSize);
    } else {
        // A block whose decoding stopped early does not stop the read.
        DecodeBlock(block, m_image, m_settings);
    }
    if (m_readStep < 3) {
        ++m_readStep;
        m_sender.SendFrame(BuildReadBlockFrame(BlockAddress(kOrder[m_readStep])));
        m_ui.RepaintStatus();
        m_ui.SetProgress(m_readStep * 20);
        return;
    }
    m_ui.SetProgress(80);
    m_readStep = 0;
    ClearConfigImage(m_image);
    if (m_rawReadDone) {
        // Part of a larger operation (backup, verify): it reports, not a box of its own.
        m_ui.SetStatusText(2, QString());
        m_ui.RepaintStatus();
        m_ui.SetProgressVisible(false);
        RawReadDone done = std::move(m_rawReadDone);
        m_rawReadDone = nullptr;
        done(true, m_rawRead);
        return;
    }
    m_ui.ShowMessage(QStringLiteral("读取结束"), kCaption, MsgButtons::Ok);
    m_ui.SetStatusText(2, QString());
    m_ui.RepaintStatus();
    m_ui.SetProgressVisible(false);
    m_ui.OperationFinished(Operation::ReadSettings, Outcome::Succeeded);
}

bool ConfigSequences::RefuseIfInvalid(ConfigBlock block) {
    const auto problem = ValidateBlock(block, m_settings);
    if (!problem) return false;
    m_ui.ShowMessage(problem->label + QStringLiteral(" 的值无法写入"), kCaption, MsgButtons::Ok);
    m_ui.OperationFinished(Operation::WriteSettings, Outcome::Failed);
    return true;
}

void ConfigSequences::btn_downClick() {
    m_writeStep = 0;
    m_rawWrite.reset();
    // Every block is checked before anything is erased, so a bad field leaves the controller
    // exactly as it was; each block is checked again before its own erase, since the user
    // may edit while the sequence runs.
    for (ConfigBlock block : kOrder)
        if (RefuseIfInvalid(block)) return;
    StartWrite();
}

void ConfigSequences::WriteBlocksRaw(const RawBlocks& blocks) {
    m_rawWrite = blocks;
    StartWrite();
}

void ConfigSequences::StartWrite() {
    AbandonRawRead();
    m_writeStep = 0;
    m_blockRetried = false;
    m_lastWritten.fill(0xFF);
    ClearConfigImage(m_image);
    m_sender.SendFrame(BuildEraseBlockFrame(kPhoneBlockAddress));
    ClearConfigImage(m_image);
    m_ui.SetProgressVisible(true);
    m_ui.RepaintStatus();
}

void ConfigSequences::OnEraseReply(const ReplyRecord& reply) {
    // Without a sequence number, only the code of the outstanding request tells whether
    // this reply answers it.
    if (m_sender.OutstandingCommand() != cmd_erase_block) return;
    if (!StatusOk(reply)) {
        m_ui.ShowMessage(QStringLiteral("擦出失败"), kCaption, MsgButtons::Ok);
        m_ui.OperationFinished(Operation::WriteSettings, Outcome::Failed);
        return;
    }
    m_ui.SetProgress(m_writeStep * 20 + 10);
    if (m_writeStep >= 4) return;
    const ConfigBlock block = kOrder[m_writeStep];
    ++m_writeStep;
    const uint32_t address = BlockAddress(block);
    if (m_rawWrite) {
        std::memcpy(m_image.data() + address, m_rawWrite->data() + RawIndex(block) * kBlockSize,
                    kBlockSize);
    } else {
        // Encoded now, so the block carries the values as they stand when its erase is done.
        if (RefuseIfInvalid(block)) return;
        EncodeBlock(block, m_settings, m_image);
    }
    std::memcpy(m_lastWritten.data() + RawIndex(block) * kBlockSize, m_image.data() + address,
                kBlockSize);
    m_sender.PrepareBlockWrite(m_image, address);
    m_sender.SendBlockWrite();
}

void ConfigSequences::OnWriteReply(const ReplyRecord& reply) {
    const uint8_t outstanding = m_sender.OutstandingCommand();
    if (outstanding == cmd_erase_block) return;
    const bool stepsPending = m_writeStep >= 1 && m_writeStep <= 4;
    if (outstanding != cmd_write_block && stepsPending) return;
    if (!StatusOk(reply)) {
        // The controller takes a write only into an erased block. When the reply to an
        // earlier copy was lost, the resent copy finds the block written already and is
        // refused: erase and write that block once more instead of reporting a failure.
        if (stepsPending && m_sender.OutstandingResends() > 0 && !m_blockRetried) {
            m_blockRetried = true;
            --m_writeStep;
            m_sender.SendFrame(BuildEraseBlockFrame(BlockAddress(kOrder[m_writeStep])));
            return;
        }
        m_ui.ShowMessage(QStringLiteral("写入失败"), kCaption, MsgButtons::Ok);
        m_ui.OperationFinished(Operation::WriteSettings, Outcome::Failed);
        return;
    }
    m_blockRetried = false;
    m_ui.SetProgress(m_writeStep * 20);
    if (m_writeStep >= 1 && m_writeStep <= 3) {
        const ConfigBlock next = kOrder[m_writeStep];
        m_ui.RepaintStatus();
        if (!m_rawWrite && RefuseIfInvalid(next)) return;
        m_sender.SendFrame(BuildEraseBlockFrame(BlockAddress(next)));
        return;
    }
    if (m_writeStep == 4) {
        m_writeStep = 0;
        ClearConfigImage(m_image);
        m_ui.ShowMessage(QStringLiteral("写入成功"), kCaption, MsgButtons::Ok);
        m_ui.SetStatusText(2, QString());
        m_ui.RepaintStatus();
        m_ui.SetProgressVisible(false);
        m_ui.OperationFinished(Operation::WriteSettings, Outcome::Succeeded);
        m_sender.SendCommand(cmd_write_done);
        return;
    }
    m_ui.ShowMessage(QStringLiteral("写入失败"), kCaption, MsgButtons::Ok);
    m_ui.OperationFinished(Operation::WriteSettings, Outcome::Failed);
}

void ConfigSequences::OnWriteDoneReply(const ReplyRecord& reply) {
    if (StatusOk(reply)) {
        m_ui.OperationFinished(Operation::WriteDone, Outcome::Succeeded);
        return;
    }
    m_ui.ShowMessage(QStringLiteral("操作失败"), kCaption, MsgButtons::Ok);
    m_ui.OperationFinished(Operation::WriteDone, Outcome::Failed);
}

}  // namespace r4t8
