// The tool on a real line: TComm over a pty, and the read, write and history sequences
// against r4t8-sim, unpaced and paced at 115200 baud.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "BenchSupport.h"

namespace {

using namespace r4t8;
using r4t8::testing::SimProcess;
using Clock = std::chrono::steady_clock;

// Line time of one byte at 115200 baud with 10 bits a byte, in microseconds.
constexpr double kByteLineUs = 86.8;
constexpr int64_t kPacedByteNs = 86806;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void MakeRaw(int fd) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}

bool WriteAll(int fd, const uint8_t* data, size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Bytes pushed into the master of a pty, through TComm (InputLen 1) into the event loop.
void BM_TComm_PtyInputLen1(benchmark::State& state) {
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        state.SkipWithError("openpty failed");
        return;
    }
    MakeRaw(slave);
    TComm comm;
    comm.SetBaudRate(115200);
    comm.SetInputLen(1);
    uint64_t received = 0, target = 0, calls = 0;
    QEventLoop* loop = nullptr;
    comm.SetOnReceiveData([&](TComm&, const uint8_t*, uint16_t length) {
        received += length;
        ++calls;
        if (received >= target && loop) loop->quit();
    });
    comm.SetCommName(QString::fromLocal8Bit(name));
    try {
        comm.OpenPort();
    } catch (const ECommsError&) {
    }
    if (!comm.PortOpen()) {
        state.SkipWithError("TComm could not open the pty");
        return;
    }
    const size_t perIteration = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> chunk(4096);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 31 + 1);
    for (auto _ : state) {
        target = received + perIteration;
        std::thread writer([&] {
            for (size_t done = 0; done < perIteration;) {
                const size_t n = std::min(chunk.size(), perIteration - done);
                if (!WriteAll(master, chunk.data(), n)) return;
                done += n;
            }
        });
        QEventLoop l;
        loop = &l;
        if (received < target) l.exec();
        loop = nullptr;
        writer.join();
    }
    if (calls != received) state.SkipWithError("InputLen 1 delivered more than a byte a call");
    state.SetBytesProcessed(static_cast<int64_t>(perIteration) * state.iterations());
    comm.ClosePort();
    close(slave);
    close(master);
}
BENCHMARK(BM_TComm_PtyInputLen1)
    ->Arg(1 << 20)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Sim and logged-in session for one benchmark.
struct SimRig {
    explicit SimRig(std::vector<std::string> args) : sim(R4T8_SIM_PATH) {
        if (!sim.Start(args)) return;
        session = std::make_unique<bench::PortSession>(sim.PtyPath());
        ok = session->Open() && session->Login();
    }
    SimProcess sim;
    std::unique_ptr<bench::PortSession> session;
    bool ok = false;
};

// A blank controller (all 0xFF), read as a user reads one: not twice within a few seconds, or
// with another request between, so that no copy of the previous read can still be answered.
void BM_FullRead_Unpaced(benchmark::State& state) {
    SimRig rig({});
    if (!rig.ok) return state.SkipWithError("no simulator session");
    for (auto _ : state) {
        state.PauseTiming();
        const bool between = rig.session->ClockQuery();
        state.ResumeTiming();
        if (!between) return state.SkipWithError("clock query failed");
        if (!rig.session->FullRead()) return state.SkipWithError("read failed");
    }
}
BENCHMARK(BM_FullRead_Unpaced)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_FullWrite_Unpaced(benchmark::State& state) {
    SimRig rig({});
    if (!rig.ok || !rig.session->FullRead() || !rig.session->MakeWritable())
        return state.SkipWithError("no simulator session");
    for (auto _ : state)
        if (!rig.session->FullWrite())
            return state.SkipWithError(rig.session->ui.lastMessage.toStdString().c_str());
}
BENCHMARK(BM_FullWrite_Unpaced)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(200);

// Stands between the tool and the simulator and stamps every chunk, so the turnaround is
// seen on the tool's side of the line: TComm's threads and the event loop included.
class LineTap {
  public:
    struct Event {
        int64_t ns = 0;
        enum Kind { FromTool, ToTool, ToSim, Mark } kind = Mark;
        std::vector<uint8_t> bytes;
    };

    // `paceNs` > 0: the tool's bytes reach the simulator at that rate, as on a real line (the
    // simulator paces only its own output, and a pty has no line time).
    bool Start(const std::string& simPath, int64_t paceNs = 0) {
        m_paceNs = paceNs;
        m_sim = open(simPath.c_str(), O_RDWR | O_NOCTTY);
        char name[256] = {};
        if (m_sim < 0 || openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) return false;
        MakeRaw(m_sim);
        MakeRaw(m_slave);
        m_path = name;
        m_stop = eventfd(0, EFD_CLOEXEC);
        m_thread = std::thread([this] { Run(); });
        return true;
    }
    ~LineTap() {
        if (m_thread.joinable()) {
            const uint64_t one = 1;
            if (write(m_stop, &one, sizeof one) < 0) {
            }
            m_thread.join();
        }
        for (int fd : {m_sim, m_master, m_slave, m_stop})
            if (fd >= 0) close(fd);
    }
    const std::string& ToolPath() const { return m_path; }

    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
    }
    // A new sequence starts: its first request answers no reply.
    void Mark() { Push({NowNs(), Event::Mark, {}}); }

    // Microseconds from the end delimiter of a reply handed to the tool to the start
    // delimiter of the tool's next request.
    std::vector<double> Turnarounds() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<double> out;
        bool inReply = false, inRequest = false;
        int64_t replyEnd = -1;
        for (const Event& e : m_events) {
            if (e.kind == Event::Mark) {
                replyEnd = -1;
                continue;
            }
            bool& inFrame = e.kind == Event::ToTool ? inReply : inRequest;
            for (const uint8_t b : e.bytes) {
                if (b != kFrameDelimiter) continue;
                if (e.kind == Event::FromTool && !inFrame && replyEnd >= 0) {
                    out.push_back(static_cast<double>(e.ns - replyEnd) / 1000.0);
                    replyEnd = -1;
                }
                if (e.kind == Event::ToTool && inFrame) replyEnd = e.ns;
                inFrame = !inFrame;
            }
        }
        return out;
    }

    // Where the time of an exchange goes, in microseconds summed over all exchanges: the
    // simulator (request fully in to the first reply byte out), the replies' own line time
    // beyond their byte count, and the tool (reply fully in to its next request).
    struct Split {
        double simUs = 0, replyExcessUs = 0, toolUs = 0;
    };
    Split Decompose(double byteUs) {
        std::lock_guard<std::mutex> lock(m_mutex);
        Split out;
        bool inReply = false, inRequest = false, inSim = false;
        int64_t requestIn = -1, replyStart = -1, replyEnd = -1;
        size_t replyBytes = 0;
        for (const Event& e : m_events) {
            if (e.kind == Event::Mark) {
                replyEnd = -1;
                continue;
            }
            for (const uint8_t b : e.bytes) {
                if (e.kind == Event::ToTool && inReply) ++replyBytes;
                if (b != kFrameDelimiter) continue;
                if (e.kind == Event::ToSim) {
                    if (inSim) requestIn = e.ns;
                    inSim = !inSim;
                } else if (e.kind == Event::ToTool) {
                    if (!inReply) {
                        if (requestIn >= 0)
                            out.simUs += static_cast<double>(e.ns - requestIn) / 1e3;
                        requestIn = -1;
                        replyStart = e.ns;
                        replyBytes = 0;
                    } else {
                        out.replyExcessUs += static_cast<double>(e.ns - replyStart) / 1e3 -
                                             static_cast<double>(replyBytes - 1) * byteUs;
                        replyEnd = e.ns;
                    }
                    inReply = !inReply;
                } else {
                    if (!inRequest && replyEnd >= 0) {
                        out.toolUs += static_cast<double>(e.ns - replyEnd) / 1e3;
                        replyEnd = -1;
                    }
                    inRequest = !inRequest;
                }
            }
        }
        return out;
    }

  private:
    void Push(Event e) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(std::move(e));
    }
    void Run() {
        uint8_t buf[4096];
        std::deque<std::pair<int64_t, uint8_t>> paced;  // (due, byte) on their way to the sim
        int64_t lineFreeNs = 0;
        for (;;) {
            timespec wait{};
            timespec* timeout = nullptr;
            if (!paced.empty()) {
                const int64_t left = std::max<int64_t>(0, paced.front().first - NowNs());
                wait = {static_cast<time_t>(left / 1000000000),
                        static_cast<long>(left % 1000000000)};
                timeout = &wait;
            }
            pollfd p[3] = {{m_master, POLLIN, 0}, {m_sim, POLLIN, 0}, {m_stop, POLLIN, 0}};
            if (ppoll(p, 3, timeout, nullptr) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[2].revents) return;
            if (p[0].revents & POLLIN) {
                const ssize_t n = read(m_master, buf, sizeof buf);
                if (n > 0) {
                    const int64_t now = NowNs();
                    Push({now, Event::FromTool, {buf, buf + n}});
                    if (m_paceNs <= 0) {
                        WriteAll(m_sim, buf, static_cast<size_t>(n));
                        Push({NowNs(), Event::ToSim, {buf, buf + n}});
                    } else {
                        lineFreeNs = std::max(lineFreeNs, now);
                        for (ssize_t i = 0; i < n; ++i) {
                            lineFreeNs += m_paceNs;
                            paced.emplace_back(lineFreeNs, buf[i]);
                        }
                    }
                }
            }
            if (!paced.empty()) {
                const int64_t now = NowNs();
                std::vector<uint8_t> due;
                while (!paced.empty() && paced.front().first <= now) {
                    due.push_back(paced.front().second);
                    paced.pop_front();
                }
                if (!due.empty()) {
                    WriteAll(m_sim, due.data(), due.size());
                    Push({NowNs(), Event::ToSim, std::move(due)});
                }
            }
            if (p[1].revents & POLLIN) {
                const ssize_t n = read(m_sim, buf, sizeof buf);
                if (n > 0) {
                    WriteAll(m_master, buf, static_cast<size_t>(n));
                    Push({NowNs(), Event::ToTool, {buf, buf + n}});
                }
            }
            if ((p[0].revents | p[1].revents) & (POLLHUP | POLLERR)) return;
        }
    }

    int64_t m_paceNs = 0;
    int m_sim = -1, m_master = -1, m_slave = -1, m_stop = -1;
    std::string m_path;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Event> m_events;
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// The turnarounds inside a full read (3) and a full write (8) on an unpaced line.
void BM_Turnaround(benchmark::State& state) {
    SimProcess sim(R4T8_SIM_PATH);
    LineTap tap;
    if (!sim.Start({}) || !tap.Start(sim.PtyPath()))
        return state.SkipWithError("no simulator line");
    bench::PortSession s(tap.ToolPath());
    if (!s.Open() || !s.Login() || !s.FullRead() || !s.MakeWritable())
        return state.SkipWithError("no session");
    for (auto _ : state) {
        // Write first: from then on the simulator's memory reads back as writable values.
        tap.Mark();
        if (!s.FullWrite()) return state.SkipWithError(s.ui.lastMessage.toStdString().c_str());
        tap.Mark();
        if (!s.FullRead()) return state.SkipWithError("read failed");
    }
    const auto t = tap.Turnarounds();
    state.counters["samples"] = static_cast<double>(t.size());
    state.counters["median_us"] = Percentile(t, 0.5);
    state.counters["p90_us"] = Percentile(t, 0.9);
    state.counters["max_us"] = Percentile(t, 1.0);
}
BENCHMARK(BM_Turnaround)->Iterations(30)->UseRealTime()->Unit(benchmark::kMillisecond);

// The whole line at 115200 baud: the simulator paces its replies, the tap the requests. The
// model is every byte on the wire, both ways, at 86.8 us.
void PacedSequence(benchmark::State& state, bool write) {
    SimProcess sim(R4T8_SIM_PATH);
    LineTap tap;
    if (!sim.Start({"--pace"}) || !tap.Start(sim.PtyPath(), kPacedByteNs))
        return state.SkipWithError("no simulator line");
    bench::PortSession s(tap.ToolPath());
    if (!s.Open() || !s.Login() || !s.FullWrite() || !s.MakeWritable())
        return state.SkipWithError("no session");
    if (!s.FullWrite()) return state.SkipWithError(s.ui.lastMessage.toStdString().c_str());
    tap.Clear();
    double elapsedUs = 0, modelUs = 0;
    for (auto _ : state) {
        const uint64_t before = s.port.written + s.received;
        tap.Mark();
        const auto t0 = Clock::now();
        const bool ok = write ? s.FullWrite() : s.FullRead();
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        if (!ok) return state.SkipWithError("sequence failed");
        state.SetIterationTime(us / 1e6);
        elapsedUs += us;
        modelUs += static_cast<double>(s.port.written + s.received - before) * kByteLineUs;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["model_ms"] = modelUs / 1000.0 / n;
    state.counters["vs_model"] = elapsedUs / modelUs;
    // Per sequence, so a miss can be put where it belongs.
    const LineTap::Split split = tap.Decompose(kByteLineUs);
    const double all = n;
    state.counters["sim_react_ms"] = split.simUs / 1000.0 / all;
    state.counters["reply_excess_ms"] = split.replyExcessUs / 1000.0 / all;
    state.counters["tool_ms"] = split.toolUs / 1000.0 / all;
}
void BM_FullRead_Paced(benchmark::State& state) { PacedSequence(state, false); }
void BM_FullWrite_Paced(benchmark::State& state) { PacedSequence(state, true); }
BENCHMARK(BM_FullRead_Paced)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullWrite_Paced)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// A blank controller at 115200 baud: its four blocks are alike, so each is confirmed by further
// reads. A clock query (not timed) stands between two reads, as a user's pause would.
void BM_FullRead_Paced_Blank(benchmark::State& state) {
    SimProcess sim(R4T8_SIM_PATH);
    LineTap tap;
    if (!sim.Start({"--pace"}) || !tap.Start(sim.PtyPath(), kPacedByteNs))
        return state.SkipWithError("no simulator line");
    bench::PortSession s(tap.ToolPath());
    if (!s.Open() || !s.Login()) return state.SkipWithError("no session");
    double requests = 0;
    for (auto _ : state) {
        if (!s.ClockQuery()) return state.SkipWithError("clock query failed");
        const uint64_t before = s.port.written;
        const auto t0 = Clock::now();
        if (!s.FullRead()) return state.SkipWithError("read failed");
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
        requests += static_cast<double>(s.port.written - before) / 15.0;
    }
    state.counters["reads"] = requests / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FullRead_Paced_Blank)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// 255 pages of history and the export that follows them.
void BM_History255Pages(benchmark::State& state) {
    SimRig rig({"--history-pages", "255", "--generate-history"});
    if (!rig.ok) return state.SkipWithError("no simulator session");
    QTemporaryDir dir;
    bench::PortSession& s = *rig.session;
    s.session->History().SetExportFolder(dir.path());
    uint64_t records = 0;
    for (auto _ : state) {
        s.ui.Clear(Operation::HistoryQuery);
        s.session->History().Button1Click(QDate(2014, 1, 1), QDate(2014, 12, 31));
        if (!bench::RunUntilFinished(s.ui, Operation::HistoryQuery, 60000) ||
            s.ui.OutcomeOf(Operation::HistoryQuery) != Outcome::Succeeded)
            return state.SkipWithError("history query failed");
        records = s.session->History().LastDownload().size();
    }
    state.counters["pages"] = s.session->History().PageCount();
    state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_History255Pages)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
