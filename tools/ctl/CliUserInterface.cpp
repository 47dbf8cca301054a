#include "CliUserInterface.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>

namespace r4t8::ctl {

CliUserInterface::CliUserInterface() : m_terminal(isatty(STDERR_FILENO) == 1) {}

bool CliUserInterface::OpenLog(const QString& path) {
    m_log.setFileName(path);
    return m_log.open(QIODevice::WriteOnly | QIODevice::Append);
}

MsgAnswer CliUserInterface::ShowMessage(const QString& text, const QString& /*caption*/,
                                        MsgButtons buttons) {
    EndProgressLine();
    if (!m_quiet || buttons != MsgButtons::Ok)
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    switch (buttons) {
        case MsgButtons::YesNo:
            return m_assumeYes ? MsgAnswer::Yes : MsgAnswer::No;
        // A script that wants to go without a safeguard says so with its own option.
        case MsgButtons::YesNoDefaultNo:
            return MsgAnswer::No;
        // The open questions after an export: a script never wants a desktop program.
        case MsgButtons::OkCancel:
            return MsgAnswer::Cancel;
        case MsgButtons::Ok:
            break;
    }
    return MsgAnswer::Ok;
}

void CliUserInterface::SetStatusText(int /*panel*/, const QString& /*text*/) {}

void CliUserInterface::SetProgress(int position) {
    if (!m_terminal || m_quiet) return;
    const int filled = std::clamp(position, 0, 80) * 40 / 80;
    std::fprintf(stderr, "\r[%s%s] %3d%%", QByteArray(filled, '#').constData(),
                 QByteArray(40 - filled, ' ').constData(), std::clamp(position, 0, 80) * 100 / 80);
    std::fflush(stderr);
    m_progressShown = true;
}

void CliUserInterface::SetProgressVisible(bool visible) {
    if (!visible) EndProgressLine();
}

void CliUserInterface::EndProgressLine() {
    if (!m_progressShown) return;
    std::fprintf(stderr, "\n");
    m_progressShown = false;
}

void CliUserInterface::AppendSendLog(const QString& text) {
    if (!m_log.isOpen()) return;
    m_log.write("TX");
    m_log.write(text.toLatin1());
    m_log.flush();
}

void CliUserInterface::AppendReceiveLogLine(const QString& line) {
    if (!m_log.isOpen()) return;
    m_log.write("RX");
    m_log.write(line.toLatin1());
    m_log.write("\r\n");
    m_log.flush();
}

void CliUserInterface::ProcessEvents() { QCoreApplication::processEvents(); }

void CliUserInterface::OperationFinished(Operation op, Outcome outcome) {
    m_outcomes.emplace_back(op, outcome);
    if (m_onOutcome) m_onOutcome();
}

void CliUserInterface::AppendDebugOutput(bool received, const QString& text) {
    if (!m_monitorDebug) return;
    QString lines = text;
    lines.replace("\r\n", "\n");
    for (const QString& line : lines.split('\n', Qt::SkipEmptyParts))
        std::printf("%s%s\n", received ? "R" : "T", line.toLatin1().constData());
    std::fflush(stdout);
}

int CliUserInterface::OpenWithDesktop(const QString& /*path*/) { return 0; }

bool CliUserInterface::TakeOutcome(Operation op, Outcome& outcome) {
    for (auto it = m_outcomes.begin(); it != m_outcomes.end(); ++it) {
        if (it->first == op) {
            outcome = it->second;
            m_outcomes.erase(it);
            return true;
        }
    }
    return false;
}

}  // namespace r4t8::ctl
