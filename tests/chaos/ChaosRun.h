// One run of a random fault schedule and the invariants it checks (see test_chaos.cpp), for
// any environment that can run the real session against a controller on a faulty line.
#pragma once

#include <QDate>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "ChaosCheck.h"
#include "ChaosSchedule.h"
#include "operations/CurrentData.h"
#include "operations/DirectOperations.h"
#include "protocol/CommandSender.h"
#include "safety/ConfigArchive.h"
#include "safety/SafeWrite.h"
#include "support/FakeUserInterface.h"

namespace r4t8::chaos {

inline const QString kTimeoutText = QStringLiteral("发送命令超时");

struct Schedule {
    uint64_t seed = 0;
    const SeqInfo* seq = nullptr;
    sim::ChaosMode mode = sim::ChaosMode::Hostile;
    Memory memory = Memory::Configured;
    QDate from, to;  // of a history run
    int maxDelayMs = 3500;
    // 2: the sequence runs again as soon as the first run ended (its late copies still due).
    int runs = 1;

    std::string Describe() const {
        return std::string(seq->key) + ", " + sim::ChaosModeName(mode) + ", " + MemoryName(memory) +
               (runs > 1 ? ", twice" : "");
    }
};

// The schedule of a seed: the fault mode, the controller's memory, a history range.
inline Schedule Draw(uint64_t seed, const SeqInfo& seq) {
    Schedule s;
    s.seed = seed;
    s.seq = &seq;
    sim::SeededRandom r(seed ^ 0x7363686564756C65ULL);
    const uint32_t m = r.Below(100);
    s.mode = m < 55   ? sim::ChaosMode::Hostile
             : m < 80 ? sim::ChaosMode::Recoverable
                      : sim::ChaosMode::Slow;
    const uint32_t k = r.Below(10);
    s.memory = k < 5 ? Memory::Configured : k < 8 ? Memory::Blank : Memory::Pairs;
    // Mostly a range with a few pages of 2014; now and then one without records.
    s.from = QDate(r.Below(10) == 0 ? 2013 : 2014, 1, 1).addDays(r.Below(330));
    s.to = s.from.addDays(r.Below(12));
    s.runs = r.Below(10) < 3 ? 2 : 1;
    return s;
}

struct Result {
    std::string failure;  // empty: every invariant held
    bool succeeded = false;
    bool outsideRecoverable = false;  // the schedule could not keep its guarantee
    CommandSender::Counters guard;
};

// One run of a schedule against an environment: in virtual time (test_chaos.cpp) or over a
// pty against r4t8-sim (test_chaos_e2e.cpp). Env provides the session, its user interface,
// the clock and a look at the controller (see the two for what that takes).
template <typename Env>
class Runner {
  public:
    Runner(const Schedule& s, Env& env) : m_s(s), m_info(*s.seq), env(env) {}

    Result Run() {
        Result r;
        r.failure = Execute(r);
        r.guard = env.Session().Commands().Stats();
        r.outsideRecoverable = env.Violations() > 0;
        return r;
    }

  private:
    bool Terminal() const {
        switch (m_info.seq) {
            case Seq::Login:
                return Has(Operation::Login);
            case Seq::Read:
                return Has(Operation::ReadSettings);
            case Seq::Write:
                return Has(Operation::WriteDone) ||
                       (Has(Operation::WriteSettings) &&
                        *OutcomeOf(Operation::WriteSettings) != r4t8::Outcome::Succeeded);
            case Seq::History:
                return Has(Operation::HistoryQuery);
            case Seq::CurrentData:
                return Has(Operation::CurrentData);
            case Seq::Relay:
                return Has(Operation::Relay);
            case Seq::ClockSet:
                return Has(Operation::SetTime);
            case Seq::ClockGet:
                return Has(Operation::GetTime);
            case Seq::Debug:
                return Has(Operation::DebugMode);
            case Seq::FactoryReset:
                return Has(Operation::FactoryReset);
            case Seq::BackupWriteVerify:
                return m_safeDone;
        }
        return false;
    }
    std::optional<r4t8::Outcome> OutcomeOf(Operation op) const {
        const auto& outcomes = env.Ui().outcomes;
        for (size_t i = m_mark; i < outcomes.size(); ++i)
            if (outcomes[i].first == op) return outcomes[i].second;
        return std::nullopt;
    }
    bool Has(Operation op) const { return OutcomeOf(op).has_value(); }
    bool Succeeded() const {
        switch (m_info.seq) {
            case Seq::Write:
                return OutcomeOf(Operation::WriteSettings) == r4t8::Outcome::Succeeded &&
                       OutcomeOf(Operation::WriteDone) == r4t8::Outcome::Succeeded;
            case Seq::BackupWriteVerify:
                return m_safe->Report().outcome == r4t8::Outcome::Succeeded;
            default: {
                for (size_t i = m_mark; i < env.Ui().outcomes.size(); ++i)
                    if (env.Ui().outcomes[i].second != r4t8::Outcome::Succeeded) return false;
                return env.Ui().outcomes.size() > m_mark;
            }
        }
    }

    void Start() {
        switch (m_info.seq) {
            case Seq::Login:
                env.Session().btn7Click(QStringLiteral("5807"));
                break;
            case Seq::Read:
                env.Session().Config().btn_loadClick();
                break;
            case Seq::Write:
                env.Session().Config().btn_downClick();
                break;
            case Seq::History:
                env.Session().History().Button1Click(m_s.from, m_s.to);
                break;
            case Seq::CurrentData:
                env.Session().Operations().btn_inquire_curdatClick();
                break;
            case Seq::Relay: {
                RelayInputs in;
                in.comboIndex = 0;
                in.edit8 = QStringLiteral("10");
                env.Session().Operations().Button3Click(in);
                break;
            }
            case Seq::ClockSet:
                env.Session().Operations().Button4Click(QDate(2021, 6, 5), QTime(4, 3, 2));
                break;
            case Seq::ClockGet:
                env.Session().Operations().btn_acquiretimeClick();
                break;
            case Seq::Debug:
                env.Session().Operations().Button5Click();
                break;
            case Seq::FactoryReset:
                env.Session().Operations().btn_industrialClick();
                break;
            case Seq::BackupWriteVerify:
                m_safe->WriteSettings();
                break;
        }
    }

    // The right data of a success.
    std::string CheckSuccess() {
        const ConfigImage memory = env.Memory();
        switch (m_info.seq) {
            case Seq::Login:
                return env.Session().Model() == QStringLiteral("R4T1") ? "" : "model not taken";
            case Seq::Read: {
                const std::string d = CheckRead(env.Settings(), m_start);
                return d.empty() ? "" : "read shows " + d;
            }
            case Seq::Write:
                return memory == m_target ? "" : "memory differs from what was written";
            case Seq::History: {
                const auto& got = env.Session().History().LastDownload();
                if (!SameRecords(got, m_expectedRecords))
                    return "history holds " + std::to_string(got.size()) + " records, not the " +
                           std::to_string(m_expectedRecords.size()) + " of the range";
                return {};
            }
            case Seq::CurrentData: {
                const auto got = CurrentDataTexts(env.Session().Operations().LastSnapshot());
                for (const Bytes& p : SentPayloads(env.SimLog(), cmd_current_data))
                    if (CurrentDataTexts(DecodeCurrentData(p.data(), p.size()).snapshot) == got)
                        return {};
                return "readings shown were never sent";
            }
            case Seq::ClockGet: {
                const QDateTime got = env.Session().Operations().LastDeviceTime();
                for (const Bytes& p : SentPayloads(env.SimLog(), cmd_get_time))
                    if (FromDeviceTime(p.data(), p.size()) == got) return {};
                return "clock shown was never sent";
            }
            case Seq::Relay:
                return env.RelayMode() == 'C' ? "" : "relay not closed";
            case Seq::ClockSet: {
                // Where the controller's clock cannot be looked at, its message has to do.
                const std::optional<Bytes> t = env.DeviceTime();
                return !t || ((*t)[0] == 21 && (*t)[1] == 6 && (*t)[2] == 5) ? "" : "clock not set";
            }
            case Seq::Debug:
                return env.DebugOn() ? "" : "debug mode not on";
            case Seq::FactoryReset:
                return memory == env.FactoryImage() ? "" : "memory not reset";
            case Seq::BackupWriteVerify: {
                const SafeWriteReport& rep = m_safe->Report();
                if (memory != m_target) return "memory differs from what was written";
                if (!rep.verified) return "success without a verify";
                if (!rep.backupBlocks || *rep.backupBlocks != BlocksFromImage(m_start))
                    return "the backup does not hold what the controller held";
                return {};
            }
        }
        return {};
    }

    std::string Execute(Result& result) {
        m_start = StartImage(m_s.memory);
        if (!env.Prepare(m_start, m_info.seq == Seq::History)) return "no controller";
        if (m_info.seq == Seq::History)
            env.Session().History().SetExportFolders(env.Dir(), env.Dir());
        if (m_info.seq != Seq::Login && !env.Login()) return "login on a clean line failed";
        if (m_info.seq == Seq::Write || m_info.seq == Seq::BackupWriteVerify) {
            matrix::ApplyVariant(env.Settings(), 1);
            RawBlocks blocks{};
            EncodeBlocks(env.Settings(), blocks);
            m_target = m_start;
            CopyBlocksToImage(blocks, m_target);
        }
        if (m_info.seq == Seq::BackupWriteVerify) {
            m_archive = std::make_unique<ConfigArchive>(env.Dir() + "/archive");
            m_safe = std::make_unique<SafeWrite>(env.Session(), *m_archive, env.Time(), env.Ui());
            m_safe->SetOnFinished([this](const SafeWriteReport&) { m_safeDone = true; });
        }
        int pages = 0;
        if (m_info.seq == Seq::History) {
            m_expectedRecords = env.ExpectedRecords(m_s.from, m_s.to, pages);
        }

        // No new request while the one before still waits: one went out only after an answer
        // was taken or a time-out reported since the one before it.
        std::string overlap;
        Bytes last;
        uint64_t answersAt = 0;
        size_t timeoutsAt = 0;
        env.WatchWrites([&](const Bytes& line) {
            const uint64_t answers = env.Session().Commands().Stats().answers;
            const size_t timeouts = Timeouts();
            if (line == last) return;
            if (!last.empty() && answers == answersAt && timeouts == timeoutsAt && overlap.empty())
                overlap = "a request went out while the one before it waited";
            last = line;
            answersAt = answers;
            timeoutsAt = timeouts;
        });

        if (!env.StartChaos(m_s.seed, m_s.mode, m_s.maxDelayMs)) return "no fault schedule";
        for (int run = 0; run < m_s.runs; ++run) {
            const std::string failure = Cycle(result, pages, run + 1 == m_s.runs);
            if (!failure.empty())
                return m_s.runs > 1 ? "run " + std::to_string(run + 1) + ": " + failure : failure;
            if (!overlap.empty()) return overlap;
        }
        return {};
    }

    // One run of the sequence and its checks; the last one also waits for late frames.
    std::string Cycle(Result& result, int pages, bool last) {
        m_start = env.Memory();
        m_safeDone = false;
        m_mark = env.Ui().outcomes.size();
        const size_t messages = env.Ui().messages.size();
        const int64_t t0 = env.Time().NowMs();
        const int64_t bound = RunBoundMs(m_info, pages) + env.SlackMs();
        Start();
        env.RunUntil([&] { return Terminal(); }, bound + 1);
        const int64_t took = env.Time().NowMs() - t0;
        if (!Terminal()) return "no outcome within " + std::to_string(bound) + " ms: stalled";
        result.succeeded = Succeeded();
        if (env.Ui().messages.size() == messages && !(result.succeeded && m_info.success[0] == 0))
            return "ended without a message";

        if (last) {
            // Late frames must not bring a second outcome or message.
            const size_t outcomes = env.Ui().outcomes.size();
            const size_t shown = env.Ui().messages.size();
            env.RunFor(env.DrainMs());
            if (env.Ui().outcomes.size() != outcomes || env.Ui().messages.size() != shown)
                return "something more after the end: " +
                       env.Ui().messages.back().text.toStdString();
        }

        if (result.succeeded) {
            const std::string wrong = CheckSuccess();
            if (!wrong.empty()) return "success with wrong data: " + wrong;
            const QStringList shown = env.Ui().MessageTexts().mid(static_cast<qsizetype>(messages));
            const bool noRecords = m_info.seq == Seq::History && m_expectedRecords.empty() &&
                                   shown.contains(QStringLiteral("该时间段未查询到数据"));
            if (m_info.success[0] != 0 && !noRecords &&
                !shown.contains(QString::fromUtf8(m_info.success)))
                return "success without its message";
        } else {
            const bool mustSucceed = m_s.mode != sim::ChaosMode::Hostile && env.Violations() == 0;
            if (mustSucceed)
                return "failed after " + std::to_string(took) +
                       " ms: " + env.Ui().MessageTexts().join(" | ").toStdString();
            if (m_info.seq == Seq::Write || m_info.seq == Seq::BackupWriteVerify) {
                const std::string wrong = CheckFailedWrite(env.Memory(), m_start, m_target,
                                                           env.Session().Config().LastWriteReport(),
                                                           m_info.seq == Seq::Write);
                if (!wrong.empty()) return "failed write: " + wrong;
            }
        }
        return {};
    }

    size_t Timeouts() const {
        size_t n = 0;
        for (const auto& m : env.Ui().messages) n += m.text == kTimeoutText ? 1 : 0;
        return n;
    }

    Schedule m_s;
    const SeqInfo& m_info;
    Env& env;
    ConfigImage m_start{};
    ConfigImage m_target{};
    HistoryTable m_expectedRecords;
    std::unique_ptr<ConfigArchive> m_archive;
    std::unique_ptr<SafeWrite> m_safe;
    bool m_safeDone = false;
    size_t m_mark = 0;
};

}  // namespace r4t8::chaos
