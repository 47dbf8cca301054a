// r4t8ctl's commands on the session: open the port, log in, run one operation, report.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "CliUserInterface.h"
#include "config/DeviceSettings.h"
#include "protocol/QtTimeSource.h"
#include "safety/SafeWrite.h"
#include "serial/SerialComm.h"
#include "session/DeviceSession.h"
#include "session/PortBinding.h"

namespace r4t8::ctl {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct GlobalOptions {
    QString port;
    QString password = QStringLiteral("5807");
    QString logFile;
    bool json = false;
    bool quiet = false;
};

class CtlApp {
  public:
    explicit CtlApp(const GlobalOptions& options);
    ~CtlApp();

    // Runs one command with its own arguments; returns the exit status.
    int Run(const QString& command, const QStringList& args);

  private:
    int Ports();
    int Login(bool print);
    int Read(const QStringList& args);
    int Write(const QStringList& args);
    int Backup(const QStringList& args);
    int Restore(const QStringList& args);
    int Diff(const QStringList& args);
    // Runs a safe write (or backup) to its end; the exit status it gives.
    int RunSafe(SafeWrite& safe, const std::function<void()>& start);
    int History(const QStringList& args);
    int Current();
    int Relay(const QStringList& args);
    int Clock(const QStringList& args);
    int Debug(const QStringList& args);
    int FactoryReset(const QStringList& args);

    bool OpenPort();
    enum class WaitEnd { Done, HungUp, Idle, Deadline };
    // Runs the event loop until `done` holds, the line hangs up, the link stays silent for
    // `idleMs` or `totalMs` have passed (-1: no such limit). The loop sleeps in the event
    // dispatcher; `done` is looked at when an outcome is reported and on Wake().
    WaitEnd WaitUntil(const std::function<bool()>& done, int idleMs, int totalMs = -1);
    // Something `done` of the running wait looks at has changed.
    void Wake();
    // Runs the event loop until `op` reports its outcome, or the link stays silent for
    // `idleMs` (the sender's own time-out reports long before that).
    bool WaitFor(Operation op, Outcome& outcome, int idleMs = 15000);
    bool WaitSucceeded(Operation op, int idleMs = 15000);
    void Print(const QString& text);

    GlobalOptions m_options;
    CliUserInterface m_ui;
    QtTimeSource m_time;
    DeviceSettings m_settings;
    TComm m_comm;
    PortBinding m_link{m_comm};
    std::unique_ptr<DeviceSession> m_session;
    qint64 m_lastActivity = 0;
    bool m_hungUp = false;
    std::function<void()> m_wake;  // of the running wait
};

}  // namespace r4t8::ctl
