// A headless front end on the real DeviceSession over a real pty to r4t8-sim: TComm, the Qt
// time source and a user interface that records every message with the time it was shown.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "protocol/CommandSender.h"
#include "protocol/QtTimeSource.h"
#include "serial/SerialComm.h"
#include "session/DeviceSession.h"
#include "session/PortBinding.h"
#include "support/FakeUserInterface.h"
#include "support/SimProcess.h"
#include "support/Variants.h"

namespace r4t8::matrix {

// Records messages with their time and answers every question with yes / OK.
class RecordingUi : public testing::FakeUserInterface {
  public:
    explicit RecordingUi(const ITimeSource& time) : m_time(time) {}
    MsgAnswer ShowMessage(const QString& text, const QString& caption,
                          MsgButtons buttons) override {
        times.push_back(m_time.NowMs());
        testing::FakeUserInterface::ShowMessage(text, caption, buttons);
        return buttons == MsgButtons::Ok      ? MsgAnswer::Ok
               : buttons == MsgButtons::YesNo ? MsgAnswer::Yes
                                              : MsgAnswer::Ok;
    }
    std::vector<int64_t> times;  // of each message, NowMs

  private:
    const ITimeSource& m_time;
};

class Rig {
  public:
    Rig() : ui(time), settings(&ui), port(comm), session(port, time, ui, settings) {
        port.Attach(&session);
        port.SetStateListener([this](PortBinding::State state) {
            if (state == PortBinding::State::Lost) hungUp = true;
        });
    }
    ~Rig() {
        port.Attach(nullptr);
        comm.ClosePort();
    }

    // A new simulator holding `memory`, and the port opened on it.
    bool StartSim(const ConfigImage& memory, std::vector<std::string> args = {}) {
        const std::string path =
            dir.path().toStdString() + "/start-" + std::to_string(++m_sims) + ".bin";
        {
            std::ofstream f(path, std::ios::binary);
            f.write(reinterpret_cast<const char*>(memory.data()), memory.size());
        }
        args.insert(args.end(), {"--memory", path, "--generate-history"});
        return StartSimWith(args);
    }

    // A new simulator started with `args` alone, and the port opened on it.
    bool StartSimWith(const std::vector<std::string>& args) {
        comm.ClosePort();
        hungUp = false;
        sim = std::make_unique<testing::SimProcess>();
        if (!sim->Start(args)) return false;
        QString reason;
        return port.Open(QString::fromStdString(sim->PtyPath()), reason);
    }

    // Runs the event loop until `done` holds or `capMs` passed; false on the cap.
    template <typename Pred>
    bool RunUntil(Pred done, int capMs) {
        const int64_t end = time.NowMs() + capMs;
        // Sleeps until an event comes; the timer makes one at the cap. (processEvents with a
        // time limit drops WaitForMoreEvents and would spin a core.)
        QTimer cap;
        cap.setSingleShot(true);
        cap.setTimerType(Qt::PreciseTimer);
        while (!done()) {
            const int64_t left = end - time.NowMs();
            if (left <= 0) return false;
            if (!cap.isActive()) cap.start(static_cast<int>(left));  // again if it came early
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    void RunFor(int ms) {
        RunUntil([] { return false; }, ms);
    }

    // The outcomes reported from index `from` on.
    std::vector<std::pair<Operation, Outcome>> OutcomesSince(size_t from) const {
        return {ui.outcomes.begin() + static_cast<long>(std::min(from, ui.outcomes.size())),
                ui.outcomes.end()};
    }

    bool Login() {
        const size_t mark = ui.outcomes.size();
        session.btn7Click(QStringLiteral("5807"));
        RunUntil([&] { return ui.outcomes.size() > mark; }, 8000);
        return ui.outcomes.size() > mark && ui.outcomes[mark].second == Outcome::Succeeded;
    }

    // The simulator's memory as its frame log says it must be: the start image with every
    // logged erase and accepted write applied. Also reports any write that found its block
    // not erased, or that carried data other than `target`'s for that block.
    struct Replay {
        ConfigImage memory{};
        std::vector<std::string> faults;
        int erases = 0;
        int writes = 0;
    };
    static Replay ReplayLog(const testing::SimProcess& s, const ConfigImage& start,
                            const ConfigImage& target) {
        struct Line {
            std::string kind;
            std::vector<uint8_t> bytes;
        };
        std::vector<Line> lines;
        for (const std::string& text : s.LogLines()) {
            const auto space = text.find(' ');
            if (space == std::string::npos) continue;
            Line l{text.substr(0, space), {}};
            if (l.kind != "RX" && l.kind != "TX" && l.kind != "DROP") continue;
            std::istringstream in(text.substr(space + 1));
            for (std::string tok; in >> tok;)
                l.bytes.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
            lines.push_back(std::move(l));
        }
        Replay r;
        r.memory = start;
        std::map<uint32_t, bool> erased;
        std::map<uint32_t, std::vector<uint8_t>> lastWrite;
        for (size_t i = 0; i < lines.size(); ++i) {
            const Line& l = lines[i];
            if (l.kind != "RX" || l.bytes.size() < 13) continue;
            const uint8_t cmd = l.bytes[3];
            if (cmd != cmd_erase_block && cmd != cmd_write_block) continue;
            const uint32_t a = l.bytes[8] | l.bytes[9] << 8 | l.bytes[10] << 16 | l.bytes[11] << 24;
            if (a + kBlockSize > r.memory.size()) continue;
            // The controller's answer says whether it carried the request out.
            bool done = false;
            for (size_t j = i + 1; j < lines.size(); ++j) {
                const Line& t = lines[j];
                if (t.kind == "RX") break;
                if (t.bytes.size() > 8 && t.bytes[3] == cmd) {
                    done = t.bytes[8] == 1;
                    break;
                }
            }
            const std::string where = "block " + std::to_string(a);
            if (cmd == cmd_erase_block) {
                ++r.erases;
                lastWrite.erase(a);
                if (!done) continue;
                std::fill_n(r.memory.begin() + a, kBlockSize, 0xFF);
                erased[a] = true;
                continue;
            }
            if (l.bytes.size() < 12 + kBlockSize) continue;
            const std::vector<uint8_t> data(l.bytes.begin() + 12,
                                            l.bytes.begin() + 12 + kBlockSize);
            ++r.writes;
            if (!std::equal(data.begin(), data.end(), target.begin() + a))
                r.faults.push_back(where + " written with other data");
            // A resent copy of the write just taken is no write without an erase.
            if (!erased[a] && lastWrite[a] != data) r.faults.push_back(where + " written unerased");
            lastWrite[a] = data;
            if (!done) continue;
            std::copy(data.begin(), data.end(), r.memory.begin() + a);
            erased[a] = false;
        }
        return r;
    }

    QTemporaryDir dir;
    QtTimeSource time;
    RecordingUi ui;
    DeviceSettings settings;
    TComm comm;
    PortBinding port;
    DeviceSession session;
    std::unique_ptr<testing::SimProcess> sim;
    bool hungUp = false;

  private:
    int m_sims = 0;
};

// Describes how memory relates to the start (A) and target (B) images after a write that
// stopped: "ok" when every block before some k is B's, block k is A's, B's or erased, and
// every later block is A's, and nothing outside the four blocks changed.
inline std::string CheckPartialWrite(const std::vector<uint8_t>& mem, const ConfigImage& a,
                                     const ConfigImage& b) {
    if (mem.size() != a.size()) return "no memory dump";
    auto block = [&](const auto& img, uint32_t addr) {
        return std::equal(img.begin() + addr, img.begin() + addr + kBlockSize, mem.begin() + addr);
    };
    auto erased = [&](uint32_t addr) {
        return std::all_of(mem.begin() + addr, mem.begin() + addr + kBlockSize,
                           [](uint8_t x) { return x == 0xFF; });
    };
    for (size_t i = 0; i < mem.size(); ++i) {
        const bool inBlock = i >= 1024 && i < 4096 + kBlockSize;
        if (!inBlock && mem[i] != a[i]) return "byte " + std::to_string(i) + " changed";
    }
    int k = 0;
    while (k < 4 && block(b, kBlockAddresses[k])) ++k;
    if (k == 4) return "ok";
    const uint32_t at = kBlockAddresses[k];
    if (!block(a, at) && !erased(at)) return "block " + std::to_string(at) + " holds wrong data";
    for (int j = k + 1; j < 4; ++j)
        if (!block(a, kBlockAddresses[j]))
            return "block " + std::to_string(kBlockAddresses[j]) + " changed after the stop";
    return "ok";
}

}  // namespace r4t8::matrix
