// The toolkit-free heart of the tool: receiver, sender, dispatcher and the sequences,
// wired to a port, a time source and a front end. The window and the command-line
// program are thin front ends over it.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "config/ConfigSequences.h"
#include "config/DeviceSettings.h"
#include "operations/DirectOperations.h"
#include "operations/HistoryQuery.h"
#include "protocol/Frame.h"
#include "protocol/Outcome.h"
#include "protocol/Port.h"
#include "protocol/Sender.h"
#include "protocol/TimeSource.h"
#include "session/SessionFrontEnd.h"

namespace r4t8 {
class CommandSender;
class FrameReceiver;
}  // namespace r4t8

namespace r4t8 {

class DeviceSession {
  public:
    DeviceSession(IPort& port, ITimeSource& time, SessionFrontEnd frontEnd,
                  DeviceSettings& settings);
    ~DeviceSession();

    // The port's receive event: one byte per call in the program, any count in tests.
    void cm1ReceiveData(const uint8_t* buffer, uint16_t length);
    // The same with the time the port took the bytes off the line (monotonic microseconds,
    // the clock of ITimeSource::NowUs): a reply that began before its request was sent is
    // recognised as a late duplicate.
    void cm1ReceiveData(const uint8_t* buffer, uint16_t length, int64_t arrivalUs);

    // "进入设置": sends the login frame with the first four characters of the password.
    void btn7Click(const QString& password);
    // "停止": stops resending, disables the device controls, raises the export abort flag.
    void btn_stopClick();
    // The port was lost: the request on the line and the sequence it belongs to end here
    // (reported as Outcome::Aborted), with no resends into the dead port. Returns the
    // operation that was running, if any.
    std::optional<Operation> AbortPending();

    ISender& Sender();
    ConfigSequences& Config();
    HistoryQuery& History();
    DirectOperations& Operations();
    ConfigImage& Image();
    DeviceSettings& Settings();

    // Model and version of the last successful login.
    QString Model() const;
    QString Version() const;

    // The routing of every correct reply by its command code (called by the receiver): to the
    // handlers the login, the configuration sequences and the operations registered.
    void DispatchReply(const ReplyRecord& reply);

    // Called after the front end has been told of each outcome (IOutcomes::OperationFinished),
    // for code that chains sequences (backup, write, verify).
    using OutcomeListener = std::function<void(Operation op, Outcome outcome)>;
    int AddOutcomeListener(OutcomeListener listener);
    void RemoveOutcomeListener(int id);

    // The concrete protocol parts, for front ends that show their counters or state.
    CommandSender& Commands();
    const FrameReceiver& Receiver() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace r4t8
