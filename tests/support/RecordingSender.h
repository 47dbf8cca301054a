// An ISender that records the raw frames the sequences hand it, for tests of the sequences
// without the resend timer. Dispatch hands a reply to a handler as the real sender does
// (tests/protocol/test_sender_contract.cpp holds the two to the same rules).
#pragma once

#include <vector>

#include "protocol/Sender.h"

namespace r4t8::testing {

class RecordingSender : public ISender {
  public:
    void SendFrame(const Bytes& raw) override {
        frames.push_back(raw);
        outstanding = raw.size() > 3 ? raw[3] : 0;
    }
    void SendCommand(uint8_t selector) override {
        selectors.push_back(selector);
        Bytes f;
        switch (selector) {
            case 19:
                f = BuildWriteDoneFrame();
                break;
            case 20:
                f = BuildFactoryResetFrame();
                break;
            case 21:
                f = BuildHistoryCountFrame(args.historyRange[0], args.historyRange[1],
                                           args.historyRange[2], args.historyRange[3],
                                           args.historyRange[4], args.historyRange[5]);
                break;
            case 22:
                f = BuildHistoryPageFrame(args.historyPageIndex);
                break;
            case 23:
                f = BuildCurrentDataFrame();
                break;
            case 24:
                if (args.relayLetter == 'C')
                    f = BuildRelayCloseFrame(args.relayCloseTime);
                else if (args.relayLetter == 'P')
                    f = BuildRelayPulseFrame(args.relayPulseTime, args.relayInterval,
                                             static_cast<uint8_t>(args.relayCount & 0xFF));
                else if (args.relayLetter == 'O')
                    f = BuildRelayReleaseFrame();
                break;
            case 32:
                f = BuildDebugModeFrame(true);
                break;
            case 34:
                f = BuildSetTimeFrame(args.deviceTime.data());
                break;
            case 35:
                f = BuildGetTimeFrame();
                break;
            case 41:
                f = BuildDebugModeFrame(false);
                break;
            default:
                break;
        }
        if (!f.empty()) SendFrame(f);
    }
    SendCommandArgs& Args() override { return args; }
    void StopResend() override { ++stops; }
    void RejectReply() override {
        ++rejects;
        if (m_dispatching) m_rejectedNow = true;
    }
    // Runs `handler` as the dispatch of a reply to the outstanding request: afterwards the
    // request is no longer outstanding, unless the handler sent another or refused the reply.
    template <typename Handler>
    void Dispatch(Handler&& handler) {
        m_dispatching = true;
        m_rejectedNow = false;
        const size_t sent = frames.size();
        handler();
        m_dispatching = false;
        if (!m_rejectedNow && frames.size() == sent) outstanding = 0;
    }
    uint8_t OutstandingCommand() const override { return outstanding; }
    void PrepareBlockWrite(const ConfigImage& image, uint32_t address) override {
        staged.assign(image.begin() + address, image.begin() + address + kBlockSize);
        stagedAddress = address;
    }
    void SendBlockWrite() override {
        SendFrame(BuildWriteBlockFrame(stagedAddress, staged.data()));
    }
    int OutstandingResends() const override { return resends; }

    std::vector<Bytes> frames;
    std::vector<uint8_t> selectors;
    SendCommandArgs args;
    int stops = 0;
    int rejects = 0;
    uint8_t outstanding = 0;
    int resends = 0;  // what OutstandingResends reports
    Bytes staged;
    uint32_t stagedAddress = 0;

  private:
    bool m_dispatching = false;
    bool m_rejectedNow = false;
};

// Builds the ReplyRecord the receiver would hand the dispatcher for a payload.
inline ReplyRecord MakeReply(uint8_t command, const Bytes& payload) {
    ReplyRecord r;
    r.start = kFrameDelimiter;
    const uint16_t len = static_cast<uint16_t>(payload.size() + 5);
    r.length = {static_cast<uint8_t>(len & 0xFF), static_cast<uint8_t>(len >> 8)};
    r.command = command;
    r.header = {1, 0, 1, 0};
    r.payload.fill(0xFF);
    for (size_t i = 0; i < payload.size() && i < r.payload.size(); ++i) r.payload[i] = payload[i];
    r.payloadCount = static_cast<uint16_t>(std::min<size_t>(payload.size(), kReplyPayloadSize));
    return r;
}

}  // namespace r4t8::testing
