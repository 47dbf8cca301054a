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
    void cm1ReceiveData(const uint8_t* buffer, size_t length) {
        m_receiver.cm1ReceiveData(buffer, length);
    }

    CommandSender& Sender() { return m_sender; }
    FrameReceiver& Receiver() { return m_receiver; }

  private:
    CommandSender m_sender;
    FrameReceiver m_receiver;
    Dispatch m_dispatch;
};

}  // namespace r4t8
