#include "session/DeviceSession.h"

#include "config/SetupForModel.h"
#include "protocol/Captions.h"
#include "protocol/CommandSender.h"
#include "protocol/ProtocolLink.h"
#include "session/OutcomeListeners.h"

namespace r4t8 {

struct DeviceSession::Impl {
    Impl(IPort& port, ITimeSource& time, const SessionFrontEnd& frontEnd, DeviceSettings& settings)
        : messages(frontEnd.messages),
          controls(frontEnd.controls),
          settings(settings),
          report(frontEnd.messages, frontEnd.progress, outcomes),
          link(port, time, report, frontEnd.log),
          config(link.Sender(), report, settings, image),
          history(link.Sender(), report, frontEnd.exportHost, time),
          operations(link.Sender(), report, frontEnd.fields, time) {
        ClearConfigImage(image);
        // A request that timed out, or whose line went away, ends its sequence first, so
        // that a write names its blocks before anyone else hears of the outcome.
        outcomes.Add([this](Operation op, Outcome outcome) {
            if (outcome == Outcome::TimedOut || outcome == Outcome::Aborted)
                config.OnRequestLost(op);
        });
        outcomes.Add([&frontEnd = frontEnd.outcomes](Operation op, Outcome outcome) {
            frontEnd.OperationFinished(op, outcome);
        });

        ReplyDispatcher& dispatcher = link.Dispatcher();
        dispatcher.RegisterAnswer(cmd_login, [this](const ReplyRecord& reply) { OnLogin(reply); });
        config.RegisterReplies(dispatcher);
        history.RegisterReplies(dispatcher);
        operations.RegisterReplies(dispatcher);
    }

    void OnLogin(const ReplyRecord& reply) {
        if (reply.payload[0] == 1) {
            StoreReply(image, kLoginReplyOffset, reply);
            config.ForgetLeftErased();
            controls.SetDeviceControlsEnabled(true);
            const ModelInfo info = SetupForModel(settings, reply);
            model = info.model;
            version = info.version;
            messages.ShowMessage(QStringLiteral("密码正确"), kAppTitle, MsgButtons::Ok);
            outcomes.OperationFinished(Operation::Login, Outcome::Succeeded);
        } else {
            messages.ShowMessage(QStringLiteral("密码错误"), kAppTitle, MsgButtons::Ok);
            outcomes.OperationFinished(Operation::Login, Outcome::Failed);
        }
    }

    IMessages& messages;
    ISessionControls& controls;
    DeviceSettings& settings;
    OutcomeListeners outcomes;
    Reporting report;
    ConfigImage image{};
    ProtocolLink link;
    ConfigSequences config;
    HistoryQuery history;
    DirectOperations operations;
    QString model;
    QString version;
};

DeviceSession::DeviceSession(IPort& port, ITimeSource& time, SessionFrontEnd frontEnd,
                             DeviceSettings& settings)
    : m_impl(std::make_unique<Impl>(port, time, frontEnd, settings)) {}

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
    m_impl->controls.SetLoginEnabled(false);
    m_impl->controls.SetDeviceControlsEnabled(false);
    m_impl->history.RaiseAbort();
}

std::optional<Operation> DeviceSession::AbortPending() {
    CommandSender& sender = m_impl->link.Sender();
    const uint8_t code = sender.OutstandingCommand();
    sender.AbandonRequest();
    if (code == 0) return std::nullopt;
    const std::optional<Operation> op = CommandSender::OperationOf(code);
    if (op) m_impl->outcomes.OperationFinished(*op, Outcome::Aborted);
    return op;
}

void DeviceSession::DispatchReply(const ReplyRecord& reply) {
    m_impl->link.Dispatcher().DispatchReply(reply);
}

int DeviceSession::AddOutcomeListener(OutcomeListener listener) {
    return m_impl->outcomes.Add(std::move(listener));
}
void DeviceSession::RemoveOutcomeListener(int id) { m_impl->outcomes.Remove(id); }

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
