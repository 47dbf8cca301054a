// r4t8ctl's backup, write, verify, restore and diff against r4t8-sim over a real pty: the
// frames the simulator saw, its memory afterwards, the program's output and exit status.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <array>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "config/RawBlocks.h"
#include "config/SetupForModel.h"
#include "protocol/Frame.h"
#include "safety/ConfigArchive.h"
#include "tests/support/SimProcess.h"
#include "tests/tools/ctl/CtlProcess.h"
#include "ui/file/ProfileFile.h"

namespace r4t8 {
namespace {

using testing::CtlResult;
using testing::RunCtl;
using testing::SimProcess;

constexpr uint8_t kRead = 17, kErase = 18, kWrite = 16, kWriteDone = 19;

void SetUpR4T1(DeviceSettings& s) {
    const char login[] = "\x01R4T1\0V2.3 20140105";
    SetupForModel(s, reinterpret_cast<const uint8_t*>(login), sizeof login);
}

// A controller as an installer leaves it: numbers, limits, server and a device number.
RawBlocks ConfiguredBlocks() {
    DeviceSettings s;
    SetUpR4T1(s);
    s.SetText("edt_tel1", "13800138000");
    s.SetText("edt_tel2", "02112345678");
    s.SetText("edt_Sensor1_SLow", "-10.50");
    s.SetText("edt_Sensor2_High", "45.00");
    s.SetText("edt_ip1", "alarm.example.org");
    s.SetText("edt_port", "8000");
    s.SetText("edt_id", "861234567890123");
    RawBlocks blocks;
    EXPECT_FALSE(EncodeBlocks(s, blocks).has_value());
    return blocks;
}

std::vector<uint8_t> ImageWith(const RawBlocks& blocks) {
    ConfigImage image;
    image.fill(0xFF);
    CopyBlocksToImage(blocks, image);
    return std::vector<uint8_t>(image.begin(), image.end());
}

RawBlocks BlocksOf(const std::vector<uint8_t>& memory) {
    ConfigImage image;
    image.fill(0xFF);
    if (memory.size() == image.size()) std::copy(memory.begin(), memory.end(), image.begin());
    return BlocksFromImage(image);
}

// Command codes of the requests the simulator received, in order.
std::vector<uint8_t> Requests(const SimProcess& sim) {
    std::vector<uint8_t> codes;
    for (const auto& e : sim.Log())
        if (!e.sent && e.bytes.size() > 3) codes.push_back(e.bytes[3]);
    return codes;
}

void EditIni(const std::string& path, std::initializer_list<std::array<const char*, 3>> entries) {
    ProfileFile file;
    file.Load(QString::fromStdString(path));
    for (const auto& e : entries) file.WriteString(e[0], e[1], QString::fromUtf8(e[2]));
    ASSERT_TRUE(file.SaveAs(QString::fromStdString(path)));
}

QString IniValue(const QString& path, const char* section, const char* key) {
    ProfileFile file;
    file.Load(path);
    return file.ReadString(section, key, QString());
}

const std::vector<uint8_t> kReads{kRead, kRead, kRead, kRead};
const std::vector<uint8_t> kWriteSequence{kErase, kWrite, kErase, kWrite,    kErase,
                                          kWrite, kErase, kWrite, kWriteDone};

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out{1};  // the login
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class CtlE2e : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    std::string Path(const QString& name) const { return m_dir.filePath(name).toStdString(); }

    // Starts a simulator holding `blocks` (all 0xFF when none).
    void StartSim(SimProcess& sim, const std::vector<std::string>& extra,
                  const RawBlocks* blocks = nullptr) {
        std::vector<std::string> args = extra;
        if (blocks) {
            const std::string mem = Path(QStringLiteral("memory-%1.bin").arg(++m_images));
            const auto image = ImageWith(*blocks);
            std::ofstream(mem, std::ios::binary)
                .write(reinterpret_cast<const char*>(image.data()),
                       static_cast<std::streamsize>(image.size()));
            args.insert(args.end(), {"--memory", mem});
        }
        ASSERT_TRUE(sim.Start(args));
    }

    CtlResult Ctl(const SimProcess& sim, std::vector<std::string> args,
                  const std::vector<std::string>& global = {}) {
        std::vector<std::string> all = {"--port", sim.PtyPath()};
        all.insert(all.end(), global.begin(), global.end());
        all.insert(all.end(), args.begin(), args.end());
        return RunCtl(all, m_dir.path().toStdString());
    }

    // The .bin files of the archive, oldest first.
    QStringList Backups() const {
        QStringList out;
        QDir root(m_dir.filePath("archive"));
        for (const QString& sub : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QString& f :
                 QDir(root.filePath(sub)).entryList({"*.bin"}, QDir::Files, QDir::Name))
                out << root.filePath(sub) + '/' + f;
        return out;
    }

    std::string Archive() const { return m_dir.filePath("archive").toStdString(); }

    QTemporaryDir m_dir;
    int m_images = 0;
};

TEST_F(CtlE2e, BackupHoldsExactlyWhatTheControllerHeld) {
    const RawBlocks configured = ConfiguredBlocks();
    SimProcess sim;
    StartSim(sim, {}, &configured);
    const CtlResult r = Ctl(sim, {"backup", "--dir", Archive()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Requests(sim), Concat({kReads}));  // nothing erased or written

    const QStringList backups = Backups();
    ASSERT_EQ(backups.size(), 1);
    // Named by the device number as read.
    EXPECT_TRUE(backups[0].contains("/861234567890123/")) << backups[0].toStdString();
    EXPECT_NE(r.out.find(backups[0].toStdString()), std::string::npos);
    QString error;
    const auto stored = ConfigArchive::LoadBlocks(backups[0], error);
    ASSERT_TRUE(stored) << error.toStdString();
    EXPECT_TRUE(*stored == configured);
    EXPECT_TRUE(BlocksOf(sim.DumpMemory()) == configured);

    // The settings file beside it holds the decoded fields.
    QString ini = backups[0];
    ini.replace(".bin", ".ini");
    EXPECT_EQ(IniValue(ini, "TEL", "tel1"), QStringLiteral("13800138000"));
    EXPECT_EQ(IniValue(ini, "OTHER", "devid"), QStringLiteral("861234567890123"));
}

TEST_F(CtlE2e, ReadThenWriteBacksUpVerifiesAndLeavesMemoryIdentical) {
    const RawBlocks configured = ConfiguredBlocks();
    SimProcess sim;
    StartSim(sim, {}, &configured);
    const std::vector<uint8_t> before = sim.DumpMemory();
    const std::string ini = Path("site.ini");
    ASSERT_EQ(Ctl(sim, {"read", "--ini", ini}).status, 0);
    const CtlResult w = Ctl(sim, {"write", "--ini", ini, "--dir", Archive()});
    ASSERT_EQ(w.status, 0) << w.err;
    EXPECT_NE(w.err.find("写入成功"), std::string::npos);
    EXPECT_NE(w.err.find("写入已校验"), std::string::npos);
    EXPECT_EQ(sim.DumpMemory(), before);
    // read; login, backup, the write, write-done, the read-back.
    const std::vector<uint8_t> readRun = Concat({kReads});
    std::vector<uint8_t> expected = readRun;
    const std::vector<uint8_t> writeRun = Concat({kReads, kWriteSequence, kReads});
    expected.insert(expected.end(), writeRun.begin(), writeRun.end());
    EXPECT_EQ(Requests(sim), expected);
    EXPECT_EQ(Backups().size(), 1);
}

TEST_F(CtlE2e, ProvisioningCopiesOneControllerToAnother) {
    const RawBlocks configured = ConfiguredBlocks();
    SimProcess source, target;
    StartSim(source, {}, &configured);
    StartSim(target, {});
    const std::string ini = Path("site.ini");
    ASSERT_EQ(Ctl(source, {"read", "--ini", ini}).status, 0);
    const CtlResult w = Ctl(target, {"write", "--ini", ini, "--dir", Archive()});
    ASSERT_EQ(w.status, 0) << w.err;
    EXPECT_TRUE(BlocksOf(target.DumpMemory()) == configured);
    // The target's backup is of its blank memory, filed under its model.
    const QStringList backups = Backups();
    ASSERT_EQ(backups.size(), 1);
    EXPECT_TRUE(backups[0].contains("/R4T1/")) << backups[0].toStdString();
}

TEST_F(CtlE2e, NoBackupNoVerifySendsTheWriteSequenceOnly) {
    const RawBlocks configured = ConfiguredBlocks();
    SimProcess sim;
    StartSim(sim, {}, &configured);
    const std::string ini = Path("site.ini");
    ASSERT_EQ(Ctl(sim, {"read", "--ini", ini}).status, 0);
    const size_t afterRead = Requests(sim).size();
    // --verify is still accepted, and --no-verify wins.
    const CtlResult w = Ctl(
        sim, {"write", "--ini", ini, "--no-backup", "--verify", "--no-verify", "--dir", Archive()});
    ASSERT_EQ(w.status, 0) << w.err;
    const std::vector<uint8_t> all = Requests(sim);
    EXPECT_EQ(std::vector<uint8_t>(all.begin() + static_cast<long>(afterRead), all.end()),
              Concat({kWriteSequence}));
    EXPECT_TRUE(Backups().isEmpty());
}

TEST_F(CtlE2e, VerifyCatchesAControllerThatStoresSomethingElse) {
    const RawBlocks configured = ConfiguredBlocks();
    SimProcess sim;
    StartSim(sim, {"--store-wrong"}, &configured);
    const std::string ini = Path("site.ini");
    ASSERT_EQ(Ctl(sim, {"read", "--ini", ini}).status, 0);
    const CtlResult w = Ctl(sim, {"write", "--ini", ini, "--dir", Archive()}, {"--json"});
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.err.find("校验失败"), std::string::npos) << w.err;
    for (const char* group : {"报警号码设置", "报警参数设置", "GPRS参数设置", "系统参数"})
        EXPECT_NE(w.err.find(group), std::string::npos) << group;
    EXPECT_EQ(w.err.find("写入已校验"), std::string::npos);
    // Bit 0 of each block's first byte: the fields it changed, sent and read back; in the
    // phone and sensor blocks those bytes become codes no list position carries, which the
    // lists show as no selection with the code read.
    EXPECT_NE(w.err.find("GPRS参数设置 GPRS主IP：写入 alarm.example.org，读回 `larm.example.org"),
              std::string::npos)
        << w.err;
    EXPECT_NE(w.err.find("报警号码设置 电话号1 功能码1：写入 "), std::string::npos) << w.err;
    EXPECT_NE(w.err.find("报警参数设置1 传感器1：写入 "), std::string::npos) << w.err;
    EXPECT_NE(w.err.find("读回 未选择 ("), std::string::npos) << w.err;

    // --json: the same list on standard output, after the backup's line.
    const QList<QByteArray> lines = QByteArray::fromStdString(w.out).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << w.out;
    const QJsonObject mismatch = QJsonDocument::fromJson(lines[1]).object()["mismatch"].toObject();
    EXPECT_EQ(mismatch["blocks"].toArray().size(), 4);
    EXPECT_TRUE(mismatch["bytesOnly"].toArray().isEmpty()) << w.out;
    bool address = false;
    for (const QJsonValue& v : mismatch["fields"].toArray()) {
        const QJsonObject f = v.toObject();
        if (f["field"].toString() != QLatin1String("edt_ip1")) continue;
        address = true;
        EXPECT_EQ(f["sent"].toString(), QStringLiteral("alarm.example.org"));
        EXPECT_EQ(f["readBack"].toString(), QStringLiteral("`larm.example.org"));
        EXPECT_EQ(f["caption"].toString(), QStringLiteral("GPRS参数设置 GPRS主IP"));
    }
    EXPECT_TRUE(address) << w.out;
}

// Every way a wait of r4t8ctl ends: the outcome, the line hanging up, a silent controller,
// the monitor's own limit. None may hang, and each ends with its message and status.
TEST_F(CtlE2e, WaitsEndOnOutcomeHangupSilenceAndTheirLimit) {
    struct Case {
        const char* what;
        std::vector<std::string> sim;
        std::vector<std::string> args;
        int status;
        const char* message;  // on standard error
    };
    const std::vector<Case> cases = {
        {"answered", {}, {"login"}, 0, ""},
        {"silent controller", {"--drop-rate", "1"}, {"login"}, 1, "发送命令超时"},
        {"line closed mid-read", {"--hangup-after", "2"}, {"read", "--ini", Path("x.ini")}, 1, ""},
        {"monitor for a second", {}, {"debug", "monitor", "--seconds", "1"}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimProcess sim;
        StartSim(sim, c.sim);
        const CtlResult r = Ctl(sim, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

TEST_F(CtlE2e, RefusedHalfWayThenRestoreBringsMemoryBack) {
    const RawBlocks configured = ConfiguredBlocks();
    SimProcess sim;
    // The third erase (GprsBlock) is refused.
    StartSim(sim, {"--refuse", "18:3"}, &configured);
    const std::vector<uint8_t> original = sim.DumpMemory();
    const std::string ini = Path("changed.ini");
    ASSERT_EQ(Ctl(sim, {"read", "--ini", ini}).status, 0);
    EditIni(ini, {{"TEL", "tel1", "13900000000"}, {"GPRS", "port", "9000"}});
    const CtlResult w = Ctl(sim, {"write", "--ini", ini, "--dir", Archive()});
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.err.find("擦出失败"), std::string::npos) << w.err;
    const RawBlocks halfWay = BlocksOf(sim.DumpMemory());
    EXPECT_EQ(DifferingBlocks(halfWay, configured).front(), ConfigBlock::PhoneBlock);

    const QStringList backups = Backups();
    ASSERT_EQ(backups.size(), 1);
    const CtlResult r = Ctl(sim, {"restore", backups[0].toStdString(), "--dir", Archive()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("写入已校验"), std::string::npos);
    EXPECT_EQ(sim.DumpMemory(), original);
    EXPECT_EQ(Backups().size(), 2);  // the restore backed up the half-written state first
}

// A write that stops after an erase says where every block is and where the backup is.
TEST_F(CtlE2e, WriteStoppedHalfWayNamesTheBlocksAndTheBackup) {
    const RawBlocks configured = ConfiguredBlocks();
    SimProcess sim;
    // The second block write (SensorBlock) is refused, after its erase.
    StartSim(sim, {"--refuse", "16:2"}, &configured);
    const std::string ini = Path("changed.ini");
    ASSERT_EQ(Ctl(sim, {"read", "--ini", ini}).status, 0);
    EditIni(ini, {{"TEL", "tel1", "13900000000"}, {"SENSOR1", "SLow", "-12.00"}});
    const CtlResult w = Ctl(sim, {"write", "--ini", ini, "--dir", Archive()});
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.err.find("写入失败\n写入未完成。已写入：报警号码设置；可能已被擦除：报警参数设置；"
                         "未改变：GPRS参数设置、系统参数\n"),
              std::string::npos)
        << w.err;
    const QStringList backups = Backups();
    ASSERT_EQ(backups.size(), 1);
    EXPECT_NE(w.err.find("写入前的备份已保存：" + backups[0].toStdString() +
                         "\n是否将备份恢复到控制器？"),
              std::string::npos)
        << w.err;
    // And so it is.
    const RawBlocks now = BlocksOf(sim.DumpMemory());
    EXPECT_EQ(DifferingBlocks(now, configured),
              (std::vector<ConfigBlock>{ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock}));
    EXPECT_TRUE(std::all_of(now.begin() + kBlockSize, now.begin() + 2 * kBlockSize,
                            [](uint8_t b) { return b == 0xFF; }));
}

// The line closing mid-write stops the write at once, as in the window: r4t8ctl says where
// the blocks are and that the line is gone, and waits for no time-out.
TEST_F(CtlE2e, HangupMidWriteNamesTheBlocksAndTheLostLine) {
    const RawBlocks configured = ConfiguredBlocks();
    const std::string ini = Path("changed.ini");
    {
        SimProcess sim;
        StartSim(sim, {}, &configured);
        ASSERT_EQ(Ctl(sim, {"read", "--ini", ini}).status, 0);
    }
    EditIni(ini, {{"TEL", "tel1", "13900000000"}});
    SimProcess sim;
    // Login, the backup's four reads and the first erase are answered; then the line closes.
    StartSim(sim, {"--hangup-after", "6"}, &configured);
    const CtlResult w = Ctl(sim, {"write", "--ini", ini, "--dir", Archive()});
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.err.find("写入未完成。可能已被擦除：报警号码设置"), std::string::npos) << w.err;
    EXPECT_NE(w.err.find("连接已断开"), std::string::npos) << w.err;
    EXPECT_EQ(w.err.find("发送命令超时"), std::string::npos) << w.err;
}

TEST_F(CtlE2e, ArchiveThatCannotBeWrittenStopsTheWriteBeforeAnyErase) {
    const RawBlocks configured = ConfiguredBlocks();
    SimProcess sim;
    StartSim(sim, {}, &configured);
    const std::string ini = Path("site.ini");
    ASSERT_EQ(Ctl(sim, {"read", "--ini", ini}).status, 0);
    // A folder below a regular file cannot be made, whoever runs the test.
    const std::string blocker = Path("blocker");
    std::ofstream(blocker) << "x";
    const CtlResult w = Ctl(sim, {"write", "--ini", ini, "--dir", blocker + "/archive"});
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.err.find("备份失败，未写入："), std::string::npos) << w.err;
    for (uint8_t code : Requests(sim)) {
        EXPECT_NE(code, kErase);
        EXPECT_NE(code, kWrite);
    }
    EXPECT_TRUE(BlocksOf(sim.DumpMemory()) == configured);
}

TEST_F(CtlE2e, DiffListsExactlyTheChangedFields) {
    const RawBlocks configured = ConfiguredBlocks();
    SimProcess sim;
    StartSim(sim, {}, &configured);
    const std::string ini = Path("site.ini");
    ASSERT_EQ(Ctl(sim, {"read", "--ini", ini}).status, 0);
    // The limit -10.5 is the same value as the controller's -10.50: no change.
    EditIni(ini, {{"TEL", "tel2", "02187654321"},
                  {"SENSOR1", "ullimit", "-10.5"},
                  {"SENSOR2", "hlimit", "50"}});
    const size_t before = Requests(sim).size();
    const CtlResult d = Ctl(sim, {"diff", "--ini", ini});
    ASSERT_EQ(d.status, 0) << d.err;
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = d.out.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(d.out.substr(at, nl - at));
    ASSERT_EQ(lines.size(), 2u) << d.out;
    EXPECT_NE(lines[0].find("\t02112345678\t02187654321"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\t45.00\t50.00"), std::string::npos) << lines[1];
    const std::vector<uint8_t> all = Requests(sim);
    EXPECT_EQ(std::vector<uint8_t>(all.begin() + static_cast<long>(before), all.end()),
              Concat({kReads}));
}

// The relay's numbers reach the frame as typed; what a mode does not use is not asked for.
TEST_F(CtlE2e, RelayCommandsSendTheirFrames) {
    SimProcess sim;
    StartSim(sim, {});
    const std::vector<std::pair<std::vector<std::string>, Bytes>> cases = {
        {{"relay", "close", "20"}, BuildRelayCloseFrame(20)},
        {{"relay", "close", "9999"}, BuildRelayCloseFrame(9999)},
        {{"relay", "pulse", "3", "2", "255"}, BuildRelayPulseFrame(3, 2, 255)},
        {{"relay", "open"}, BuildRelayReleaseFrame()},
    };
    for (const auto& [args, frame] : cases) {
        SCOPED_TRACE(args[1]);
        const CtlResult r = Ctl(sim, args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<Bytes> received;
        for (const auto& e : sim.Log())
            if (!e.sent) received.push_back(e.bytes);
        ASSERT_FALSE(received.empty());
        EXPECT_EQ(received.back(), frame);
    }
    const size_t requests = Requests(sim).size();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"relay", "close", "12345"},
          {"relay", "close", "-1"},
          {"relay", "pulse", "1", "2"},
          {"relay", "close", "\xd9\xa3"},
          {"relay", "shut"}}) {
        EXPECT_EQ(Ctl(sim, args).status, 2) << args.back();
    }
    EXPECT_EQ(Requests(sim).size(), requests);  // usage errors send nothing
}

TEST_F(CtlE2e, ExitStatusOfFailuresAndUsageErrors) {
    SimProcess sim;
    StartSim(sim, {"--refuse", "18"});
    const std::string ini = Path("none.ini");
    // A file that sets one field: the rest are the record's defaults, which can be written.
    EditIni(ini, {{"TEL", "tel1", "1"}});
    const CtlResult refused = Ctl(sim, {"write", "--ini", ini, "--dir", Archive()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("擦出失败"), std::string::npos) << refused.err;

    const CtlResult wrongPassword =
        Ctl(sim, {"backup", "--dir", Archive()}, {"--password", "1111"});
    EXPECT_EQ(wrongPassword.status, 1);
    EXPECT_NE(wrongPassword.err.find("密码错误"), std::string::npos);

    const std::string junk = Path("junk.bin");
    std::ofstream(junk) << "too short";
    const std::vector<std::vector<std::string>> usage = {
        {"backup", "extra"},
        {"backup", "--dir"},
        {"restore"},
        {"restore", Path("missing.bin")},
        {"restore", junk},
        {"restore", junk, junk},
        {"diff"},
        {"diff", "--ini", Path("missing.ini")},
        {"write"},
        {"write", "--ini", ini, "--bogus"},
    };
    const size_t requests = Requests(sim).size();
    for (const auto& args : usage) {
        const CtlResult r = Ctl(sim, args);
        EXPECT_EQ(r.status, 2) << args.front() << " " << (args.size() > 1 ? args[1] : "");
    }
    EXPECT_EQ(Requests(sim).size(), requests);  // usage errors send nothing
}

}  // namespace
}  // namespace r4t8
