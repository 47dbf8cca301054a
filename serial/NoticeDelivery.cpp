#include "serial/NoticeDelivery.h"

#include <QMetaMethod>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "serial/SerialComm.h"

namespace r4t8::detail {

int64_t MonotonicNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Shared with the threads, which may outlive the owner after a failed join: once closed it
// takes nothing more.
class NoticeDelivery::Inbox {
  public:
    explicit Inbox(std::unique_ptr<IWakeSignal> wake) : m_wake(std::move(wake)) {}

    int Descriptor() const { return m_wake->Descriptor(); }
    void Post(Notice n) {
        bool wake = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_closed) return;
            m_items.push_back(std::move(n));
            wake = !std::exchange(m_wakePending, true);
        }
        if (wake) m_wake->Signal();
    }
    // Quiets the wake-up first: whatever is posted after the lock below signals it again.
    std::vector<Notice> Take() {
        m_wake->Clear();
        std::lock_guard lock(m_mutex);
        m_wakePending = false;
        return std::exchange(m_items, {});
    }
    void Close() {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_items.clear();
    }

  private:
    const std::unique_ptr<IWakeSignal> m_wake;
    std::mutex m_mutex;
    std::vector<Notice> m_items;
    bool m_wakePending = false;
    bool m_closed = false;
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
      m_dataSignal(QMetaMethod::fromSignal(&TComm::OnReceiveData)) {}

NoticeDelivery::~NoticeDelivery() {
    delete m_wakeNotifier;
    if (m_inbox) m_inbox->Close();
}

std::shared_ptr<INoticeSink> NoticeDelivery::NewSession(OpenFailure& failure) {
    if (!m_inbox) {
        int err = 0;
        std::unique_ptr<IWakeSignal> wake = MakeWakeSignal(err);
        if (!wake) {
            failure = {OpenFailure::Step::Events, err};
            return nullptr;
        }
        m_inbox = std::make_shared<Inbox>(std::move(wake));
        m_wakeNotifier = new QSocketNotifier(m_inbox->Descriptor(), QSocketNotifier::Read, this);
        connect(m_wakeNotifier, &QSocketNotifier::activated, this, &NoticeDelivery::takeNotices);
    }
    return std::make_shared<SessionSink>(m_inbox, ++m_generation);
}

void NoticeDelivery::Discard() {
    ++m_generation;
    m_pending.clear();
}

void NoticeDelivery::takeNotices() {
    for (Notice& n : m_inbox->Take())
        if (n.generation == m_generation) m_pending.push_back(std::move(n));
    deliverPending();
}

// A handler's nested event loop enters here again and carries on with the next queued piece,
// so the order posted is kept either way; a handler that closes the port empties the queue.
void NoticeDelivery::deliverPending() {
    TComm& c = m_owner;
    while (!m_pending.empty()) {
        Notice& n = m_pending.front();
        if (n.generation != m_generation) {
            m_pending.pop_front();
            continue;
        }
        if (n.kind != Notice::Kind::ReceiveData) {
            const Notice::Kind kind = n.kind;
            const uint32_t value = n.value;
            m_pending.pop_front();
            raiseEvent(kind, value);
            continue;
        }
        // Once a byte with InputLen 1, so kept in this loop. Copied out first: a nested
        // delivery may pop or append to the queue.
        const auto len =
            static_cast<uint16_t>(std::min<qsizetype>(n.chunk, n.data.size() - n.offset));
        uint8_t small[64];
        QByteArray large;
        const uint8_t* chunk = small;
        if (len <= sizeof small) {
            std::memcpy(small, n.data.constData() + n.offset, len);
        } else {
            large = n.data.mid(n.offset, len);
            chunk = reinterpret_cast<const uint8_t*>(large.constData());
        }
        n.offset += std::max<uint16_t>(len, 1);
        const int64_t arrivalUs = n.arrivalUs;
        if (n.offset >= n.data.size()) m_pending.pop_front();
        // A nested delivery inside the handler sets its own; restored after it for the signal.
        c.m_currentArrivalUs = arrivalUs;
        if (c.m_onReceiveData) c.m_onReceiveData(c, chunk, len);
        c.m_currentArrivalUs = arrivalUs;
        if (c.isSignalConnected(m_dataSignal)) {
            if (large.isNull()) large = QByteArray(reinterpret_cast<const char*>(small), len);
            Q_EMIT c.OnReceiveData(large);
        }
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
