// Soak run (not part of CI; tools/soak runs it): read-write cycles on one session against one
// simulator that drops or duplicates a seeded share of its replies. After every successful
// write the controller's memory must hold exactly the written set; the program's resident
// memory must not grow. Prints one line per 10 cycles and a summary; exits 1 on a wrong byte.
//
// Usage: matrix_soak [CYCLES] [SEED] [DROP_RATE] [DUPLICATE_RATE]
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "MatrixRig.h"

using namespace r4t8;
using namespace r4t8::matrix;

namespace {

long ResidentKiB() {
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return resident * 4;
}

// Runs until every listed outcome came, or one of them failed; true on success.
bool RunOps(Rig& rig, std::initializer_list<Operation> ops, int capMs) {
    const size_t mark = rig.ui.outcomes.size();
    bool failed = false;
    auto done = [&] {
        size_t ok = 0;
        for (Operation want : ops)
            for (const auto& [op, outcome] : rig.OutcomesSince(mark))
                if (op == want) {
                    if (outcome != Outcome::Succeeded) failed = true;
                    ++ok;
                    break;
                }
        return failed || ok == ops.size();
    };
    rig.RunUntil(done, capMs);
    return done() && !failed;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::string seed = argc > 2 ? argv[2] : "7";
    const std::string drop = argc > 3 ? argv[3] : "0.025";
    const std::string dup = argc > 4 ? argv[4] : "0.025";

    Rig rig;
    const ConfigImage start = VariantImage(0);
    if (!rig.StartSim(start, {"--seed", seed, "--drop-rate", drop, "--duplicate-rate", dup})) {
        std::fprintf(stderr, "soak: the simulator did not start\n");
        return 2;
    }
    // A lost login reply is resent like any other; a time-out just means another try.
    bool in = false;
    for (int i = 0; i < 5 && !in; ++i) in = rig.Login();
    if (!in) {
        std::fprintf(stderr, "soak: no login\n");
        return 2;
    }
    int okCycles = 0, failedCycles = 0;
    long wrongBytes = 0;
    long rssAfter10 = 0;
    const long rssStart = ResidentKiB();
    for (int c = 1; c <= cycles; ++c) {
        ApplyVariant(rig.settings, c % 2);
        rig.session.Config().btn_downClick();
        bool ok = RunOps(rig, {Operation::WriteSettings, Operation::WriteDone}, 30000);
        if (ok) {
            const ConfigImage expected = EncodeAll(rig.settings, start);
            const auto mem = rig.sim->DumpMemory();
            for (size_t i = 0; i < mem.size() && i < expected.size(); ++i)
                wrongBytes += mem[i] != expected[i];
            if (mem.size() != expected.size()) wrongBytes += 65536;
            rig.session.Config().btn_loadClick();
            ok = RunOps(rig, {Operation::ReadSettings}, 30000);
            for (const auto& [name, value] : VariantFields(c % 2))
                if (ok && rig.settings.Text(name) != value) ++wrongBytes;
        }
        if (!ok) {
            std::string what;
            for (const auto& m : rig.ui.messages) what += " " + m.text.toStdString();
            std::printf("cycle %d failed; messages so far:%s\n", c, what.c_str());
        }
        // The recording interface keeps every log line, outcome and message it is given; a
        // soak that kept them would measure its own records, not the program.
        rig.ui.messages.clear();
        rig.ui.times.clear();
        rig.ui.outcomes.clear();
        rig.ui.progressHistory.clear();
        rig.ui.sendLog.clear();
        rig.ui.receiveLog.clear();
        ok ? ++okCycles : ++failedCycles;
        // Let the late copies of this cycle's replies go by before the next one.
        rig.RunFor(50);
        if (c == 10) rssAfter10 = ResidentKiB();
        if (c % 10 == 0) {
            std::printf("cycle %d: %d ok, %d failed (time-outs), %ld wrong bytes, rss %ld KiB\n", c,
                        okCycles, failedCycles, wrongBytes, ResidentKiB());
            std::fflush(stdout);
        }
        if (rig.hungUp) break;
    }
    const long rssEnd = ResidentKiB();
    std::printf(
        "soak: %d cycles, %d ok, %d failed, %ld wrong bytes; rss start %ld KiB, after 10 "
        "cycles %ld KiB, end %ld KiB; %llu early replies dropped\n",
        okCycles + failedCycles, okCycles, failedCycles, wrongBytes, rssStart, rssAfter10, rssEnd,
        static_cast<unsigned long long>(rig.session.Commands().EarlyReplies()));
    return wrongBytes == 0 ? 0 : 1;
}
