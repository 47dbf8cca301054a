// TComm: the serial-port component. It opens a named port, reads and writes it with two threads
// of its own and raises its events on the owner's thread, in the order posted. The system calls
// behind it live in a backend per platform (serial/linux: termios).
//
// Port names: a name that starts with '/' is a device path used as it is (a USB adapter, an
// on-board port, a pseudo-terminal); "COMn" (any case, n >= 1) stands for /dev/ttyS(n-1), so the
// default "COM1" is /dev/ttyS0; any other name is looked up under /dev ("ttyUSB0").
//
// Line settings that termios cannot express are kept as properties but have no effect on Linux:
// Outx_DsrFlow, DtrHandshake, DsrSensitivity, TxContinueOnXoff, RtsTransmissionAvailable,
// XonLimit, XoffLimit and the write time-outs (writes never time out). ReplaceWhenParityError
// only works with ReplacedChar 0 (Linux reads a byte with a parity error as 0x00). `_1_5` stop
// bits select two stop bits (a UART gives 1.5 with five data bits). Outx_CtsFlow and RtsHandshake
// both select CRTSCTS. IgnoreNullChar is done by the read thread, which drops 0x00 bytes.
//
// Reads: a read ends when InputLen bytes have arrived, or with fewer once ReadIntervalTimeout ms
// pass after the last byte (0: no interval limit; 0xFFFFFFFF with both totals 0: at once), or
// when the total time-out (multiplier * InputLen + constant, if not 0) runs out. A read that
// times out empty just starts again.
//
// Delivery: the threads queue their notices and wake the owner's event loop through a wake-up
// descriptor (an eventfd on Linux) that a socket notifier watches, once for however many piled
// up meanwhile; the owner hands them out one at a time, a received block in InputLen pieces, so
// with InputLen 1 every OnReceiveData carries one byte however the line delivered them. A
// handler may run a nested event loop (a modal box): delivery goes on inside it in order.
// Notices still queued when the port is closed are dropped.
//
// Output: the characters of the string up to U+00FF are sent as one byte each (Latin-1).
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

#include "serial/CommTypes.h"

namespace r4t8 {

namespace detail {
class IPortConnection;
class NoticeDelivery;
struct OpenFailure;
}  // namespace detail

// Raised by OpenPort when the port cannot be set up after it was opened.
class ECommsError : public std::runtime_error {
  public:
    explicit ECommsError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    QString Message() const { return m_message; }

  private:
    QString m_message;
};

// Maps a port name to the device path that OpenPort opens (see the header comment).
QString DevicePathForPortName(const QString& name);

class TComm : public QObject {
    Q_OBJECT

  public:
    // Plain callbacks, cheaper than the signals on the per-byte path; both are raised.
    using ReceiveDataHandler =
        std::function<void(TComm& sender, const uint8_t* buffer, uint16_t length)>;
    using ValueHandler = std::function<void(TComm& sender, uint32_t value)>;
    using NotifyHandler = std::function<void(TComm& sender)>;

    explicit TComm(QObject* parent = nullptr);
    // Stops the threads and closes the port: they must not outlive the object they post to.
    ~TComm() override;

    void OpenPort();
    void ClosePort();

    bool PortOpen() const { return m_port != nullptr; }
    void SetPortOpen(bool open);

    // Queues a copy of the bytes for the write thread; false when closed, count 0, or the write
    // thread has ended (after a hangup).
    bool WriteBytes(const uint8_t* data, uint16_t count);

    QString Output() const { return m_output; }
    void SetOutput(const QString& text);

    // True when nothing is queued for writing.
    bool SendDataEmpty() const;

    // Why the last OpenPort failed, as the system put it (empty when no system call failed).
    QString LastSystemError() const { return m_lastSystemError; }
    int LastSystemErrno() const { return m_lastErrno; }
    // The account may not open the device (EACCES / EPERM).
    bool LastErrorWasPermission() const;
    // The device path the last OpenPort tried.
    QString DevicePath() const { return m_devicePath; }

    uint8_t CommPort() const { return m_commPort; }
    void SetCommPort(uint8_t port);
    QString PortOpenError() const { return m_portOpenError; }
    uint16_t InputLen() const { return m_inputLen; }
    void SetInputLen(uint16_t len);
    uint16_t InBufferSize() const { return m_inBufferSize; }
    void SetInBufferSize(uint16_t size);
    QString CommName() const { return m_commName; }
    void SetCommName(const QString& name) { m_commName = name; }

    uint32_t BaudRate() const { return m_baudRate; }
    void SetBaudRate(uint32_t v) { setLine(m_baudRate, v); }
    bool ParityCheck() const { return m_parityCheck; }
    void SetParityCheck(bool v) { setLine(m_parityCheck, v); }
    bool Outx_CtsFlow() const { return m_outxCtsFlow; }
    void SetOutx_CtsFlow(bool v) { setLine(m_outxCtsFlow, v); }
    bool Outx_DsrFlow() const { return m_outxDsrFlow; }
    void SetOutx_DsrFlow(bool v) { setLine(m_outxDsrFlow, v); }
    TDtrControl DtrControl() const { return m_dtrControl; }
    void SetDtrControl(TDtrControl v) { setLine(m_dtrControl, v); }
    bool DsrSensitivity() const { return m_dsrSensitivity; }
    void SetDsrSensitivity(bool v) { setLine(m_dsrSensitivity, v); }
    bool TxContinueOnXoff() const { return m_txContinueOnXoff; }
    void SetTxContinueOnXoff(bool v) { setLine(m_txContinueOnXoff, v); }
    bool Outx_XonXoffFlow() const { return m_outxXonXoffFlow; }
    void SetOutx_XonXoffFlow(bool v) { setLine(m_outxXonXoffFlow, v); }
    bool Inx_XonXoffFlow() const { return m_inxXonXoffFlow; }
    void SetInx_XonXoffFlow(bool v) { setLine(m_inxXonXoffFlow, v); }
    bool ReplaceWhenParityError() const { return m_replaceWhenParityError; }
    void SetReplaceWhenParityError(bool v) { setLine(m_replaceWhenParityError, v); }
    bool IgnoreNullChar() const { return m_ignoreNullChar; }
    void SetIgnoreNullChar(bool v) { setLine(m_ignoreNullChar, v); }
    TRtsControl RtsControl() const { return m_rtsControl; }
    void SetRtsControl(TRtsControl v) { setLine(m_rtsControl, v); }
    uint16_t XonLimit() const { return m_xonLimit; }
    void SetXonLimit(uint16_t v) { setLine(m_xonLimit, v); }
    uint16_t XoffLimit() const { return m_xoffLimit; }
    void SetXoffLimit(uint16_t v) { setLine(m_xoffLimit, v); }
    TByteSize ByteSize() const { return m_byteSize; }
    void SetByteSize(TByteSize v) { setLine(m_byteSize, v); }
    TParity Parity() const { return m_parity; }
    void SetParity(TParity v) { setLine(m_parity, v); }
    TStopBits StopBits() const { return m_stopBits; }
    void SetStopBits(TStopBits v) { setLine(m_stopBits, v); }
    char XonChar() const { return m_xonChar; }
    void SetXonChar(char v) { setLine(m_xonChar, v); }
    char XoffChar() const { return m_xoffChar; }
    void SetXoffChar(char v) { setLine(m_xoffChar, v); }
    char ReplacedChar() const { return m_replacedChar; }
    void SetReplacedChar(char v) { setLine(m_replacedChar, v); }

    uint32_t ReadIntervalTimeout() const { return m_readIntervalTimeout; }
    void SetReadIntervalTimeout(uint32_t v) { setTimeout(m_readIntervalTimeout, v); }
    uint32_t ReadTotalTimeoutMultiplier() const { return m_readTotalTimeoutMultiplier; }
    void SetReadTotalTimeoutMultiplier(uint32_t v) { setTimeout(m_readTotalTimeoutMultiplier, v); }
    uint32_t ReadTotalTimeoutConstant() const { return m_readTotalTimeoutConstant; }
    void SetReadTotalTimeoutConstant(uint32_t v) { setTimeout(m_readTotalTimeoutConstant, v); }
    uint32_t WriteTotalTimeoutMultiplier() const { return m_writeTotalTimeoutMultiplier; }
    void SetWriteTotalTimeoutMultiplier(uint32_t v) {
        setTimeout(m_writeTotalTimeoutMultiplier, v);
    }
    uint32_t WriteTotalTimeoutConstant() const { return m_writeTotalTimeoutConstant; }
    void SetWriteTotalTimeoutConstant(uint32_t v) { setTimeout(m_writeTotalTimeoutConstant, v); }

    // Callback-style handlers; an empty function (and no connected signal) drops the event.
    void SetOnReceiveData(ReceiveDataHandler h) { m_onReceiveData = std::move(h); }
    void SetOnReceiveError(ValueHandler h) { m_onReceiveError = std::move(h); }
    void SetOnModemStateChange(ValueHandler h) { m_onModemStateChange = std::move(h); }
    void SetOnRequestHangup(NotifyHandler h) { m_onRequestHangup = std::move(h); }
    void SetOnSendDataEmpty(NotifyHandler h) { m_onSendDataEmpty = std::move(h); }

    // How often the line settings were written to the device since construction.
    int LineSettingsApplied() const { return m_lineSettingsApplied; }

    // When the read thread took the bytes of the current OnReceiveData off the descriptor
    // (CLOCK_MONOTONIC, microseconds; the read that completed them). Valid during the handler.
    int64_t CurrentArrivalUs() const { return m_currentArrivalUs; }
    // The same clock, for comparing with the stamp.
    static int64_t MonotonicNowUs();

  Q_SIGNALS:
    void OnReceiveData(const QByteArray& data);
    void OnReceiveError(uint32_t eventMask);
    void OnModemStateChange(uint32_t modemEvent);
    void OnRequestHangup();
    void OnSendDataEmpty();

  private:
    template <typename T>
    void setLine(T& field, T value) {
        if (field == value) return;
        field = value;
        if (PortOpen()) applyLineSettings();
    }
    template <typename T>
    void setTimeout(T& field, T value) {
        if (field == value) return;
        field = value;
        if (PortOpen()) applyTimeouts();
    }
    bool applyLineSettings();
    void applyTimeouts();
    void clearLastError();
    void failOpen(const detail::OpenFailure& failure);
    void startSession();

    // Raises the events and callbacks from the threads' notices.
    friend class detail::NoticeDelivery;

    // The open device and its threads (null while closed), and the hand-over from them.
    std::unique_ptr<detail::IPortConnection> m_port;
    std::unique_ptr<detail::NoticeDelivery> m_delivery;
    int64_t m_currentArrivalUs = 0;
    int m_lineSettingsApplied = 0;

    QString m_portOpenError;
    QString m_lastSystemError;
    int m_lastErrno = 0;
    QString m_devicePath;

    uint8_t m_commPort = 1;
    QString m_output;
    uint16_t m_inputLen = 1;
    uint16_t m_inBufferSize = 2048;
    QString m_commName = QStringLiteral("COM1");
    uint32_t m_baudRate = 9600;
    bool m_parityCheck = false;
    bool m_outxCtsFlow = false;
    bool m_outxDsrFlow = false;
    TDtrControl m_dtrControl = TDtrControl::DtrDisable;
    bool m_dsrSensitivity = false;
    bool m_txContinueOnXoff = false;
    bool m_outxXonXoffFlow = false;
    bool m_inxXonXoffFlow = false;
    bool m_replaceWhenParityError = false;
    bool m_ignoreNullChar = false;
    TRtsControl m_rtsControl = TRtsControl::RtsDisable;
    uint16_t m_xonLimit = 500;
    uint16_t m_xoffLimit = 500;
    TByteSize m_byteSize = TByteSize::_8;
    TParity m_parity = TParity::None;
    TStopBits m_stopBits = TStopBits::_1;
    char m_xonChar = 0x11;
    char m_xoffChar = 0x13;
    char m_replacedChar = 0x00;
    uint32_t m_readIntervalTimeout = 100;
    uint32_t m_readTotalTimeoutMultiplier = 0;
    uint32_t m_readTotalTimeoutConstant = 0;
    uint32_t m_writeTotalTimeoutMultiplier = 0;
    uint32_t m_writeTotalTimeoutConstant = 0;

    ReceiveDataHandler m_onReceiveData;
    ValueHandler m_onReceiveError;
    ValueHandler m_onModemStateChange;
    NotifyHandler m_onRequestHangup;
    NotifyHandler m_onSendDataEmpty;
};

}  // namespace r4t8
