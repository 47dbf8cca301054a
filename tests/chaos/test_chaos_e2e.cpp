// Random fault schedules end to end: the real session over a real pty (TComm, the Qt clock)
// against r4t8-sim running the very same schedule generator (--chaos SEED), checking the
// invariants of test_chaos.cpp in real time. A few schedules per sequence, with answer delays
// up to 1.5 s to keep the set short; the virtual-time suite runs the thousands.
// R4T8_CHAOS_SEED=N replays one schedule here too.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>

#include "ChaosRun.h"
#include "SimHistory.h"
#include "matrix/MatrixRig.h"

using namespace r4t8;
using namespace r4t8::chaos;

namespace {

constexpr int kMaxDelayMs = 1500;

// The session over a pty against its own r4t8-sim.
class PtyEnv {
  public:
    DeviceSession& Session() { return rig.session; }
    DeviceSettings& Settings() { return rig.settings; }
    r4t8::testing::FakeUserInterface& Ui() { return rig.ui; }
    const r4t8::testing::FakeUserInterface& Ui() const { return rig.ui; }
    ITimeSource& Time() { return rig.time; }
    QString Dir() const { return rig.dir.path(); }
    // A loaded machine delays the line and the clock alike; allow it a little.
    int64_t SlackMs() const { return 3000; }
    // After the end, watching for a second outcome: shorter than in virtual time, where
    // waiting costs nothing.
    int64_t DrainMs() const { return 2000; }

    bool Prepare(const ConfigImage& memory, bool /*history*/) { return rig.StartSim(memory); }
    bool Login() { return rig.Login(); }
    bool StartChaos(uint64_t seed, sim::ChaosMode mode, int maxDelayMs) {
        return rig.sim->Command("fault chaos " + std::to_string(seed) + " chaos-mode " +
                                sim::ChaosModeName(mode) + " chaos-max-delay " +
                                std::to_string(maxDelayMs)) == "fault ok";
    }
    // The writes of TComm are not seen here; the virtual-time suite checks them.
    void WatchWrites(const std::function<void(const Bytes&)>&) {}
    template <typename Pred>
    bool RunUntil(Pred done, int64_t capMs) {
        return rig.RunUntil(done, static_cast<int>(capMs));
    }
    void RunFor(int64_t ms) { rig.RunFor(static_cast<int>(ms)); }

    ConfigImage Memory() const {
        ConfigImage image{};
        const std::vector<uint8_t> dump = rig.sim->DumpMemory();
        if (dump.size() == image.size()) std::copy(dump.begin(), dump.end(), image.begin());
        return image;
    }
    ConfigImage FactoryImage() const {
        ConfigImage blank;
        blank.fill(0xFF);
        return blank;
    }
    char RelayMode() const { return Status("relay=").value_or('?'); }
    bool DebugOn() const { return Status("debug=") == '1'; }
    std::optional<Bytes> DeviceTime() const { return std::nullopt; }
    std::vector<std::string> SimLog() const { return rig.sim->LogLines(); }
    int Violations() const { return 0; }
    HistoryTable ExpectedRecords(const QDate& from, const QDate& to, int& pages) {
        // The simulator generated the same records, for today.
        sim::SimHistory history;
        history.Generate(QDate::currentDate());
        const uint8_t range[6] = {
            static_cast<uint8_t>(from.year() % 100), static_cast<uint8_t>(from.month()),
            static_cast<uint8_t>(from.day()),        static_cast<uint8_t>(to.year() % 100),
            static_cast<uint8_t>(to.month()),        static_cast<uint8_t>(to.day())};
        pages = history.StartQuery(range);
        std::vector<Bytes> payloads;
        for (int p = 1; p <= pages; ++p) payloads.push_back(history.Page(static_cast<uint16_t>(p)));
        return RecordsOf(payloads);
    }

  private:
    std::optional<char> Status(const std::string& key) const {
        const std::string status = rig.sim->Command("status");
        const auto at = status.find(key);
        if (at == std::string::npos || at + key.size() >= status.size()) return std::nullopt;
        return status[at + key.size()];
    }

    mutable matrix::Rig rig;
};

// Two schedules per sequence: a recoverable one, which must succeed, and a hostile one.
struct Case {
    const SeqInfo* seq;
    sim::ChaosMode mode;
    uint64_t seed;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    uint64_t seed = 5000;
    for (const SeqInfo& s : Sequences()) {
        cases.push_back({&s, sim::ChaosMode::Recoverable, ++seed});
        cases.push_back({&s, sim::ChaosMode::Hostile, ++seed});
    }
    return cases;
}

class ChaosE2e : public ::testing::TestWithParam<size_t> {};

TEST_P(ChaosE2e, Schedule) {
    const Case c = Cases()[GetParam()];
    Schedule s = Draw(c.seed, *c.seq);
    if (const char* one = std::getenv("R4T8_CHAOS_SEED"); one && *one)
        s = Draw(std::strtoull(one, nullptr, 0), *c.seq);
    else
        s.mode = c.mode;
    s.maxDelayMs = kMaxDelayMs;
    PtyEnv env;
    const Result r = Runner<PtyEnv>(s, env).Run();
    EXPECT_EQ(r.failure, "") << "seed " << s.seed << " (" << s.Describe() << ", answers within "
                             << kMaxDelayMs << " ms)\n  replay: "
                             << "R4T8_CHAOS_SEED=" << s.seed
                             << " build/tests/chaos/test_chaos_e2e --gtest_filter='*/" << GetParam()
                             << "'";
}

INSTANTIATE_TEST_SUITE_P(Pty, ChaosE2e, ::testing::Range<size_t>(0, Cases().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             const Case c = Cases()[info.param];
                             return std::string(c.seq->key) + "_" + sim::ChaosModeName(c.mode);
                         });

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
