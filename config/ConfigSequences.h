// The reply-driven read (four block reads) and erase-and-write sequences.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "config/RawBlocks.h"
#include "protocol/Frame.h"
#include "protocol/Interfaces.h"
#include "protocol/Sender.h"

namespace r4t8 {

class ConfigSequences {
  public:
    ConfigSequences(ISender& sender, IUserInterface& ui, DeviceSettings& settings,
                    ConfigImage& image);

    void btn_loadClick();  // "读取设置"
    void btn_downClick();  // "写入设置"

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
    bool RawReadRunning() const { return static_cast<bool>(m_rawReadDone); }

    uint8_t ReadStep() const { return m_readStep; }
    uint8_t WriteStep() const { return m_writeStep; }

  private:
    // Shows which field cannot be written and ends the write; true when it did.
    bool RefuseIfInvalid(ConfigBlock block);
    void StartWrite();
    // Ends a raw read that a new sequence takes over.
    void AbandonRawRead();

    ISender& m_sender;
    IUserInterface& m_ui;
    DeviceSettings& m_settings;
    ConfigImage& m_image;
    uint8_t m_readStep = 0;
    uint8_t m_writeStep = 0;
    RawReadDone m_rawReadDone;
    RawBlocks m_rawRead{};
    std::optional<RawBlocks> m_rawWrite;  // set while a raw write runs
    RawBlocks m_lastWritten{};
    bool m_blockRetried = false;  // the current block was erased again after a resent write
};

}  // namespace r4t8
