// The reply-driven read (four block reads) and erase-and-write sequences.
#pragma once

#include <cstdint>

#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
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

    uint8_t ReadStep() const { return m_readStep; }
    uint8_t WriteStep() const { return m_writeStep; }

private:
    // Shows which field cannot be written and ends the write; true when it did.
    bool RefuseIfInvalid(ConfigBlock block);

    ISender& m_sender;
    IUserInterface& m_ui;
    DeviceSettings& m_settings;
    ConfigImage& m_image;
    uint8_t m_readStep = 0;
    uint8_t m_writeStep = 0;
};

}  // namespace r4t8
