// A pseudo-terminal that plays the device, and helpers to pump the owner's event loop.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <chrono>
#include <functional>

namespace r4t8::testing {

// Pumps events until `done` holds or the deadline passes; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, int deadlineMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(200);
    }
    return true;
}

// Pumps for a while to let anything still in flight arrive.
inline void PumpFor(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(500);
    }
}

inline int CountEntries(const char* dir) {
    return static_cast<int>(QDir(QString::fromLatin1(dir)).count()) - 2;
}

class Pty {
  public:
    Pty() {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
            return;
        }
        m_path = QString::fromLocal8Bit(name);
        // The slave starts in cooked mode; the device end is raw like a real controller.
        termios t{};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        CloseMaster();
        if (m_slave >= 0) ::close(m_slave);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const QString& Path() const { return m_path; }
    int Master() const { return m_master; }
    // Kept open so the line settings can be read back from the device side.
    int Slave() const { return m_slave; }

    void CloseMaster() {
        if (m_master >= 0) ::close(m_master);
        m_master = -1;
    }

    // Writes everything, waiting while the pty buffer is full.
    bool Send(const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t w = ::write(m_master, bytes.constData() + done, bytes.size() - done);
            if (w > 0) {
                done += w;
            } else if (w < 0 && errno == EAGAIN) {
                usleep(100);
            } else {
                return false;
            }
        }
        return true;
    }

    // Reads what the component wrote until `count` bytes arrived or the deadline passed.
    QByteArray Receive(qsizetype count, int deadlineMs = 10000) {
        QByteArray out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        char buf[4096];
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            const ssize_t r = ::read(m_master, buf, sizeof buf);
            if (r > 0)
                out.append(buf, r);
            else
                usleep(200);
        }
        return out;
    }

  private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

// Bytes that differ from their neighbours and repeat only every 256 * 256 bytes, so that a lost,
// doubled or reordered piece shows.
inline QByteArray Pattern(qsizetype count) {
    QByteArray b(count, Qt::Uninitialized);
    for (qsizetype i = 0; i < count; ++i) b[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return b;
}

}  // namespace r4t8::testing
