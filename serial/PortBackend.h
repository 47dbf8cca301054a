// The system side of TComm: opening a device, setting its line, and the read and write threads
// that serve it. One implementation per platform, chosen by CMake (serial/linux).
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

#include "serial/CommTypes.h"
#include "serial/Notice.h"

namespace r4t8 {

class TComm;

namespace detail {

// The line as TComm's properties describe it.
struct LineConfig {
    uint32_t baudRate = 9600;
    TByteSize byteSize = TByteSize::_8;
    TParity parity = TParity::None;
    TStopBits stopBits = TStopBits::_1;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxXonXoffFlow = false;
    bool inxXonXoffFlow = false;
    bool ignoreNullChar = false;
    char xonChar = 0x11;
    char xoffChar = 0x13;
    TDtrControl dtrControl = TDtrControl::DtrDisable;
    TRtsControl rtsControl = TRtsControl::RtsDisable;
};

// The properties of `comm` that reach the device.
LineConfig LineConfigOf(const TComm& comm);

// When a read ends early, in milliseconds (see TComm's header comment).
struct ReadTimeouts {
    uint32_t interval = 100;
    uint32_t totalMultiplier = 0;
    uint32_t totalConstant = 0;
};

// Which step of opening failed, and the system's error number (0 when no call failed).
struct OpenFailure {
    enum class Step { None, Open, NotATty, Lock, Setup, Events, ReadThread, WriteThread };
    Step step = Step::None;
    int err = 0;
};

// One open device. Destroying it ends its threads (they get a bounded time, then are left
// detached with what they share) and gives the device back.
class IPortConnection {
  public:
    virtual ~IPortConnection() = default;
    // False when the driver did not take the whole setting (a pty keeps no parity).
    virtual bool ApplyLine(const LineConfig& line) = 0;
    virtual void SetReadTimeouts(const ReadTimeouts& timeouts) = 0;
    // Starts the read and write threads; received bytes are posted for delivery in pieces of
    // `inputLen`. False with `failure` set when a thread or its wake-up could not be made.
    virtual bool Start(std::shared_ptr<INoticeSink> sink, uint16_t inputLen,
                       OpenFailure& failure) = 0;
    // Queues a copy for the write thread; false once that thread has ended (after a hangup).
    virtual bool Write(const uint8_t* data, uint16_t count) = 0;
    virtual bool SendDataEmpty() const = 0;
};

// Wakes the owner's event loop from another thread: a descriptor that becomes readable once
// Signal() was called, until Clear().
class IWakeSignal {
  public:
    virtual ~IWakeSignal() = default;
    virtual int Descriptor() const = 0;
    // From any thread.
    virtual void Signal() = 0;
    virtual void Clear() = 0;
};

// Null with the system's error number in `err` when none can be made (descriptors exhausted).
std::unique_ptr<IWakeSignal> MakeWakeSignal(int& err);

// Opens the device at `path` for this program alone; null with `failure` set when it cannot.
std::unique_ptr<IPortConnection> OpenPortDevice(const QString& path, OpenFailure& failure);

}  // namespace detail
}  // namespace r4t8
