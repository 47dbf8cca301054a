#include "config/ConfigSequences.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "config/BlockCodecs.h"
#include "protocol/Captions.h"

namespace r4t8 {

namespace {

constexpr std::array<ConfigBlock, 4> kOrder{ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock,
                                            ConfigBlock::GprsBlock, ConfigBlock::SystemBlock};

bool StatusOk(const ReplyRecord& reply) { return reply.payload[0] == 1; }

// Read-backs a block may take before its write counts as failed.
constexpr int kMaxWriteChecks = 3;

}  // namespace

QString WriteReport::Text() const {
    QStringList parts;
    if (!written.empty()) parts << QStringLiteral("已写入：") + BlockNames(written);
    if (!mayBeErased.empty()) parts << QStringLiteral("可能已被擦除：") + BlockNames(mayBeErased);
    if (!unchanged.empty()) parts << QStringLiteral("未改变：") + BlockNames(unchanged);
    return QStringLiteral("写入未完成。") + parts.join(QStringLiteral("；"));
}

ConfigSequences::ConfigSequences(ISender& sender, Reporting report, DeviceSettings& settings,
                                 ConfigImage& image)
    : m_sender(sender),
      m_report(report),
      m_settings(settings),
      m_image(image),
      m_scratch(std::make_unique<ConfigImage>()) {}

void ConfigSequences::RegisterReplies(ReplyDispatcher& dispatcher) {
    // Each handler tells the replies of its own steps apart.
    dispatcher.Register(cmd_write_block, [this](const ReplyRecord& r) { OnWriteReply(r); });
    dispatcher.Register(cmd_read_block, [this](const ReplyRecord& r) { OnReadReply(r); });
    dispatcher.Register(cmd_erase_block, [this](const ReplyRecord& r) { OnEraseReply(r); });
    dispatcher.Register(cmd_write_done, [this](const ReplyRecord& r) { OnWriteDoneReply(r); });
}

void ConfigSequences::btn_loadClick() {
    AbandonRawRead();
    m_writing = false;
    m_reading = true;
    m_readStep = 0;
    ClearConfigImage(m_image);
    m_sender.SendFrame(BuildReadBlockFrame(kPhoneBlockAddress));
    m_report.progress.SetProgressVisible(true);
    m_report.progress.RepaintStatus();
}

void ConfigSequences::ReadBlocksRaw(RawReadDone done) {
    AbandonRawRead();
    m_writing = false;
    m_reading = true;
    m_rawReadDone = std::move(done);
    m_rawRead.fill(0xFF);
    m_readStep = 0;
    ClearConfigImage(m_image);
    m_sender.SendFrame(BuildReadBlockFrame(kPhoneBlockAddress));
    m_report.progress.SetProgressVisible(true);
    m_report.progress.RepaintStatus();
}

void ConfigSequences::AbandonRawRead() {
    if (!m_rawReadDone) return;
    m_reading = false;
    RawReadDone done = std::move(m_rawReadDone);
    m_rawReadDone = nullptr;
    done(false, m_rawRead);
}

void ConfigSequences::OnReadReply(const ReplyRecord& reply) {
    if (m_checkingWrite && m_writing && m_sender.OutstandingCommand() == cmd_read_block) {
        OnWriteCheck(reply);
        return;
    }
    // Only the answer to a block read of a running read is a block.
    if (!m_reading || m_sender.OutstandingCommand() != cmd_read_block) {
        m_sender.RejectReply();
        return;
    }
    if (reply.payloadCount < kBlockSize) {
        // A reply without a whole block (a refusal) must not be stored and decoded as one.
        m_reading = false;
        m_readStep = 0;
        ClearConfigImage(m_image);
        if (m_rawReadDone) {
            AbandonRawRead();
            return;
        }
        m_report.messages.ShowMessage(QStringLiteral("读取失败"), kAppTitle, MsgButtons::Ok);
        m_report.outcomes.OperationFinished(Operation::ReadSettings, Outcome::Failed);
        return;
    }
    m_report.progress.SetProgress(m_readStep * 20 + 10);
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
        m_report.progress.RepaintStatus();
        m_report.progress.SetProgress(m_readStep * 20);
        return;
    }
    m_report.progress.SetProgress(80);
    m_readStep = 0;
    m_reading = false;
    ClearConfigImage(m_image);
    if (m_rawReadDone) {
        // Part of a larger operation (backup, verify): it reports, not a box of its own.
        m_report.progress.SetStatusText(kStatusTextPanel, QString());
        m_report.progress.RepaintStatus();
        m_report.progress.SetProgressVisible(false);
        RawReadDone done = std::move(m_rawReadDone);
        m_rawReadDone = nullptr;
        done(true, m_rawRead);
        return;
    }
    m_report.messages.ShowMessage(QStringLiteral("读取结束"), kAppTitle, MsgButtons::Ok);
    m_report.progress.SetStatusText(kStatusTextPanel, QString());
    m_report.progress.RepaintStatus();
    m_report.progress.SetProgressVisible(false);
    m_report.outcomes.OperationFinished(Operation::ReadSettings, Outcome::Succeeded);
}

bool ConfigSequences::RefuseIfInvalid(ConfigBlock block) {
    const auto problem = ValidateBlock(block, m_settings);
    if (!problem) return false;
    m_report.messages.ShowMessage(problem->label + QStringLiteral(" 的值无法写入"), kAppTitle,
                                  MsgButtons::Ok);
    return true;
}

bool ConfigSequences::CheckBeforeErase(ConfigBlock block) {
    if (m_rawWrite) return true;
    if (RefuseIfInvalid(block)) return false;
    const uint32_t address = BlockAddress(block);
    std::fill_n(m_scratch->begin() + address, kBlockSize, uint8_t{0xFF});
    EncodeBlock(block, m_settings, *m_scratch);
    std::memcpy(m_checked.data() + RawIndex(block) * kBlockSize, m_scratch->data() + address,
                kBlockSize);
    return true;
}

void ConfigSequences::btn_downClick() {
    m_writeStep = 0;
    m_rawWrite.reset();
    // Every block is checked before anything is erased, so a bad field leaves the controller
    // exactly as it was; each block is checked again before its own erase, since the user
    // may edit while the sequence runs.
    for (ConfigBlock block : kOrder) {
        if (RefuseIfInvalid(block)) {
            m_report.outcomes.OperationFinished(Operation::WriteSettings, Outcome::Failed);
            return;
        }
    }
    StartWrite();
}

void ConfigSequences::WriteBlocksRaw(const RawBlocks& blocks) {
    m_rawWrite = blocks;
    StartWrite();
}

void ConfigSequences::StartWrite() {
    AbandonRawRead();
    m_reading = false;
    m_writing = true;
    m_writeStep = 0;
    m_writeChecks = 0;
    m_checkingWrite = false;
    for (size_t i = 0; i < 4; ++i)
        m_blockState[i] = m_leftErased[i] ? BlockState::LeftErased : BlockState::Unchanged;
    m_notTaken.clear();
    m_lastWritten.fill(0xFF);
    ClearConfigImage(m_image);
    CheckBeforeErase(kOrder[0]);
    SendErase(kOrder[0]);
    ClearConfigImage(m_image);
    m_report.progress.SetProgressVisible(true);
    m_report.progress.RepaintStatus();
}

void ConfigSequences::SendErase(ConfigBlock block) {
    m_blockState[RawIndex(block)] = BlockState::EraseSent;
    m_sender.SendFrame(BuildEraseBlockFrame(BlockAddress(block)));
}

WriteReport ConfigSequences::LastWriteReport() const {
    WriteReport report;
    for (ConfigBlock block : kOrder) {
        switch (m_blockState[RawIndex(block)]) {
            case BlockState::Unchanged:
                report.unchanged.push_back(block);
                break;
            case BlockState::Written:
                report.written.push_back(block);
                break;
            default:
                report.mayBeErased.push_back(block);
                break;
        }
    }
    return report;
}

void ConfigSequences::RememberLeftErased() {
    for (size_t i = 0; i < 4; ++i)
        m_leftErased[i] =
            m_blockState[i] != BlockState::Unchanged && m_blockState[i] != BlockState::Written;
}

void ConfigSequences::FailWrite() {
    m_writing = false;
    RememberLeftErased();
    m_report.messages.ShowMessage(LastWriteReport().Text(), kAppTitle, MsgButtons::Ok);
    m_report.outcomes.OperationFinished(Operation::WriteSettings, Outcome::Failed);
}

void ConfigSequences::OnRequestLost(Operation op) {
    const bool writeCheck = op == Operation::ReadSettings && m_checkingWrite;
    if (op == Operation::ReadSettings) m_reading = false;
    if ((op != Operation::WriteSettings && !writeCheck) || !m_writing) return;
    m_writing = false;
    m_checkingWrite = false;
    RememberLeftErased();
    // The erase may have been carried out; the installer must not have to guess.
    m_report.messages.ShowMessage(LastWriteReport().Text(), kAppTitle, MsgButtons::Ok);
    // A read-back is part of the write: the write is what ended.
    if (writeCheck)
        m_report.outcomes.OperationFinished(Operation::WriteSettings, Outcome::TimedOut);
}

void ConfigSequences::OnEraseReply(const ReplyRecord& reply) {
    // Without a sequence number, only the request outstanding tells whether this answers it.
    if (!m_writing || m_sender.OutstandingCommand() != cmd_erase_block) {
        m_sender.RejectReply();
        return;
    }
    if (m_writeStep >= 4) {
        m_report.progress.SetProgress(m_writeStep * 20 + 10);
        return;
    }
    const ConfigBlock block = kOrder[m_writeStep];
    if (!StatusOk(reply)) {
        // A refused erase is not carried out.
        m_blockState[RawIndex(block)] =
            m_leftErased[RawIndex(block)] ? BlockState::LeftErased : BlockState::Unchanged;
        m_report.messages.ShowMessage(QStringLiteral("擦出失败"), kAppTitle, MsgButtons::Ok);
        FailWrite();
        return;
    }
    m_report.progress.SetProgress(m_writeStep * 20 + 10);
    ++m_writeStep;
    m_blockState[RawIndex(block)] = BlockState::Erased;
    const uint32_t address = BlockAddress(block);
    const size_t index = RawIndex(block);
    if (m_rawWrite) {
        std::memcpy(m_image.data() + address, m_rawWrite->data() + index * kBlockSize, kBlockSize);
    } else if (const auto problem = ValidateBlock(block, m_settings)) {
        // The block is erased: it is written now whatever happens, as it was checked before
        // the erase, and the field that was not taken is named at the end.
        std::memcpy(m_image.data() + address, m_checked.data() + index * kBlockSize, kBlockSize);
        m_notTaken << problem->label + QStringLiteral(" 的值无法写入，") + BlockGroupName(block) +
                          QStringLiteral("按擦除前检查的值写入");
    } else {
        // Encoded now, so the block carries the values as they stand when its erase is done.
        EncodeBlock(block, m_settings, m_image);
    }
    std::memcpy(m_lastWritten.data() + index * kBlockSize, m_image.data() + address, kBlockSize);
    m_blockState[index] = BlockState::WriteSent;
    m_sender.PrepareBlockWrite(m_image, address);
    m_sender.SendBlockWrite();
}

void ConfigSequences::OnWriteReply(const ReplyRecord& reply) {
    if (!m_writing || m_checkingWrite || m_sender.OutstandingCommand() != cmd_write_block ||
        m_writeStep < 1 || m_writeStep > 4) {
        m_sender.RejectReply();
        return;
    }
    const ConfigBlock block = kOrder[m_writeStep - 1];
    if (!StatusOk(reply)) {
        // The controller takes a write only into an erased block. When the reply to an
        // earlier copy was lost, the resent copy finds the block written already and is
        // refused: what the block holds tells whether the write was taken.
        if (m_sender.OutstandingResends() > 0 && m_writeChecks < kMaxWriteChecks) {
            ++m_writeChecks;
            m_checkingWrite = true;
            m_sender.SendFrame(BuildReadBlockFrame(BlockAddress(block)));
            return;
        }
        m_report.messages.ShowMessage(QStringLiteral("写入失败"), kAppTitle, MsgButtons::Ok);
        FailWrite();
        return;
    }
    BlockWritten();
}

void ConfigSequences::OnWriteCheck(const ReplyRecord& reply) {
    m_checkingWrite = false;
    const ConfigBlock block = kOrder[m_writeStep - 1];
    const uint32_t address = BlockAddress(block);
    const uint8_t* sent = m_lastWritten.data() + RawIndex(block) * kBlockSize;
    if (reply.payloadCount >= kBlockSize &&
        std::memcmp(reply.payload.data(), sent, kBlockSize) == 0) {
        BlockWritten();
        return;
    }
    if (reply.payloadCount >= kBlockSize &&
        std::all_of(reply.payload.begin(), reply.payload.begin() + kBlockSize,
                    [](uint8_t b) { return b == 0xFF; })) {
        // Erased and not written: write it again.
        m_sender.PrepareBlockWrite(m_image, address);
        m_sender.SendBlockWrite();
        return;
    }
    if (reply.payloadCount >= kBlockSize && m_writeChecks < kMaxWriteChecks) {
        // Something else is there: erase and write it once more.
        --m_writeStep;
        SendErase(block);
        return;
    }
    m_report.messages.ShowMessage(QStringLiteral("写入失败"), kAppTitle, MsgButtons::Ok);
    FailWrite();
}

void ConfigSequences::BlockWritten() {
    const ConfigBlock block = kOrder[m_writeStep - 1];
    m_writeChecks = 0;
    m_blockState[RawIndex(block)] = BlockState::Written;
    m_leftErased[RawIndex(block)] = false;
    m_report.progress.SetProgress(m_writeStep * 20);
    if (m_writeStep <= 3) {
        const ConfigBlock next = kOrder[m_writeStep];
        m_report.progress.RepaintStatus();
        if (!CheckBeforeErase(next)) {
            FailWrite();
            return;
        }
        SendErase(next);
        return;
    }
    m_writeStep = 0;
    m_writing = false;
    ClearConfigImage(m_image);
    m_report.messages.ShowMessage(QStringLiteral("写入成功"), kAppTitle, MsgButtons::Ok);
    for (const QString& note : m_notTaken)
        m_report.messages.ShowMessage(note, kAppTitle, MsgButtons::Ok);
    m_report.progress.SetStatusText(kStatusTextPanel, QString());
    m_report.progress.RepaintStatus();
    m_report.progress.SetProgressVisible(false);
    m_report.outcomes.OperationFinished(Operation::WriteSettings, Outcome::Succeeded);
    m_sender.SendCommand(cmd_write_done);
}

void ConfigSequences::OnWriteDoneReply(const ReplyRecord& reply) {
    if (m_sender.OutstandingCommand() != cmd_write_done) {
        m_sender.RejectReply();
        return;
    }
    if (StatusOk(reply)) {
        m_report.outcomes.OperationFinished(Operation::WriteDone, Outcome::Succeeded);
        return;
    }
    m_report.messages.ShowMessage(QStringLiteral("操作失败"), kAppTitle, MsgButtons::Ok);
    m_report.outcomes.OperationFinished(Operation::WriteDone, Outcome::Failed);
}

}  // namespace r4t8
