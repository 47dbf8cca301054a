#include "serial/linux/PortSession.h"

#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

namespace r4t8::detail {

PortSession::~PortSession() {
    if (fd >= 0) {
        (void)ioctl(fd, TIOCNXCL);
        (void)tcflush(fd, TCIOFLUSH);
        ::close(fd);
    }
    if (stopFd >= 0) ::close(stopFd);
    if (writeWakeFd >= 0) ::close(writeWakeFd);
}

void PortSession::post(Notice::Kind kind, uint32_t value) {
    Notice n;
    n.kind = kind;
    n.value = value;
    sink->Post(std::move(n));
}

void PortSession::postData(QByteArray data) {
    Notice n;
    n.kind = Notice::Kind::ReceiveData;
    n.data = std::move(data);
    n.chunk = inputLen;
    n.arrivalUs = MonotonicNowUs();
    sink->Post(std::move(n));
}

void PortSession::hangup() {
    if (!hangupPosted.exchange(true)) post(Notice::Kind::RequestHangup);
    signalStop();
}

void PortSession::signalStop() const {
    const uint64_t one = 1;
    (void)!::write(stopFd, &one, sizeof one);
}

void PortSession::threadDone() {
    std::lock_guard lock(doneMutex);
    --threadsRunning;
    doneCv.notify_all();
}

void RaiseThreadPriority(int steps) {
    // Only where the account may; a refusal leaves the normal priority.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    (void)setpriority(PRIO_PROCESS, tid, -steps);
}

}  // namespace r4t8::detail
