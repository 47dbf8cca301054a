// Runs the simulated controller r4t8-sim as a child process for end-to-end tests: starts it,
// reads the path of its pty, sends standard-input commands, fetches its memory and its frame
// log, and stops it. Needs no Qt event loop (fork/exec and pipes).
//
// A test target that uses it gets the program's path and a build dependency:
//   target_compile_definitions(<target> PRIVATE R4T8_SIM_PATH="$<TARGET_FILE:r4t8-sim>")
//   add_dependencies(<target> r4t8-sim)
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace r4t8::testing {

// One line of the simulator's frame log: "RX ..." (received) or "TX ..." (sent).
struct SimLogEntry {
    bool sent = false;
    std::vector<uint8_t> bytes;
};

class SimProcess {
  public:
#ifdef R4T8_SIM_PATH
    SimProcess() : SimProcess(R4T8_SIM_PATH) {}
#endif
    explicit SimProcess(std::string program) : m_program(std::move(program)) {}
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess() {
        Stop();
        if (m_stdout >= 0) close(m_stdout);
        if (!m_dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
    }

    // Starts the program with `args` (a --log into a private folder is added) and waits for
    // the pty path on its first output line.
    bool Start(const std::vector<std::string>& args, int timeoutMs = 10000) {
        if (m_pid > 0) return false;
        char dirTemplate[] = "/tmp/r4t8-simtest-XXXXXX";
        if (!mkdtemp(dirTemplate)) return false;
        m_dir = dirTemplate;
        m_logPath = m_dir + "/frames.log";

        std::vector<std::string> all = {m_program};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back("--log");
        all.push_back(m_logPath);
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);

        int in[2];
        int out[2];
        // A socket for standard input, so that writing after the child died gives EPIPE,
        // not a SIGPIPE to the test.
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) return false;
        if (pipe2(out, O_CLOEXEC) != 0) return false;
        const pid_t pid = fork();
        if (pid < 0) return false;
        if (pid == 0) {
            dup2(in[1], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[1]);
        close(out[1]);
        m_pid = pid;
        m_stdin = in[0];
        m_stdout = out[0];
        const auto path = ReadLine(timeoutMs);
        if (!path || path->empty()) {
            Stop();
            return false;
        }
        m_ptyPath = *path;
        return true;
    }

    const std::string& PtyPath() const { return m_ptyPath; }
    const std::string& LogPath() const { return m_logPath; }
    const std::string& Folder() const { return m_dir; }
    pid_t Pid() const { return m_pid; }

    bool SendLine(const std::string& line) {
        if (m_stdin < 0) return false;
        const std::string data = line + "\n";
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = send(m_stdin, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Ends the simulator's standard input (it exits at the end of input).
    void CloseStdin() {
        if (m_stdin >= 0) close(m_stdin);
        m_stdin = -1;
    }

    // The next line of standard output, without its newline.
    std::optional<std::string> ReadLine(int timeoutMs = 5000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (const auto nl = m_outBuffer.find('\n'); nl != std::string::npos) {
                std::string line = m_outBuffer.substr(0, nl);
                m_outBuffer.erase(0, nl + 1);
                return line;
            }
            if (m_stdout < 0) return std::nullopt;
            const int left = RemainingMs(deadline);
            if (left <= 0) return std::nullopt;
            pollfd p{m_stdout, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(m_stdout, buf, sizeof buf);
            if (n <= 0) {
                close(m_stdout);
                m_stdout = -1;
                continue;
            }
            m_outBuffer.append(buf, static_cast<size_t>(n));
        }
    }

    // Sends a command and returns its one-line answer (empty when none came).
    std::string Command(const std::string& line, int timeoutMs = 5000) {
        if (!SendLine(line)) return {};
        return ReadLine(timeoutMs).value_or(std::string());
    }

    // The simulator's 65536-byte memory; empty when the dump failed.
    std::vector<uint8_t> DumpMemory() {
        const std::string path = m_dir + "/memory-" + std::to_string(++m_dumps) + ".bin";
        if (Command("dump " + path) != "dumped " + path) return {};
        std::ifstream f(path, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)),
                                    std::istreambuf_iterator<char>());
    }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        std::ifstream f(m_logPath);
        for (std::string l; std::getline(f, l);) lines.push_back(l);
        return lines;
    }

    // The RX and TX lines of the frame log, in order; other lines are left out.
    std::vector<SimLogEntry> Log() const {
        std::vector<SimLogEntry> entries;
        for (const std::string& line : LogLines()) {
            const bool rx = line.rfind("RX ", 0) == 0;
            const bool tx = line.rfind("TX ", 0) == 0;
            if (!rx && !tx) continue;
            SimLogEntry e;
            e.sent = tx;
            std::istringstream in(line.substr(3));
            for (std::string tok; in >> tok;)
                e.bytes.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
            entries.push_back(std::move(e));
        }
        return entries;
    }

    // Waits for the program to end by itself; its exit status, or nothing on time-out.
    std::optional<int> WaitExit(int timeoutMs) {
        if (m_pid <= 0) return m_exitStatus;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int status = 0;
            const pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_pid = -1;
                m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                CloseStdin();
                return m_exitStatus;
            }
            if (RemainingMs(deadline) <= 0) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // SIGTERM, a bounded wait, then SIGKILL. Returns the exit status (128 + signal when
    // killed), or -1 when it was not running.
    int Stop(int timeoutMs = 5000) {
        if (m_pid <= 0) {
            CloseStdin();
            return m_exitStatus.value_or(-1);
        }
        kill(m_pid, SIGTERM);
        if (const auto rc = WaitExit(timeoutMs)) return *rc;
        kill(m_pid, SIGKILL);
        return WaitExit(timeoutMs).value_or(-1);
    }

  private:
    using Clock = std::chrono::steady_clock;
    static int RemainingMs(Clock::time_point deadline) {
        return static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    }

    std::string m_program;
    std::string m_dir;
    std::string m_logPath;
    std::string m_ptyPath;
    std::string m_outBuffer;
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_dumps = 0;
    std::optional<int> m_exitStatus;
};

}  // namespace r4t8::testing
