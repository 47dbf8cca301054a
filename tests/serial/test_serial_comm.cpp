#include <gtest/gtest.h>
#include <termios.h>

#include <QTemporaryDir>
#include <QTemporaryFile>
#include <memory>
#include <vector>

#include "PtyFixture.h"
#include "serial/SerialComm.h"
#include "serial/linux/LineSettings.h"

namespace r4t8 {
namespace {

using testing::CountEntries;
using testing::Pattern;
using testing::Pty;
using testing::PumpFor;
using testing::PumpUntil;

// Records every event the component raises, in order.
struct Recorder {
    std::vector<QByteArray> chunks;
    int hangups = 0;
    int sendEmpty = 0;

    explicit Recorder(TComm& comm) {
        comm.SetOnReceiveData([this](TComm&, const uint8_t* buf, uint16_t len) {
            chunks.emplace_back(reinterpret_cast<const char*>(buf), len);
        });
        comm.SetOnRequestHangup([this](TComm&) { ++hangups; });
        comm.SetOnSendDataEmpty([this](TComm&) { ++sendEmpty; });
    }
    QByteArray Joined() const {
        QByteArray all;
        for (const auto& c : chunks) all += c;
        return all;
    }
    qsizetype Bytes() const {
        qsizetype n = 0;
        for (const auto& c : chunks) n += c.size();
        return n;
    }
};

void OpenOn(TComm& comm, const Pty& pty) {
    comm.SetCommName(pty.Path());
    comm.SetBaudRate(115200);
    comm.OpenPort();
    ASSERT_TRUE(comm.PortOpen()) << comm.PortOpenError().toStdString() << " / "
                                 << comm.LastSystemError().toStdString();
}

TEST(TCommProperties, DefaultsAreTheDocumentedOnes) {
    TComm c;
    EXPECT_FALSE(c.PortOpen());
    EXPECT_EQ(c.CommPort(), 1);
    EXPECT_EQ(c.CommName(), "COM1");
    EXPECT_TRUE(c.PortOpenError().isEmpty());
    EXPECT_EQ(c.InputLen(), 1);
    EXPECT_EQ(c.InBufferSize(), 2048);
    EXPECT_EQ(c.BaudRate(), 9600u);
    EXPECT_EQ(c.DtrControl(), TDtrControl::DtrDisable);
    EXPECT_EQ(c.RtsControl(), TRtsControl::RtsDisable);
    EXPECT_EQ(c.XonLimit(), 500);
    EXPECT_EQ(c.XoffLimit(), 500);
    EXPECT_EQ(c.ByteSize(), TByteSize::_8);
    EXPECT_EQ(c.Parity(), TParity::None);
    EXPECT_EQ(c.StopBits(), TStopBits::_1);
    EXPECT_EQ(c.XonChar(), 0x11);
    EXPECT_EQ(c.XoffChar(), 0x13);
    EXPECT_EQ(c.ReplacedChar(), 0x00);
    EXPECT_EQ(c.ReadIntervalTimeout(), 100u);
    EXPECT_EQ(c.ReadTotalTimeoutConstant(), 0u);
    EXPECT_FALSE(c.ParityCheck() || c.Outx_CtsFlow() || c.Outx_DsrFlow() || c.DsrSensitivity() ||
                 c.TxContinueOnXoff() || c.Outx_XonXoffFlow() || c.Inx_XonXoffFlow() ||
                 c.ReplaceWhenParityError() || c.IgnoreNullChar());
    EXPECT_TRUE(c.SendDataEmpty());
}

TEST(TCommProperties, CommPortSetterNamesThePort) {
    TComm c;
    c.SetCommPort(3);
    EXPECT_EQ(c.CommName(), "COM3");
    c.SetCommName(QStringLiteral("/dev/ttyUSB0"));
    c.SetCommPort(0);  // ignored
    EXPECT_EQ(c.CommName(), "/dev/ttyUSB0");
    c.SetCommPort(3);  // unchanged value: the typed name stays
    EXPECT_EQ(c.CommName(), "/dev/ttyUSB0");
    c.SetCommPort(12);
    EXPECT_EQ(c.CommName(), "COM12");
    EXPECT_EQ(c.CommPort(), 12);
}

TEST(TCommProperties, InputLenAndBufferSizeRules) {
    struct Case {
        uint16_t bufferSize;
        uint16_t inputLen;
        uint16_t expectBuffer;
        uint16_t expectInput;
    };
    const Case cases[] = {
        {2048, 0, 2048, 2048},  // 0 takes the buffer size
        {2048, 2048, 2048, 2048},
        {2048, 2049, 2048, 1},  // larger than the buffer: ignored
        {16, 7, 16, 7},
        {0, 0, 1, 1},  // a buffer of 0 becomes 1
        {0, 2, 1, 1},
    };
    for (const Case& c : cases) {
        TComm comm;
        comm.SetInBufferSize(c.bufferSize);
        comm.SetInputLen(c.inputLen);
        EXPECT_EQ(comm.InBufferSize(), c.expectBuffer) << c.bufferSize << "/" << c.inputLen;
        EXPECT_EQ(comm.InputLen(), c.expectInput) << c.bufferSize << "/" << c.inputLen;
    }
}

TEST(TCommProperties, PortNamesMapToDevices) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"},       {"com3", "/dev/ttyS2"},      {"COM10", "/dev/ttyS9"},
        {"/dev/pts/7", "/dev/pts/7"}, {"ttyUSB0", "/dev/ttyUSB0"}, {"COM0", "/dev/COM0"},
        {"/tmp/COM1", "/tmp/COM1"},
    };
    for (const auto& [name, path] : cases)
        EXPECT_EQ(DevicePathForPortName(QString::fromLatin1(name)), QString::fromLatin1(path))
            << name;
}

TEST(TCommOpen, FailuresLeaveThePortClosedWithTheirText) {
    QTemporaryDir dir;
    QFile regular(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(regular.open(QIODevice::WriteOnly));
    regular.close();
    struct Case {
        QString name;
        const char* error;
        bool systemReason;
    };
    const Case cases[] = {
        {dir.filePath(QStringLiteral("missing")), "Error opening serial port", true},
        {dir.path(), "Error opening serial port", true},  // a directory cannot be opened read-write
        {regular.fileName(), "File handle is not a comm handle ", false},
        {QStringLiteral("/dev/null"), "File handle is not a comm handle ", false},
    };
    for (const Case& c : cases) {
        TComm comm;
        comm.SetCommName(c.name);
        EXPECT_NO_THROW(comm.OpenPort());
        EXPECT_FALSE(comm.PortOpen()) << c.name.toStdString();
        EXPECT_EQ(comm.PortOpenError(), QString::fromLatin1(c.error)) << c.name.toStdString();
        EXPECT_EQ(!comm.LastSystemError().isEmpty(), c.systemReason) << c.name.toStdString();
        EXPECT_FALSE(comm.WriteBytes(reinterpret_cast<const uint8_t*>("x"), 1));
    }
}

TEST(TCommOpen, SecondOpenIsRefused) {
    Pty pty;
    TComm comm;
    OpenOn(comm, pty);
    comm.OpenPort();
    EXPECT_TRUE(comm.PortOpen());
    EXPECT_EQ(comm.PortOpenError(), "This serial port already opened");

    // Another component (or program) cannot take the same device, even as root.
    TComm other;
    other.SetCommName(pty.Path());
    other.OpenPort();
    EXPECT_FALSE(other.PortOpen());
    EXPECT_EQ(other.PortOpenError(), "Error opening serial port");
    EXPECT_FALSE(other.LastSystemError().isEmpty());

    comm.ClosePort();
    EXPECT_TRUE(comm.PortOpenError().isEmpty());
    other.OpenPort();
    EXPECT_TRUE(other.PortOpen()) << other.PortOpenError().toStdString();
}

TEST(TCommOpen, ClosePortOnClosedPortOnlyClearsTheError) {
    TComm comm;
    comm.SetCommName(QStringLiteral("/nonexistent/port"));
    comm.OpenPort();
    ASSERT_FALSE(comm.PortOpenError().isEmpty());
    comm.ClosePort();
    EXPECT_TRUE(comm.PortOpenError().isEmpty());
    EXPECT_FALSE(comm.PortOpen());
    comm.SetPortOpen(true);
    EXPECT_EQ(comm.PortOpenError(), "Error opening serial port");
}

TEST(TCommLine, DefaultLineSettingsAreAppliedRaw) {
    Pty pty;
    TComm comm;
    OpenOn(comm, pty);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
}

TEST(TCommLine, EachSettingReachesTheDevice) {
    struct Case {
        const char* what;
        std::function<void(TComm&)> set;
        tcflag_t cflagMask, cflag, iflagMask, iflag;
    };
    const tcflag_t par = PARENB | PARODD | CMSPAR;
    const Case cases[] = {
        {"none", [](TComm&) {}, par | CSIZE | CSTOPB | CRTSCTS, CS8, IXON | IXOFF | INPCK, 0},
        {"odd", [](TComm& c) { c.SetParity(TParity::Odd); }, par, PARENB | PARODD, 0, 0},
        {"even", [](TComm& c) { c.SetParity(TParity::Even); }, par, PARENB, 0, 0},
        {"mark", [](TComm& c) { c.SetParity(TParity::Mark); }, par, PARENB | PARODD | CMSPAR, 0, 0},
        {"space", [](TComm& c) { c.SetParity(TParity::Space); }, par, PARENB | CMSPAR, 0, 0},
        {"7 bits", [](TComm& c) { c.SetByteSize(TByteSize::_7); }, CSIZE, CS7, 0, 0},
        {"5 bits", [](TComm& c) { c.SetByteSize(TByteSize::_5); }, CSIZE, CS5, 0, 0},
        {"2 stop", [](TComm& c) { c.SetStopBits(TStopBits::_2); }, CSTOPB, CSTOPB, 0, 0},
        {"1.5 stop", [](TComm& c) { c.SetStopBits(TStopBits::_1_5); }, CSTOPB, CSTOPB, 0, 0},
        {"cts", [](TComm& c) { c.SetOutx_CtsFlow(true); }, CRTSCTS, CRTSCTS, 0, 0},
        {"rts hs", [](TComm& c) { c.SetRtsControl(TRtsControl::RtsHandshake); }, CRTSCTS, CRTSCTS,
         0, 0},
        {"xon out", [](TComm& c) { c.SetOutx_XonXoffFlow(true); }, 0, 0, IXON | IXOFF, IXON},
        {"xon in", [](TComm& c) { c.SetInx_XonXoffFlow(true); }, 0, 0, IXON | IXOFF, IXOFF},
        {"parity check", [](TComm& c) { c.SetParityCheck(true); }, 0, 0, INPCK, INPCK},
    };
    for (const Case& c : cases) {
        // The record as composed, whole: starting from a cooked line with every flag set.
        TComm plain;
        plain.SetBaudRate(115200);
        c.set(plain);
        termios composed{};
        composed.c_cflag = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
        composed.c_iflag = IXON | IXOFF | INPCK | ICRNL | IXANY;
        composed.c_lflag = ICANON | ECHO;
        composed.c_oflag = OPOST;
        EXPECT_TRUE(detail::ComposeLineSettings(plain, composed));
        EXPECT_EQ(composed.c_cflag & c.cflagMask, c.cflag) << c.what;
        EXPECT_EQ(composed.c_iflag & c.iflagMask, c.iflag) << c.what;
        EXPECT_EQ(composed.c_lflag & (ICANON | ECHO), 0u) << c.what;
        EXPECT_EQ(composed.c_oflag & OPOST, 0u) << c.what;
        EXPECT_EQ(cfgetospeed(&composed), B115200) << c.what;

        // On the device, set while open and set before opening; a pty forces CS8 without parity.
        const tcflag_t devMask = c.cflagMask & ~static_cast<tcflag_t>(PARENB | CSIZE);
        Pty pty;
        TComm comm;
        OpenOn(comm, pty);
        c.set(comm);
        termios t{};
        ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
        EXPECT_EQ(t.c_cflag & devMask, c.cflag & devMask) << c.what;
        EXPECT_EQ(t.c_iflag & c.iflagMask, c.iflag) << c.what;
        EXPECT_EQ(cfgetospeed(&t), B115200) << c.what;

        Pty pty2;
        TComm before;
        c.set(before);
        OpenOn(before, pty2);
        ASSERT_EQ(tcgetattr(pty2.Slave(), &t), 0);
        EXPECT_EQ(t.c_cflag & devMask, c.cflag & devMask) << c.what << " before open";
        EXPECT_EQ(t.c_iflag & c.iflagMask, c.iflag) << c.what << " before open";
    }
}

TEST(TCommLine, UnusualRatesGoThroughTheCustomPath) {
    TComm comm;
    comm.SetBaudRate(250000);
    termios t{};
    EXPECT_FALSE(detail::ComposeLineSettings(comm, t));
    Pty pty;
    comm.SetCommName(pty.Path());
    comm.OpenPort();
    ASSERT_TRUE(comm.PortOpen());
    comm.SetBaudRate(9600);
    ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);
}

TEST(TCommLine, XonXoffCharactersAreApplied) {
    Pty pty;
    TComm comm;
    comm.SetXonChar(0x01);
    comm.SetXoffChar(0x02);
    OpenOn(comm, pty);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x01);
    EXPECT_EQ(t.c_cc[VSTOP], 0x02);
}

TEST(TCommLine, UnchangedValueDoesNotTouchThePort) {
    Pty pty;
    TComm comm;
    OpenOn(comm, pty);
    const int applied = comm.LineSettingsApplied();

    // Someone changes the line behind the component's back.
    termios t{};
    ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    ASSERT_EQ(tcsetattr(pty.Slave(), TCSANOW, &t), 0);

    comm.SetBaudRate(115200);
    comm.SetParity(TParity::None);
    comm.SetDtrControl(TDtrControl::DtrDisable);
    EXPECT_EQ(comm.LineSettingsApplied(), applied);
    ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);

    comm.SetBaudRate(57600);
    EXPECT_EQ(comm.LineSettingsApplied(), applied + 1);
    ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B57600);
}

TEST(TCommRead, BurstArrivesOneBytePerEventInOrder) {
    Pty pty;
    TComm comm;
    Recorder rec(comm);
    std::vector<QByteArray> signalled;
    QObject::connect(&comm, &TComm::OnReceiveData, &comm,
                     [&](const QByteArray& d) { signalled.push_back(d); });
    OpenOn(comm, pty);
    const QByteArray burst = Pattern(1000);
    ASSERT_TRUE(pty.Send(burst));
    ASSERT_TRUE(PumpUntil([&] { return rec.Bytes() >= 1000; }));
    PumpFor(50);
    ASSERT_EQ(rec.chunks.size(), 1000u);
    for (const auto& c : rec.chunks) ASSERT_EQ(c.size(), 1);
    EXPECT_EQ(rec.Joined(), burst);
    ASSERT_EQ(signalled.size(), 1000u);
    QByteArray viaSignal;
    for (const auto& c : signalled) viaSignal += c;
    EXPECT_EQ(viaSignal, burst);
}

TEST(TCommRead, LargerInputLenCollectsUntilCountOrInterval) {
    Pty pty;
    TComm comm;
    Recorder rec(comm);
    comm.SetInputLen(4);
    comm.SetReadIntervalTimeout(200);
    OpenOn(comm, pty);
    const QByteArray ten = Pattern(10);
    ASSERT_TRUE(pty.Send(ten));
    // Two full reads, then the last two bytes once no more follow.
    ASSERT_TRUE(PumpUntil([&] { return rec.Bytes() >= 10; }));
    ASSERT_EQ(rec.chunks.size(), 3u);
    EXPECT_EQ(rec.chunks[0].size(), 4);
    EXPECT_EQ(rec.chunks[1].size(), 4);
    EXPECT_EQ(rec.chunks[2].size(), 2);
    EXPECT_EQ(rec.Joined(), ten);

    // Exactly InputLen bytes make one read without a remainder.
    rec.chunks.clear();
    ASSERT_TRUE(pty.Send(Pattern(8)));
    ASSERT_TRUE(PumpUntil([&] { return rec.Bytes() >= 8; }));
    PumpFor(300);
    ASSERT_EQ(rec.chunks.size(), 2u);
    EXPECT_EQ(rec.Joined(), Pattern(8));
}

TEST(TCommRead, TotalTimeoutDeliversWhatArrivedAndKeepsReading) {
    Pty pty;
    TComm comm;
    Recorder rec(comm);
    comm.SetInputLen(100);
    comm.SetReadIntervalTimeout(0);  // no interval limit: only the total one ends a short read
    comm.SetReadTotalTimeoutConstant(100);
    OpenOn(comm, pty);
    ASSERT_TRUE(pty.Send("abc"));
    ASSERT_TRUE(PumpUntil([&] { return rec.Bytes() >= 3; }));
    EXPECT_EQ(rec.Joined(), "abc");
    // An empty timed-out read must not have ended the read thread.
    PumpFor(300);
    ASSERT_TRUE(pty.Send("de"));
    ASSERT_TRUE(PumpUntil([&] { return rec.Bytes() >= 5; }));
    EXPECT_EQ(rec.Joined(), "abcde");
}

TEST(TCommRead, TotalTimeoutBeyondTheClocksRangeStillWaits) {
    Pty pty;
    TComm comm;
    Recorder rec(comm);
    // multiplier * InputLen + constant: about 560 years, more than the clock can add.
    comm.SetInBufferSize(4096);
    comm.SetInputLen(4096);
    comm.SetReadIntervalTimeout(0);
    comm.SetReadTotalTimeoutMultiplier(0xFFFFFFFF);
    comm.SetReadTotalTimeoutConstant(0xFFFFFFFF);
    OpenOn(comm, pty);
    const QByteArray block = Pattern(4096);
    ASSERT_TRUE(pty.Send(block.left(3)));
    PumpFor(300);
    EXPECT_TRUE(rec.chunks.empty());
    ASSERT_TRUE(pty.Send(block.mid(3)));
    ASSERT_TRUE(PumpUntil([&] { return rec.Bytes() >= block.size(); }));
    ASSERT_EQ(rec.chunks.size(), 1u);
    EXPECT_EQ(rec.Joined(), block);
}

TEST(TCommRead, IgnoreNullCharDropsZeroBytes) {
    Pty pty;
    TComm comm;
    Recorder rec(comm);
    comm.SetIgnoreNullChar(true);
    OpenOn(comm, pty);
    ASSERT_TRUE(pty.Send(QByteArray("a\0b\0\0c", 6)));
    ASSERT_TRUE(PumpUntil([&] { return rec.Bytes() >= 3; }));
    PumpFor(50);
    EXPECT_EQ(rec.Joined(), "abc");
}

TEST(TCommRead, NestedEventLoopInAHandlerKeepsTheOrder) {
    Pty pty;
    TComm comm;
    QByteArray got;
    bool nested = false;
    const QByteArray first = Pattern(200);
    const QByteArray second = Pattern(400).mid(200);
    comm.SetOnReceiveData([&](TComm&, const uint8_t* buf, uint16_t len) {
        got.append(reinterpret_cast<const char*>(buf), len);
        if (got.size() == 10 && !nested) {
            // What a modal message box does: its own loop while more bytes come in.
            nested = true;
            pty.Send(second);
            PumpUntil([&] { return got.size() >= 300; });
        }
    });
    OpenOn(comm, pty);
    ASSERT_TRUE(pty.Send(first));
    ASSERT_TRUE(PumpUntil([&] { return got.size() >= 400; }));
    EXPECT_TRUE(nested);
    EXPECT_EQ(got, first + second);
}

TEST(TCommRead, ClosingFromAHandlerStopsDelivery) {
    Pty pty;
    TComm comm;
    int calls = 0;
    comm.SetOnReceiveData([&](TComm& c, const uint8_t*, uint16_t) {
        if (++calls == 3) c.ClosePort();
    });
    OpenOn(comm, pty);
    ASSERT_TRUE(pty.Send(Pattern(100)));
    ASSERT_TRUE(PumpUntil([&] { return calls >= 3; }));
    PumpFor(100);
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(comm.PortOpen());
}

TEST(TCommRead, WhatArrivedBeforeCloseIsNotDeliveredAfter) {
    Pty pty;
    TComm comm;
    Recorder rec(comm);
    OpenOn(comm, pty);
    ASSERT_TRUE(pty.Send(Pattern(50)));
    usleep(200 * 1000);  // no pumping: the notices wait in the queue
    comm.ClosePort();
    PumpFor(100);
    EXPECT_TRUE(rec.chunks.empty());
}

TEST(TCommWrite, RefusedWhenClosedOrEmpty) {
    TComm comm;
    const uint8_t byte = 0x5A;
    EXPECT_FALSE(comm.WriteBytes(&byte, 1));
    Pty pty;
    OpenOn(comm, pty);
    EXPECT_FALSE(comm.WriteBytes(&byte, 0));
    EXPECT_FALSE(comm.WriteBytes(nullptr, 1));
    EXPECT_TRUE(comm.WriteBytes(&byte, 1));
    EXPECT_EQ(pty.Receive(1), QByteArray(1, 0x5A));
    comm.ClosePort();
    EXPECT_FALSE(comm.WriteBytes(&byte, 1));
}

TEST(TCommWrite, LargeWritesArriveWholeAndInOrder) {
    Pty pty;
    TComm comm;
    Recorder rec(comm);
    OpenOn(comm, pty);
    ASSERT_TRUE(PumpUntil([&] { return rec.sendEmpty >= 1; }));  // the one at start
    // Far more than a pty buffer holds, so the write thread meets partial writes and EAGAIN.
    const QByteArray data = Pattern(200000);
    for (qsizetype off = 0; off < data.size(); off += 50000)
        ASSERT_TRUE(
            comm.WriteBytes(reinterpret_cast<const uint8_t*>(data.constData() + off), 50000));
    EXPECT_FALSE(comm.SendDataEmpty());
    EXPECT_EQ(pty.Receive(data.size()), data);
    ASSERT_TRUE(PumpUntil([&] { return rec.sendEmpty >= 2 && comm.SendDataEmpty(); }));
    comm.SetOutput(QStringLiteral("AT\r"));
    EXPECT_EQ(comm.Output(), "AT\r");
    EXPECT_EQ(pty.Receive(3), "AT\r");
}

TEST(TCommHangup, MasterClosedRaisesHangupOnceAndThePortReopens) {
    auto pty = std::make_unique<Pty>();
    TComm comm;
    Recorder rec(comm);
    OpenOn(comm, *pty);
    const uint8_t bytes[] = {1, 2, 3};
    ASSERT_TRUE(comm.WriteBytes(bytes, 3));
    pty->CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return rec.hangups >= 1; }));
    // Both threads have ended, so nothing can be queued any more.
    EXPECT_TRUE(PumpUntil([&] { return !comm.WriteBytes(bytes, 3); }));
    PumpFor(200);
    EXPECT_EQ(rec.hangups, 1);
    EXPECT_TRUE(comm.PortOpen());  // only ClosePort closes it

    comm.ClosePort();
    EXPECT_FALSE(comm.PortOpen());
    pty = std::make_unique<Pty>();
    OpenOn(comm, *pty);
    ASSERT_TRUE(pty->Send("hi"));
    ASSERT_TRUE(PumpUntil([&] { return rec.Bytes() >= 2; }));
    EXPECT_EQ(rec.Joined(), "hi");
    EXPECT_EQ(rec.hangups, 1);
}

TEST(TCommHangup, HangupWhileWritingIsReportedOnce) {
    auto pty = std::make_unique<Pty>();
    TComm comm;
    Recorder rec(comm);
    OpenOn(comm, *pty);
    const QByteArray data = Pattern(60000);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(comm.WriteBytes(reinterpret_cast<const uint8_t*>(data.constData()), 60000));
    pty->CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return rec.hangups >= 1; }));
    PumpFor(200);
    EXPECT_EQ(rec.hangups, 1);
    comm.ClosePort();
}

TEST(TCommLifecycle, RepeatedOpenCloseLeaksNeitherDescriptorsNorThreads) {
    Pty pty;
    TComm comm;
    Recorder rec(comm);
    // The first open makes the component's own wake-up descriptor, kept for its lifetime.
    OpenOn(comm, pty);
    comm.ClosePort();
    const int fds = CountEntries("/proc/self/fd");
    const int tasks = CountEntries("/proc/self/task");
    for (int i = 0; i < 50; ++i) {
        OpenOn(comm, pty);
        const uint8_t b = static_cast<uint8_t>(i);
        ASSERT_TRUE(comm.WriteBytes(&b, 1));
        ASSERT_EQ(pty.Receive(1), QByteArray(1, static_cast<char>(b)));
        comm.ClosePort();
        ASSERT_FALSE(comm.PortOpen());
    }
    PumpFor(20);
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(CountEntries("/proc/self/task"), tasks);
}

TEST(TCommLifecycle, DestroyedWhileOpenAndBusy) {
    Pty pty;
    {
        // Sanitizer runtimes start a helper thread with the first thread; count after it.
        TComm warmUp;
        OpenOn(warmUp, pty);
    }
    const int tasks = CountEntries("/proc/self/task");
    {
        TComm comm;
        Recorder rec(comm);
        OpenOn(comm, pty);
        ASSERT_TRUE(pty.Send(Pattern(5000)));
        const QByteArray data = Pattern(3000);
        ASSERT_TRUE(comm.WriteBytes(reinterpret_cast<const uint8_t*>(data.constData()), 3000));
    }
    PumpFor(50);  // events posted to the dead object must have been discarded
    EXPECT_EQ(CountEntries("/proc/self/task"), tasks);
}

}  // namespace
}  // namespace r4t8
