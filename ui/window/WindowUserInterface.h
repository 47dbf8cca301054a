// The window as the session's front end: messages through the presenter, everything else onto
// the window's controls.
#pragma once

#include "operations/OperationViews.h"
#include "protocol/Outcome.h"
#include "protocol/UserInterfaces.h"
#include "session/SessionControls.h"
#include "session/SessionFrontEnd.h"

namespace r4t8 {

class IMessagePresenter;
class Tfrm_mset;

class WindowUserInterface : public IFullFrontEnd {
  public:
    WindowUserInterface(Tfrm_mset& window, IMessagePresenter& presenter)
        : m_window(window), m_presenter(presenter) {}

    MsgAnswer ShowMessage(const QString& text, const QString& caption,
                          MsgButtons buttons = MsgButtons::Ok) override;
    void SetStatusText(int panel, const QString& text) override;
    void RepaintStatus() override;
    void SetProgress(int position) override;
    void SetProgressVisible(bool visible) override;
    void AppendSendLog(const QString& text) override;
    void AppendReceiveLogLine(const QString& line) override;
    void ProcessEvents() override;
    // The window follows outcomes through the session's listeners.
    void OperationFinished(Operation, Outcome) override {}
    void SetLoginEnabled(bool enabled) override;
    void SetDeviceControlsEnabled(bool enabled) override;
    void ShowDeviceTime(const QDateTime& time) override;
    void SetCurrentDataCell(int column, const QString& text) override;
    void AppendDebugOutput(bool received, const QString& text) override;
    int OpenWithDesktop(const QString& path) override;

    // Message boxes open now (nested: a box's event loop may lead to another).
    int MessageDepth() const { return m_messageDepth; }

  private:
    Tfrm_mset& m_window;
    IMessagePresenter& m_presenter;
    int m_messageDepth = 0;
};

}  // namespace r4t8
