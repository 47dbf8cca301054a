// Opening a tty for this program alone, setting its line, and the connection that owns the read
// and write threads.
#include <errno.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>

#include "serial/PortBackend.h"
#include "serial/linux/CustomBaud.h"
#include "serial/linux/LineSettings.h"
#include "serial/linux/PortSession.h"

namespace r4t8::detail {

namespace {

constexpr auto kJoinTimeout = std::chrono::milliseconds(10000);

// Sets DTR and RTS as the line asks; a pseudo-terminal has no modem lines and refuses.
void setModemLines(int fd, const LineConfig& line) {
    int dtr = TIOCM_DTR;
    (void)ioctl(fd, line.dtrControl == TDtrControl::DtrDisable ? TIOCMBIC : TIOCMBIS, &dtr);
    int rts = TIOCM_RTS;
    if (line.rtsControl == TRtsControl::RtsDisable)
        (void)ioctl(fd, TIOCMBIC, &rts);
    else if (line.rtsControl == TRtsControl::RtsEnable)
        (void)ioctl(fd, TIOCMBIS, &rts);
}

class LinuxPortConnection : public IPortConnection {
  public:
    explicit LinuxPortConnection(int fd) : m_s(std::make_shared<PortSession>()) { m_s->fd = fd; }
    ~LinuxPortConnection() override;

    bool ApplyLine(const LineConfig& line) override;
    void SetReadTimeouts(const ReadTimeouts& timeouts) override {
        m_s->readInterval.store(timeouts.interval);
        m_s->readTotalMultiplier.store(timeouts.totalMultiplier);
        m_s->readTotalConstant.store(timeouts.totalConstant);
    }
    bool Start(std::shared_ptr<INoticeSink> sink, uint16_t inputLen, OpenFailure& failure) override;
    bool Write(const uint8_t* data, uint16_t count) override;
    bool SendDataEmpty() const override { return m_s->sendDataEmpty.load(); }

  private:
    bool startThreads(OpenFailure& failure);

    std::shared_ptr<PortSession> m_s;
};

LinuxPortConnection::~LinuxPortConnection() {
    PortSession& s = *m_s;
    if (s.stopFd >= 0) s.signalStop();
    bool ended = false;
    {
        std::unique_lock lock(s.doneMutex);
        ended = s.doneCv.wait_for(lock, kJoinTimeout, [&] { return s.threadsRunning == 0; });
    }
    if (ended) {
        if (s.reader.joinable()) s.reader.join();
        if (s.writer.joinable()) s.writer.join();
        return;
    }
    // Never kill a thread: leave it the session (and the descriptor); what it still posts goes
    // to a closed session and is dropped.
    qCWarning(lcSerial) << "serial threads did not end in time; leaving them detached";
    if (s.reader.joinable()) s.reader.detach();
    if (s.writer.joinable()) s.writer.detach();
}

bool LinuxPortConnection::ApplyLine(const LineConfig& line) {
    m_s->ignoreNullChar.store(line.ignoreNullChar);
    const int fd = m_s->fd;
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    const bool standard = ComposeLineSettings(line, t);
    bool ok = tcsetattr(fd, TCSANOW, &t) == 0;
    if (ok && !standard) ok = SetCustomBaudRate(fd, line.baudRate);
    if (!ok) {
        // glibc reports EINVAL when the driver kept only part of the record (a pty drops
        // parity and data bits); the rest is in force.
        qCWarning(lcSerial) << "line settings not all taken:" << std::strerror(errno);
    }
    setModemLines(fd, line);
    return ok;
}

bool LinuxPortConnection::Start(std::shared_ptr<INoticeSink> sink, uint16_t inputLen,
                                OpenFailure& failure) {
    PortSession& s = *m_s;
    s.sink = std::move(sink);
    s.inputLen = inputLen;
    s.stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    s.writeWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.stopFd < 0 || s.writeWakeFd < 0) {
        failure = {OpenFailure::Step::Events, errno};
        return false;
    }
    return startThreads(failure);
}

bool LinuxPortConnection::startThreads(OpenFailure& failure) {
    const std::shared_ptr<PortSession> session = m_s;
    try {
        session->threadsRunning = 1;
        session->reader = std::thread([session] { session->readLoop(); });
    } catch (const std::system_error& e) {
        session->threadsRunning = 0;
        failure = {OpenFailure::Step::ReadThread, e.code().value()};
        return false;
    }
    try {
        {
            std::lock_guard lock(session->doneMutex);
            ++session->threadsRunning;
        }
        session->writer = std::thread([session] { session->writeLoop(); });
    } catch (const std::system_error& e) {
        session->threadDone();  // the destructor stops and joins the reader
        failure = {OpenFailure::Step::WriteThread, e.code().value()};
        return false;
    }
    return true;
}

bool LinuxPortConnection::Write(const uint8_t* data, uint16_t count) {
    PortSession& s = *m_s;
    {
        std::lock_guard lock(s.writeMutex);
        if (!s.writerAlive) return false;
        s.writeQueue.emplace_back(reinterpret_cast<const char*>(data), count);
        s.sendDataEmpty.store(false);
    }
    const uint64_t one = 1;
    return ::write(s.writeWakeFd, &one, sizeof one) == sizeof one;
}

// Makes `fd` ours alone: the lock keeps out everyone who locks, root too; TIOCEXCL keeps out
// other opens except root's. Locking first leaves the tty untouched when someone holds it.
bool takeExclusively(int fd, OpenFailure& failure) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && ioctl(fd, TIOCEXCL) == 0) return true;
    failure = {OpenFailure::Step::Lock, errno == EWOULDBLOCK ? EBUSY : errno};
    return false;
}

// The checks between opening the node and using it; false with `failure` set.
bool prepare(int fd, OpenFailure& failure) {
    if (!isatty(fd)) {
        failure = {OpenFailure::Step::NotATty, 0};
        return false;
    }
    if (!takeExclusively(fd, failure)) return false;
    termios probe{};
    if (tcgetattr(fd, &probe) != 0) {
        failure = {OpenFailure::Step::Setup, errno};
        (void)ioctl(fd, TIOCNXCL);
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<IPortConnection> OpenPortDevice(const QString& path, OpenFailure& failure) {
    const QByteArray name = path.toLocal8Bit();
    const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure = {OpenFailure::Step::Open, errno};
        return nullptr;
    }
    if (!prepare(fd, failure)) {
        ::close(fd);
        return nullptr;
    }
    (void)tcflush(fd, TCIOFLUSH);
    return std::make_unique<LinuxPortConnection>(fd);
}

}  // namespace r4t8::detail
