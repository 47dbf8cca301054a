// The user interface of the command-line program: the system's messages on standard error,
// progress on a terminal only, questions answered by the options given.
#pragma once

#include <QFile>
#include <QString>
#include <deque>
#include <functional>
#include <utility>

#include "operations/OperationViews.h"
#include "protocol/Outcome.h"
#include "protocol/UserInterfaces.h"
#include "session/SessionControls.h"
#include "session/SessionFrontEnd.h"

namespace r4t8::ctl {

class CliUserInterface : public IFullFrontEnd {
  public:
    CliUserInterface();

    // Yes to a Yes/No question (factory reset) only when the user said so.
    void SetAssumeYes(bool yes) { m_assumeYes = yes; }
    // Hex send and receive logs, as the window's debug page shows them.
    bool OpenLog(const QString& path);
    void SetQuiet(bool quiet) { m_quiet = quiet; }

    MsgAnswer ShowMessage(const QString& text, const QString& caption, MsgButtons buttons) override;
    void SetStatusText(int panel, const QString& text) override;
    void RepaintStatus() override {}
    void SetProgress(int position) override;
    void SetProgressVisible(bool visible) override;
    void AppendSendLog(const QString& text) override;
    void AppendReceiveLogLine(const QString& line) override;
    void ProcessEvents() override;
    void OperationFinished(Operation op, Outcome outcome) override;
    void ShowDeviceTime(const QDateTime& time) override { m_deviceTime = time; }
    void AppendDebugOutput(bool received, const QString& text) override;
    int OpenWithDesktop(const QString& path) override;

    // Takes the next outcome of `op` reported since the last call, if any.
    bool TakeOutcome(Operation op, Outcome& outcome);
    void ClearOutcomes() { m_outcomes.clear(); }
    QDateTime DeviceTime() const { return m_deviceTime; }
    // Debug frames go to standard output while monitoring.
    void SetMonitorDebug(bool on) { m_monitorDebug = on; }
    // Called after every outcome, so that a wait for one can end.
    void SetOnOutcome(std::function<void()> callback) { m_onOutcome = std::move(callback); }

  private:
    void EndProgressLine();

    bool m_assumeYes = false;
    bool m_quiet = false;
    bool m_terminal = false;
    bool m_progressShown = false;
    bool m_monitorDebug = false;
    QFile m_log;
    QDateTime m_deviceTime;
    std::deque<std::pair<Operation, Outcome>> m_outcomes;
    std::function<void()> m_onOutcome;
};

}  // namespace r4t8::ctl
