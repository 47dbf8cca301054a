// Current data, relay, clock, debug output and factory reset.
#pragma once

#include <QDate>
#include <QString>
#include <QTime>

#include <cstdint>

#include "protocol/Frame.h"
#include "protocol/Interfaces.h"
#include "protocol/Sender.h"

namespace r4t8 {

struct CurrentDataSnapshot {
    double sensor[4] = {0, 0, 0, 0};
    uint8_t sensorPresent[4] = {0, 0, 0, 0};
    double gsm = 0;
    double relay = 0;
    double power = 0;
    uint32_t longitude = 0xFFFFFFFF;
    uint32_t latitude = 0xFFFFFFFF;
    uint32_t speed = 0xFFFFFFFF;
    uint32_t direction = 0xFFFFFFFF;
};

// What the relay group shows when "执行" is pressed.
struct RelayInputs {
    int comboIndex = 0;  // ComboBox1: 0 close, 1 pulse, -1 no item (typed text)
    QString edit8, edit10, edit11, edit12;
};

class DirectOperations {
public:
    DirectOperations(ISender& sender, IUserInterface& ui, ITimeSource& time);

    // Current data.
    void btn_inquire_curdatClick();
    void OnCurrentDataReply(const ReplyRecord& reply);
    // The value cells (columns 1..11) as last shown, kept between replies.
    const QString& CurrentDataCell(int column) const;

    // Relay.
    void Button3Click(const RelayInputs& inputs);  // "执行"
    void Button2Click();                            // "断开"

    // Clock.
    void btn_acquiretimeClick();
    void Button4Click(const QDate& date, const QTime& time);  // "标定编辑时间"
    void btn_setcurtimeClick();                               // "标定当前时间"
    void OnGetTimeReply(const ReplyRecord& reply);

    // Debug output and factory reset.
    void Button5Click();                  // debug on
    void btn_padlockregulationClick();    // debug off
    void OnDebugData(const ReplyRecord& reply);
    void btn_industrialClick();           // asks, then sends the reset

private:
    ISender& m_sender;
    IUserInterface& m_ui;
    ITimeSource& m_time;
    CurrentDataSnapshot m_snapshot;
    QString m_cells[12];
};

}  // namespace r4t8
