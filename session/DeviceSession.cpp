#include "DeviceSession.h"

#include <map>

#include "config/SetupForModel.h"
#include "protocol/CommandSender.h"
#include "protocol/ProtocolLink.h"

namespace r4t8 {

namespace {

const QString kTitle = QStringLiteral("R4T8报警器设置软件");

bool Succeeded(const ReplyRecord& reply) { return reply.payload[0] == 1; }

// Passes everything on to the front end, and tells the outcome listeners after it.
class OutcomeTap : public IUserInterface {
  public:
    explicit OutcomeTap(IUserInterface& inner) : m_inner(inner) {}

    MsgAnswer ShowMessage(const QString& text, const QString& caption,
                          MsgButtons buttons) override {
        return m_inner.ShowMessage(text, caption, buttons);
    }
    void SetStatusText(int panel, const QString& text) override {
        m_inner.SetStatusText(panel, text);
    }
    void RepaintStatus() override { m_inner.RepaintStatus(); }
    void SetProgress(int position) override { m_inner.SetProgress(position); }
    void SetProgressVisible(bool visible) override { m_inner.SetProgressVisible(visible); }
    void AppendSendLog(const QString& text) override { m_inner.AppendSendLog(text); }
    void AppendReceiveLogLine(const QString& line) override { m_inner.AppendReceiveLogLine(line); }
    void ProcessEvents() override { m_inner.ProcessEvents(); }
    void OperationFinished(Operation op, Outcome outcome) override {
        if (m_before) m_before(op, outcome);
        m_inner.OperationFinished(op, outcome);
        // A copy: a listener may add or remove listeners.
        const auto listeners = m_listeners;
        for (const auto& entry : listeners) entry.second(op, outcome);
    }
    void SetLoginEnabled(bool enabled) override { m_inner.SetLoginEnabled(enabled); }
    void SetDeviceControlsEnabled(bool enabled) override {
        m_inner.SetDeviceControlsEnabled(enabled);
    }
    void ShowDeviceTime(const QDateTime& time) override { m_inner.ShowDeviceTime(time); }
    void SetCurrentDataCell(int column, const QString& text) override {
        m_inner.SetCurrentDataCell(column, text);
    }
    void AppendDebugOutput(bool received, const QString& text) override {
        m_inner.AppendDebugOutput(received, text);
    }
    int OpenWithDesktop(const QString& path) override { return m_inner.OpenWithDesktop(path); }

    int Add(DeviceSession::OutcomeListener listener) {
        m_listeners.emplace(m_next, std::move(listener));
        return m_next++;
    }
    void Remove(int id) { m_listeners.erase(id); }
    // Runs before the front end hears of an outcome.
    void SetBefore(DeviceSession::OutcomeListener before) { m_before = std::move(before); }

  private:
    IUserInterface& m_inner;
    DeviceSession::OutcomeListener m_before;
    std::map<int, DeviceSession::OutcomeListener> m_listeners;
    int m_next = 1;
};

}  // namespace

struct DeviceSession::Impl {
    Impl(IPort& port, ITimeSource& time, IUserInterface& frontEnd, DeviceSettings& settings)
        : tap(frontEnd),
          ui(tap),
          settings(settings),
          link(port, time, tap),
          config(link.Sender(), tap, settings, image),
          history(link.Sender(), tap, time),
          operations(link.Sender(), tap, time) {
        ClearConfigImage(image);
        // A request that timed out, or whose line went away, ends its sequence first, so
        // that a write names its blocks before anyone else hears of the outcome.
        tap.SetBefore([this](Operation op, Outcome outcome) {
            if (outcome == Outcome::TimedOut || outcome == Outcome::Aborted)
                config.OnRequestLost(op);
        });
    }

    // A reply goes to its handler only while its request is the one waited for.
    bool Expected(uint8_t command) {
        if (link.Sender().OutstandingCommand() == command) return true;
        link.Sender().RejectReply();
        return false;
    }

    // One of the plain rows: a message for each outcome, and the outcome reported.
    void ShowOutcome(const ReplyRecord& reply, Operation op, const char* success,
                     const char* failure) {
        const bool ok = Succeeded(reply);
        ui.ShowMessage(QString::fromUtf8(ok ? success : failure), kTitle, MsgButtons::Ok);
        ui.OperationFinished(op, ok ? Outcome::Succeeded : Outcome::Failed);
    }

    OutcomeTap tap;
    IUserInterface& ui;
    DeviceSettings& settings;
    ConfigImage image{};
    ProtocolLink link;
    ConfigSequences config;
    HistoryQuery history;
    DirectOperations operations;
    QString model;
    QString version;
};

DeviceSession::DeviceSession(IPort& port, ITimeSource& time, IUserInterface& ui,
                             DeviceSettings& settings)
    : m_impl(std::make_unique<Impl>(port, time, ui, settings)) {
    m_impl->link.SetDispatch([this](const ReplyRecord& reply) { DispatchReply(reply); });
}

DeviceSession::~DeviceSession() = default;

void DeviceSession::cm1ReceiveData(const uint8_t* buffer, uint16_t length) {
    m_impl->link.cm1ReceiveData(buffer, length);
}

void DeviceSession::cm1ReceiveData(const uint8_t* buffer, uint16_t length, int64_t arrivalUs) {
    m_impl->link.cm1ReceiveData(buffer, length, arrivalUs);
}

void DeviceSession::btn7Click(const QString& password) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4 && i < password.size(); ++i) {
        const char16_t c = password.at(i).unicode();
        // The edit takes digits only; anything else could not be an ASCII code.
        bytes[i] = c < 0x80 ? static_cast<uint8_t>(c) : static_cast<uint8_t>('?');
    }
    m_impl->link.Sender().SendFrame(BuildLoginFrame(bytes));
}

void DeviceSession::btn_stopClick() {
    m_impl->link.Sender().StopResend();
    m_impl->ui.SetLoginEnabled(false);
    m_impl->ui.SetDeviceControlsEnabled(false);
    m_impl->history.RaiseAbort();
}

std::optional<Operation> DeviceSession::AbortPending() {
    CommandSender& sender = m_impl->link.Sender();
    const uint8_t code = sender.OutstandingCommand();
    sender.AbandonRequest();
    if (code == 0) return std::nullopt;
    const std::optional<Operation> op = CommandSender::OperationOf(code);
    if (op) m_impl->ui.OperationFinished(*op, Outcome::Aborted);
    return op;
}

void DeviceSession::DispatchReply(const ReplyRecord& reply) {
    Impl& d = *m_impl;
    switch (reply.command) {
        case cmd_login:
            if (!d.Expected(cmd_login)) break;
            if (Succeeded(reply)) {
                StoreReply(d.image, kLoginReplyOffset, reply);
                d.config.ForgetLeftErased();
                d.ui.SetDeviceControlsEnabled(true);
                const ModelInfo info = SetupForModel(d.settings, reply);
                d.model = info.model;
                d.version = info.version;
                d.ui.ShowMessage(QStringLiteral("密码正确"), kTitle, MsgButtons::Ok);
                d.ui.OperationFinished(Operation::Login, Outcome::Succeeded);
            } else {
                d.ui.ShowMessage(QStringLiteral("密码错误"), kTitle, MsgButtons::Ok);
                d.ui.OperationFinished(Operation::Login, Outcome::Failed);
            }
            break;
        case cmd_write_block:
            d.config.OnWriteReply(reply);
            break;
        case cmd_read_block:
            d.config.OnReadReply(reply);
            break;
        case cmd_erase_block:
            d.config.OnEraseReply(reply);
            break;
        case cmd_write_done:
            d.config.OnWriteDoneReply(reply);
            break;
        case cmd_factory_reset:
            if (!d.Expected(reply.command)) break;
            d.ShowOutcome(reply, Operation::FactoryReset, "工厂化成功", "工厂化失败");
            break;
        case cmd_history_count:
            d.history.OnCountReply(reply);
            break;
        case cmd_history_page:
            d.history.OnPageReply(reply);
            break;
        case cmd_current_data:
            if (!d.Expected(reply.command)) break;
            d.operations.OnCurrentDataReply(reply);
            break;
        case cmd_relay:
            if (!d.Expected(reply.command)) break;
            d.ShowOutcome(reply, Operation::Relay, "操作成功", "继电器操作失败");
            break;
        case cmd_debug_mode:
            // The switch-off request gets the same texts.
            if (!d.Expected(reply.command)) break;
            d.ShowOutcome(reply, Operation::DebugMode, "开启调试模式成功", "开启调试模式失败");
            break;
        case cmd_debug_data:
            d.operations.OnDebugData(reply);
            break;
        case cmd_set_time:
            if (!d.Expected(reply.command)) break;
            d.ShowOutcome(reply, Operation::SetTime, "设置时间成功", "设置时间失败");
            break;
        case cmd_get_time:
            if (!d.Expected(reply.command)) break;
            d.operations.OnGetTimeReply(reply);
            break;
        default:
            break;  // unknown codes: the guard keeps them from stopping the resend timer
    }
}

int DeviceSession::AddOutcomeListener(OutcomeListener listener) {
    return m_impl->tap.Add(std::move(listener));
}
void DeviceSession::RemoveOutcomeListener(int id) { m_impl->tap.Remove(id); }

ISender& DeviceSession::Sender() { return m_impl->link.Sender(); }
CommandSender& DeviceSession::Commands() { return m_impl->link.Sender(); }
const FrameReceiver& DeviceSession::Receiver() const { return m_impl->link.Receiver(); }
ConfigSequences& DeviceSession::Config() { return m_impl->config; }
HistoryQuery& DeviceSession::History() { return m_impl->history; }
DirectOperations& DeviceSession::Operations() { return m_impl->operations; }
ConfigImage& DeviceSession::Image() { return m_impl->image; }
DeviceSettings& DeviceSession::Settings() { return m_impl->settings; }
QString DeviceSession::Model() const { return m_impl->model; }
QString DeviceSession::Version() const { return m_impl->version; }

}  // namespace r4t8
