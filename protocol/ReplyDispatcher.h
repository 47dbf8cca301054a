// ReplyDispatcher: `DispatchReply` routes every correct reply by its command code to the handler
// that the layer owning that code registered (the configuration sequences, the operations, the
// login). A code without a handler is ignored.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "protocol/Frame.h"
#include "protocol/Sender.h"

namespace r4t8 {

class ReplyDispatcher {
  public:
    using Handler = std::function<void(const ReplyRecord&)>;

    explicit ReplyDispatcher(ISender& sender) : m_sender(sender) {}
    ReplyDispatcher(const ReplyDispatcher&) = delete;
    ReplyDispatcher& operator=(const ReplyDispatcher&) = delete;

    // Every reply of the code reaches `handler`: for handlers that tell their own steps' replies
    // apart, and for debug data, which comes unasked. Replaces an earlier handler of the code.
    void Register(uint8_t command, Handler handler);
    // Only the answer to a request of this code reaches `handler`; any other reply of the code
    // is refused (ISender::RejectReply), so the request on the line stays outstanding.
    void RegisterAnswer(uint8_t command, Handler handler);

    void DispatchReply(const ReplyRecord& reply) const;

  private:
    ISender& m_sender;
    std::array<Handler, 256> m_handlers{};
};

}  // namespace r4t8
