// The reply-driven read (four block reads) and erase-and-write sequences.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "config/RawBlocks.h"
#include "protocol/Frame.h"
#include "protocol/ReplyDispatcher.h"
#include "protocol/Sender.h"
#include "protocol/UserInterfaces.h"

namespace r4t8 {

// Where a write that did not finish left each block on the controller.
struct WriteReport {
    std::vector<ConfigBlock> written;      // erased and written, both confirmed
    std::vector<ConfigBlock> mayBeErased;  // an erase went out; its write was not confirmed
    std::vector<ConfigBlock> unchanged;    // no erase was sent, or it was refused
    bool AnyErased() const { return !mayBeErased.empty(); }
    // "写入未完成。已写入：…；可能已被擦除：…；未改变：…" (empty groups left out).
    QString Text() const;
};

class ConfigSequences {
  public:
    ConfigSequences(ISender& sender, Reporting report, DeviceSettings& settings,
                    ConfigImage& image);

    void btn_loadClick();  // "读取设置"
    void btn_downClick();  // "写入设置"

    // Hands the replies below to this object.
    void RegisterReplies(ReplyDispatcher& dispatcher);
    // Replies routed here by the dispatcher.
    void OnReadReply(const ReplyRecord& reply);       // cmd_read_block
    void OnEraseReply(const ReplyRecord& reply);      // cmd_erase_block
    void OnWriteReply(const ReplyRecord& reply);      // cmd_write_block
    void OnWriteDoneReply(const ReplyRecord& reply);  // cmd_write_done

    // Reads the four blocks into a buffer of the caller's, leaving the settings record as it
    // is: the same frames, guard and progress as "读取设置", no closing message. `done` runs
    // once: with ok at the end, or with ok false when a new read or write takes over.
    using RawReadDone = std::function<void(bool ok, const RawBlocks& blocks)>;
    void ReadBlocksRaw(RawReadDone done);
    // Erases and writes the four blocks as given, through the write sequence and its
    // messages; no field checks, since the bytes are written as they are.
    void WriteBlocksRaw(const RawBlocks& blocks);
    // What the last write sent for each block (0xFF for blocks it did not reach).
    const RawBlocks& LastWrittenBlocks() const { return m_lastWritten; }
    // Where the last write left the blocks; meaningful once it has ended.
    WriteReport LastWriteReport() const;
    // The request of a read or write timed out or its line was lost (the sender or the
    // session has ended it): the sequence ends, and a write says where it left the blocks.
    void OnRequestLost(Operation op);
    // Another controller, or the same after a new login: what an earlier write left possibly
    // erased is no longer known.
    void ForgetLeftErased() { m_leftErased.fill(false); }
    bool RawReadRunning() const { return static_cast<bool>(m_rawReadDone); }

    uint8_t ReadStep() const { return m_readStep; }
    uint8_t WriteStep() const { return m_writeStep; }

  private:
    // LeftErased: an earlier write that failed may have left the block erased, and this one
    // has not written it yet.
    enum class BlockState { Unchanged, LeftErased, EraseSent, Erased, WriteSent, Written };

    // Shows which field cannot be written and ends the write; true when it did.
    bool RefuseIfInvalid(ConfigBlock block);
    // The check before a block's erase: refuses, or keeps the block as it would be written.
    bool CheckBeforeErase(ConfigBlock block);
    void SendErase(ConfigBlock block);
    // The write of the current block is confirmed: on to the next block, or the end.
    void BlockWritten();
    // The read-back of a block whose resent write was refused.
    void OnWriteCheck(const ReplyRecord& reply);
    // Ends a write that failed: says where the blocks are, reports the outcome.
    void FailWrite();
    void RememberLeftErased();
    void StartWrite();
    // Ends a raw read that a new sequence takes over.
    void AbandonRawRead();

    ISender& m_sender;
    Reporting m_report;
    DeviceSettings& m_settings;
    ConfigImage& m_image;
    uint8_t m_readStep = 0;
    uint8_t m_writeStep = 0;
    RawReadDone m_rawReadDone;
    RawBlocks m_rawRead{};
    std::optional<RawBlocks> m_rawWrite;  // set while a raw write runs
    RawBlocks m_lastWritten{};
    // Read-backs of the current block after its resent write was refused.
    int m_writeChecks = 0;
    bool m_checkingWrite = false;
    bool m_reading = false;
    bool m_writing = false;
    std::array<BlockState, 4> m_blockState{};
    std::array<bool, 4> m_leftErased{};
    // Each block as encoded by its check before the erase: what is written when a field
    // becomes unconvertible while the erase is outstanding.
    RawBlocks m_checked{};
    std::unique_ptr<ConfigImage> m_scratch;
    QStringList m_notTaken;  // messages for fields that were not taken, shown at the end
};

}  // namespace r4t8
