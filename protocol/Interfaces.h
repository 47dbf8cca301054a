// The small interfaces through which the toolkit-free code reaches the port, time and the
// user. The window, the command-line program and the tests each provide their own.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace r4t8 {

// Where requests go: the serial port in the program, a pty or a recorder in tests.
class IPort {
public:
    virtual ~IPort() = default;
    // Queues the bytes for writing; false when the port is closed or count is 0.
    virtual bool WriteBytes(const uint8_t* data, size_t count) = 0;
};

// A single-shot or repeating timer whose callback runs on the owner's thread.
class ITimer {
public:
    virtual ~ITimer() = default;
    virtual void SetCallback(std::function<void()> callback) = 0;
    virtual void SetInterval(int milliseconds) = 0;
    virtual int Interval() const = 0;
    virtual void SetSingleShot(bool singleShot) = 0;
    // (Re)starts a full interval from now.
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;
};

// Source of timers and of the current time; tests replace it with a fake clock.
class ITimeSource {
public:
    virtual ~ITimeSource() = default;
    virtual std::unique_ptr<ITimer> CreateTimer() = 0;
    // Monotonic milliseconds.
    virtual int64_t NowMs() const = 0;
    // Monotonic microseconds, on the clock that stamps received bytes (CLOCK_MONOTONIC in the
    // program), so a send time and an arrival time can be compared.
    virtual int64_t NowUs() const { return NowMs() * 1000; }
    // Wall-clock local time (file names, "set current time").
    virtual QDateTime CurrentDateTime() const = 0;
};

// YesNoDefaultNo: a Yes/No question whose default answer (Enter, closing the box) is No, for
// a step that gives up a safeguard.
enum class MsgButtons { Ok, YesNo, OkCancel, YesNoDefaultNo };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// The sequences that report an outcome; front ends without message boxes (the command-line
// program, tests) follow these instead of the message texts.
enum class Operation {
    Login,
    ReadSettings,
    WriteSettings,
    WriteDone,
    FactoryReset,
    HistoryQuery,
    HistoryExport,
    CurrentData,
    Relay,
    DebugMode,
    SetTime,
    GetTime,
};

enum class Outcome { Succeeded, Failed, TimedOut, Aborted };

// Everything the protocol, configuration and operations code shows to the user.
class IUserInterface {
public:
    virtual ~IUserInterface() = default;

    // A modal box. Returns after the user answered; the window runs a nested event loop,
    // during which received bytes keep arriving (the receiver queues them).
    virtual MsgAnswer ShowMessage(const QString& text, const QString& caption,
                                  MsgButtons buttons = MsgButtons::Ok) = 0;

    // Status bar: panel index 0..3, and an immediate repaint.
    virtual void SetStatusText(int panel, const QString& text) = 0;
    virtual void RepaintStatus() = 0;

    // The progress bar `pb_write` (0..80).
    virtual void SetProgress(int position) = 0;
    virtual void SetProgressVisible(bool visible) = 0;

    // Send log `mmo1`: text appended as is (it carries its own CR LF line breaks).
    virtual void AppendSendLog(const QString& text) = 0;
    // Receive log `mmo2`: one line added.
    virtual void AppendReceiveLogLine(const QString& line) = 0;

    // Lets the front end handle pending events (the export yields once per record).
    virtual void ProcessEvents() = 0;

    // The outcome of a sequence, reported once when it ends. Default: nothing.
    virtual void OperationFinished(Operation /*op*/, Outcome /*outcome*/) {}

    // Window state that is not a setting. Defaults do nothing, so a front end overrides
    // only what it shows.
    // `btn7` and the 15 device controls (login succeeded / port closed / stop).
    virtual void SetLoginEnabled(bool /*enabled*/) {}
    virtual void SetDeviceControlsEnabled(bool /*enabled*/) {}
    // The clock reply: `dtp_DeviceCurrentTime`, `DateTimePicker3`, `DateTimePicker4`.
    virtual void ShowDeviceTime(const QDateTime& /*time*/) {}
    // One value cell of `strngrd_curdata` (column 1..11, row 1).
    virtual void SetCurrentDataCell(int /*column*/, const QString& /*text*/) {}
    // Debug output: `Memo1` when received is true ('R'), `memo2` otherwise ('T').
    virtual void AppendDebugOutput(bool /*received*/, const QString& /*text*/) {}
    // The desktop's "open" action; returns 0 on success or a failure code (2: not found).
    virtual int OpenWithDesktop(const QString& /*path*/) { return 0; }
};

}  // namespace r4t8
