#include "ui/window/SerialPortLink.h"

#include <cerrno>

#include "serial/PortList.h"

namespace r4t8 {

SerialPortLink::SerialPortLink(QObject* parent) : m_comm(parent) {
    // The controller's line: 115200 baud, 8 data bits, no parity, one stop bit, no flow control.
    m_comm.SetBaudRate(115200);
    m_comm.SetByteSize(TByteSize::_8);
    m_comm.SetParity(TParity::None);
    m_comm.SetStopBits(TStopBits::_1);
    m_comm.SetOutx_CtsFlow(false);
    m_comm.SetOutx_XonXoffFlow(false);
    m_comm.SetInx_XonXoffFlow(false);
}

bool SerialPortLink::Open(const QString& name, QString& reason) {
    m_comm.SetCommName(name);
    try {
        m_comm.OpenPort();
    } catch (const ECommsError&) {
        // Reported below like any other failed open.
    }
    if (m_comm.PortOpen()) return true;
    reason = OpenFailureReason(m_comm);
    return false;
}

void SerialPortLink::Close() { m_comm.ClosePort(); }

bool SerialPortLink::WriteBytes(const uint8_t* data, size_t count) {
    // TComm takes at most 65535 bytes a call; no request comes near that.
    if (count == 0 || count > 0xFFFF) return false;
    return m_comm.WriteBytes(data, static_cast<uint16_t>(count));
}

void SerialPortLink::SetReceiver(std::function<void(const uint8_t*, uint16_t)> receiver) {
    m_comm.SetOnReceiveData(
        [receiver = std::move(receiver)](TComm&, const uint8_t* buffer, uint16_t length) {
            if (receiver) receiver(buffer, length);
        });
}

void SerialPortLink::SetHangupHandler(std::function<void()> handler) {
    m_comm.SetOnRequestHangup([handler = std::move(handler)](TComm&) {
        if (handler) handler();
    });
}

QString NoAccessReason(const QString& group) {
    // A node left to root alone has no group to join; dialout is the system's serial group.
    const QString name =
        group.isEmpty() || group == QStringLiteral("root") ? QStringLiteral("dialout") : group;
    // Group membership counts only for sessions begun after it was granted.
    return QStringLiteral("无权限：请将用户加入 %1 组后重新登录").arg(name);
}

QString OpenFailureReason(const TComm& comm) {
    if (comm.LastErrorWasPermission()) return NoAccessReason(DeviceGroup(comm.DevicePath()));
    switch (comm.LastSystemErrno()) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return QStringLiteral("端口不存在：") + comm.DevicePath();
        case EBUSY:
            return QStringLiteral("端口已被其它程序占用");
        default:
            break;
    }
    if (!comm.LastSystemError().isEmpty()) return comm.LastSystemError();
    return comm.PortOpenError();
}

}  // namespace r4t8
