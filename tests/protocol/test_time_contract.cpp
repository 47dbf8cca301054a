// The fake clock the guard and chaos tests run on must keep the timer rules of the real one
// (QtTimeSource): the same script runs against both, and only the order of events is compared,
// with margins far beyond any scheduling delay.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/QtTimeSource.h"
#include "tests/support/FakeTimeSource.h"

using namespace r4t8;
using r4t8::testing::FakeTimeSource;

namespace {

// Runs the clock for `ms` of its own time.
using Runner = std::function<void(int ms)>;

// A single-shot timer, a repeating one that is stopped, and one restarted before it fires:
// the events in the order they happened.
std::vector<std::string> Script(ITimeSource& time, const Runner& run) {
    std::vector<std::string> events;
    auto once = time.CreateTimer();
    once->SetSingleShot(true);
    once->SetInterval(200);
    once->SetCallback([&] { events.push_back("once"); });
    auto tick = time.CreateTimer();
    tick->SetSingleShot(false);
    tick->SetInterval(400);
    tick->SetCallback([&] { events.push_back("tick"); });
    auto restarted = time.CreateTimer();
    restarted->SetSingleShot(true);
    restarted->SetInterval(500);
    restarted->SetCallback([&] { events.push_back("restarted"); });

    const int64_t startUs = time.NowUs();
    once->Start();
    tick->Start();
    restarted->Start();
    run(350);  // once at 200
    events.push_back(once->IsActive() ? "once still active" : "once done");
    restarted->Start();  // now due at 850, no longer at 500
    run(300);            // tick at 400
    events.push_back(tick->IsActive() ? "tick active" : "tick stopped");
    tick->Stop();  // it would have come at 800
    run(400);      // restarted at 850
    events.push_back(tick->IsActive() ? "tick active" : "tick stopped");
    events.push_back(time.NowUs() - startUs >= 1050 * 1000 ? "clock moved" : "clock short");
    return events;
}

TEST(TimeSourceContract, FakeClockKeepsTheTimerRulesOfTheRealOne) {
    FakeTimeSource fake;
    const auto got = Script(fake, [&](int ms) { fake.Advance(ms); });

    QtTimeSource real;
    const auto want = Script(real, [](int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    });
    EXPECT_EQ(got, want);
    EXPECT_EQ(got, (std::vector<std::string>{"once", "once done", "tick", "tick active",
                                             "restarted", "tick stopped", "clock moved"}));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
