// The client end of the simulator's pty, as the tool would use it: escaped frames out,
// frames collected between delimiters and unescaped on the way in.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Frame.h"

namespace r4t8::testing {

struct Reply {
    uint8_t command = 0;
    Bytes payload;
};

class PtyClient {
  public:
    ~PtyClient() { Close(); }

    bool Open(const std::string& path) {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0) return false;
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        tcsetattr(m_fd, TCSANOW, &t);
        return true;
    }
    void Close() {
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
    }

    bool SendRaw(const Bytes& raw) { return WriteLine(EscapeFrame(raw)); }
    bool WriteLine(const Bytes& line) {
        size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = write(m_fd, line.data() + done, line.size() - done);
            if (n < 0 && errno == EAGAIN) {
                pollfd p{m_fd, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Line bytes that arrive within `ms` (all of them, however many).
    Bytes ReadFor(int ms) {
        Bytes out;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Left(end) > 0) {
            if (!Fill(Left(end))) break;
            out.insert(out.end(), m_pending.begin(), m_pending.end());
            m_pending.clear();
        }
        return out;
    }

    // The next frame as raw bytes (A5, unescaped body, A5), or nothing within `timeoutMs`
    // (or when the line closed).
    std::optional<Bytes> ReadFrame(int timeoutMs = 3000) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            while (m_used < m_pending.size()) {
                const uint8_t b = m_pending[m_used++];
                if (!m_collecting) {
                    if (b == kFrameDelimiter) {
                        m_collecting = true;
                        m_line.clear();
                    }
                    continue;
                }
                if (b != kFrameDelimiter) {
                    m_line.push_back(b);
                    continue;
                }
                if (m_line.empty()) continue;  // A5 A5: the second one starts the frame
                m_collecting = false;
                Bytes raw = {kFrameDelimiter};
                const Bytes body = UnescapeFrame(m_line);
                raw.insert(raw.end(), body.begin(), body.end());
                raw.push_back(kFrameDelimiter);
                Compact();
                return raw;
            }
            Compact();
            if (Left(end) <= 0 || !Fill(Left(end))) return std::nullopt;
        }
    }

    // The next frame that parses as a reply, skipping debug frames unless asked for.
    std::optional<Reply> ReadReply(int timeoutMs = 3000, bool skipDebug = true) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Left(end) > 0) {
            const auto raw = ReadFrame(Left(end));
            if (!raw) return std::nullopt;
            Reply r;
            if (!ParseRawFrame(*raw, r.command, r.payload)) continue;
            if (skipDebug && r.command == cmd_debug_data) continue;
            return r;
        }
        return std::nullopt;
    }

    // Sends a request and waits for its reply.
    std::optional<Reply> Ask(const Bytes& raw, int timeoutMs = 3000) {
        if (!SendRaw(raw)) return std::nullopt;
        return ReadReply(timeoutMs);
    }

    // True when the far end has closed (reads fail or report a hangup).
    bool HungUp(int timeoutMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Left(end) > 0) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, Left(end)) <= 0) continue;
            if (p.revents & (POLLHUP | POLLERR)) return true;
            uint8_t buf[512];
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno == EIO)) return true;
        }
        return false;
    }

  private:
    using Clock = std::chrono::steady_clock;
    static int Left(Clock::time_point end) {
        return static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
    }
    // Waits up to `ms` for bytes; false when the line failed.
    bool Fill(int ms) {
        pollfd p{m_fd, POLLIN, 0};
        const int r = poll(&p, 1, ms);
        if (r <= 0) return true;
        uint8_t buf[4096];
        const ssize_t n = read(m_fd, buf, sizeof buf);
        if (n > 0) {
            m_pending.insert(m_pending.end(), buf, buf + n);
            return true;
        }
        return n < 0 && errno == EAGAIN;
    }
    void Compact() {
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(m_used));
        m_used = 0;
    }

    int m_fd = -1;
    Bytes m_pending;
    size_t m_used = 0;
    bool m_collecting = false;
    Bytes m_line;
};

}  // namespace r4t8::testing
