// The real session (receiver, sender, dispatcher, sequences, SafeWrite on top) against the
// simulator's controller and line side, in one process and in virtual time: the port feeds
// SimServer::OnBytes, and what the simulator puts on the line reaches cm1ReceiveData with its
// arrival stamp on the same fake clock. Runs repeat bit for bit and take no wall time.
#pragma once

#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FakeTimeSource.h"
#include "FakeUserInterface.h"
#include "SimServer.h"
#include "config/DeviceSettings.h"
#include "protocol/CommandSender.h"
#include "session/DeviceSession.h"

namespace r4t8::testing {

// Every request the tool wrote, with the time it did.
struct WrittenRequest {
    int64_t atUs = 0;
    Bytes line;  // escaped, as written
    uint8_t command = 0;
};

class VirtualRig {
  public:
    explicit VirtualRig(sim::ControllerSettings controller = {})
        : settings(&ui),
          controller(std::move(controller)),
          server(this->controller,
                 [this](const std::string& line) {
                     simLog.push_back(line);
                     if (trace) trace("sim  " + line);
                 }),
          port(*this),
          session(port, time, ui, settings) {
        server.SetDebugIntervalMs(500);
    }
    VirtualRig(const VirtualRig&) = delete;
    VirtualRig& operator=(const VirtualRig&) = delete;

    void SetFaults(const sim::FaultOptions& faults) {
        server.SetFaults(faults, time.NowUs() * 1000);
    }

    // Delivers what the line holds now, or moves the clock to the next timer or line event
    // (never past `endUs`). False when there was nothing left to do before `endUs`.
    bool Step(int64_t endUs) {
        const int64_t nowUs = time.NowUs();
        const Bytes out = server.TakeOutput(nowUs * 1000);
        if (!out.empty()) {
            for (size_t at = 0; at < out.size(); at += 65535) {
                const size_t n = std::min<size_t>(65535, out.size() - at);
                session.cm1ReceiveData(out.data() + at, static_cast<uint16_t>(n), nowUs);
            }
            return true;
        }
        int64_t next = endUs;
        if (const auto due = time.NextDueUs()) next = std::min(next, *due);
        if (const auto wake = server.NextWakeNs())
            next = std::min(next, std::max(nowUs, (*wake + 999) / 1000));
        if (next <= nowUs) {
            // A timer due now: AdvanceToUs fires it.
            const auto due = time.NextDueUs();
            if (due && *due <= nowUs) {
                time.AdvanceToUs(nowUs);
                return true;
            }
            if (nowUs >= endUs) return false;
            next = nowUs + 1;
        }
        time.AdvanceToUs(next);
        return true;
    }

    // Runs until `done` holds or `capMs` of virtual time passed; false on the cap.
    template <typename Pred>
    bool RunUntil(Pred done, int64_t capMs) {
        const int64_t endUs = time.NowUs() + capMs * 1000;
        while (!done()) {
            if (time.NowUs() >= endUs) return false;
            if (!Step(endUs) && time.NowUs() >= endUs) return done();
        }
        return true;
    }
    void RunFor(int64_t ms) {
        RunUntil([] { return false; }, ms);
    }

    // The first outcome of `op` reported from index `from` on.
    std::optional<Outcome> OutcomeOf(Operation op, size_t from = 0) const {
        for (size_t i = from; i < ui.outcomes.size(); ++i)
            if (ui.outcomes[i].first == op) return ui.outcomes[i].second;
        return std::nullopt;
    }
    bool RunUntilOutcome(Operation op, int64_t capMs, size_t from = 0) {
        return RunUntil([&] { return OutcomeOf(op, from).has_value(); }, capMs);
    }

    bool Login(const QString& password = QStringLiteral("5807")) {
        const size_t mark = ui.outcomes.size();
        session.btn7Click(password);
        RunUntilOutcome(Operation::Login, 10000, mark);
        return OutcomeOf(Operation::Login, mark) == Outcome::Succeeded;
    }

    // Requests written with this command code, in order.
    std::vector<WrittenRequest> Written(uint8_t command) const {
        std::vector<WrittenRequest> out;
        for (const WrittenRequest& w : written)
            if (w.command == command) out.push_back(w);
        return out;
    }
    int Messages(const QString& text) const {
        return static_cast<int>(ui.MessageTexts().count(text));
    }

    QTemporaryDir dir;
    FakeTimeSource time;
    FakeUserInterface ui;
    DeviceSettings settings;
    sim::SimController controller;
    std::vector<std::string> simLog;
    sim::SimServer server;
    std::vector<WrittenRequest> written;
    // Runs after each write of the tool, before the simulator sees it.
    std::function<void(const WrittenRequest&)> onWrite;
    // Sees every line of the simulator's log and every write of the tool, when set.
    std::function<void(const std::string&)> trace;

  private:
    class Port : public IPort {
      public:
        explicit Port(VirtualRig& rig) : m_rig(rig) {}
        bool WriteBytes(const uint8_t* data, size_t count) override {
            if (count == 0) return false;
            WrittenRequest w{m_rig.time.NowUs(), Bytes(data, data + count), 0};
            const Bytes body = UnescapeFrame(data + 1, count >= 2 ? count - 2 : 0);
            w.command = body.size() > 2 ? body[2] : 0;
            m_rig.written.push_back(w);
            if (m_rig.trace) m_rig.trace("tool " + sim::HexBytes(w.line));
            if (m_rig.onWrite) m_rig.onWrite(w);
            m_rig.server.OnBytes(data, count, m_rig.time.NowUs() * 1000,
                                 m_rig.time.CurrentDateTime());
            return true;
        }

      private:
        VirtualRig& m_rig;
    };

  public:
    Port port;
    DeviceSession session;
};

}  // namespace r4t8::testing
