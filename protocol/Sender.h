// The request side as the sequences see it: one send tail with its resend timer, and the
// selector-driven builder for requests that carry no configuration block.
#pragma once

#include <array>
#include <cstdint>

#include "Frame.h"

namespace r4t8 {

// Pending values that the `SendCommand` builders read (relay parameters, the time to set,
// the history range and page). The operation fills them before it calls SendCommand.
struct SendCommandArgs {
    uint8_t relayLetter = 0;  // 'C', 'P' or 'O'; 0: none chosen yet (nothing is sent)
    uint16_t relayCloseTime = 0;
    uint16_t relayPulseTime = 0;
    uint16_t relayInterval = 0;
    uint16_t relayCount = 0;                // sent as its low 8 bits
    std::array<uint8_t, 6> historyRange{};  // start yy, mm, dd, end yy, mm, dd
    uint16_t historyPageIndex = 0;
    std::array<uint8_t, 6> deviceTime{};  // yy, mm, dd, hh, nn, ss
};

class ISender {
  public:
    virtual ~ISender() = default;
    // The common tail: escape, write, log, keep as LastFrame, restart the resend timer.
    virtual void SendFrame(const Bytes& raw) = 0;
    // Builds and sends the request of a selector (19..35, 41); other selectors send nothing.
    virtual void SendCommand(uint8_t selector) = 0;
    virtual SendCommandArgs& Args() = 0;
    // `tmr_cf.Enabled := false`: the pending request is no longer resent.
    virtual void StopResend() = 0;
    // Called by a sequence while a reply is dispatched to it, when that reply is not the one it
    // waits for: the request stays outstanding and its resend cycle goes on where it was.
    virtual void RejectReply() = 0;
    // Command code of the request whose reply is awaited; 0 when none is.
    virtual uint8_t OutstandingCommand() const = 0;
    // Stages the write frame for the block at `address` of the image, then completes and
    // sends it.
    virtual void PrepareBlockWrite(const ConfigImage& image, uint32_t address) = 0;
    // How often the outstanding request has been resent so far (0: sent once).
    virtual int OutstandingResends() const { return 0; }
    virtual void SendBlockWrite() = 0;
};

// Copies payload bytes 0..255 of the reply into the image at offset..offset+255.
inline void StoreReply(ConfigImage& image, uint32_t offset, const ReplyRecord& reply) {
    for (size_t i = 0; i < kReplyPayloadSize && offset + i < image.size(); ++i)
        image[offset + i] = reply.payload[i];
}

inline void ClearConfigImage(ConfigImage& image) { image.fill(0xFF); }

}  // namespace r4t8
