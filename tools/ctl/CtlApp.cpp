#include "CtlApp.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <limits>

#include "operations/CurrentData.h"
#include "safety/SettingsDiff.h"
#include "serial/PortList.h"
#include "ui/file/SettingsFile.h"

namespace r4t8::ctl {

namespace {

void Err(const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }

// Takes "--name value" out of the arguments; false when the name is there without a value.
bool TakeOption(QStringList& args, const QString& name, QString& value) {
    const int i = args.indexOf(name);
    if (i < 0) return true;
    if (i + 1 >= args.size()) return false;
    value = args.at(i + 1);
    args.remove(i, 2);
    return true;
}

bool WantsHelp(const QStringList& args) {
    return args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"));
}

// "YY-MM-DD" (as the window's date pickers show it) or "YYYY-MM-DD".
QDate ParseDate(const QString& text) {
    QDate d = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid()) {
        d = QDate::fromString(text, QStringLiteral("yy-MM-dd"));
        if (d.isValid() && d.year() < 2000) d = d.addYears(100);
    }
    return d;
}

const char* const kCellKeys[12] = {"",          "sensor1",   "sensor2",  "sensor3",
                                   "sensor4",   "longitude", "latitude", "speed",
                                   "direction", "gsm",       "relay",    "power"};

}  // namespace

CtlApp::CtlApp(const GlobalOptions& options) : m_options(options), m_settings(&m_ui) {
    m_ui.SetQuiet(options.quiet);
    m_link.SetReceiveListener([this](uint16_t) { m_lastActivity = m_time.NowMs(); });
    // The wait ends as hung up before the session hears of it and reports what it stopped.
    m_link.SetStateListener([this](PortBinding::State state) {
        if (state != PortBinding::State::Lost) return;
        m_hungUp = true;
        Wake();
    });
    m_ui.SetOnOutcome([this] { Wake(); });
    m_session = std::make_unique<DeviceSession>(m_link, m_time, m_ui, m_settings);
    m_link.Attach(m_session.get());
}

CtlApp::~CtlApp() {
    m_link.Attach(nullptr);
    m_session.reset();
    m_link.Close();
}

void CtlApp::Print(const QString& text) {
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

bool CtlApp::OpenPort() {
    QString name = m_options.port;
    if (name.isEmpty()) {
        const auto ports = ListSerialPorts();
        if (ports.empty()) {
            Err(QStringLiteral("r4t8ctl: no serial port found; name one with --port"));
            return false;
        }
        if (ports.size() > 1) {
            Err(QStringLiteral("r4t8ctl: several serial ports found; choose one with --port:"));
            for (const auto& p : ports) Err(QStringLiteral("  ") + p.name);
            return false;
        }
        name = ports.front().name;
    }
    if (!m_options.logFile.isEmpty() && !m_ui.OpenLog(m_options.logFile)) {
        Err(QStringLiteral("r4t8ctl: cannot open the log file ") + m_options.logFile);
        return false;
    }
    QString reason;
    if (!m_link.Open(name, reason)) {
        Err(QStringLiteral("串口打开失败"));
        Err(QStringLiteral("r4t8ctl: %1: %2 (%3)")
                .arg(name, m_comm.PortOpenError(), m_comm.LastSystemError()));
        return false;
    }
    return true;
}

CtlApp::WaitEnd CtlApp::WaitUntil(const std::function<bool()>& done, int idleMs, int totalMs) {
    m_lastActivity = m_time.NowMs();
    WaitEnd end = WaitEnd::Done;
    const auto finished = [&] {
        if (done())
            end = WaitEnd::Done;
        else if (m_hungUp)
            end = WaitEnd::HungUp;
        else
            return false;
        return true;
    };
    if (finished()) return end;
    QEventLoop loop;
    // The idle limit counts from the last byte received: the timer wakes us only when it
    // could have run out, and sleeps again for what is left.
    QTimer idle;
    idle.setSingleShot(true);
    QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
        const qint64 quiet = m_time.NowMs() - m_lastActivity;
        if (quiet < idleMs) {
            idle.start(static_cast<int>(idleMs - quiet));
            return;
        }
        end = WaitEnd::Idle;
        loop.quit();
    });
    if (idleMs >= 0) idle.start(idleMs);
    QTimer total;
    total.setSingleShot(true);
    QObject::connect(&total, &QTimer::timeout, &loop, [&] {
        end = WaitEnd::Deadline;
        loop.quit();
    });
    if (totalMs >= 0) total.start(totalMs);
    // The first end found is the one: a hangup stays one when the outcomes of what it
    // stopped come in after it.
    bool ended = false;
    m_wake = [&] {
        if (ended || !finished()) return;
        ended = true;
        loop.quit();
    };
    loop.exec();
    m_wake = nullptr;
    return end;
}

void CtlApp::Wake() {
    if (m_wake) m_wake();
}

bool CtlApp::WaitFor(Operation op, Outcome& outcome, int idleMs) {
    switch (WaitUntil([&] { return m_ui.TakeOutcome(op, outcome); }, idleMs)) {
        case WaitEnd::Done:
            // Stopped by a hangup that came while no wait was running.
            if (outcome != Outcome::Aborted || !m_hungUp) return true;
            [[fallthrough]];
        case WaitEnd::HungUp:
            Err(QStringLiteral("连接已断开"));
            outcome = Outcome::Failed;
            return false;
        case WaitEnd::Idle:
        case WaitEnd::Deadline:
            break;
    }
    Err(QStringLiteral("发送命令超时"));
    outcome = Outcome::TimedOut;
    return false;
}

bool CtlApp::WaitSucceeded(Operation op, int idleMs) {
    Outcome outcome = Outcome::Failed;
    return WaitFor(op, outcome, idleMs) && outcome == Outcome::Succeeded;
}

int CtlApp::Run(const QString& command, const QStringList& argsIn) {
    QStringList args = argsIn;
    if (command == QLatin1String("ports")) return Ports();
    if (command == QLatin1String("login")) {
        if (WantsHelp(args)) {
            Print(QStringLiteral("r4t8ctl login\n  Log in and print the model and version."));
            return kExitOk;
        }
        return Login(true);
    }
    if (command == QLatin1String("read")) return Read(args);
    if (command == QLatin1String("write")) return Write(args);
    if (command == QLatin1String("backup")) return Backup(args);
    if (command == QLatin1String("restore")) return Restore(args);
    if (command == QLatin1String("diff")) return Diff(args);
    if (command == QLatin1String("history")) return History(args);
    if (command == QLatin1String("current")) {
        if (WantsHelp(args)) {
            Print(QStringLiteral("r4t8ctl current\n  Print the controller's current readings."));
            return kExitOk;
        }
        return Current();
    }
    if (command == QLatin1String("relay")) return Relay(args);
    if (command == QLatin1String("clock")) return Clock(args);
    if (command == QLatin1String("debug")) return Debug(args);
    if (command == QLatin1String("factory-reset")) return FactoryReset(args);
    Err(QStringLiteral("r4t8ctl: unknown command '%1' (see r4t8ctl --help)").arg(command));
    return kExitUsage;
}

int CtlApp::Ports() {
    const auto ports = ListSerialPorts();
    if (m_options.json) {
        QJsonArray list;
        for (const auto& p : ports)
            list.append(QJsonObject{
                {"name", p.name}, {"description", p.description}, {"stablePath", p.stablePath}});
        Print(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
    } else {
        for (const auto& p : ports)
            Print(p.description.isEmpty() ? p.name : p.name + "\t" + p.description);
    }
    return kExitOk;
}

int CtlApp::Login(bool print) {
    if (!OpenPort()) return kExitFailed;
    m_session->btn7Click(m_options.password);
    if (!WaitSucceeded(Operation::Login)) return kExitFailed;
    if (print) {
        if (m_options.json)
            Print(QString::fromUtf8(QJsonDocument(QJsonObject{{"model", m_session->Model()},
                                                              {"version", m_session->Version()}})
                                        .toJson(QJsonDocument::Compact)));
        else
            Print(m_session->Model() + "\t" + m_session->Version());
    }
    return kExitOk;
}

int CtlApp::Read(const QStringList& argsIn) {
    QStringList args = argsIn;
    QString ini;
    if (WantsHelp(args)) {
        Print(
            QStringLiteral("r4t8ctl read --ini FILE\n"
                           "  Read the four configuration blocks and save them as a settings "
                           "file."));
        return kExitOk;
    }
    if (!TakeOption(args, "--ini", ini) || ini.isEmpty() || !args.isEmpty()) {
        Err(QStringLiteral("usage: r4t8ctl read --ini FILE"));
        return kExitUsage;
    }
    if (const int rc = Login(false); rc != kExitOk) return rc;
    m_session->Config().btn_loadClick();
    if (!WaitSucceeded(Operation::ReadSettings)) return kExitFailed;
    if (!SettingsFile::Save(ini, m_settings, m_ui)) return kExitFailed;
    return kExitOk;
}

int CtlApp::RunSafe(SafeWrite& safe, const std::function<void()>& start) {
    bool done = false;
    safe.SetOnFinished([this, &done](const SafeWriteReport&) {
        done = true;
        Wake();
    });
    start();
    switch (WaitUntil([&done] { return done; }, 15000)) {
        case WaitEnd::Done:
            break;
        case WaitEnd::HungUp:
            Err(QStringLiteral("连接已断开"));
            return kExitFailed;
        case WaitEnd::Idle:
        case WaitEnd::Deadline:
            Err(QStringLiteral("发送命令超时"));
            return kExitFailed;
    }
    const SafeWriteReport& report = safe.Report();
    if (report.backup) {
        if (m_options.json)
            Print(QString::fromUtf8(
                QJsonDocument(QJsonObject{{"backup", report.backup->BinPath()},
                                          {"settings", report.backup->IniPath()},
                                          {"deviceNumber", report.backup->deviceNumber},
                                          {"model", report.backup->model}})
                    .toJson(QJsonDocument::Compact)));
        else
            Print(QStringLiteral("backup\t") + report.backup->BinPath());
    }
    // The mismatch itself went to standard error with the message; scripts get it here.
    if (!report.mismatch.Empty() && m_options.json) {
        QJsonArray blocks, fields, bytesOnly;
        for (ConfigBlock b : report.mismatch.blocks) blocks.append(BlockGroupName(b));
        for (const FieldChange& c : report.mismatch.fields)
            fields.append(QJsonObject{{"field", c.name},
                                      {"caption", c.label},
                                      {"sent", c.before},
                                      {"readBack", c.after}});
        for (ConfigBlock b : report.mismatch.bytesOnly) bytesOnly.append(BlockGroupName(b));
        Print(QString::fromUtf8(
            QJsonDocument(QJsonObject{{"mismatch", QJsonObject{{"blocks", blocks},
                                                               {"fields", fields},
                                                               {"bytesOnly", bytesOnly}}}})
                .toJson(QJsonDocument::Compact)));
    }
    if (report.verified) Err(QStringLiteral("写入已校验"));
    return report.outcome == Outcome::Succeeded ? kExitOk : kExitFailed;
}

namespace {

// --dir, --no-backup, --no-verify and the accepted --verify of the writing commands.
bool TakeSafeOptions(QStringList& args, SafeWriteOptions& options, QString& dir) {
    if (!TakeOption(args, "--dir", dir)) return false;
    if (args.removeAll(QStringLiteral("--no-backup")) > 0) options.backup = false;
    if (args.removeAll(QStringLiteral("--no-verify")) > 0) options.verify = false;
    // Verifying is the default now; the option stays accepted for existing scripts.
    args.removeAll(QStringLiteral("--verify"));
    return true;
}

const char kSafeHelp[] =
    "  Before the first erase the controller's blocks are read and stored in the archive\n"
    "  (--dir DIR, default %1); nothing is written when that fails. After write-done the\n"
    "  blocks are read back and compared byte for byte; exit status 1 when they differ.\n"
    "  --no-backup and --no-verify skip either step.";

}  // namespace

int CtlApp::Write(const QStringList& argsIn) {
    QStringList args = argsIn;
    QString ini, dir;
    SafeWriteOptions options;
    const QString usage =
        QStringLiteral("usage: r4t8ctl write --ini FILE [--dir DIR] [--no-backup] [--no-verify]");
    if (WantsHelp(args)) {
        Print(usage +
              "\n  Load a settings file, erase and write the four blocks, send "
              "write-done.\n" +
              QString::fromUtf8(kSafeHelp).arg(ConfigArchive::DefaultRoot()));
        return kExitOk;
    }
    if (!TakeOption(args, "--ini", ini) || !TakeSafeOptions(args, options, dir) || ini.isEmpty() ||
        !args.isEmpty()) {
        Err(usage);
        return kExitUsage;
    }
    if (!QFileInfo::exists(ini)) {
        Err(QStringLiteral("r4t8ctl: %1 does not exist").arg(ini));
        return kExitUsage;
    }
    if (const int rc = Login(false); rc != kExitOk) return rc;
    // After the login, so that the sensor type lists hold the model's items.
    SettingsFile::Load(ini, m_settings, m_ui);
    ConfigArchive archive(dir.isEmpty() ? ConfigArchive::DefaultRoot() : dir);
    SafeWrite safe(*m_session, archive, m_time, m_ui);
    safe.SetOptions(options);
    return RunSafe(safe, [&safe] { safe.WriteSettings(); });
}

int CtlApp::Backup(const QStringList& argsIn) {
    QStringList args = argsIn;
    QString dir;
    const QString usage = QStringLiteral("usage: r4t8ctl backup [--dir DIR]");
    if (WantsHelp(args)) {
        Print(usage + QStringLiteral("\n  Read the four blocks and store them in the archive "
                                     "(default %1): raw .bin, settings .ini, metadata .json.")
                          .arg(ConfigArchive::DefaultRoot()));
        return kExitOk;
    }
    if (!TakeOption(args, "--dir", dir) || !args.isEmpty()) {
        Err(usage);
        return kExitUsage;
    }
    if (const int rc = Login(false); rc != kExitOk) return rc;
    ConfigArchive archive(dir.isEmpty() ? ConfigArchive::DefaultRoot() : dir);
    SafeWrite safe(*m_session, archive, m_time, m_ui);
    return RunSafe(safe, [&safe] { safe.BackupOnly(); });
}

int CtlApp::Restore(const QStringList& argsIn) {
    QStringList args = argsIn;
    QString dir;
    SafeWriteOptions options;
    const QString usage =
        QStringLiteral("usage: r4t8ctl restore FILE [--dir DIR] [--no-backup] [--no-verify]");
    if (WantsHelp(args)) {
        Print(usage + "\n  Write a backup's raw blocks (FILE.bin of the archive) back.\n" +
              QString::fromUtf8(kSafeHelp).arg(ConfigArchive::DefaultRoot()));
        return kExitOk;
    }
    if (!TakeSafeOptions(args, options, dir) || args.size() != 1 ||
        args.front().startsWith(QLatin1String("--"))) {
        Err(usage);
        return kExitUsage;
    }
    QString error;
    const auto blocks = ConfigArchive::LoadBlocks(args.front(), error);
    if (!blocks) {
        Err(QStringLiteral("r4t8ctl: ") + error);
        return kExitUsage;
    }
    if (const int rc = Login(false); rc != kExitOk) return rc;
    ConfigArchive archive(dir.isEmpty() ? ConfigArchive::DefaultRoot() : dir);
    SafeWrite safe(*m_session, archive, m_time, m_ui);
    safe.SetOptions(options);
    return RunSafe(safe, [&safe, &blocks] { safe.WriteBlocks(*blocks); });
}

int CtlApp::Diff(const QStringList& argsIn) {
    QStringList args = argsIn;
    QString ini;
    const QString usage = QStringLiteral("usage: r4t8ctl diff --ini FILE");
    if (WantsHelp(args)) {
        Print(usage +
              "\n  Read the four blocks and print the fields that writing FILE would "
              "change:\n  caption, value on the controller, value in the file.");
        return kExitOk;
    }
    if (!TakeOption(args, "--ini", ini) || ini.isEmpty() || !args.isEmpty()) {
        Err(usage);
        return kExitUsage;
    }
    if (!QFileInfo::exists(ini)) {
        Err(QStringLiteral("r4t8ctl: %1 does not exist").arg(ini));
        return kExitUsage;
    }
    if (const int rc = Login(false); rc != kExitOk) return rc;
    std::optional<RawBlocks> current;
    bool finished = false;
    m_session->Config().ReadBlocksRaw([&](bool ok, const RawBlocks& blocks) {
        finished = true;
        if (ok) current = blocks;
        Wake();
    });
    Outcome outcome = Outcome::Succeeded;
    // A failed read reports only its outcome.
    WaitUntil([&] { return finished || m_ui.TakeOutcome(Operation::ReadSettings, outcome); },
              15000);
    if (!current) {
        if (m_hungUp) Err(QStringLiteral("连接已断开"));
        return kExitFailed;
    }
    SettingsFile::Load(ini, m_settings, m_ui);
    const WriteDiff diff = DiffWrite(*current, m_settings);
    if (diff.problem) {
        Err(diff.problem->label + QStringLiteral(" 的值无法写入"));
        return kExitFailed;
    }
    QJsonArray list;
    for (const FieldChange& c : diff.changes) {
        if (m_options.json)
            list.append(QJsonObject{{"field", c.name},
                                    {"caption", c.label},
                                    {"controller", c.before},
                                    {"file", c.after}});
        else
            Print(c.label + "\t" + c.before + "\t" + c.after);
    }
    if (m_options.json)
        Print(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
    return kExitOk;
}

int CtlApp::History(const QStringList& argsIn) {
    QStringList args = argsIn;
    QString from, to, dir;
    if (WantsHelp(args)) {
        Print(
            QStringLiteral("r4t8ctl history --from YY-MM-DD --to YY-MM-DD [--dir DIR]\n"
                           "  Fetch the history of the range and export a workbook and a CSV "
                           "file into DIR (default: the current folder)."));
        return kExitOk;
    }
    if (!TakeOption(args, "--from", from) || !TakeOption(args, "--to", to) ||
        !TakeOption(args, "--dir", dir) || !args.isEmpty()) {
        Err(QStringLiteral("usage: r4t8ctl history --from YY-MM-DD --to YY-MM-DD [--dir DIR]"));
        return kExitUsage;
    }
    const QDate fromDate = ParseDate(from), toDate = ParseDate(to);
    if (!fromDate.isValid() || !toDate.isValid()) {
        Err(QStringLiteral("r4t8ctl: dates are written YY-MM-DD, for example 14-01-31"));
        return kExitUsage;
    }
    if (dir.isEmpty()) dir = QDir::currentPath();
    if (!QFileInfo(dir).isDir()) {
        Err(QStringLiteral("r4t8ctl: %1 is not a folder").arg(dir));
        return kExitUsage;
    }
    if (const int rc = Login(false); rc != kExitOk) return rc;
    m_session->History().SetExportFolder(QDir(dir).absolutePath());
    m_session->History().Button1Click(fromDate, toDate);
    if (!WaitSucceeded(Operation::HistoryQuery, 30000)) return kExitFailed;
    Outcome exported = Outcome::Succeeded;
    // A range without records ends the query without an export.
    if (m_ui.TakeOutcome(Operation::HistoryExport, exported) && exported != Outcome::Succeeded)
        return kExitFailed;
    const auto& records = m_session->History().LastDownload();
    // A folder that cannot be written (the current one may be /) sends the files to the
    // documents folder: say so rather than leave the user looking in the wrong place.
    QString folder = QDir(dir).absolutePath();
    const QString& wentTo = m_session->History().LastExportFolder();
    if (!wentTo.isEmpty() && wentTo != folder) {
        Err(QStringLiteral("r4t8ctl: %1 cannot be written; the files went to %2")
                .arg(QDir::toNativeSeparators(folder), QDir::toNativeSeparators(wentTo)));
        folder = wentTo;
    }
    if (m_options.json)
        Print(QString::fromUtf8(
            QJsonDocument(
                QJsonObject{{"records", static_cast<qint64>(records.size())}, {"folder", folder}})
                .toJson(QJsonDocument::Compact)));
    else
        Print(QStringLiteral("%1 records").arg(records.size()));
    return kExitOk;
}

int CtlApp::Current() {
    if (const int rc = Login(false); rc != kExitOk) return rc;
    m_session->Operations().btn_inquire_curdatClick();
    if (!WaitSucceeded(Operation::CurrentData)) return kExitFailed;
    const QStringList captions = CurrentDataCaptions();
    QJsonObject json;
    for (int c = 1; c < 12; ++c) {
        const QString value = m_session->Operations().CurrentDataCell(c);
        if (m_options.json)
            json.insert(QLatin1String(kCellKeys[c]), value);
        else
            Print(captions[c] + "\t" + value);
    }
    if (m_options.json)
        Print(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)));
    return kExitOk;
}

int CtlApp::Relay(const QStringList& args) {
    const QString usage = QStringLiteral(
        "usage: r4t8ctl relay close SECONDS | relay pulse PULSE INTERVAL COUNT | relay open");
    if (WantsHelp(args)) {
        Print(usage +
              "\n  close: close the relay for SECONDS (0-9999); pulse: PULSE seconds on,"
              " INTERVAL seconds off, COUNT times; open: release it.");
        return kExitOk;
    }
    auto isNumber = [](const QString& s, int maxDigits) {
        if (s.isEmpty() || s.size() > maxDigits) return false;
        // ASCII digits only: other scripts' digits are no number the frame can carry.
        for (QChar c : s)
            if (c < u'0' || c > u'9') return false;
        return true;
    };
    RelayTimes times;
    RelayMode mode = RelayMode::Close;
    bool release = false;
    const auto number = [](const QString& text) { return static_cast<uint16_t>(text.toUInt()); };
    if (args.size() == 2 && args[0] == "close" && isNumber(args[1], 4)) {
        times.closeTime = number(args[1]);
    } else if (args.size() == 4 && args[0] == "pulse" && isNumber(args[1], 3) &&
               isNumber(args[2], 3) && isNumber(args[3], 3)) {
        mode = RelayMode::Pulse;
        times.pulseTime = number(args[1]);
        times.interval = number(args[2]);
        times.count = number(args[3]);
    } else if (args.size() == 1 && args[0] == "open") {
        release = true;
    } else {
        Err(usage);
        return kExitUsage;
    }
    if (const int rc = Login(false); rc != kExitOk) return rc;
    if (release)
        m_session->Operations().Button2Click();
    else
        m_session->Operations().Relay(mode, times);
    return WaitSucceeded(Operation::Relay) ? kExitOk : kExitFailed;
}

int CtlApp::Clock(const QStringList& args) {
    const QString usage = QStringLiteral(
        "usage: r4t8ctl clock get | clock set now | clock set \"YYYY-MM-DD HH:MM:SS\"");
    if (WantsHelp(args)) {
        Print(usage);
        return kExitOk;
    }
    if (args.size() == 1 && args[0] == "get") {
        if (const int rc = Login(false); rc != kExitOk) return rc;
        m_session->Operations().btn_acquiretimeClick();
        if (!WaitSucceeded(Operation::GetTime)) return kExitFailed;
        const QString text = m_ui.DeviceTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (m_options.json)
            Print(QString::fromUtf8(
                QJsonDocument(QJsonObject{{"time", text}}).toJson(QJsonDocument::Compact)));
        else
            Print(text);
        return kExitOk;
    }
    if (args.size() == 2 && args[0] == "set") {
        QDateTime when;
        if (args[1] != "now") {
            when = QDateTime::fromString(args[1], QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            if (!when.isValid()) {
                Err(usage);
                return kExitUsage;
            }
        }
        if (const int rc = Login(false); rc != kExitOk) return rc;
        if (when.isValid())
            m_session->Operations().Button4Click(when.date(), when.time());
        else
            m_session->Operations().btn_setcurtimeClick();
        return WaitSucceeded(Operation::SetTime) ? kExitOk : kExitFailed;
    }
    Err(usage);
    return kExitUsage;
}

int CtlApp::Debug(const QStringList& argsIn) {
    QStringList args = argsIn;
    const QString usage =
        QStringLiteral("usage: r4t8ctl debug on | debug off | debug monitor [--seconds N]");
    if (WantsHelp(args)) {
        Print(usage +
              "\n  monitor prints the controller's debug frames, R (received by its GPRS"
              " side) and T (sent), as hex lines.");
        return kExitOk;
    }
    QString seconds;
    if (!TakeOption(args, "--seconds", seconds) || args.size() != 1) {
        Err(usage);
        return kExitUsage;
    }
    const QString what = args[0];
    if (what != "on" && what != "off" && what != "monitor") {
        Err(usage);
        return kExitUsage;
    }
    bool ok = true;
    const int limit = seconds.isEmpty() ? 0 : seconds.toInt(&ok);
    if (!ok || limit < 0) {
        Err(usage);
        return kExitUsage;
    }
    if (const int rc = Login(false); rc != kExitOk) return rc;
    if (what == "on" || what == "off") {
        if (what == "on")
            m_session->Operations().Button5Click();
        else
            m_session->Operations().btn_padlockregulationClick();
        return WaitSucceeded(Operation::DebugMode) ? kExitOk : kExitFailed;
    }
    m_ui.SetMonitorDebug(true);
    const qint64 limitMs = std::min<qint64>(limit * 1000LL, std::numeric_limits<int>::max());
    WaitUntil([] { return false; }, -1, limit == 0 ? -1 : static_cast<int>(limitMs));
    return m_hungUp ? kExitFailed : kExitOk;
}

int CtlApp::FactoryReset(const QStringList& args) {
    if (WantsHelp(args)) {
        Print(
            QStringLiteral("r4t8ctl factory-reset --yes\n"
                           "  Reset the controller to its factory settings."));
        return kExitOk;
    }
    if (args != QStringList{"--yes"}) {
        Err(QStringLiteral("usage: r4t8ctl factory-reset --yes"));
        return kExitUsage;
    }
    if (const int rc = Login(false); rc != kExitOk) return rc;
    m_ui.SetAssumeYes(true);
    m_session->Operations().btn_industrialClick();
    return WaitSucceeded(Operation::FactoryReset) ? kExitOk : kExitFailed;
}

}  // namespace r4t8::ctl
