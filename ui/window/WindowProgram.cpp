#include "ui/window/WindowProgram.h"

#include "serial/PortList.h"
#include "ui/window/WindowUserInterface.h"

namespace r4t8 {

namespace {

std::vector<PortChoice> Choices(const std::vector<PortInfo>& ports) {
    std::vector<PortChoice> choices;
    for (const PortInfo& info : ports) {
        QString description = info.description;
        if (!info.stablePath.isEmpty())
            description +=
                (description.isEmpty() ? QString() : QStringLiteral("\n")) + info.stablePath;
        choices.push_back({info.name, description, info.description});
    }
    return choices;
}

}  // namespace

WindowProgram::WindowProgram(IMessagePresenter* presenter, IFileChooser* files,
                             PortWatcher::Lister ports) {
    m_window = std::make_unique<Tfrm_mset>(m_settings, presenter ? *presenter : m_boxes);
    m_boxes.SetParent(m_window.get());
    m_dialogs.SetParent(m_window.get());
    m_settings.SetUserInterface(&m_window->UserInterface());
    m_window->SetFileChooser(files ? files : &m_dialogs);
    m_window->SetTimeSource(&m_time);

    m_link = std::make_unique<PortBinding>(m_comm);
    m_toggle = std::make_unique<Toggle>(*m_link);
    m_window->SetSerialLink(m_toggle.get());
    m_session =
        std::make_unique<DeviceSession>(*m_link, m_time, m_window->UserInterface(), m_settings);
    m_window->AttachSession(m_session.get());
    m_window->AttachLiveData(m_session.get());
    m_watcher = std::make_unique<PortWatcher>(nullptr, std::move(ports));
    QObject::connect(
        m_watcher.get(), &PortWatcher::PortsChanged, m_window.get(),
        [this](const std::vector<PortInfo>& now) { m_window->UpdatePortList(Choices(now)); });
    m_link->Attach(m_session.get());
    m_link->SetStateListener([this](PortBinding::State state) {
        if (state == PortBinding::State::Lost) m_window->ShowPortLost();
    });
    m_link->SetHangupListener([this](std::optional<Operation> stopped) {
        m_window->ShowHangup(QString(), stopped.has_value());
    });
}

WindowProgram::~WindowProgram() {
    // Nothing may reach the session or the window once they start going away.
    m_link->Attach(nullptr);
    m_link->SetStateListener({});
    m_link->SetHangupListener({});
    m_watcher->Stop();
    m_window->AttachLiveData(nullptr);
    m_window->AttachSession(nullptr);
    m_settings.SetUserInterface(nullptr);
}

void WindowProgram::Create(const QString& port) {
    m_watcher->Start();
    m_window->FormCreate(Choices(m_watcher->Ports()), m_time.CurrentDateTime());
    if (!port.isEmpty()) m_window->SelectPort(port);
}

}  // namespace r4t8
