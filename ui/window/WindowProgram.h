// The program's composition: settings record, window, port, clock and session, wired.
#pragma once

#include <QString>
#include <memory>

#include "config/DeviceSettings.h"
#include "protocol/QtTimeSource.h"
#include "serial/PortWatcher.h"
#include "serial/SerialComm.h"
#include "session/DeviceSession.h"
#include "session/PortBinding.h"
#include "ui/window/FileChooser.h"
#include "ui/window/MessagePresenter.h"
#include "ui/window/SerialLink.h"
#include "ui/window/umset.h"

namespace r4t8 {

class WindowProgram {
  public:
    // Null presenter or chooser: the real message boxes and file dialogs. An empty lister:
    // the serial ports of this system.
    explicit WindowProgram(IMessagePresenter* presenter = nullptr, IFileChooser* files = nullptr,
                           PortWatcher::Lister ports = {});
    ~WindowProgram();
    WindowProgram(const WindowProgram&) = delete;
    WindowProgram& operator=(const WindowProgram&) = delete;

    // Window creation with the ports present; `port`, when given, is preselected or typed.
    // From then on the port list follows adapters being plugged in and pulled out.
    void Create(const QString& port = {});

    Tfrm_mset& Window() { return *m_window; }
    DeviceSession& Session() { return *m_session; }
    DeviceSettings& Settings() { return m_settings; }
    PortBinding& Link() { return *m_link; }
    PortWatcher& Watcher() { return *m_watcher; }

  private:
    // The window's open/close toggle on the binding.
    class Toggle : public ISerialLink {
      public:
        explicit Toggle(PortBinding& link) : m_link(link) {}
        bool Open(const QString& name, QString& reason) override {
            return m_link.Open(name, reason);
        }
        void Close() override { m_link.Close(); }
        bool IsOpen() const override { return m_link.IsOpen(); }

      private:
        PortBinding& m_link;
    };

    QtTimeSource m_time;
    DeviceSettings m_settings;
    MessageBoxPresenter m_boxes;
    DialogFileChooser m_dialogs;
    std::unique_ptr<Tfrm_mset> m_window;
    TComm m_comm;
    std::unique_ptr<PortBinding> m_link;
    std::unique_ptr<Toggle> m_toggle;
    std::unique_ptr<PortWatcher> m_watcher;
    std::unique_ptr<DeviceSession> m_session;  // last: it refers to all of the above
};

}  // namespace r4t8
