#include "protocol/ProtocolLink.h"

namespace r4t8 {

ProtocolLink::ProtocolLink(IPort& port, ITimeSource& time, Reporting report, IFrameLog& log)
    : m_time(time), m_sender(port, time, report, log), m_dispatcher(m_sender) {
    m_receiver.SetLogSink([&log](const QString& line) { log.AppendReceiveLogLine(line); });
    m_receiver.SetReplyFilter([this](const ReplyRecord& reply) {
        return m_sender.ScreenReply(reply, m_receiver.FrameArrivalUs()) !=
               CommandSender::ReplyVerdict::Drop;
    });
    m_receiver.SetBeforeDispatch([this](const ReplyRecord& reply) {
        // Debug data answers no request, so the pending one keeps being resent.
        if (reply.command != cmd_debug_data) m_sender.StopResendTimer();
    });
    m_receiver.SetDispatch([this](const ReplyRecord& reply) {
        m_dispatcher.DispatchReply(reply);
        m_sender.ReplyDispatched();
    });
}

}  // namespace r4t8
