#include "serial/SerialComm.h"

#include <QLoggingCategory>
#include <QMetaMethod>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <sys/ioctl.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/CustomBaud.h"
#include "serial/LineSettings.h"

Q_LOGGING_CATEGORY(lcSerial, "r4t8.serial")

namespace r4t8 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadChunk = 65536;
// The ioctl counters behind receive-error and modem events are polled this often.
constexpr int kCounterPollMs = 250;
constexpr auto kJoinTimeout = std::chrono::milliseconds(10000);
constexpr uint32_t kNoIntervalWait = 0xFFFFFFFFu;

void raiseThreadPriority(int steps) {
    // Only where the account may; a refusal leaves the normal priority.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    (void)setpriority(PRIO_PROCESS, tid, -steps);
}

}  // namespace

QString DevicePathForPortName(const QString& name) {
    if (name.startsWith(QLatin1Char('/'))) return name;
    static const QRegularExpression kCom(QStringLiteral("^COM([0-9]+)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto m = kCom.match(name);
    if (m.hasMatch()) {
        bool ok = false;
        const int n = m.captured(1).toInt(&ok);
        if (ok && n >= 1) return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return QStringLiteral("/dev/") + name;
}

// Where the threads leave their notifications for the owner's thread, in the order posted. The
// owner is woken through an eventfd watched by a socket notifier; one wake-up carries however
// many notices piled up meanwhile, which keeps a fast line from flooding the event loop.
struct TComm::Inbox {
    std::mutex mutex;
    std::vector<Notice> items;
    bool wakePending = false;
    int wakeFd = -1;

    ~Inbox() {
        if (wakeFd >= 0) ::close(wakeFd);
    }
    void post(Notice n) {
        bool wake = false;
        {
            std::lock_guard lock(mutex);
            items.push_back(std::move(n));
            wake = !std::exchange(wakePending, true);
        }
        if (wake) {
            const uint64_t one = 1;
            (void)!::write(wakeFd, &one, sizeof one);
        }
    }
    std::vector<Notice> take() {
        uint64_t count = 0;
        (void)!::read(wakeFd, &count, sizeof count);
        std::vector<Notice> out;
        std::lock_guard lock(mutex);
        out.swap(items);
        wakePending = false;
        return out;
    }
};

struct TComm::Session {
    int fd = -1;
    int stopFd = -1;       // readable once signalled and stays so: the close event
    int writeWakeFd = -1;  // counts queued blocks for the idle write thread
    uint64_t generation = 0;
    uint16_t inputLen = 1;

    std::atomic<uint32_t> readInterval{100};
    std::atomic<uint32_t> readTotalMultiplier{0};
    std::atomic<uint32_t> readTotalConstant{0};
    std::atomic<bool> ignoreNullChar{false};

    std::mutex writeMutex;
    std::deque<QByteArray> writeQueue;
    bool writerAlive = true;
    std::atomic<bool> sendDataEmpty{true};

    std::atomic<bool> hangupPosted{false};

    // Shared, so that a thread left running after a failed join never posts into freed memory.
    std::shared_ptr<Inbox> inbox;

    std::mutex doneMutex;
    std::condition_variable doneCv;
    int threadsRunning = 0;
    std::thread reader;
    std::thread writer;

    ~Session() {
        if (fd >= 0) {
            (void)ioctl(fd, TIOCNXCL);
            (void)tcflush(fd, TCIOFLUSH);
            ::close(fd);
        }
        if (stopFd >= 0) ::close(stopFd);
        if (writeWakeFd >= 0) ::close(writeWakeFd);
    }

    void post(Notice n) {
        n.generation = generation;
        inbox->post(std::move(n));
    }
    void post(Notice::Kind kind, uint32_t value = 0) {
        Notice n;
        n.kind = kind;
        n.value = value;
        post(std::move(n));
    }
    void postData(QByteArray data, uint16_t chunk) {
        Notice n;
        n.kind = Notice::Kind::ReceiveData;
        n.data = std::move(data);
        n.chunk = chunk;
        n.arrivalUs = TComm::MonotonicNowUs();
        post(std::move(n));
    }
    // The line is gone: tell the owner once and end both threads.
    void hangup() {
        if (!hangupPosted.exchange(true)) post(Notice::Kind::RequestHangup);
        signalStop();
    }
    void signalStop() const {
        const uint64_t one = 1;
        (void)!::write(stopFd, &one, sizeof one);
    }
    void threadDone() {
        std::lock_guard lock(doneMutex);
        --threadsRunning;
        doneCv.notify_all();
    }

    void readLoop();
    void writeLoop();
};

namespace {

struct LineCounters {
    bool supported = false;
    serial_icounter_struct last{};
};

// Receive-error bits and modem event value from the driver's counters since the last look.
void checkCounters(TComm::Session& s, LineCounters& c) {
    if (!c.supported) return;
    serial_icounter_struct now{};
    if (ioctl(s.fd, TIOCGICOUNT, &now) != 0) return;
    uint32_t errors = 0;
    if (now.buf_overrun != c.last.buf_overrun) errors |= CommError::kRxOver;
    if (now.overrun != c.last.overrun) errors |= CommError::kOverrun;
    if (now.parity != c.last.parity) errors |= CommError::kRxParity;
    if (now.frame != c.last.frame) errors |= CommError::kFrame;
    if (now.brk != c.last.brk) errors |= CommError::kBreak;
    uint32_t modem = 0;
    if (now.dcd != c.last.dcd) modem |= ModemEvent::kCarrierDetect;
    if (now.rng != c.last.rng) modem |= ModemEvent::kRing;
    c.last = now;
    if (errors) s.post(TComm::Notice::Kind::ReceiveError, errors);
    if (modem) s.post(TComm::Notice::Kind::ModemStateChange, modem);
}

int msUntil(Clock::time_point deadline, Clock::time_point now) {
    if (deadline <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<int>(std::min<int64_t>(ms, 1 << 30));
}

}  // namespace

void TComm::Session::readLoop() {
    raiseThreadPriority(2);
    LineCounters counters;
    counters.supported = ioctl(fd, TIOCGICOUNT, &counters.last) == 0;

    const qsizetype n = inputLen;
    std::vector<char> buf(kReadChunk);
    QByteArray partial;  // bytes of a read still waiting for InputLen or the interval
    auto readStart = Clock::now();
    auto lastByte = readStart;

    for (;;) {
        const auto now = Clock::now();
        const uint32_t interval = readInterval.load(std::memory_order_relaxed);
        const uint64_t total = uint64_t(readTotalMultiplier.load(std::memory_order_relaxed)) * n +
                               readTotalConstant.load(std::memory_order_relaxed);
        int timeout = -1;
        if (!partial.isEmpty() && interval != 0 && interval != kNoIntervalWait)
            timeout = msUntil(lastByte + std::chrono::milliseconds(interval), now);
        if (total > 0) {
            const int t = msUntil(readStart + std::chrono::milliseconds(total), now);
            timeout = timeout < 0 ? t : std::min(timeout, t);
        }
        if (counters.supported) timeout = timeout < 0 ? kCounterPollMs : std::min(timeout, kCounterPollMs);

        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            hangup();
            break;
        }
        if (fds[1].revents) break;
        checkCounters(*this, counters);
        if (r == 0) {
            const auto t = Clock::now();
            const bool intervalDue = !partial.isEmpty() && interval != 0 &&
                                     interval != kNoIntervalWait &&
                                     t >= lastByte + std::chrono::milliseconds(interval);
            const bool totalDue = total > 0 && t >= readStart + std::chrono::milliseconds(total);
            if (intervalDue || totalDue) {
                // A read that timed out with nothing just starts again: ending the thread
                // would leave an open port that silently receives nothing.
                if (!partial.isEmpty()) postData(std::exchange(partial, QByteArray()), inputLen);
                readStart = t;
            }
            continue;
        }
        if (fds[0].revents & POLLNVAL) {
            hangup();
            break;
        }
        if (!(fds[0].revents & POLLIN)) {
            // POLLHUP or POLLERR without data: the other end or the adapter is gone.
            hangup();
            break;
        }
        const ssize_t got = ::read(fd, buf.data(), buf.size());
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            hangup();
            break;
        }
        if (got == 0) {
            hangup();
            break;
        }
        lastByte = Clock::now();
        const char* begin = buf.data();
        const char* end = begin + got;
        if (ignoreNullChar.load(std::memory_order_relaxed)) {
            end = std::remove(buf.data(), buf.data() + got, '\0');
            if (end == begin) continue;
        }
        partial.append(begin, end - begin);
        qsizetype complete = (partial.size() / n) * n;
        if (interval == kNoIntervalWait && total == 0) complete = partial.size();
        if (complete == partial.size()) {
            postData(std::exchange(partial, QByteArray()), inputLen);
            readStart = lastByte;
        } else if (complete > 0) {
            postData(partial.left(complete), inputLen);
            partial.remove(0, complete);
            readStart = lastByte;
        }
    }
    (void)tcflush(fd, TCIFLUSH);
    threadDone();
}

void TComm::Session::writeLoop() {
    raiseThreadPriority(1);
    bool wroteSinceNotice = true;  // so that one notice goes out at start
    for (;;) {
        QByteArray block;
        {
            std::lock_guard lock(writeMutex);
            if (writeQueue.empty()) {
                sendDataEmpty.store(true);
            } else {
                block = std::move(writeQueue.front());
                writeQueue.pop_front();
            }
        }
        if (block.isNull()) {
            if (wroteSinceNotice) post(Notice::Kind::SendDataEmpty);
            wroteSinceNotice = false;
            pollfd fds[2] = {{writeWakeFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                hangup();
                break;
            }
            if (fds[1].revents) break;
            uint64_t count = 0;
            if (fds[0].revents) (void)!::read(writeWakeFd, &count, sizeof count);
            continue;
        }
        qsizetype done = 0;
        bool stop = false;
        while (done < block.size() && !stop) {
            const ssize_t w = ::write(fd, block.constData() + done, block.size() - done);
            if (w > 0) {
                done += w;
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno == EAGAIN) {
                pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                    hangup();
                    stop = true;
                } else if (fds[1].revents) {
                    stop = true;
                } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                    hangup();
                    stop = true;
                }
                continue;
            }
            hangup();
            stop = true;
        }
        if (stop) break;
        wroteSinceNotice = true;
    }
    {
        std::lock_guard lock(writeMutex);
        writerAlive = false;
        writeQueue.clear();
        sendDataEmpty.store(true);
    }
    (void)tcflush(fd, TCOFLUSH);
    threadDone();
}

TComm::TComm(QObject* parent) : QObject(parent) {}

TComm::~TComm() { ClosePort(); }

void TComm::SetPortOpen(bool open) {
    if (open)
        OpenPort();
    else
        ClosePort();
}

void TComm::failOpen(const char* message, int err) {
    m_portOpenError = QString::fromLatin1(message);
    m_lastErrno = err;
    m_lastSystemError = err ? QString::fromLocal8Bit(std::strerror(err)) : QString();
}

bool TComm::LastErrorWasPermission() const {
    return m_lastErrno == EACCES || m_lastErrno == EPERM;
}

void TComm::OpenPort() {
    m_portOpenError.clear();
    if (PortOpen()) {
        m_portOpenError = QStringLiteral("This serial port already opened");
        return;
    }
    m_lastErrno = 0;
    m_lastSystemError.clear();
    m_devicePath = DevicePathForPortName(m_commName);

    const QByteArray path = m_devicePath.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failOpen("Error opening serial port", errno);
        return;
    }
    if (!isatty(fd)) {
        ::close(fd);
        failOpen("File handle is not a comm handle ", 0);
        return;
    }
    // TIOCEXCL keeps out other opens except root's; the lock keeps out everyone who locks.
    if (ioctl(fd, TIOCEXCL) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        failOpen("Error opening serial port", err);
        return;
    }
    termios probe{};
    if (tcgetattr(fd, &probe) != 0) {
        const int err = errno;
        (void)ioctl(fd, TIOCNXCL);
        ::close(fd);
        failOpen("Cannot setup comm buffer", err);
        throw ECommsError(m_portOpenError);
    }

    if (!m_inbox) {
        auto inbox = std::make_shared<Inbox>();
        inbox->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (inbox->wakeFd < 0) {
            const int err = errno;
            (void)ioctl(fd, TIOCNXCL);
            ::close(fd);
            failOpen("Unable to create event", err);
            return;
        }
        m_inbox = inbox;
        m_wakeNotifier = new QSocketNotifier(inbox->wakeFd, QSocketNotifier::Read, this);
        connect(m_wakeNotifier, &QSocketNotifier::activated, this, &TComm::takeNotices);
    }

    auto session = std::make_shared<Session>();
    session->fd = fd;
    session->inputLen = m_inputLen;
    session->generation = ++m_generation;
    session->inbox = m_inbox;
    m_fd = fd;
    m_session = session;
    (void)tcflush(fd, TCIOFLUSH);
    session->sendDataEmpty.store(true);
    applyTimeouts();
    applyLineSettings();

    const auto forget = [this] {
        m_session.reset();  // closes the descriptors
        m_fd = -1;
    };
    session->stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    session->writeWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (session->stopFd < 0 || session->writeWakeFd < 0) {
        const int err = errno;
        forget();
        failOpen("Unable to create event", err);
        return;
    }
    try {
        session->threadsRunning = 1;
        session->reader = std::thread([session] { session->readLoop(); });
    } catch (const std::system_error& e) {
        session->threadsRunning = 0;
        forget();
        failOpen("Unable to create read thread", e.code().value());
        return;
    }
    try {
        {
            std::lock_guard lock(session->doneMutex);
            ++session->threadsRunning;
        }
        session->writer = std::thread([session] { session->writeLoop(); });
    } catch (const std::system_error& e) {
        session->threadDone();
        session->signalStop();
        session->reader.join();
        forget();
        failOpen("Unable to create write thread", e.code().value());
        return;
    }
}

void TComm::ClosePort() {
    m_portOpenError.clear();
    if (!PortOpen()) return;
    std::shared_ptr<Session> s = std::move(m_session);
    m_fd = -1;
    ++m_generation;  // what the closed session posted is no longer wanted
    m_pending.clear();

    s->signalStop();
    bool ended = false;
    {
        std::unique_lock lock(s->doneMutex);
        ended = s->doneCv.wait_for(lock, kJoinTimeout, [&] { return s->threadsRunning == 0; });
    }
    if (ended) {
        s->reader.join();
        s->writer.join();
    } else {
        // Never kill a thread: leave it the session (and the descriptor); what it still posts
        // carries an old generation and is dropped.
        qCWarning(lcSerial) << "serial threads did not end in time; leaving them detached";
        if (s->reader.joinable()) s->reader.detach();
        if (s->writer.joinable()) s->writer.detach();
    }
}

bool TComm::WriteBytes(const uint8_t* data, uint16_t count) {
    if (!PortOpen() || count == 0 || data == nullptr) return false;
    Session& s = *m_session;
    {
        std::lock_guard lock(s.writeMutex);
        if (!s.writerAlive) return false;
        s.writeQueue.emplace_back(reinterpret_cast<const char*>(data), count);
        s.sendDataEmpty.store(false);
    }
    const uint64_t one = 1;
    return ::write(s.writeWakeFd, &one, sizeof one) == sizeof one;
}

void TComm::SetOutput(const QString& text) {
    m_output = text;
    const QByteArray bytes = text.toLatin1();
    // Longer strings go in pieces: a block count is 16 bits.
    for (qsizetype off = 0; off < bytes.size(); off += 0xFFFF) {
        const auto len = static_cast<uint16_t>(std::min<qsizetype>(0xFFFF, bytes.size() - off));
        if (!WriteBytes(reinterpret_cast<const uint8_t*>(bytes.constData() + off), len)) return;
    }
}

bool TComm::SendDataEmpty() const {
    return !m_session || m_session->sendDataEmpty.load();
}

void TComm::SetCommPort(uint8_t port) {
    if (port == 0 || port == m_commPort) return;
    m_commPort = port;
    m_commName = QStringLiteral("COM%1").arg(port);
}

void TComm::SetInputLen(uint16_t len) {
    if (len == 0)
        m_inputLen = m_inBufferSize;
    else if (len <= m_inBufferSize)
        m_inputLen = len;
}

void TComm::SetInBufferSize(uint16_t size) { m_inBufferSize = size == 0 ? 1 : size; }

void TComm::applyTimeouts() {
    if (!m_session) return;
    m_session->readInterval.store(m_readIntervalTimeout);
    m_session->readTotalMultiplier.store(m_readTotalTimeoutMultiplier);
    m_session->readTotalConstant.store(m_readTotalTimeoutConstant);
}

bool TComm::applyLineSettings() {
    if (m_fd < 0) return false;
    ++m_lineSettingsApplied;
    if (m_session) m_session->ignoreNullChar.store(m_ignoreNullChar);

    termios t{};
    if (tcgetattr(m_fd, &t) != 0) return false;
    const bool standard = detail::ComposeLineSettings(*this, t);
    bool ok = tcsetattr(m_fd, TCSANOW, &t) == 0;
    if (ok && !standard) ok = detail::SetCustomBaudRate(m_fd, m_baudRate);
    if (!ok) {
        const int err = errno;
        // glibc reports EINVAL when the driver kept only part of the record (a pty drops
        // parity and data bits); the rest is in force.
        qCWarning(lcSerial) << "line settings not all taken:" << std::strerror(err);
    }

    // Modem lines; a pseudo-terminal has none, so refusals are expected there.
    int dtr = TIOCM_DTR;
    if (m_dtrControl == TDtrControl::DtrDisable)
        (void)ioctl(m_fd, TIOCMBIC, &dtr);
    else
        (void)ioctl(m_fd, TIOCMBIS, &dtr);
    int rts = TIOCM_RTS;
    if (m_rtsControl == TRtsControl::RtsDisable)
        (void)ioctl(m_fd, TIOCMBIC, &rts);
    else if (m_rtsControl == TRtsControl::RtsEnable)
        (void)ioctl(m_fd, TIOCMBIS, &rts);
    return ok;
}

int64_t TComm::MonotonicNowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void TComm::takeNotices() {
    if (!m_inbox) return;
    for (Notice& n : m_inbox->take())
        if (n.generation == m_generation) m_pending.push_back(std::move(n));
    deliverPending();
}

// Handlers may run a nested event loop (a modal box): it enters here again and carries on
// with the next queued byte, so the order posted is kept either way.
void TComm::deliverPending() {
    static const QMetaMethod kDataSignal = QMetaMethod::fromSignal(&TComm::OnReceiveData);
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
            switch (kind) {
                case Notice::Kind::ReceiveError:
                    if (m_onReceiveError) m_onReceiveError(*this, value);
                    Q_EMIT OnReceiveError(value);
                    break;
                case Notice::Kind::ModemStateChange:
                    if (m_onModemStateChange) m_onModemStateChange(*this, value);
                    Q_EMIT OnModemStateChange(value);
                    break;
                case Notice::Kind::RequestHangup:
                    if (m_onRequestHangup) m_onRequestHangup(*this);
                    Q_EMIT OnRequestHangup();
                    break;
                case Notice::Kind::SendDataEmpty:
                    if (m_onSendDataEmpty) m_onSendDataEmpty(*this);
                    Q_EMIT OnSendDataEmpty();
                    break;
                case Notice::Kind::ReceiveData: break;
            }
            continue;
        }
        // Copy the chunk out first: a nested delivery may pop or append to the queue.
        const auto len = static_cast<uint16_t>(
            std::min<qsizetype>(n.chunk, n.data.size() - n.offset));
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
        // A nested delivery inside the handler sets its own; restored after it for the signal.
        m_currentArrivalUs = arrivalUs;
        if (m_onReceiveData) m_onReceiveData(*this, chunk, len);
        m_currentArrivalUs = arrivalUs;
        if (isSignalConnected(kDataSignal)) {
            if (large.isNull()) large = QByteArray(reinterpret_cast<const char*>(small), len);
            Q_EMIT OnReceiveData(large);
        }
    }
}

}  // namespace r4t8
