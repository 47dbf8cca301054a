// The programs as a user starts them: the window's start-up time, the peak memory of the
// window after a full read and of r4t8ctl read, what r4t8ctl costs while it waits, and the
// demo simulator's start-up time.
#include <benchmark/benchmark.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "support/SimProcess.h"

namespace {

using r4t8::testing::SimProcess;

int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Run {
    bool ok = false;
    int status = -1;
    std::string out;      // standard output
    long maxRssKb = 0;    // peak resident memory of the child
    double cpuS = 0;      // user + system CPU time of the child
    int64_t startNs = 0;  // just before the fork
    int64_t endNs = 0;    // once it was reaped
};

// Runs a program to its end, with standard output captured and standard error discarded.
Run RunProgram(const std::vector<std::string>& args) {
    Run r;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return r;
    std::vector<std::string> a = args;
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    r.startNs = MonotonicNs();
    const pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        r.out.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    rusage ru{};
    int status = 0;
    if (wait4(pid, &status, 0, &ru) != pid) return r;
    r.endNs = MonotonicNs();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.maxRssKb = ru.ru_maxrss;
    r.cpuS = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
             static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.ok = r.status == 0;
    return r;
}

#ifdef R4T8_WINDOW_PROBE_PATH
// From the fork to the moment the window had been shown and its first events handled.
void BM_WindowStart_FirstShown(benchmark::State& state) {
    for (auto _ : state) {
        const Run r = RunProgram({R4T8_WINDOW_PROBE_PATH, "--startup"});
        const size_t at = r.out.find("shown ");
        if (!r.ok || at == std::string::npos) return state.SkipWithError("the window did not show");
        const int64_t shownNs = std::stoll(r.out.substr(at + 6));
        state.SetIterationTime(static_cast<double>(shownNs - r.startNs) / 1e9);
    }
}
BENCHMARK(BM_WindowStart_FirstShown)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// The real program with --quit-after-show, fork to exit: start-up, first show and tear-down.
void BM_WindowProgram_QuitAfterShow(benchmark::State& state) {
    for (auto _ : state) {
        const Run r = RunProgram({R4T8_WINDOW_PATH, "--quit-after-show"});
        if (!r.ok) return state.SkipWithError("r4t8-config failed");
        state.SetIterationTime(static_cast<double>(r.endNs - r.startNs) / 1e9);
    }
}
BENCHMARK(BM_WindowProgram_QuitAfterShow)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

void BM_PeakMemory_WindowFullRead(benchmark::State& state) {
    SimProcess sim(R4T8_SIM_PATH);
    if (!sim.Start({})) return state.SkipWithError("no simulator");
    long peak = 0;
    for (auto _ : state) {
        const Run r = RunProgram({R4T8_WINDOW_PROBE_PATH, "--read", sim.PtyPath()});
        if (!r.ok || r.out.find("read done") == std::string::npos)
            return state.SkipWithError("the window's full read failed");
        peak = std::max(peak, r.maxRssKb);
    }
    state.counters["peak_MB"] = static_cast<double>(peak) / 1024.0;
}
BENCHMARK(BM_PeakMemory_WindowFullRead)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
#endif

void BM_PeakMemory_CtlRead(benchmark::State& state) {
    SimProcess sim(R4T8_SIM_PATH);
    if (!sim.Start({})) return state.SkipWithError("no simulator");
    const std::string ini = sim.Folder() + "/read.ini";
    long peak = 0;
    for (auto _ : state) {
        const Run r =
            RunProgram({R4T8_CTL_PATH, "--port", sim.PtyPath(), "--quiet", "read", "--ini", ini});
        if (!r.ok) return state.SkipWithError("r4t8ctl read failed");
        peak = std::max(peak, r.maxRssKb);
    }
    state.counters["peak_MB"] = static_cast<double>(peak) / 1024.0;
}
BENCHMARK(BM_PeakMemory_CtlRead)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// r4t8ctl login against a line that never answers: the request, three resends a second
// apart and the time-out after 4 s. Nearly all of that is waiting, which should cost nothing.
void BM_CtlSilentWait_Cpu(benchmark::State& state) {
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return state.SkipWithError("no pty");
    // Only the far end stays open: it takes the requests and never replies.
    close(slave);
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const Run r = RunProgram({R4T8_CTL_PATH, "--port", name, "--quiet", "login"});
        if (r.status != 1) {
            close(master);
            return state.SkipWithError("r4t8ctl login did not time out");
        }
        cpu = std::max(cpu, r.cpuS);
        wall = std::max(wall, static_cast<double>(r.endNs - r.startNs) / 1e9);
        state.SetIterationTime(static_cast<double>(r.endNs - r.startNs) / 1e9);
    }
    close(master);
    state.counters["cpu_ms"] = cpu * 1e3;
    state.counters["wall_s"] = wall;
}
BENCHMARK(BM_CtlSilentWait_Cpu)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
// r4t8-sim --demo from the fork to its port line: by then its memory, its history of about
// 90,000 records and its site model are ready (./dev.sh run waits for this).
void BM_SimDemo_StartToPort(benchmark::State& state) {
    for (auto _ : state) {
        SimProcess sim(R4T8_SIM_PATH);
        const int64_t start = MonotonicNs();
        if (!sim.Start({"--demo"})) return state.SkipWithError("no simulator");
        state.SetIterationTime(static_cast<double>(MonotonicNs() - start) / 1e9);
    }
}
BENCHMARK(BM_SimDemo_StartToPort)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
