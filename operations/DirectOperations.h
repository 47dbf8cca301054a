// Current data, relay, clock, debug output and factory reset.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <array>
#include <cstdint>
#include <optional>

#include "operations/CurrentData.h"
#include "operations/OperationViews.h"
#include "operations/RelayRules.h"
#include "protocol/Frame.h"
#include "protocol/ReplyDispatcher.h"
#include "protocol/Sender.h"
#include "protocol/TimeSource.h"
#include "protocol/UserInterfaces.h"

namespace r4t8 {

// Close keeps the relay closed for the close time; Pulse pulses it `count` times.
enum class RelayMode : uint8_t { Close = 'C', Pulse = 'P' };

// The four numbers every relay request carries, whatever its mode; the defaults are the texts
// of the window's edits at its start.
struct RelayTimes {
    uint16_t closeTime = 10;
    uint16_t pulseTime = 3;
    uint16_t interval = 1;
    uint16_t count = 5;
};

// What the relay group shows when "执行" is pressed.
struct RelayInputs {
    int comboIndex = 0;  // ComboBox1: 0 close, 1 pulse, -1 no item (typed text)
    QString edit8, edit10, edit11, edit12;
};

// The relay values of the last press, kept between presses.
struct RelayParameters {
    uint8_t letter = 0;  // 'C' or 'P' of the last "执行"; 0 while none was chosen
    uint16_t closeTime = 0;
    uint16_t pulseTime = 0;
    uint16_t interval = 0;
    uint16_t count = 0;
};

class DirectOperations {
  public:
    // `fields`: the current data cells, the device time and the debug output.
    DirectOperations(ISender& sender, Reporting report, IOperationFields& fields,
                     ITimeSource& time);

    // Hands the replies of the requests below to this object: current data, the clock, the
    // debug output, and the plain success-or-failure replies of relay, set time, debug mode
    // and factory reset.
    void RegisterReplies(ReplyDispatcher& dispatcher);

    // Current data.
    void btn_inquire_curdatClick();
    void OnCurrentDataReply(const ReplyRecord& reply);
    // The value cells (columns 1..11) as last shown, kept between replies.
    const QString& CurrentDataCell(int column) const;
    // The readings decoded from the last reply, before the grid's snapshot was reset.
    const CurrentDataSnapshot& LastSnapshot() const { return m_snapshot; }

    // Relay. No mode repeats the mode of the last request (typed combo text); before any mode
    // was chosen the numbers are kept and nothing is sent.
    void Relay(std::optional<RelayMode> mode, const RelayTimes& times);
    // "执行": the edits' texts, each empty (255) or an integer, else nothing is sent or kept.
    void Button3Click(const RelayInputs& inputs);
    void Button2Click();  // "断开": release
    const RelayParameters& Relay() const { return m_relay; }

    // Clock.
    void btn_acquiretimeClick();
    void Button4Click(const QDate& date, const QTime& time);  // "标定编辑时间"
    void btn_setcurtimeClick();                               // "标定当前时间"
    void OnGetTimeReply(const ReplyRecord& reply);
    // The device time of the last accepted clock reply; invalid before one arrived.
    const QDateTime& LastDeviceTime() const { return m_deviceTime; }

    // Debug output and factory reset.
    void Button5Click();                // debug on
    void btn_padlockregulationClick();  // debug off
    void OnDebugData(const ReplyRecord& reply);
    void btn_industrialClick();  // asks, then sends the reset

  private:
    // One of the plain replies: a message for each outcome, and the outcome reported.
    void ShowOutcome(const ReplyRecord& reply, Operation op, const QString& success,
                     const QString& failure);
    void sendTime(const QDate& date, const QTime& time);

    ISender& m_sender;
    Reporting m_report;
    IOperationFields& m_fields;
    ITimeSource& m_time;
    CurrentDataSnapshot m_snapshot;
    QString m_cells[kCurrentDataColumns];
    RelayParameters m_relay;
    QDateTime m_deviceTime;
};

// The six `DeviceTime` bytes of a date and time of day (year mod 100).
std::array<uint8_t, 6> ToDeviceTime(const QDate& date, const QTime& time);
// The date-time a clock reply names, or an invalid QDateTime when any byte is impossible.
QDateTime FromDeviceTime(const uint8_t* bytes, size_t count);

}  // namespace r4t8
