// ProtocolLink: the receiver, the sender and the reply dispatcher wired together as every front
// end uses them: the reply guard screens each correct frame, the resend timer stops just before
// a dispatch, and the sender learns when the dispatch has returned.
#pragma once

#include "protocol/CommandSender.h"
#include "protocol/FrameReceiver.h"
#include "protocol/Port.h"
#include "protocol/ReplyDispatcher.h"
#include "protocol/TimeSource.h"
#include "protocol/UserInterfaces.h"

namespace r4t8 {

class ProtocolLink {
  public:
    ProtocolLink(IPort& port, ITimeSource& time, Reporting report, IFrameLog& log);
    ProtocolLink(const ProtocolLink&) = delete;
    ProtocolLink& operator=(const ProtocolLink&) = delete;

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
    // Where the layers above register the handlers of their replies.
    ReplyDispatcher& Dispatcher() { return m_dispatcher; }

  private:
    ITimeSource& m_time;
    CommandSender m_sender;
    FrameReceiver m_receiver;
    ReplyDispatcher m_dispatcher;
};

}  // namespace r4t8
