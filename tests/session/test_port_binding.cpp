// The binding between TComm and the device session, driven over a real pty with the real
// session: what the user reads when the port will not open, the line it sets, the bytes and
// their arrival stamps reaching the session, a hangup stopping the pending request, and writes
// longer than TComm takes in one call.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "config/DeviceSettings.h"
#include "protocol/CommandSender.h"
#include "protocol/Frame.h"
#include "protocol/QtTimeSource.h"
#include "serial/PtyFixture.h"
#include "serial/SerialComm.h"
#include "session/DeviceSession.h"
#include "session/PortBinding.h"
#include "support/FakeUserInterface.h"

namespace r4t8 {
namespace {

using testing::Pattern;
using testing::Pty;
using testing::PumpFor;
using testing::PumpUntil;

QByteArray Wire(uint8_t command, const Bytes& payload) {
    const Bytes line = EscapeFrame(BuildReplyFrame(command, payload));
    return QByteArray(reinterpret_cast<const char*>(line.data()),
                      static_cast<qsizetype>(line.size()));
}

const char* Name(PortBinding::State s) {
    switch (s) {
        case PortBinding::State::Closed:
            return "closed";
        case PortBinding::State::Open:
            return "open";
        case PortBinding::State::Lost:
            return "lost";
    }
    return "?";
}

// The front end's view and the session's outcomes in one log, so their order shows.
class LoggingUi : public testing::FakeUserInterface {
  public:
    explicit LoggingUi(std::vector<std::string>& log) : m_log(log) {}
    void OperationFinished(Operation op, Outcome outcome) override {
        FakeUserInterface::OperationFinished(op, outcome);
        m_log.push_back("outcome " + std::to_string(static_cast<int>(op)) + " " +
                        std::to_string(static_cast<int>(outcome)));
    }

  private:
    std::vector<std::string>& m_log;
};

struct Bound {
    std::vector<std::string> log;
    QtTimeSource time;
    LoggingUi ui{log};
    DeviceSettings settings{&ui};
    TComm comm;
    PortBinding link{comm};
    DeviceSession session{link, time, ui, settings};
    std::vector<std::optional<Operation>> hangups;
    uint64_t received = 0;

    Bound() {
        link.Attach(&session);
        link.SetStateListener([this](PortBinding::State s) { log.push_back(Name(s)); });
        link.SetHangupListener([this](std::optional<Operation> stopped) {
            hangups.push_back(stopped);
            log.push_back("hangup");
        });
        link.SetReceiveListener([this](uint16_t length) { received += length; });
    }
    ~Bound() { link.Attach(nullptr); }

    void OpenOn(const Pty& pty) {
        QString reason;
        ASSERT_TRUE(link.Open(pty.Path(), reason)) << reason.toStdString();
    }
    std::string Outcome(Operation op, r4t8::Outcome outcome) const {
        return "outcome " + std::to_string(static_cast<int>(op)) + " " +
               std::to_string(static_cast<int>(outcome));
    }
};

TEST(PortBindingOpen, FailuresSayWhatTheUserCanDo) {
    Pty held;
    TComm other;
    PortBinding first(other);
    QString ignored;
    ASSERT_TRUE(first.Open(held.Path(), ignored));

    struct Case {
        QString name;
        QString reason;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("/dev/r4t8-no-such-port"),
         QStringLiteral("端口不存在：/dev/r4t8-no-such-port")},
        {QStringLiteral("ttyR4T8missing"), QStringLiteral("端口不存在：/dev/ttyR4T8missing")},
        // Opened exclusively by the first binding.
        {held.Path(), QStringLiteral("端口已被其它程序占用")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        Bound b;
        QString reason;
        EXPECT_FALSE(b.link.Open(c.name, reason));
        EXPECT_EQ(reason, c.reason);
        EXPECT_FALSE(b.link.IsOpen());
        EXPECT_TRUE(b.log.empty());  // nothing opened, so no state to show
        const uint8_t byte = 0x41;
        EXPECT_FALSE(b.link.WriteBytes(&byte, 1));
    }
}

TEST(PortBindingOpen, SetsTheControllersLineAndReportsOpenAndClose) {
    Pty pty;
    Bound b;
    b.OpenOn(pty);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(b.comm.InputLen(), 1);

    QString reason;
    EXPECT_TRUE(b.link.Open(pty.Path(), reason));  // already open: no second report
    b.link.Close();
    b.link.Close();
    EXPECT_FALSE(b.link.IsOpen());
    EXPECT_EQ(b.log, (std::vector<std::string>{"open", "closed"}));
}

// Replies reach the session stamped with when the port took them off the line: a reply that
// was read before its request went out is no answer to it, however late it is delivered.
TEST(PortBindingReceive, BytesReachTheSessionWithTheirArrivalStamps) {
    const QByteArray reply = Wire(cmd_login, {0x01, 'R', '4', 'T', '1', 0x00, 'V', '1', 0x00});
    bool conclusive = false;
    // The read thread must have taken the bytes before the request goes out; the stamps tell
    // whether it had, and a slow machine gets a longer wait.
    for (const int waitMs : {20, 200, 2000}) {
        SCOPED_TRACE(waitMs);
        Pty pty;
        Bound b;
        b.OpenOn(pty);
        int64_t lastStamp = 0;
        b.link.SetReceiveListener([&](uint16_t length) {
            b.received += length;
            lastStamp = std::max(lastStamp, b.comm.CurrentArrivalUs());
        });
        ASSERT_TRUE(pty.Send(reply));
        usleep(static_cast<useconds_t>(waitMs) * 1000);  // no event is delivered meanwhile
        const int64_t sentUs = b.time.NowUs();
        b.session.btn7Click(QStringLiteral("5807"));
        ASSERT_TRUE(PumpUntil([&] { return b.received >= static_cast<uint64_t>(reply.size()); }));
        PumpFor(50);
        if (lastStamp >= sentUs) continue;
        conclusive = true;
        EXPECT_EQ(b.session.Commands().EarlyReplies(), 1u);
        EXPECT_TRUE(b.ui.outcomes.empty());

        // The same reply after the request is the answer.
        ASSERT_TRUE(pty.Send(reply));
        ASSERT_TRUE(PumpUntil([&] { return !b.ui.outcomes.empty(); }));
        EXPECT_GE(lastStamp, sentUs);
        EXPECT_EQ(b.ui.outcomes.front(), std::make_pair(Operation::Login, Outcome::Succeeded));
        EXPECT_EQ(b.session.Model(), QStringLiteral("R4T1"));
        EXPECT_EQ(b.received, static_cast<uint64_t>(2 * reply.size()));
        break;
    }
    EXPECT_TRUE(conclusive) << "the port never read the reply before the request was sent";
}

TEST(PortBindingHangup, StopsThePendingRequestAfterShowingThePortClosed) {
    auto pty = std::make_unique<Pty>();
    Bound b;
    b.OpenOn(*pty);
    b.session.Operations().btn_acquiretimeClick();
    ASSERT_EQ(b.session.Sender().OutstandingCommand(), cmd_get_time);
    ASSERT_FALSE(pty->Receive(1).isEmpty());  // the request is on the line
    pty->CloseMaster();

    ASSERT_TRUE(PumpUntil([&] { return !b.hangups.empty(); }));
    EXPECT_FALSE(b.link.IsOpen());
    EXPECT_EQ(b.hangups.front(), std::optional<Operation>(Operation::GetTime));
    EXPECT_EQ(b.session.Sender().OutstandingCommand(), 0);
    EXPECT_EQ(b.log,
              (std::vector<std::string>{
                  "open", "lost", b.Outcome(Operation::GetTime, Outcome::Aborted), "hangup"}));
    // Nothing is resent and no time-out follows.
    PumpFor(1500);
    EXPECT_EQ(b.hangups.size(), 1u);
    EXPECT_EQ(b.ui.outcomes.size(), 1u);

    // Open again on a new line: the next exchange starts clean.
    pty = std::make_unique<Pty>();
    b.OpenOn(*pty);
    b.session.btn7Click(QStringLiteral("5807"));
    EXPECT_EQ(b.session.Sender().OutstandingCommand(), cmd_login);
    ASSERT_TRUE(pty->Send(Wire(cmd_login, {0x00})));
    ASSERT_TRUE(PumpUntil([&] { return b.ui.outcomes.size() >= 2; }));
    EXPECT_EQ(b.ui.outcomes.back(), std::make_pair(Operation::Login, Outcome::Failed));
}

TEST(PortBindingHangup, WhileIdleReportsNothingStopped) {
    Pty pty;
    Bound b;
    b.OpenOn(pty);
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return !b.hangups.empty(); }));
    EXPECT_EQ(b.hangups.front(), std::nullopt);
    EXPECT_EQ(b.log, (std::vector<std::string>{"open", "lost", "hangup"}));
    EXPECT_TRUE(b.ui.outcomes.empty());
}

// TComm takes at most 65535 bytes a call; the binding's writes of any size arrive whole and
// in order, the pieces' edges included.
TEST(PortBindingWrite, WritesOfAnySizeArriveWhole) {
    const QByteArray data = Pattern(150000);
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    TComm comm;
    PortBinding link(comm);
    EXPECT_FALSE(link.WriteBytes(bytes, 10));  // closed
    Pty pty;
    QString reason;
    ASSERT_TRUE(link.Open(pty.Path(), reason)) << reason.toStdString();
    EXPECT_FALSE(link.WriteBytes(bytes, 0));
    for (const qsizetype size : {qsizetype{1}, qsizetype{0xFFFF}, qsizetype{0x10000},
                                 qsizetype{2 * 0xFFFF + 1}, data.size()}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(link.WriteBytes(bytes, static_cast<size_t>(size)));
        EXPECT_EQ(pty.Receive(size), data.left(size));
    }
    PumpFor(50);
    EXPECT_TRUE(PumpUntil([&] { return comm.SendDataEmpty(); }));
    EXPECT_EQ(pty.Receive(1, 100), QByteArray());  // nothing beyond what was written
}

// The port may outlive its binding: what it still delivers then goes nowhere.
TEST(PortBindingLifetime, APortThatOutlivesItsBindingDeliversToNobody) {
    Pty pty;
    TComm comm;
    int states = 0;
    {
        PortBinding link(comm);
        link.SetStateListener([&](PortBinding::State) { ++states; });
        QString reason;
        ASSERT_TRUE(link.Open(pty.Path(), reason));
    }
    ASSERT_TRUE(pty.Send("late bytes"));
    PumpFor(100);
    pty.CloseMaster();
    PumpFor(200);
    EXPECT_EQ(states, 1);
    EXPECT_TRUE(comm.PortOpen());  // only the binding closes on a hangup
}

}  // namespace
}  // namespace r4t8
