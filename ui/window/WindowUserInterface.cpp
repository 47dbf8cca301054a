#include "ui/window/WindowUserInterface.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "ui/window/MessagePresenter.h"
#include "ui/window/umset.h"

namespace r4t8 {

MsgAnswer WindowUserInterface::ShowMessage(const QString& text, const QString& caption,
                                           MsgButtons buttons) {
    ++m_messageDepth;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{m_messageDepth};
    return m_presenter.Present(text, caption, buttons);
}

void WindowUserInterface::SetStatusText(int panel, const QString& text) {
    m_window.SetStatusText(panel, text);
}

void WindowUserInterface::RepaintStatus() {
    if (QWidget* bar = m_window.findChild<QWidget*>(QStringLiteral("stat1"))) bar->repaint();
}

void WindowUserInterface::SetProgress(int position) { m_window.SetProgress(position); }

void WindowUserInterface::SetProgressVisible(bool visible) { m_window.SetProgressVisible(visible); }

void WindowUserInterface::AppendSendLog(const QString& text) { m_window.AppendSendLog(text); }

void WindowUserInterface::AppendReceiveLogLine(const QString& line) {
    m_window.AppendReceiveLogLine(line);
}

void WindowUserInterface::ProcessEvents() { QCoreApplication::processEvents(); }

void WindowUserInterface::SetLoginEnabled(bool enabled) { m_window.SetLoginEnabled(enabled); }

void WindowUserInterface::SetDeviceControlsEnabled(bool enabled) {
    m_window.SetDeviceControlsEnabled(enabled);
}

void WindowUserInterface::ShowDeviceTime(const QDateTime& time) { m_window.ShowDeviceTime(time); }

void WindowUserInterface::SetCurrentDataCell(int column, const QString& text) {
    m_window.SetCurrentDataCell(column, text);
}

void WindowUserInterface::AppendDebugOutput(bool received, const QString& text) {
    m_window.AppendDebugOutput(received, text);
}

int WindowUserInterface::OpenWithDesktop(const QString& path) {
    // 2 is the classic "file not found" of the desktop's open action.
    if (!QFileInfo::exists(path)) return 2;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path)) ? 0 : 31;
}

}  // namespace r4t8
