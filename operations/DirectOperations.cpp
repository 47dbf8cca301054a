#include "DirectOperations.h"

#include <algorithm>
#include <optional>

#include "operations/DebugText.h"
#include "protocol/Captions.h"

namespace r4t8 {

namespace {

// A record never holds more than its payload array, whatever its count claims.
size_t PayloadSize(const ReplyRecord& reply) {
    return std::min<size_t>(reply.payloadCount, reply.payload.size());
}

// An empty edit stands for 255; any other text must be an integer, kept in 16 bits.
std::optional<uint16_t> RelayValue(const QString& text) {
    if (text.isEmpty()) return 255;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return static_cast<uint16_t>(value);
}

}  // namespace

DirectOperations::DirectOperations(ISender& sender, Reporting report, IOperationFields& fields,
                                   ITimeSource& time)
    : m_sender(sender), m_report(report), m_fields(fields), m_time(time) {}

void DirectOperations::RegisterReplies(ReplyDispatcher& dispatcher) {
    dispatcher.RegisterAnswer(cmd_current_data,
                              [this](const ReplyRecord& r) { OnCurrentDataReply(r); });
    dispatcher.RegisterAnswer(cmd_get_time, [this](const ReplyRecord& r) { OnGetTimeReply(r); });
    // Debug data comes unasked, whatever is on the line.
    dispatcher.Register(cmd_debug_data, [this](const ReplyRecord& r) { OnDebugData(r); });
    dispatcher.RegisterAnswer(cmd_factory_reset, [this](const ReplyRecord& r) {
        ShowOutcome(r, Operation::FactoryReset, QStringLiteral("工厂化成功"),
                    QStringLiteral("工厂化失败"));
    });
    dispatcher.RegisterAnswer(cmd_relay, [this](const ReplyRecord& r) {
        ShowOutcome(r, Operation::Relay, QStringLiteral("操作成功"),
                    QStringLiteral("继电器操作失败"));
    });
    // The switch-off request gets the same texts.
    dispatcher.RegisterAnswer(cmd_debug_mode, [this](const ReplyRecord& r) {
        ShowOutcome(r, Operation::DebugMode, QStringLiteral("开启调试模式成功"),
                    QStringLiteral("开启调试模式失败"));
    });
    dispatcher.RegisterAnswer(cmd_set_time, [this](const ReplyRecord& r) {
        ShowOutcome(r, Operation::SetTime, QStringLiteral("设置时间成功"),
                    QStringLiteral("设置时间失败"));
    });
}

void DirectOperations::ShowOutcome(const ReplyRecord& reply, Operation op, const QString& success,
                                   const QString& failure) {
    const bool ok = reply.payload[0] == 1;
    m_report.messages.ShowMessage(ok ? success : failure, kAppTitle, MsgButtons::Ok);
    m_report.outcomes.OperationFinished(op, ok ? Outcome::Succeeded : Outcome::Failed);
}

void DirectOperations::btn_inquire_curdatClick() { m_sender.SendCommand(cmd_current_data); }

void DirectOperations::OnCurrentDataReply(const ReplyRecord& reply) {
    const CurrentDataDecode decoded = DecodeCurrentData(reply.payload.data(), PayloadSize(reply));
    m_snapshot = decoded.snapshot;
    if (decoded.undefinedItem)
        m_report.messages.ShowMessage(QStringLiteral("当前数据出现未定义项"), kAppTitle);
    // What was decoded before an undefined item is still shown.
    const auto texts = CurrentDataTexts(m_snapshot);
    for (int column = 1; column < kCurrentDataColumns; ++column) {
        if (!texts[column]) continue;
        m_cells[column] = *texts[column];
        m_fields.SetCurrentDataCell(column, m_cells[column]);
    }
    m_report.outcomes.OperationFinished(
        Operation::CurrentData, decoded.undefinedItem ? Outcome::Failed : Outcome::Succeeded);
}

const QString& DirectOperations::CurrentDataCell(int column) const {
    static const QString kNone;
    if (column < 0 || column >= kCurrentDataColumns) return kNone;
    return m_cells[column];
}

void DirectOperations::Button3Click(const RelayInputs& inputs) {
    std::optional<RelayMode> mode;
    if (inputs.comboIndex == 0)
        mode = RelayMode::Close;
    else if (inputs.comboIndex == 1)
        mode = RelayMode::Pulse;

    const QString* edits[] = {&inputs.edit8, &inputs.edit10, &inputs.edit11, &inputs.edit12};
    uint16_t values[4] = {};
    for (int i = 0; i < 4; ++i) {
        const auto value = RelayValue(*edits[i]);
        if (!value) {
            // Nothing is sent and nothing is kept from a press with unreadable numbers.
            m_report.messages.ShowMessage(
                QStringLiteral("'%1' is not a valid integer value").arg(*edits[i]), kAppTitle);
            return;
        }
        values[i] = *value;
    }
    Relay(mode, RelayTimes{values[0], values[1], values[2], values[3]});
}

void DirectOperations::Relay(std::optional<RelayMode> mode, const RelayTimes& times) {
    const uint8_t letter = mode ? static_cast<uint8_t>(*mode) : m_relay.letter;
    m_relay.letter = letter;
    m_relay.closeTime = times.closeTime;
    m_relay.pulseTime = times.pulseTime;
    m_relay.interval = times.interval;
    m_relay.count = times.count;

    SendCommandArgs& args = m_sender.Args();
    args.relayLetter = letter;
    args.relayCloseTime = m_relay.closeTime;
    args.relayPulseTime = m_relay.pulseTime;
    args.relayInterval = m_relay.interval;
    args.relayCount = m_relay.count;
    // Typed combo text before any mode was ever chosen: there is no request to make.
    if (letter == 0) return;
    m_sender.SendCommand(cmd_relay);
}

void DirectOperations::Button2Click() {
    // The release letter goes only into the frame; the next "执行" with typed combo text
    // must still repeat the close or pulse of the previous press.
    m_sender.Args().relayLetter = 'O';
    m_sender.SendCommand(cmd_relay);
}

void DirectOperations::btn_acquiretimeClick() { m_sender.SendCommand(cmd_get_time); }

void DirectOperations::Button4Click(const QDate& date, const QTime& time) { sendTime(date, time); }

void DirectOperations::btn_setcurtimeClick() {
    const QDateTime now = m_time.CurrentDateTime();
    sendTime(now.date(), now.time());
}

void DirectOperations::sendTime(const QDate& date, const QTime& time) {
    // The pickers always hold a valid value; a null one would send month and day 0.
    if (!date.isValid() || !time.isValid()) return;
    m_sender.Args().deviceTime = ToDeviceTime(date, time);
    m_sender.SendCommand(cmd_set_time);
}

void DirectOperations::OnGetTimeReply(const ReplyRecord& reply) {
    const QDateTime time = FromDeviceTime(reply.payload.data(), PayloadSize(reply));
    if (!time.isValid()) {
        m_report.messages.ShowMessage(QStringLiteral("时间不正确"), kAppTitle);
        m_report.outcomes.OperationFinished(Operation::GetTime, Outcome::Failed);
        return;
    }
    m_deviceTime = time;
    m_fields.ShowDeviceTime(time);
    m_report.outcomes.OperationFinished(Operation::GetTime, Outcome::Succeeded);
}

void DirectOperations::Button5Click() { m_sender.SendCommand(cmd_debug_mode); }

void DirectOperations::btn_padlockregulationClick() { m_sender.SendCommand(cmd_debug_off); }

void DirectOperations::OnDebugData(const ReplyRecord& reply) {
    const size_t count = PayloadSize(reply);
    if (count < 2) return;  // no letter, or the letter alone: nothing to show
    const uint8_t letter = reply.payload[0];
    if (letter != 'R' && letter != 'T') return;
    m_fields.AppendDebugOutput(letter == 'R',
                               FormatDebugBytes(reply.payload.data() + 1, count - 1));
}

void DirectOperations::btn_industrialClick() {
    if (m_report.messages.ShowMessage(QStringLiteral("确定恢复工厂化"), kQuestionCaption,
                                      MsgButtons::YesNo) == MsgAnswer::Yes)
        m_sender.SendCommand(cmd_factory_reset);
}

std::array<uint8_t, 6> ToDeviceTime(const QDate& date, const QTime& time) {
    const int year = ((date.year() % 100) + 100) % 100;
    return {static_cast<uint8_t>(year),          static_cast<uint8_t>(date.month()),
            static_cast<uint8_t>(date.day()),    static_cast<uint8_t>(time.hour()),
            static_cast<uint8_t>(time.minute()), static_cast<uint8_t>(time.second())};
}

QDateTime FromDeviceTime(const uint8_t* bytes, size_t count) {
    // The year byte is the year mod 100; anything above 99 is no year the controller keeps.
    if (!bytes || count < 6 || bytes[0] > 99) return {};
    // QDate and QTime reject month 0 or 13, day 0 or past the month's end, hour 24,
    // minute or second 60, so every impossible value ends here as one invalid result.
    const QDate date(2000 + bytes[0], bytes[1], bytes[2]);
    const QTime time(bytes[3], bytes[4], bytes[5]);
    if (!date.isValid() || !time.isValid()) return {};
    QDateTime local(date, time);
    // The controller's clock knows no time zone: a wall time that falls into a daylight
    // saving gap of this PC is still the time the controller reported.
    if (!local.isValid()) return QDateTime(date, time, Qt::UTC);
    return local;
}

}  // namespace r4t8
