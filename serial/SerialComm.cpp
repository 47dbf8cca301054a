#include "serial/SerialComm.h"

#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "serial/NoticeDelivery.h"
#include "serial/PortBackend.h"

Q_LOGGING_CATEGORY(lcSerial, "r4t8.serial")

namespace r4t8 {

namespace {

using detail::OpenFailure;

// The texts OpenPort leaves in PortOpenError, by the step that failed.
const char* openErrorText(OpenFailure::Step step) {
    switch (step) {
        case OpenFailure::Step::Open:
        case OpenFailure::Step::Lock:
            return "Error opening serial port";
        case OpenFailure::Step::NotATty:
            return "File handle is not a comm handle ";
        case OpenFailure::Step::Setup:
            return "Cannot setup comm buffer";
        case OpenFailure::Step::Events:
            return "Unable to create event";
        case OpenFailure::Step::ReadThread:
            return "Unable to create read thread";
        case OpenFailure::Step::WriteThread:
            return "Unable to create write thread";
        case OpenFailure::Step::None:
            break;
    }
    return "";
}

}  // namespace

QString DevicePathForPortName(const QString& name) {
    if (name.startsWith(QLatin1Char('/'))) return name;
    static const QRegularExpression kCom(QStringLiteral("^COM([0-9]+)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto m = kCom.match(name);
    if (m.hasMatch()) {
        bool ok = false;
        const int n = m.captured(1).toInt(&ok);
        if (ok && n >= 1) return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return QStringLiteral("/dev/") + name;
}

namespace detail {

LineConfig LineConfigOf(const TComm& c) {
    LineConfig line;
    line.baudRate = c.BaudRate();
    line.byteSize = c.ByteSize();
    line.parity = c.Parity();
    line.stopBits = c.StopBits();
    line.parityCheck = c.ParityCheck();
    line.outxCtsFlow = c.Outx_CtsFlow();
    line.outxXonXoffFlow = c.Outx_XonXoffFlow();
    line.inxXonXoffFlow = c.Inx_XonXoffFlow();
    line.ignoreNullChar = c.IgnoreNullChar();
    line.xonChar = c.XonChar();
    line.xoffChar = c.XoffChar();
    line.dtrControl = c.DtrControl();
    line.rtsControl = c.RtsControl();
    return line;
}

}  // namespace detail

TComm::TComm(QObject* parent)
    : QObject(parent), m_delivery(std::make_unique<detail::NoticeDelivery>(*this)) {}

TComm::~TComm() { ClosePort(); }

void TComm::SetPortOpen(bool open) {
    if (open)
        OpenPort();
    else
        ClosePort();
}

void TComm::clearLastError() {
    m_portOpenError.clear();
    m_lastErrno = 0;
    m_lastSystemError.clear();
}

void TComm::failOpen(const detail::OpenFailure& failure) {
    m_portOpenError = QString::fromLatin1(openErrorText(failure.step));
    m_lastErrno = failure.err;
    m_lastSystemError =
        failure.err ? QString::fromLocal8Bit(std::strerror(failure.err)) : QString();
}

bool TComm::LastErrorWasPermission() const { return m_lastErrno == EACCES || m_lastErrno == EPERM; }

void TComm::OpenPort() {
    m_portOpenError.clear();
    if (PortOpen()) {
        m_portOpenError = QStringLiteral("This serial port already opened");
        return;
    }
    clearLastError();
    m_devicePath = DevicePathForPortName(m_commName);

    detail::OpenFailure failure;
    m_port = detail::OpenPortDevice(m_devicePath, failure);
    if (!m_port) {
        failOpen(failure);
        // A device that opened but cannot be set up is the one failure raised, not just noted.
        if (failure.step == detail::OpenFailure::Step::Setup) throw ECommsError(m_portOpenError);
        return;
    }
    applyTimeouts();
    applyLineSettings();
    startSession();
}

// The threads start last, with the line already set; whatever a half-started session posted is
// dropped with it.
void TComm::startSession() {
    detail::OpenFailure failure;
    std::shared_ptr<detail::INoticeSink> sink = m_delivery->NewSession(failure);
    if (sink && m_port->Start(std::move(sink), m_inputLen, failure)) return;
    m_port.reset();
    m_delivery->Discard();
    failOpen(failure);
}

void TComm::ClosePort() {
    m_portOpenError.clear();
    if (!PortOpen()) return;
    std::unique_ptr<detail::IPortConnection> port = std::move(m_port);
    m_delivery->Discard();  // what the closed session posted is no longer wanted
    port.reset();
}

bool TComm::WriteBytes(const uint8_t* data, uint16_t count) {
    if (!PortOpen() || count == 0 || data == nullptr) return false;
    return m_port->Write(data, count);
}

void TComm::SetOutput(const QString& text) {
    m_output = text;
    const QByteArray bytes = text.toLatin1();
    // Longer strings go in pieces: a block count is 16 bits.
    for (qsizetype off = 0; off < bytes.size(); off += 0xFFFF) {
        const auto len = static_cast<uint16_t>(std::min<qsizetype>(0xFFFF, bytes.size() - off));
        if (!WriteBytes(reinterpret_cast<const uint8_t*>(bytes.constData() + off), len)) return;
    }
}

bool TComm::SendDataEmpty() const { return !m_port || m_port->SendDataEmpty(); }

void TComm::SetCommPort(uint8_t port) {
    if (port == 0 || port == m_commPort) return;
    m_commPort = port;
    m_commName = QStringLiteral("COM%1").arg(port);
}

void TComm::SetInputLen(uint16_t len) {
    if (len == 0)
        m_inputLen = m_inBufferSize;
    else if (len <= m_inBufferSize)
        m_inputLen = len;
}

void TComm::SetInBufferSize(uint16_t size) { m_inBufferSize = size == 0 ? 1 : size; }

void TComm::applyTimeouts() {
    if (!m_port) return;
    m_port->SetReadTimeouts(
        {m_readIntervalTimeout, m_readTotalTimeoutMultiplier, m_readTotalTimeoutConstant});
}

bool TComm::applyLineSettings() {
    if (!m_port) return false;
    ++m_lineSettingsApplied;
    return m_port->ApplyLine(detail::LineConfigOf(*this));
}

int64_t TComm::MonotonicNowUs() { return detail::MonotonicNowUs(); }

}  // namespace r4t8
