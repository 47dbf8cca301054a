// What the benchmarks share: a user interface that answers at once, a port that counts, and
// a device session on TComm against the simulated controller.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "operations/OperationViews.h"
#include "protocol/Outcome.h"
#include "protocol/QtTimeSource.h"
#include "protocol/UserInterfaces.h"
#include "serial/SerialComm.h"
#include "session/DeviceSession.h"
#include "session/PortBinding.h"
#include "session/SessionControls.h"
#include "session/SessionFrontEnd.h"
#include "support/SimProcess.h"

namespace r4t8::bench {

// Answers every box at once (No to the "open the file?" questions) and keeps only outcomes,
// so the figures show the tool's own cost and not that of a log that grows without end.
class BenchUserInterface : public IFullFrontEnd {
  public:
    MsgAnswer ShowMessage(const QString& text, const QString&, MsgButtons buttons) override {
        ++messages;
        lastMessage = text;
        switch (buttons) {
            case MsgButtons::YesNo:
            case MsgButtons::YesNoDefaultNo:
                return MsgAnswer::No;
            case MsgButtons::OkCancel:
                return MsgAnswer::Cancel;
            case MsgButtons::Ok:
                break;
        }
        return MsgAnswer::Ok;
    }
    void SetStatusText(int, const QString&) override {}
    void RepaintStatus() override {}
    void SetProgress(int) override {}
    void SetProgressVisible(bool) override {}
    void AppendSendLog(const QString&) override {}
    void AppendReceiveLogLine(const QString&) override { ++receiveLogLines; }
    // As the window does: the export yields to the event loop once per record.
    void ProcessEvents() override {
        if (processEvents) QCoreApplication::processEvents();
    }
    int OpenWithDesktop(const QString&) override { return 0; }
    void OperationFinished(Operation op, Outcome outcome) override {
        const auto i = static_cast<size_t>(op);
        finished[i] = true;
        outcomes[i] = outcome;
        if (onFinished) onFinished(op, outcome);
    }

    void Clear(Operation op) { finished[static_cast<size_t>(op)] = false; }
    bool Finished(Operation op) const { return finished[static_cast<size_t>(op)]; }
    Outcome OutcomeOf(Operation op) const { return outcomes[static_cast<size_t>(op)]; }

    bool processEvents = true;
    int messages = 0;
    QString lastMessage;
    uint64_t receiveLogLines = 0;
    std::array<bool, 16> finished{};
    std::array<Outcome, 16> outcomes{};
    std::function<void(Operation, Outcome)> onFinished;
};

// Runs the owner's event loop until `op` has finished or `timeoutMs` passed; a failed
// `giveUp` operation ends the wait too (a refused write never reaches write-done).
inline bool RunUntilFinished(BenchUserInterface& ui, Operation op, int timeoutMs = 20000,
                             std::optional<Operation> giveUp = std::nullopt) {
    const auto failed = [&] {
        return giveUp && ui.Finished(*giveUp) && ui.OutcomeOf(*giveUp) != Outcome::Succeeded;
    };
    if (ui.Finished(op) || failed()) return ui.Finished(op);
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    ui.onFinished = [&](Operation done, Outcome) {
        if (done == op || failed()) loop.quit();
    };
    guard.start(timeoutMs);
    loop.exec();
    ui.onFinished = nullptr;
    return ui.Finished(op);
}

// Counts the bytes the tool writes, on their way to the port.
class CountingPort : public IPort {
  public:
    explicit CountingPort(IPort& inner) : m_inner(inner) {}
    bool WriteBytes(const uint8_t* data, size_t count) override {
        written += count;
        if (onWrite) onWrite();
        return m_inner.WriteBytes(data, count);
    }
    uint64_t written = 0;
    std::function<void()> onWrite;

  private:
    IPort& m_inner;
};

// The tool's session on TComm (InputLen 1, as the program sets it) against a port path.
class PortSession {
  public:
    explicit PortSession(const std::string& path) : m_link(m_comm), port(m_link) {
        m_link.SetReceiveListener([this](uint16_t length) { received += length; });
        session = std::make_unique<DeviceSession>(port, time, ui, settings);
        m_link.Attach(session.get());
        QString reason;
        m_link.Open(QString::fromStdString(path), reason);
    }
    ~PortSession() {
        m_link.Attach(nullptr);
        session.reset();
        m_link.Close();
    }

    bool Open() const { return m_link.IsOpen(); }

    bool Login() {
        ui.Clear(Operation::Login);
        session->btn7Click(QStringLiteral("5807"));
        return RunUntilFinished(ui, Operation::Login) &&
               ui.OutcomeOf(Operation::Login) == Outcome::Succeeded;
    }
    // The controller's clock: a request of another code between two reads.
    bool ClockQuery() {
        ui.Clear(Operation::GetTime);
        session->Operations().btn_acquiretimeClick();
        return RunUntilFinished(ui, Operation::GetTime) &&
               ui.OutcomeOf(Operation::GetTime) == Outcome::Succeeded;
    }
    bool FullRead() {
        ui.Clear(Operation::ReadSettings);
        session->Config().btn_loadClick();
        return RunUntilFinished(ui, Operation::ReadSettings) &&
               ui.OutcomeOf(Operation::ReadSettings) == Outcome::Succeeded;
    }
    // Fills what a read left unwritable (the simulator's memory starts mostly empty), as a
    // user would before writing: the first item of a list, 0 in an edit.
    bool MakeWritable() {
        constexpr ConfigBlock kBlocks[] = {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock,
                                           ConfigBlock::GprsBlock, ConfigBlock::SystemBlock};
        for (int round = 0; round < 200; ++round) {
            std::optional<FieldProblem> problem;
            for (const ConfigBlock b : kBlocks)
                if ((problem = ValidateBlock(b, settings))) break;
            if (!problem) return true;
            if (!settings.Items(problem->name).isEmpty())
                settings.SetIndex(problem->name, 0);
            else
                settings.SetText(problem->name, QStringLiteral("0"));
        }
        return false;
    }
    // Erase and write of the four blocks, up to the controller's answer to write-done.
    bool FullWrite() {
        ui.Clear(Operation::WriteSettings);
        ui.Clear(Operation::WriteDone);
        session->Config().btn_downClick();
        return RunUntilFinished(ui, Operation::WriteDone, 20000, Operation::WriteSettings) &&
               ui.OutcomeOf(Operation::WriteSettings) == Outcome::Succeeded &&
               ui.OutcomeOf(Operation::WriteDone) == Outcome::Succeeded;
    }

  private:
    TComm m_comm;
    PortBinding m_link;

  public:
    CountingPort port;
    QtTimeSource time;
    BenchUserInterface ui;
    DeviceSettings settings{&ui};
    std::unique_ptr<DeviceSession> session;
    uint64_t received = 0;
};

}  // namespace r4t8::bench
