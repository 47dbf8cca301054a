// The fault matrix: every sequence (row) against every line fault of r4t8-sim (column), end
// to end over a real pty with the real session. Each cell checks the outcome and messages,
// that the run ended in bounded time, what the controller's memory holds afterwards, and that
// the next operation succeeds once the fault is cleared. Each cell leaves one line in
// fault-matrix/<row>-<column>.tsv under the test output folder for the README table.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "MatrixRig.h"

using namespace r4t8;
using namespace r4t8::matrix;

namespace {

const QString kTimeout = QStringLiteral("发送命令超时");
const QString kWriteReport = QStringLiteral("写入未完成。");

struct Row;

// What one run of a sequence did.
struct RunResult {
    bool finished = false;
    bool hungUp = false;
    Outcome outcome = Outcome::Failed;
    int64_t elapsedMs = 0;
    QStringList messages;
    std::vector<int64_t> messageMs;  // from the start of the run
};

struct Row {
    const char* key;
    const char* title;
    std::vector<Operation> ops;  // reported in this order when the sequence succeeds
    std::function<void(Rig&)> start;
    QString success;     // the one message of a success (empty: none expected)
    QString refusal;     // the message of a status-0 reply (empty: a data reply)
    std::string refuse;  // the command the refusal column refuses
    // Checks what a successful run left; returns what is wrong ("" when right).
    std::function<std::string(Rig&)> verify;
};

const ConfigImage kStart = VariantImage(0);

std::string VerifyWrite(Rig& rig) {
    const ConfigImage expected = EncodeAll(rig.settings, kStart);
    if (rig.sim->DumpMemory() != ToVector(expected)) return "memory differs from the written set";
    return {};
}

std::string VerifyRead(Rig& rig) {
    // Fields of every block: a block stored in another's place shows in them.
    for (const auto& [name, value] : VariantFields(0))
        if (rig.settings.Text(name) != value)
            return name.toStdString() + " reads \"" + rig.settings.Text(name).toStdString() + "\"";
    return {};
}

std::string VerifyHistory(Rig& rig) {
    const auto& t = rig.session.History().LastDownload();
    if (t.empty()) return "no records";
    auto key = [](const HistoryRecord& r) {
        return std::make_tuple(r.year, r.month, r.day, r.hour, r.minute, r.second);
    };
    for (size_t i = 1; i < t.size(); ++i)
        if (!(key(t[i - 1]) < key(t[i]))) return "records repeated or out of order";
    return {};
}

std::string StatusHas(Rig& rig, const std::string& word) {
    const std::string status = rig.sim->Command("status");
    return status.find(word) == std::string::npos ? "simulator " + status : std::string();
}

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {"login",
         "login",
         {Operation::Login},
         [](Rig& r) { r.session.btn7Click(QStringLiteral("5807")); },
         QStringLiteral("密码正确"),
         QStringLiteral("密码错误"),
         "cmd_login",
         [](Rig& r) { return r.session.Model() == "R4T1" ? "" : "model not taken"; }},
        {"read",
         "read settings",
         {Operation::ReadSettings},
         [](Rig& r) { r.session.Config().btn_loadClick(); },
         QStringLiteral("读取结束"),
         QStringLiteral("读取失败"),
         "cmd_read_block",
         VerifyRead},
        {"write",
         "write settings",
         {Operation::WriteSettings, Operation::WriteDone},
         [](Rig& r) {
             ApplyVariant(r.settings, 1);
             r.session.Config().btn_downClick();
         },
         QStringLiteral("写入成功"),
         QStringLiteral("擦出失败"),
         "cmd_erase_block",
         VerifyWrite},
        {"history",
         "history query",
         {Operation::HistoryQuery},
         [](Rig& r) {
             r.session.History().SetExportFolder(r.dir.path());
             r.session.History().Button1Click(QDate(2014, 3, 1), QDate(2014, 3, 2));
         },
         QStringLiteral("导出历史数据成功"),
         {},
         "cmd_history_count",
         VerifyHistory},
        {"current",
         "current data",
         {Operation::CurrentData},
         [](Rig& r) { r.session.Operations().btn_inquire_curdatClick(); },
         {},
         {},
         "cmd_current_data",
         [](Rig& r) {
             return r.session.Operations().CurrentDataCell(1).isEmpty() ? "no readings" : "";
         }},
        {"relay",
         "relay",
         {Operation::Relay},
         [](Rig& r) {
             RelayInputs in;
             in.comboIndex = 0;
             in.edit8 = "10";
             r.session.Operations().Button3Click(in);
         },
         QStringLiteral("操作成功"),
         QStringLiteral("继电器操作失败"),
         "cmd_relay",
         [](Rig& r) { return StatusHas(r, "relay=C"); }},
        {"clockset",
         "clock set",
         {Operation::SetTime},
         [](Rig& r) { r.session.Operations().Button4Click(QDate(2021, 6, 5), QTime(4, 3, 2)); },
         QStringLiteral("设置时间成功"),
         QStringLiteral("设置时间失败"),
         "cmd_set_time",
         [](Rig&) { return std::string(); }},
        {"clockget",
         "clock get",
         {Operation::GetTime},
         [](Rig& r) { r.session.Operations().btn_acquiretimeClick(); },
         {},
         {},
         "cmd_get_time",
         [](Rig& r) {
             return r.session.Operations().LastDeviceTime().isValid() ? "" : "no clock shown";
         }},
        {"debug",
         "debug mode",
         {Operation::DebugMode},
         [](Rig& r) { r.session.Operations().Button5Click(); },
         QStringLiteral("开启调试模式成功"),
         QStringLiteral("开启调试模式失败"),
         "cmd_debug_mode",
         [](Rig& r) { return StatusHas(r, "debug=1"); }},
        {"factory",
         "factory reset",
         {Operation::FactoryReset},
         [](Rig& r) { r.session.Operations().btn_industrialClick(); },
         QStringLiteral("工厂化成功"),
         QStringLiteral("工厂化失败"),
         "cmd_factory_reset",
         [](Rig& r) {
             return r.sim->DumpMemory() == std::vector<uint8_t>(65536, 0xFF) ? "" : "not reset";
         }},
    };
    return rows;
}

enum class Expect { Recover, TimeOut, Either, Refusal, Hangup };

struct Column {
    const char* key;
    const char* title;
    const char* spec;
    Expect expect;
};

const std::vector<Column>& Columns() {
    static const std::vector<Column> cols = {
        {"drop1", "one reply dropped", "drop-next 1", Expect::Recover},
        {"dropall", "all dropped", "drop-rate 1", Expect::TimeOut},
        {"corrupt", "checksum corrupted", "corrupt-checksum-next 1", Expect::Recover},
        {"dup", "reply duplicated", "duplicate-rate 1", Expect::Recover},
        {"delay950", "delayed 0.95 s", "delay 950", Expect::Recover},
        {"delay1500", "delayed 1.5 s", "delay 1500", Expect::Recover},
        {"delay4100", "delayed 4.1 s", "delay 4100", Expect::TimeOut},
        {"trickle", "trickled 5 ms/byte", "trickle 5", Expect::Recover},
        {"burst", "two replies in one burst", "burst", Expect::Recover},
        {"garbage", "garbage between frames", "garbage", Expect::Recover},
        {"stray", "stray A5/AA", "stray-a5", Expect::Recover},
        {"bitflip", "bit flips 1e-3", "bitflip 0.001", Expect::Either},
        {"refuse", "refused (status 0)", "", Expect::Refusal},
        {"hangup", "hangup after each step", "", Expect::Hangup},
    };
    return cols;
}

// Every outcome of the row reported as a success, or one of them as anything else.
bool Finished(const Row& row, const std::vector<std::pair<Operation, Outcome>>& got) {
    size_t succeeded = 0;
    for (Operation want : row.ops) {
        for (const auto& [op, outcome] : got) {
            if (op != want) continue;
            if (outcome != Outcome::Succeeded) return true;
            ++succeeded;
            break;
        }
    }
    return succeeded == row.ops.size();
}

RunResult RunRow(Rig& rig, const Row& row, int capMs = 40000) {
    RunResult r;
    const size_t mark = rig.ui.outcomes.size();
    const size_t msgMark = rig.ui.messages.size();
    const int64_t t0 = rig.time.NowMs();
    row.start(rig);
    r.finished =
        rig.RunUntil([&] { return rig.hungUp || Finished(row, rig.OutcomesSince(mark)); }, capMs);
    // A query that found records goes on with its export.
    if (r.finished && row.ops.front() == Operation::HistoryQuery &&
        !rig.session.History().LastDownload().empty()) {
        rig.RunUntil(
            [&] {
                for (const auto& [op, outcome] : rig.OutcomesSince(mark))
                    if (op == Operation::HistoryExport) return true;
                return rig.hungUp;
            },
            10000);
    }
    r.hungUp = rig.hungUp;
    r.elapsedMs = rig.time.NowMs() - t0;
    // Late copies of a reply must not bring a second message.
    if (!r.hungUp) rig.RunFor(300);
    const auto got = rig.OutcomesSince(mark);
    r.outcome = Outcome::Succeeded;
    for (const auto& [op, outcome] : got)
        if (std::find(row.ops.begin(), row.ops.end(), op) != row.ops.end() &&
            outcome != Outcome::Succeeded)
            r.outcome = outcome;
    if (!Finished(row, got) && r.outcome == Outcome::Succeeded) r.outcome = Outcome::Aborted;
    for (size_t i = msgMark; i < rig.ui.messages.size(); ++i) {
        // Questions (the factory reset's confirmation, the export's "open it?") are no outcome.
        if (rig.ui.messages[i].buttons != MsgButtons::Ok) continue;
        r.messages << rig.ui.messages[i].text;
        r.messageMs.push_back(rig.ui.times[i] - t0);
    }
    return r;
}

std::string Seconds(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

std::string Describe(const RunResult& r) {
    std::string s;
    switch (r.outcome) {
        case Outcome::Succeeded:
            s = "succeeded";
            break;
        case Outcome::Failed:
            s = "failed";
            break;
        case Outcome::TimedOut:
            s = "timed out";
            break;
        case Outcome::Aborted:
            s = r.hungUp ? "line hung up" : "unfinished";
            break;
    }
    for (int i = 0; i < r.messages.size(); ++i)
        s += " \"" + r.messages[i].toStdString() + "\" at " + Seconds(r.messageMs[i]);
    if (r.messages.isEmpty()) s += " in " + Seconds(r.elapsedMs);
    return s;
}

class FaultMatrix : public ::testing::TestWithParam<std::tuple<size_t, size_t>> {
  protected:
    const Row& row() const { return Rows()[std::get<0>(GetParam())]; }
    const Column& col() const { return Columns()[std::get<1>(GetParam())]; }

    void SetUp() override { ASSERT_TRUE(rig.dir.isValid()); }

    void TearDown() override {
        const QString dir = QStringLiteral(R4T8_TEST_OUTPUT "/fault-matrix");
        QDir().mkpath(dir);
        QFile f(dir + "/" + row().key + "-" + col().key + ".tsv");
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
        const std::string line = std::to_string(std::get<0>(GetParam())) + "\t" +
                                 std::to_string(std::get<1>(GetParam())) + "\t" + row().title +
                                 "\t" + col().title + "\t" + (HasFailure() ? "FAIL" : "pass") +
                                 "\t" + summary + "\n";
        f.write(line.data(), static_cast<qint64>(line.size()));
    }

    // A fresh controller with the start image, logged in unless this is the login row.
    void Begin(std::vector<std::string> args = {}) {
        ASSERT_TRUE(rig.StartSim(kStart, std::move(args)));
        if (std::string(row().key) != "login") {
            ASSERT_TRUE(rig.Login());
        }
    }

    void Fault(const std::string& spec) {
        ASSERT_EQ(rig.sim->Command("fault " + spec), "fault ok");
    }

    // A successful run: the one success message, what it left verified.
    void ExpectSuccess(const RunResult& r, const char* when) {
        SCOPED_TRACE(when);
        EXPECT_TRUE(r.finished) << Describe(r);
        EXPECT_EQ(r.outcome, Outcome::Succeeded) << Describe(r);
        EXPECT_FALSE(r.messages.contains(kTimeout)) << Describe(r);
        if (!row().success.isEmpty()) {
            EXPECT_EQ(r.messages, QStringList{row().success}) << Describe(r);
        }
        if (r.outcome == Outcome::Succeeded) {
            EXPECT_EQ(row().verify(rig), "");
        }
    }

    void ExpectOneTimeout(const RunResult& r) {
        EXPECT_TRUE(r.finished) << Describe(r);
        EXPECT_EQ(r.outcome, Outcome::TimedOut) << Describe(r);
        ASSERT_EQ(r.messages.count(kTimeout), 1) << Describe(r);
        if (std::string(row().key) == "write") {
            // A write that stops says where it left the blocks.
            ASSERT_EQ(r.messages.size(), 2) << Describe(r);
            EXPECT_TRUE(r.messages[1].startsWith(kWriteReport)) << Describe(r);
        } else {
            EXPECT_EQ(r.messages.size(), 1) << Describe(r);
        }
        const int64_t at = r.messageMs[static_cast<size_t>(r.messages.indexOf(kTimeout))];
        EXPECT_GE(at, 3900);
        EXPECT_LE(at, 6000);
    }

    // After a write that did not complete: nothing but a clean prefix of blocks changed, and
    // no block went out without its erase or with another block's data.
    void ExpectCleanPartialWrite(const ConfigImage& target) {
        const auto replay = Rig::ReplayLog(*rig.sim, kStart, target);
        EXPECT_TRUE(replay.faults.empty()) << replay.faults.front();
        EXPECT_EQ(CheckPartialWrite(rig.sim->DumpMemory(), kStart, target), "ok");
    }

    void ExpectWriteLogClean() {
        if (std::string(row().key) != "write") return;
        const auto replay = Rig::ReplayLog(*rig.sim, kStart, EncodeAll(rig.settings, kStart));
        EXPECT_TRUE(replay.faults.empty()) << replay.faults.front();
    }

    // Fault cleared: the next operation succeeds in the same session.
    void Recover() {
        Fault("clear");
        const RunResult again = RunRow(rig, row());
        ExpectSuccess(again, "after the fault was cleared");
        ExpectWriteLogClean();
    }

    void RefusalCell();
    void HangupCell();

    Rig rig;
    std::string summary;
};

// Every erase and write step of the write is refused once in turn, on a controller of its own.
void FaultMatrix::RefusalCell() {
    if (std::string(row().key) != "write") {
        Begin();
        Fault("refuse " + row().refuse);
        const RunResult r = RunRow(rig, row(), 15000);
        summary = Describe(r);
        EXPECT_TRUE(r.finished) << summary;
        EXPECT_FALSE(r.messages.contains(kTimeout)) << summary;
        EXPECT_LE(r.messages.size(), 1) << summary;
        if (!row().refusal.isEmpty()) {
            EXPECT_EQ(r.outcome, Outcome::Failed) << summary;
            EXPECT_EQ(r.messages, QStringList{row().refusal}) << summary;
        }
        if (std::string(row().key) == "factory") {
            EXPECT_EQ(rig.sim->DumpMemory(), ToVector(kStart));
        }
        Recover();
        return;
    }
    std::vector<std::string> steps;
    for (int k = 1; k <= 4; ++k) {
        steps.push_back("cmd_erase_block:" + std::to_string(k));
        steps.push_back("cmd_write_block:" + std::to_string(k));
    }
    steps.push_back("cmd_write_done");
    int refusedRight = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i]);
        Begin({"--refuse", steps[i]});
        const RunResult r = RunRow(rig, row(), 15000);
        const bool doneStep = i == steps.size() - 1;
        const QString expected = doneStep             ? QStringLiteral("操作失败")
                                 : steps[i][4] == 'e' ? QStringLiteral("擦出失败")
                                                      : QStringLiteral("写入失败");
        QStringList messages = r.messages;
        if (doneStep) messages.removeAll(QStringLiteral("写入成功"));
        EXPECT_EQ(r.outcome, Outcome::Failed) << Describe(r);
        // The refusal, then where the blocks are (write-done comes after all were written).
        ASSERT_FALSE(messages.isEmpty()) << Describe(r);
        EXPECT_EQ(messages.front(), expected) << Describe(r);
        EXPECT_EQ(messages.size(), doneStep ? 1 : 2) << Describe(r);
        if (!doneStep) {
            EXPECT_TRUE(messages.back().startsWith(kWriteReport)) << Describe(r);
        }
        const ConfigImage target = EncodeAll(rig.settings, kStart);
        ExpectCleanPartialWrite(target);
        // Nothing after the refused step was sent.
        const auto log = rig.sim->Log();
        const size_t requests = static_cast<size_t>(
            std::count_if(log.begin(), log.end(), [](const auto& e) { return !e.sent; }));
        EXPECT_EQ(requests, i + 2) << "requests after the login";
        if (!HasFailure()) ++refusedRight;
        Fault("clear");
        ExpectSuccess(RunRow(rig, row()), "written again");
    }
    summary = std::to_string(refusedRight) +
              "/9 steps refused: 擦出失败 / 写入失败 / 操作失败 and "
              "where the blocks are, earlier blocks kept, nothing more sent; then written";
}

// The line closes after each request of the sequence in turn; the port is closed, opened on a
// new controller holding what the old one had, and the sequence run again.
void FaultMatrix::HangupCell() {
    const bool login = std::string(row().key) == "login";
    // How many requests the sequence sends on a clean line.
    Begin();
    const size_t before = rig.sim->Log().size();
    ExpectSuccess(RunRow(rig, row()), "clean run");
    size_t steps = 0;
    const auto log = rig.sim->Log();
    for (size_t i = before; i < log.size(); ++i) steps += log[i].sent ? 0 : 1;
    ASSERT_GT(steps, 0u);
    steps = std::min<size_t>(steps, 9);

    int interrupted = 0;
    for (size_t k = 1; k <= steps; ++k) {
        SCOPED_TRACE("hangup after request " + std::to_string(k));
        const ConfigImage start = kStart;
        rig.ui.outcomes.clear();
        Begin({"--hangup-after", std::to_string(k + (login ? 0 : 1))});
        const RunResult r = RunRow(rig, row(), 15000);
        EXPECT_TRUE(r.finished || r.hungUp) << Describe(r);
        if (!rig.hungUp) rig.RunUntil([&] { return rig.hungUp; }, 5000);
        EXPECT_TRUE(rig.hungUp);
        if (k < steps) ++interrupted;
        // The controller is gone; what it held is what its log says it did.
        const ConfigImage target = EncodeAll(rig.settings, kStart);
        const auto replay = Rig::ReplayLog(*rig.sim, start, target);
        EXPECT_TRUE(replay.faults.empty()) << replay.faults.front();
        if (std::string(row().key) == "write") {
            EXPECT_EQ(CheckPartialWrite(ToVector(replay.memory), kStart, target), "ok");
        }
        rig.comm.ClosePort();
        ASSERT_TRUE(rig.StartSim(replay.memory));
        ASSERT_TRUE(rig.Login());
        ExpectSuccess(RunRow(rig, row()), "on the reopened port");
    }
    summary = std::to_string(steps) + " hangup points (" + std::to_string(interrupted) +
              " interrupted): no wrong block; reopened and done again";
}

TEST_P(FaultMatrix, Cell) {
    const Column& c = col();
    if (c.expect == Expect::Refusal) return RefusalCell();
    if (c.expect == Expect::Hangup) return HangupCell();

    Begin();
    Fault(c.spec);
    const RunResult r = RunRow(rig, row(), 40000);
    summary = Describe(r);
    const bool write = std::string(row().key) == "write";
    switch (c.expect) {
        case Expect::Recover:
            ExpectSuccess(r, "with the fault");
            break;
        case Expect::TimeOut:
            ExpectOneTimeout(r);
            if (write) ExpectCleanPartialWrite(EncodeAll(rig.settings, kStart));
            break;
        case Expect::Either:
            // Random damage: recovered, or one time-out; never a wrong result.
            if (r.outcome == Outcome::Succeeded) {
                ExpectSuccess(r, "with bit flips");
            } else {
                ExpectOneTimeout(r);
                if (write) ExpectCleanPartialWrite(EncodeAll(rig.settings, kStart));
            }
            break;
        default:
            break;
    }
    ExpectWriteLogClean();
    Recover();
    if (!HasFailure() && c.expect != Expect::Recover) summary += "; then succeeded";
}

std::string CellName(const ::testing::TestParamInfo<FaultMatrix::ParamType>& info) {
    return std::string(Rows()[std::get<0>(info.param)].key) + "_" +
           Columns()[std::get<1>(info.param)].key;
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix,
                         ::testing::Combine(::testing::Range<size_t>(0, 10),
                                            ::testing::Range<size_t>(0, 14)),
                         CellName);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
