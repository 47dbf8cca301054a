// ProtocolLink: the receiver and the sender wired together as every front end uses them:
// the reply guard screens each correct frame, the resend timer stops just before a dispatch,
// and the sender learns when the dispatch has returned.
#pragma once

#include <functional>

#include "CommandSender.h"
#include "FrameReceiver.h"
#include "Interfaces.h"

namespace r4t8 {

class ProtocolLink {
  public:
    using Dispatch = std::function<void(const ReplyRecord&)>;

    ProtocolLink(IPort& port, ITimeSource& time, IUserInterface& ui);
    ProtocolLink(const ProtocolLink&) = delete;
    ProtocolLink& operator=(const ProtocolLink&) = delete;

    void SetDispatch(Dispatch dispatch) { m_dispatch = std::move(dispatch); }
    // Bytes whose arrival time is not known are taken as arriving now.
    void cm1ReceiveData(const uint8_t* buffer, size_t length) {
        m_receiver.cm1ReceiveData(buffer, length, m_time.NowUs());
    }
    // `arrivalUs`: when the port took the bytes off the line (ITimeSource::NowUs clock).
    void cm1ReceiveData(const uint8_t* buffer, size_t length, int64_t arrivalUs) {
        m_receiver.cm1ReceiveData(buffer, length, arrivalUs);
    }

    CommandSender& Sender() { return m_sender; }
    FrameReceiver& Receiver() { return m_receiver; }

  private:
    ITimeSource& m_time;
    CommandSender m_sender;
    FrameReceiver m_receiver;
    Dispatch m_dispatch;
};

}  // namespace r4t8
