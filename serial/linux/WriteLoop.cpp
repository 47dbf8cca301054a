// The write thread: sends the queued blocks in order and says when the queue ran empty.
#include <errno.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

#include "serial/linux/PortSession.h"

namespace r4t8::detail {

namespace {

class Writer {
  public:
    explicit Writer(PortSession& s) : m_s(s) {}

    // Returns when the port is closed or the line is gone.
    void Run() {
        bool wroteSinceNotice = true;  // so that one notice goes out at start
        for (;;) {
            const QByteArray block = takeBlock();
            if (block.isNull()) {
                if (wroteSinceNotice) m_s.post(Notice::Kind::SendDataEmpty);
                wroteSinceNotice = false;
                if (!waitForWork()) return;
                continue;
            }
            if (!writeAll(block)) return;
            wroteSinceNotice = true;
        }
    }

  private:
    // The next queued block, or a null one (and SendDataEmpty set) when there is none.
    QByteArray takeBlock() {
        std::lock_guard lock(m_s.writeMutex);
        if (m_s.writeQueue.empty()) {
            m_s.sendDataEmpty.store(true);
            return {};
        }
        QByteArray block = std::move(m_s.writeQueue.front());
        m_s.writeQueue.pop_front();
        return block;
    }

    // False when the port is closed while waiting.
    bool waitForWork() {
        pollfd fds[2] = {{m_s.writeWakeFd, POLLIN, 0}, {m_s.stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            m_s.hangup();
            return false;
        }
        if (fds[1].revents) return false;
        uint64_t count = 0;
        if (fds[0].revents) (void)!::read(m_s.writeWakeFd, &count, sizeof count);
        return true;
    }

    bool writeAll(const QByteArray& block) {
        qsizetype done = 0;
        while (done < block.size()) {
            const ssize_t w = ::write(m_s.fd, block.constData() + done, block.size() - done);
            if (w > 0) {
                done += w;
            } else if (w < 0 && errno == EAGAIN) {
                if (!waitWritable()) return false;
            } else if (!(w < 0 && errno == EINTR)) {
                m_s.hangup();
                return false;
            }
        }
        return true;
    }

    // The driver's buffer is full: wait for room, the close, or the end of the line.
    bool waitWritable() {
        pollfd fds[2] = {{m_s.fd, POLLOUT, 0}, {m_s.stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) return true;
            m_s.hangup();
            return false;
        }
        if (fds[1].revents) return false;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            m_s.hangup();
            return false;
        }
        return true;
    }

    PortSession& m_s;
};

}  // namespace

void PortSession::writeLoop() {
    RaiseThreadPriority(1);
    Writer(*this).Run();
    {
        std::lock_guard lock(writeMutex);
        writerAlive = false;
        writeQueue.clear();
        sendDataEmpty.store(true);
    }
    (void)tcflush(fd, TCOFLUSH);
    threadDone();
}

}  // namespace r4t8::detail
