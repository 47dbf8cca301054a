#include "serial/NoticeDelivery.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaMethod>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "serial/SerialComm.h"

namespace r4t8::detail {

namespace {

QEvent::Type wakeEventType() {
    static const auto kType = static_cast<QEvent::Type>(QEvent::registerEventType());
    return kType;
}

}  // namespace

int64_t MonotonicNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Shared with the threads, which may outlive the owner after a failed join: the receiver is
// cleared under the lock before it goes, and the wake is posted under the same lock.
class NoticeDelivery::Inbox {
  public:
    explicit Inbox(QObject* receiver) : m_receiver(receiver) {}

    void Post(Notice n) {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(n));
        if (m_wake || !m_receiver) return;
        auto* wake = new QEvent(wakeEventType());
        m_wake = wake;
        QCoreApplication::postEvent(m_receiver, wake);
    }
    // The notices the wake `e` was posted for; nothing when `e` is another event. The wake is
    // known by its address, under the lock the poster held: that lock, not Qt's own (which
    // ThreadSanitizer cannot see), orders the poster's writes before Qt deletes the event.
    std::optional<std::vector<Notice>> TakeFor(const QEvent* e) {
        std::lock_guard lock(m_mutex);
        if (!e || e != m_wake) return std::nullopt;
        m_wake = nullptr;
        return std::exchange(m_items, {});
    }
    void Detach() {
        std::lock_guard lock(m_mutex);
        m_receiver = nullptr;
        m_items.clear();
    }

  private:
    std::mutex m_mutex;
    std::vector<Notice> m_items;
    const QEvent* m_wake = nullptr;  // posted and not yet delivered
    QObject* m_receiver;
};

class NoticeDelivery::SessionSink : public INoticeSink {
  public:
    SessionSink(std::shared_ptr<Inbox> inbox, uint64_t generation)
        : m_inbox(std::move(inbox)), m_generation(generation) {}
    void Post(Notice notice) override {
        notice.generation = m_generation;
        m_inbox->Post(std::move(notice));
    }

  private:
    std::shared_ptr<Inbox> m_inbox;
    uint64_t m_generation;
};

// A child of the owner, so that it follows the owner to another thread.
NoticeDelivery::NoticeDelivery(TComm& owner)
    : QObject(&owner),
      m_owner(owner),
      m_dataSignal(QMetaMethod::fromSignal(&TComm::OnReceiveData)),
      m_inbox(std::make_shared<Inbox>(this)) {}

NoticeDelivery::~NoticeDelivery() { m_inbox->Detach(); }

std::shared_ptr<INoticeSink> NoticeDelivery::NewSession() {
    return std::make_shared<SessionSink>(m_inbox, ++m_generation);
}

void NoticeDelivery::Discard() {
    ++m_generation;
    m_pending.clear();
}

bool NoticeDelivery::event(QEvent* e) {
    std::optional<std::vector<Notice>> notices = m_inbox->TakeFor(e);
    if (!notices) return QObject::event(e);
    for (Notice& n : *notices)
        if (n.generation == m_generation) m_pending.push_back(std::move(n));
    deliverPending();
    return true;
}

// A handler's nested event loop enters here again and carries on with the next queued piece,
// so the order posted is kept either way; a handler that closes the port empties the queue.
void NoticeDelivery::deliverPending() {
    while (!m_pending.empty()) {
        Notice& n = m_pending.front();
        if (n.generation != m_generation) {
            m_pending.pop_front();
        } else if (n.kind == Notice::Kind::ReceiveData) {
            deliverChunk(n);
        } else {
            const Notice::Kind kind = n.kind;
            const uint32_t value = n.value;
            m_pending.pop_front();
            raiseEvent(kind, value);
        }
    }
}

// Once a byte with InputLen 1: the callback comes first, the signal only when connected.
void NoticeDelivery::deliverChunk(Notice& n) {
    // Copied out first: a nested delivery may pop or append to the queue.
    const qsizetype piece = std::max<qsizetype>(n.chunk, 1);
    const auto len = static_cast<uint16_t>(std::min(piece, n.data.size() - n.offset));
    uint8_t small[64];
    QByteArray large;
    const uint8_t* chunk = small;
    if (len <= sizeof small) {
        std::memcpy(small, n.data.constData() + n.offset, len);
    } else {
        large = n.data.mid(n.offset, len);
        chunk = reinterpret_cast<const uint8_t*>(large.constData());
    }
    n.offset += len;
    const int64_t arrivalUs = n.arrivalUs;
    if (n.offset >= n.data.size()) m_pending.pop_front();

    TComm& c = m_owner;
    // A nested delivery inside the handler sets its own; restored after it for the signal.
    c.m_currentArrivalUs = arrivalUs;
    if (c.m_onReceiveData) c.m_onReceiveData(c, chunk, len);
    c.m_currentArrivalUs = arrivalUs;
    if (c.isSignalConnected(m_dataSignal)) {
        if (large.isNull()) large = QByteArray(reinterpret_cast<const char*>(small), len);
        Q_EMIT c.OnReceiveData(large);
    }
}

void NoticeDelivery::raiseEvent(Notice::Kind kind, uint32_t value) {
    TComm& c = m_owner;
    switch (kind) {
        case Notice::Kind::ReceiveError:
            if (c.m_onReceiveError) c.m_onReceiveError(c, value);
            Q_EMIT c.OnReceiveError(value);
            break;
        case Notice::Kind::ModemStateChange:
            if (c.m_onModemStateChange) c.m_onModemStateChange(c, value);
            Q_EMIT c.OnModemStateChange(value);
            break;
        case Notice::Kind::RequestHangup:
            if (c.m_onRequestHangup) c.m_onRequestHangup(c);
            Q_EMIT c.OnRequestHangup();
            break;
        case Notice::Kind::SendDataEmpty:
            if (c.m_onSendDataEmpty) c.m_onSendDataEmpty(c);
            Q_EMIT c.OnSendDataEmpty();
            break;
        case Notice::Kind::ReceiveData:
            break;
    }
}

}  // namespace r4t8::detail
