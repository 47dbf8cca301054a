// The program's port: TComm with the controller's fixed line settings, as the window's
// open/close toggle (ISerialLink) and as the session's write side (IPort).
#pragma once

#include <QObject>
#include <functional>

#include "protocol/Port.h"
#include "serial/SerialComm.h"
#include "ui/window/SerialLink.h"

namespace r4t8 {

class SerialPortLink : public ISerialLink, public IPort {
  public:
    explicit SerialPortLink(QObject* parent = nullptr);

    bool Open(const QString& name, QString& reason) override;
    void Close() override;
    bool IsOpen() const override { return m_comm.PortOpen(); }
    bool WriteBytes(const uint8_t* data, size_t count) override;

    // Received bytes, on the owner's thread in the order they came.
    void SetReceiver(std::function<void(const uint8_t*, uint16_t)> receiver);
    // The line went away (adapter pulled, pty closed).
    void SetHangupHandler(std::function<void()> handler);

    TComm& Comm() { return m_comm; }

  private:
    TComm m_comm;
};

// What the user reads in the status bar when the port would not open.
QString OpenFailureReason(const TComm& comm);
// How to get access to a port owned by `group` (the device node's group; empty: unknown).
QString NoAccessReason(const QString& group);

}  // namespace r4t8
