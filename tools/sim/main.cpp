// r4t8-sim: the simulated R4T8 controller on a pseudo-terminal or an existing tty.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDate>
#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "DemoProfile.h"
#include "DemoSite.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "packaging/identity/ProgramIdentity.h"

using namespace r4t8;
using namespace r4t8::sim;

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char c = 's';
    // Nothing to do when the pipe is full: one byte is enough to wake the loop.
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &c, 1);
}

constexpr int64_t kMillisecondNs = 1000000;
constexpr int64_t kSecondNs = 1000000000;

timespec ToTimespec(int64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / kSecondNs);
    ts.tv_nsec = static_cast<long>(ns % kSecondNs);
    return ts;
}

int64_t MonoNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SetRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;  // not a tty (a FIFO in a test): nothing to set
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

bool LoadImage(const std::string& path, ConfigImage& image, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (bytes.size() != kConfigImageSize) {
        error = path + " holds " + std::to_string(bytes.size()) + " bytes, not " +
                std::to_string(kConfigImageSize);
        return false;
    }
    std::memcpy(image.data(), bytes.data(), kConfigImageSize);
    return true;
}

std::string DumpImage(const ConfigImage& image, const std::string& path) {
    const std::string tmp = path + ".tmp" + std::to_string(getpid());
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return std::strerror(errno);
    const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) {
        std::remove(tmp.c_str());
        return "write failed";
    }
    // Readers see the old file or the whole new one, never a part.
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string err = std::strerror(errno);
        std::remove(tmp.c_str());
        return err;
    }
    return {};
}

class Program {
  public:
    Program(SimOptions options, FILE* log)
        : m_options(std::move(options)),
          m_log(log),
          m_controller(m_options.controller),
          m_server(m_controller, [this](const std::string& line) {
              std::fprintf(m_log, "%s\n", line.c_str());
              std::fflush(m_log);
          }) {}

    int Run();

  private:
    // Loads the memory images and the history; false (reported) when an image will not load.
    bool SetUpController();
    bool OpenLine(std::string& path);
    // The --link to the port, if asked for; a failure is reported and serving goes on.
    void MakeLink(const std::string& path);
    // Writes what the server has due; false when the line refuses it for good.
    bool Flush(int64_t now, Bytes& pending);
    int64_t WaitNs(int64_t now, bool pending) const;
    // Feeds what the client sent to the server; false once the line is gone.
    bool ReceiveFromLine(short revents);
    // One turn of the serving loop: the exit code once serving ends, else nothing.
    std::optional<int> Step(Bytes& pending);
    void Reply(const std::string& line) {
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    }
    // Returns false on "quit".
    bool Command(const std::string& line);
    bool ReadStdin();
    // The demo site as of today: its readings and its history.
    void UseDemoSite();
    void Cleanup();
    void WaitUntilRead();

    SimOptions m_options;
    FILE* m_log;
    SimController m_controller;
    SimServer m_server;
    int m_line = -1;
    int m_slave = -1;  // held open so that the master never sees a hangup between clients
    bool m_readStdin = true;
    std::string m_stdinLine;
    bool m_stdinOverlong = false;
    std::string m_linkMade;
};

bool Program::OpenLine(std::string& path) {
    if (!m_options.device.empty()) {
        m_line = open(m_options.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_line < 0) {
            std::fprintf(stderr, "r4t8-sim: cannot open %s: %s\n", m_options.device.c_str(),
                         std::strerror(errno));
            return false;
        }
        SetRaw(m_line);
        path = m_options.device;
        return true;
    }
    m_line = posix_openpt(O_RDWR | O_NOCTTY);
    char name[256] = {};
    if (m_line < 0 || grantpt(m_line) != 0 || unlockpt(m_line) != 0 ||
        ptsname_r(m_line, name, sizeof name) != 0) {
        std::fprintf(stderr, "r4t8-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    m_slave = open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        std::fprintf(stderr, "r4t8-sim: cannot open %s: %s\n", name, std::strerror(errno));
        return false;
    }
    SetRaw(m_slave);
    fcntl(m_line, F_SETFL, fcntl(m_line, F_GETFL) | O_NONBLOCK);
    path = name;
    return true;
}

bool Program::Command(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in, rest);
    rest.erase(0, rest.find_first_not_of(" \t"));
    rest.erase(rest.find_last_not_of(" \t") + 1);
    if (verb.empty()) return true;
    if (verb == "quit") {
        Reply("bye");
        return false;
    }
    if (verb == "dump") {
        if (rest.empty()) {
            Reply("error dump: no path");
        } else if (const std::string err = DumpImage(m_controller.Memory(), rest); err.empty()) {
            Reply("dumped " + rest);
        } else {
            Reply("error dump " + rest + ": " + err);
        }
        return true;
    }
    if (verb == "fault") {
        FaultOptions next = m_server.Faults();
        if (const std::string err = ApplyFaultSpec(next, rest); !err.empty()) {
            Reply("error fault: " + err);
        } else {
            m_server.SetFaults(next, MonoNs());
            std::fprintf(m_log, "# fault %s\n", rest.c_str());
            std::fflush(m_log);
            Reply("fault ok");
        }
        return true;
    }
    if (verb == "history") {
        SimHistory& h = m_controller.History();
        std::istringstream words(rest);
        std::string what, value;
        words >> what >> value;
        int pages = 0;
        char* end = nullptr;
        if (what == "generate") {
            if (m_options.demo)
                UseDemoSite();
            else
                h.Generate(QDate::currentDate());
        } else if (what == "clear") {
            h.Clear();
        } else if (what == "pages" && value == "off") {
            h.SetForcedPages(std::nullopt);
        } else if (what == "pages" && !value.empty() &&
                   (pages = static_cast<int>(std::strtol(value.c_str(), &end, 10)), *end == '\0') &&
                   pages >= 0 && pages <= 65535) {
            h.SetForcedPages(pages);
        } else {
            Reply("error history: " + rest);
            return true;
        }
        Reply("history ok");
        return true;
    }
    if (verb == "status") {
        const int64_t nowMs = MonoNs() / 1000000;
        Reply(std::string("status debug=") + (m_controller.DebugOn() ? "1" : "0") +
              " relay=" + m_controller.RelayMode() +
              " closed=" + (m_controller.RelayClosed(nowMs) ? "1" : "0") +
              " answered=" + std::to_string(m_server.Answered()) +
              " writes=" + std::to_string(m_controller.WritesStored()));
        return true;
    }
    Reply("error unknown command: " + verb);
    return true;
}

bool Program::ReadStdin() {
    char buf[4096];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;  // end of input: stop serving
    for (ssize_t i = 0; i < n; ++i) {
        const char c = buf[i];
        if (c == '\n') {
            if (m_stdinOverlong) {
                Reply("error line too long");
            } else if (!Command(m_stdinLine)) {
                return false;
            }
            m_stdinLine.clear();
            m_stdinOverlong = false;
        } else if (c != '\r' && c != '\0') {
            if (m_stdinLine.size() < 4096) {
                m_stdinLine.push_back(c);
            } else {
                m_stdinOverlong = true;
            }
        }
    }
    return true;
}

// A pty drops what the client has not read yet when the master closes, so a hangup waits
// (boundedly) until the last reply has been taken.
void Program::WaitUntilRead() {
    if (m_slave < 0) {
        tcdrain(m_line);
        return;
    }
    // Written bytes reach the slave's queue a moment later, so look only after a pause.
    usleep(50000);
    for (int i = 0; i < 300; ++i) {
        int queued = 0;
        if (ioctl(m_slave, TIOCINQ, &queued) != 0 || queued == 0) break;
        usleep(10000);
    }
    usleep(20000);
}

void Program::UseDemoSite() {
    auto site = std::make_shared<const DemoSite>(QDate::currentDate());
    m_controller.History().Replace(site->History());
    m_controller.SetSite(std::move(site));
}

void Program::Cleanup() {
    if (!m_linkMade.empty()) unlink(m_linkMade.c_str());
    if (m_slave >= 0) close(m_slave);
    if (m_line >= 0) close(m_line);
    m_slave = m_line = -1;
}

bool Program::SetUpController() {
    std::string error;
    if (m_options.demo) FillDemoMemory(m_controller.Memory());
    if (!m_options.memoryFile.empty() &&
        !LoadImage(m_options.memoryFile, m_controller.Memory(), error)) {
        std::fprintf(stderr, "r4t8-sim: %s\n", error.c_str());
        return false;
    }
    if (!m_options.factoryFile.empty() &&
        !LoadImage(m_options.factoryFile, m_controller.FactoryImage(), error)) {
        std::fprintf(stderr, "r4t8-sim: %s\n", error.c_str());
        return false;
    }
    if (m_options.demo)
        UseDemoSite();
    else if (m_options.generateHistory)
        m_controller.History().Generate(QDate::currentDate());
    m_controller.History().SetForcedPages(m_options.historyPages);
    m_server.SetFaults(m_options.faults, MonoNs());
    m_server.SetDebugIntervalMs(m_options.debugIntervalMs);
    return true;
}

void Program::MakeLink(const std::string& path) {
    if (m_options.link.empty()) return;
    struct stat st {};
    // Replace an old link of ours, but never a file that is not a link.
    if (lstat(m_options.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        unlink(m_options.link.c_str());
    if (symlink(path.c_str(), m_options.link.c_str()) == 0) {
        m_linkMade = m_options.link;
    } else {
        std::fprintf(stderr, "r4t8-sim: cannot make the link %s: %s\n", m_options.link.c_str(),
                     std::strerror(errno));
    }
}

bool Program::Flush(int64_t now, Bytes& pending) {
    const Bytes out = m_server.TakeOutput(now);
    pending.insert(pending.end(), out.begin(), out.end());
    if (pending.empty()) return true;
    const ssize_t w = write(m_line, pending.data(), pending.size());
    if (w > 0) {
        pending.erase(pending.begin(), pending.begin() + w);
    } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
        std::fprintf(stderr, "r4t8-sim: write failed: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

// Paced bytes are due every 86.8 us: a wait rounded to whole milliseconds would send them in
// late bursts, so the wait is kept to the nanosecond.
int64_t Program::WaitNs(int64_t now, bool pending) const {
    int64_t timeoutNs = kSecondNs;
    if (const auto wake = m_server.NextWakeNs())
        timeoutNs = std::clamp<int64_t>(*wake - now, 0, kSecondNs);
    if (pending) timeoutNs = std::min<int64_t>(timeoutNs, 20 * kMillisecondNs);
    return timeoutNs;
}

bool Program::ReceiveFromLine(short revents) {
    if (revents & POLLIN) {
        uint8_t buf[4096];
        const ssize_t n = read(m_line, buf, sizeof buf);
        if (n > 0) {
            m_server.OnBytes(buf, static_cast<size_t>(n), MonoNs(), QDateTime::currentDateTime());
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            std::fprintf(stderr, "r4t8-sim: the line closed\n");
            return false;
        }
    } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
        std::fprintf(stderr, "r4t8-sim: the line hung up\n");
        return false;
    }
    return true;
}

std::optional<int> Program::Step(Bytes& pending) {
    const int64_t now = MonoNs();
    if (!Flush(now, pending)) return 1;
    if (m_server.HangupDue() && m_server.LineIdle() && pending.empty()) {
        WaitUntilRead();
        std::fprintf(m_log, "# hangup after %d answers\n", m_server.Answered());
        std::fflush(m_log);
        return 0;
    }

    const timespec timeout = ToTimespec(WaitNs(now, !pending.empty()));
    pollfd fds[3] = {{m_line, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0},
                     {g_signalPipe[0], POLLIN, 0},
                     {m_readStdin ? STDIN_FILENO : -1, POLLIN, 0}};
    const int r = ppoll(fds, 3, &timeout, nullptr);
    if (r < 0) {
        if (errno == EINTR) return std::nullopt;
        std::fprintf(stderr, "r4t8-sim: poll failed: %s\n", std::strerror(errno));
        return 1;
    }
    if (fds[1].revents) return 0;  // SIGTERM or SIGINT
    if (!ReceiveFromLine(fds[0].revents)) return 1;
    if (fds[2].revents & (POLLIN | POLLHUP)) {
        if (!ReadStdin()) return 0;
    } else if (fds[2].revents & POLLNVAL) {
        m_readStdin = false;
    }
    return std::nullopt;
}

int Program::Run() {
    if (!SetUpController()) return 2;
    std::string path;
    if (!OpenLine(path)) {
        Cleanup();
        return 1;
    }
    MakeLink(path);

    // The path line comes last: once it is out, the port and its link are ready.
    std::fprintf(stdout, "%s\n", path.c_str());
    std::fflush(stdout);

    // A character device that is no terminal (/dev/zero, /dev/null) carries no commands.
    struct stat in {};
    if (fstat(STDIN_FILENO, &in) != 0 || (S_ISCHR(in.st_mode) && !isatty(STDIN_FILENO)))
        m_readStdin = false;

    Bytes pending;
    std::optional<int> exitCode;
    while (!exitCode) exitCode = Step(pending);
    Cleanup();
    return *exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    SimOptions options;
    if (const std::string err = ParseSimOptions(args, options); !err.empty()) {
        std::fprintf(stderr, "r4t8-sim: %s\nTry 'r4t8-sim --help'.\n", err.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(SimHelpText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(r4t8::VersionText(QStringLiteral("r4t8-sim")).toLocal8Bit().constData(), stdout);
        return 0;
    }

    FILE* log = stderr;
    if (!options.logFile.empty()) {
        log = std::fopen(options.logFile.c_str(), "w");
        if (!log) {
            std::fprintf(stderr, "r4t8-sim: cannot write %s: %s\n", options.logFile.c_str(),
                         std::strerror(errno));
            return 2;
        }
    }

    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    // The default 50 us timer slack would stretch every paced byte's wait by up to that much.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    Program program(std::move(options), log);
    const int rc = program.Run();
    if (log != stderr) std::fclose(log);
    return rc;
}
