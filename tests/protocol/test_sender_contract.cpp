// The recording sender that the sequence tests use must keep the outstanding request as the
// real sender does while and after a reply is dispatched, so that a test of a sequence cannot
// pass on a rule the real sender does not follow. The same scripts run against both.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ProtocolTestUtil.h"
#include "protocol/ProtocolLink.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/support/RecordingSender.h"

using namespace r4t8;
using r4t8::testing::FakeTimeSource;
using r4t8::testing::FakeUserInterface;
using r4t8::testing::RecordingPort;
using r4t8::testing::RecordingSender;

namespace {

// What a sequence does with the reply it is handed.
enum class Handler { Take, Reject, SendGetTime, StopThenTake };

struct Step {
    enum Kind { Send, Reply, Stop } kind;
    uint8_t code = 0;
    Handler handler = Handler::Take;
};

// Either sender, driven the same way; reports what a sequence sees.
class Driver {
  public:
    virtual ~Driver() = default;
    virtual ISender& Sender() = 0;
    // Hands a reply of `code` to a sequence doing `handler`.
    virtual void Deliver(uint8_t code, Handler handler) = 0;
    virtual size_t FramesSent() const = 0;

  protected:
    void Handle(Handler handler) {
        switch (handler) {
            case Handler::Take:
                break;
            case Handler::Reject:
                Sender().RejectReply();
                break;
            case Handler::SendGetTime:
                Sender().SendCommand(cmd_get_time);
                break;
            case Handler::StopThenTake:
                Sender().StopResend();
                break;
        }
    }
};

class RealDriver : public Driver {
  public:
    RealDriver() {
        for (int code = 0; code < 256; ++code)
            link.Dispatcher().Register(static_cast<uint8_t>(code),
                                       [this](const ReplyRecord&) { Handle(m_handler); });
    }
    ISender& Sender() override { return link.Sender(); }
    void Deliver(uint8_t code, Handler handler) override {
        m_handler = handler;
        time.Advance(5);
        const Bytes line = EscapeFrame(BuildReplyFrame(code, {0x0E, 1, 2, 3, 4, 5}));
        link.cm1ReceiveData(line.data(), line.size(), time.NowUs());
        time.Advance(5);
    }
    size_t FramesSent() const override { return port.writes.size(); }

  private:
    FakeTimeSource time;
    FakeUserInterface ui;
    RecordingPort port{&time};
    ProtocolLink link{port, time, ui, ui};
    Handler m_handler = Handler::Take;
};

class FakeDriver : public Driver {
  public:
    ISender& Sender() override { return sender; }
    void Deliver(uint8_t, Handler handler) override {
        sender.Dispatch([&] { Handle(handler); });
    }
    size_t FramesSent() const override { return sender.frames.size(); }

  private:
    RecordingSender sender;
};

struct Script {
    const char* name;
    std::vector<Step> steps;
};

const std::vector<Script>& Scripts() {
    static const std::vector<Script> scripts = {
        {"an answer taken ends the wait",
         {{Step::Send, cmd_get_time}, {Step::Reply, cmd_get_time, Handler::Take}}},
        {"a refused answer leaves the request outstanding",
         {{Step::Send, cmd_get_time},
          {Step::Reply, cmd_get_time, Handler::Reject},
          {Step::Reply, cmd_get_time, Handler::Take}}},
        {"a request sent from the dispatch is the one outstanding",
         {{Step::Send, cmd_current_data},
          {Step::Reply, cmd_current_data, Handler::SendGetTime},
          {Step::Reply, cmd_get_time, Handler::Take}}},
        {"after stop, the answer is still taken",
         {{Step::Send, cmd_get_time}, {Step::Stop}, {Step::Reply, cmd_get_time, Handler::Take}}},
        {"stop during the dispatch",
         {{Step::Send, cmd_get_time}, {Step::Reply, cmd_get_time, Handler::StopThenTake}}},
    };
    return scripts;
}

// Outstanding command after each step, and the frames sent at the end.
std::pair<std::vector<int>, size_t> RunScript(Driver& d, const Script& script) {
    std::vector<int> outstanding;
    for (const Step& s : script.steps) {
        switch (s.kind) {
            case Step::Send:
                d.Sender().SendCommand(s.code);
                break;
            case Step::Reply:
                d.Deliver(s.code, s.handler);
                break;
            case Step::Stop:
                d.Sender().StopResend();
                break;
        }
        outstanding.push_back(d.Sender().OutstandingCommand());
    }
    return {outstanding, d.FramesSent()};
}

}  // namespace

TEST(SenderContract, RecordingSenderKeepsTheOutstandingRequestAsTheRealOne) {
    for (const Script& script : Scripts()) {
        SCOPED_TRACE(script.name);
        RealDriver real;
        FakeDriver fake;
        const auto want = RunScript(real, script);
        const auto got = RunScript(fake, script);
        EXPECT_EQ(got.first, want.first);
        EXPECT_EQ(got.second, want.second);
    }
    // The scripts say something: the real sender ends with nothing outstanding after an
    // answer taken, and keeps the request after a refusal.
    RealDriver real;
    EXPECT_EQ(RunScript(real, Scripts()[1]).first,
              (std::vector<int>{cmd_get_time, cmd_get_time, 0}));
}
