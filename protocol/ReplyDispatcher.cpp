#include "protocol/ReplyDispatcher.h"

namespace r4t8 {

void ReplyDispatcher::Register(uint8_t command, Handler handler) {
    m_handlers[command] = std::move(handler);
}

void ReplyDispatcher::RegisterAnswer(uint8_t command, Handler handler) {
    Register(command, [this, command, handler = std::move(handler)](const ReplyRecord& reply) {
        // Replies carry no sequence number: only the request on the line says what this is.
        if (m_sender.OutstandingCommand() != command) {
            m_sender.RejectReply();
            return;
        }
        handler(reply);
    });
}

void ReplyDispatcher::DispatchReply(const ReplyRecord& reply) const {
    // Unknown codes: the reply guard has kept them from stopping the resend timer already.
    if (const Handler& handler = m_handlers[reply.command]) handler(reply);
}

}  // namespace r4t8
