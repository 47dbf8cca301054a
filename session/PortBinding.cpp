#include "session/PortBinding.h"

#include <algorithm>
#include <cerrno>

#include "serial/PortList.h"
#include "session/DeviceSession.h"

namespace r4t8 {

namespace {
// The most TComm takes in one call: its counts are 16 bits.
constexpr size_t kMaxPiece = 0xFFFF;
}  // namespace

PortBinding::PortBinding(TComm& comm) : m_comm(comm) {
    // The controller's line: 115200 baud, 8 data bits, no parity, one stop bit, no flow control,
    // and one byte per receive event, as the receiver's timing expects.
    m_comm.SetBaudRate(115200);
    m_comm.SetByteSize(TByteSize::_8);
    m_comm.SetParity(TParity::None);
    m_comm.SetStopBits(TStopBits::_1);
    m_comm.SetOutx_CtsFlow(false);
    m_comm.SetOutx_XonXoffFlow(false);
    m_comm.SetInx_XonXoffFlow(false);
    m_comm.SetInputLen(1);
    m_comm.SetOnReceiveData(
        [this](TComm&, const uint8_t* buffer, uint16_t length) { onReceive(buffer, length); });
    m_comm.SetOnRequestHangup([this](TComm&) { onHangup(); });
}

PortBinding::~PortBinding() {
    m_comm.SetOnReceiveData({});
    m_comm.SetOnRequestHangup({});
}

bool PortBinding::Open(const QString& name, QString& reason) {
    if (m_comm.PortOpen()) return true;
    m_comm.SetCommName(name);
    try {
        m_comm.OpenPort();
    } catch (const ECommsError&) {
        // Reported below like any other failed open.
    }
    if (!m_comm.PortOpen()) {
        reason = OpenFailureReason(m_comm);
        return false;
    }
    report(State::Open);
    return true;
}

void PortBinding::Close() {
    if (!m_comm.PortOpen()) return;
    m_comm.ClosePort();
    report(State::Closed);
}

bool PortBinding::WriteBytes(const uint8_t* data, size_t count) {
    if (count == 0 || data == nullptr) return false;
    // In order, piece after piece: only this thread writes, so nothing comes between them.
    for (size_t off = 0; off < count; off += kMaxPiece) {
        const auto len = static_cast<uint16_t>(std::min(kMaxPiece, count - off));
        if (!m_comm.WriteBytes(data + off, len)) return false;
    }
    return true;
}

void PortBinding::onReceive(const uint8_t* buffer, uint16_t length) {
    if (m_onReceive) m_onReceive(length);
    // The read thread's stamp lets the reply guard tell a late duplicate from a reply.
    if (m_session) m_session->cm1ReceiveData(buffer, length, m_comm.CurrentArrivalUs());
}

void PortBinding::onHangup() {
    if (!m_comm.PortOpen()) return;
    m_comm.ClosePort();
    // The port shows closed before anything the stopped sequence has to say.
    report(State::Lost);
    // Resending into the dead port would only end in a time-out seconds later.
    const std::optional<Operation> stopped = m_session ? m_session->AbortPending() : std::nullopt;
    if (m_onHangup) m_onHangup(stopped);
}

void PortBinding::report(State state) {
    if (m_onState) m_onState(state);
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
