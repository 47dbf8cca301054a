// PortBinding: the one link between the serial port TComm and the device session. It sets the
// controller's line once, opens with a reason the user can act on, hands the received bytes to
// the session with the time the port took them off the line, writes requests of any size, and
// on a hangup closes the port, stops what the session was waiting for and tells whoever shows
// the port's state.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "protocol/Outcome.h"
#include "protocol/Port.h"
#include "serial/SerialComm.h"

namespace r4t8 {

class DeviceSession;

class PortBinding : public IPort {
  public:
    // Lost: the line went away (adapter pulled, pty closed); the port is closed already.
    enum class State { Closed, Open, Lost };
    using StateListener = std::function<void(State state)>;
    // After a hangup, once the session has stopped the request it waited for (if any).
    using HangupListener = std::function<void(std::optional<Operation> stopped)>;
    // Every piece of received bytes, before the session sees it.
    using ReceiveListener = std::function<void(uint16_t length)>;

    // Sets the controller's line on `comm` (115200 8N1, no flow control, one byte per event).
    explicit PortBinding(TComm& comm);
    // Takes its handlers back from the port, which may outlive it.
    ~PortBinding() override;
    PortBinding(const PortBinding&) = delete;
    PortBinding& operator=(const PortBinding&) = delete;

    // The session that gets the bytes and is told of a hangup; null: nobody.
    void Attach(DeviceSession* session) { m_session = session; }

    // Opens the named port. On failure `reason` says why, in words the user can act on.
    bool Open(const QString& name, QString& reason);
    void Close();
    bool IsOpen() const { return m_comm.PortOpen(); }

    // Queues the bytes in order, in as many pieces as the port takes; false when the port is
    // closed, the line is gone or count is 0.
    bool WriteBytes(const uint8_t* data, size_t count) override;

    void SetStateListener(StateListener listener) { m_onState = std::move(listener); }
    void SetHangupListener(HangupListener listener) { m_onHangup = std::move(listener); }
    void SetReceiveListener(ReceiveListener listener) { m_onReceive = std::move(listener); }

    TComm& Comm() { return m_comm; }

  private:
    void onReceive(const uint8_t* buffer, uint16_t length);
    void onHangup();
    void report(State state);

    TComm& m_comm;
    DeviceSession* m_session = nullptr;
    StateListener m_onState;
    HangupListener m_onHangup;
    ReceiveListener m_onReceive;
};

// What the user reads when the port would not open.
QString OpenFailureReason(const TComm& comm);
// How to get access to a port owned by `group` (the device node's group; empty: unknown).
QString NoAccessReason(const QString& group);

}  // namespace r4t8
