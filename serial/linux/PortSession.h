// What one open port shares with its read and write threads.
#pragma once

#include <QByteArray>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/Notice.h"

namespace r4t8::detail {

struct PortSession {
    int fd = -1;
    int stopFd = -1;       // readable once signalled and stays so: the close event
    int writeWakeFd = -1;  // counts queued blocks for the idle write thread
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
    std::shared_ptr<INoticeSink> sink;

    std::mutex doneMutex;
    std::condition_variable doneCv;
    int threadsRunning = 0;
    std::thread reader;
    std::thread writer;

    PortSession() = default;
    PortSession(const PortSession&) = delete;
    PortSession& operator=(const PortSession&) = delete;
    // Gives the device back (exclusive use ends) and closes the wake-ups.
    ~PortSession();

    void post(Notice::Kind kind, uint32_t value = 0);
    void postData(QByteArray data);
    // The line is gone: tell the owner once and end both threads.
    void hangup();
    void signalStop() const;
    void threadDone();

    // The threads' bodies (ReadLoop.cpp, WriteLoop.cpp).
    void readLoop();
    void writeLoop();
};

// Asks the scheduler for `steps` more priority for the calling thread, where the account may.
void RaiseThreadPriority(int steps);

}  // namespace r4t8::detail
