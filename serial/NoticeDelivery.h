// Carries the notices of the port's threads to the owner's thread, in the order posted.
#pragma once

#include <QMetaMethod>
#include <QObject>
#include <cstdint>
#include <deque>
#include <memory>

#include "serial/Notice.h"
#include "serial/PortBackend.h"

class QSocketNotifier;

namespace r4t8 {

class TComm;

namespace detail {

// The threads queue their notices in a shared inbox; the first one into an empty inbox signals a
// wake-up that a socket notifier watches, and that takes however many piled up meanwhile, so a
// fast line does not flood the event loop. It raises the owner's events, received bytes in
// pieces of the notice's `chunk`. A handler may run a nested event loop (a modal box): delivery
// goes on inside it, in order.
class NoticeDelivery : public QObject {
    Q_OBJECT

  public:
    explicit NoticeDelivery(TComm& owner);
    // Threads left running after a failed join may still post: they post into the void.
    ~NoticeDelivery() override;

    // Where a new session's threads post; whatever earlier sessions still post is dropped.
    // Null with `failure` set when the wake-up cannot be made (the first session makes it).
    std::shared_ptr<INoticeSink> NewSession(OpenFailure& failure);
    // Drops everything queued or half delivered: the session is closed.
    void Discard();

  private:
    class Inbox;
    class SessionSink;

    void takeNotices();
    void deliverPending();
    void raiseEvent(Notice::Kind kind, uint32_t value);

    TComm& m_owner;
    const QMetaMethod m_dataSignal;
    std::shared_ptr<Inbox> m_inbox;
    QSocketNotifier* m_wakeNotifier = nullptr;  // a child; goes before the inbox's descriptor
    uint64_t m_generation = 0;
    std::deque<Notice> m_pending;
};

}  // namespace detail
}  // namespace r4t8
