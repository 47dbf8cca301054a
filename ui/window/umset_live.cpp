// Tfrm_mset: the history and live charts, the polling of the current data, and the port list
// that follows adapters being plugged in and pulled out.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <algorithm>

#include "session/DeviceSession.h"
#include "ui/window/ChartPage.h"
#include "ui/window/EditInputRules.h"
#include "ui/window/KeyAcceptors.h"
#include "ui/window/LiveChart.h"
#include "ui/window/WindowUserInterface.h"
#include "ui/window/umset.h"

namespace r4t8 {

namespace {

// The adapter's name of a port item, beside the path that the item's text stays.
constexpr int kPortLabelRole = Qt::UserRole + 1;

QString PortItemText(const QString& name, const QString& label) {
    return label.isEmpty() ? name : name + QStringLiteral(" — ") + label;
}

// Shows "path — adapter" in the drop-down list while the item's text, and so the combo's
// edit text that btn8Click opens, stays the bare path.
class PortItemDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = PortItemText(index.data(Qt::DisplayRole).toString(),
                                    index.data(kPortLabelRole).toString());
    }
};

}  // namespace

void Tfrm_mset::BuildLivePages() {
    cbox_com->setItemDelegate(new PortItemDelegate(cbox_com));

    // Beside "查询当前数据", in the room below it.
    QWidget* group = btn_inquire_curdat->parentWidget();
    const QRect button = btn_inquire_curdat->geometry();
    chk_live = new QCheckBox(QStringLiteral("定时查询"), group);
    chk_live->setObjectName(QStringLiteral("chk_live"));
    chk_live->setGeometry(button.left(), button.bottom() + 6, 72, 21);
    chk_live->setToolTip(QStringLiteral("每隔设定的秒数查询一次当前数据，曲线见“实时曲线”页"));
    edt_live_interval = new QLineEdit(QString::number(LivePoller::kDefaultSeconds), group);
    edt_live_interval->setObjectName(QStringLiteral("edt_live_interval"));
    edt_live_interval->setGeometry(button.left() + 74, button.bottom() + 6, 26, 21);
    InstallInputRules(edt_live_interval, 4, AcceptorFor(KeyFilter::Digits));
    auto* seconds = new QLabel(QStringLiteral("秒"), group);
    seconds->setGeometry(button.left() + 102, button.bottom() + 6, 14, 21);
    connect(chk_live, &QCheckBox::toggled, this, &Tfrm_mset::chk_liveClick);
    connect(edt_live_interval, &QLineEdit::textChanged, this, [this] {
        if (!m_poller) return;
        const int s = edt_live_interval->text().toInt();
        m_poller->SetIntervalSeconds(s > 0 ? s : LivePoller::kDefaultSeconds);
        m_live.SetJoinLimitMs(
            std::max<int64_t>(LiveReadings::kDefaultJoinMs, 3000LL * m_poller->IntervalSeconds()));
    });

    m_chartPage = new ChartPage;
    m_pages->addTab(m_chartPage, QStringLiteral("历史曲线"));
    m_liveChart = new LiveChart;
    m_pages->addTab(m_liveChart, QStringLiteral("实时曲线"));
}

void Tfrm_mset::FillPortList(const std::vector<PortChoice>& ports) {
    int widest = cbox_com->width();
    const QFontMetrics metrics(cbox_com->font());
    for (const PortChoice& port : ports) {
        cbox_com->addItem(port.name, port.description);
        const int i = cbox_com->count() - 1;
        cbox_com->setItemData(i, port.description, Qt::ToolTipRole);
        cbox_com->setItemData(i, port.label, kPortLabelRole);
        widest =
            std::max(widest, metrics.horizontalAdvance(PortItemText(port.name, port.label)) + 24);
    }
    // The list may be wider than the combo, so that adapter names are not cut.
    cbox_com->view()->setMinimumWidth(widest);
}

void Tfrm_mset::UpdatePortList(const std::vector<PortChoice>& ports) {
    if (m_portState % 2 == 1) {
        // The list under an open port stays as it is; the change shows once it closes.
        m_pendingPorts = ports;
        m_portsPending = true;
        return;
    }
    m_portsPending = false;
    const std::vector<PortChoice> list = ports;  // `ports` may be m_pendingPorts
    QLineEdit* line = cbox_com->lineEdit();
    const QString typed = cbox_com->currentText();
    const int cursor = line->cursorPosition();
    const bool blocked = cbox_com->blockSignals(true);
    cbox_com->clear();
    FillPortList(list);
    const int index = cbox_com->findText(typed);
    if (index >= 0) {
        cbox_com->setCurrentIndex(index);
    } else if (typed.isEmpty() && cbox_com->count() > 0) {
        // Nothing chosen yet: the newly plugged adapter is the likely choice.
        cbox_com->setCurrentIndex(0);
    } else {
        cbox_com->setCurrentIndex(-1);
        cbox_com->setEditText(typed);
    }
    line->setCursorPosition(std::min<int>(cursor, static_cast<int>(line->text().size())));
    cbox_com->blockSignals(blocked);
}

bool Tfrm_mset::MessageShowing() const { return m_ui->MessageDepth() > 0; }

void Tfrm_mset::AttachLiveData(DeviceSession* session) {
    if (m_liveSession) m_liveSession->RemoveOutcomeListener(m_liveListener);
    m_liveSession = session;
    m_liveListener = 0;
    if (!session) {
        if (m_poller) m_poller->Stop();
        return;
    }
    m_liveListener = session->AddOutcomeListener(
        [this](Operation op, Outcome outcome) { OnLiveOutcome(op, outcome); });
}

void Tfrm_mset::OnLiveOutcome(Operation op, Outcome outcome) {
    if (!m_liveSession) return;
    if (op == Operation::HistoryQuery && outcome == Outcome::Succeeded) {
        // A range without records ("该时间段未查询到数据") keeps no download of its own; the
        // charts must not go on showing the previous range as if it were this one.
        const HistoryQuery& history = m_liveSession->History();
        ShowHistoryCharts(history.PageCount() == 0 ? HistoryTable{} : history.LastDownload());
    } else if (op == Operation::CurrentData) {
        if (outcome == Outcome::Succeeded || outcome == Outcome::Failed) {
            // A reply with an undefined item still carries the readings before it.
            const int64_t now = m_time ? m_time->CurrentDateTime().toMSecsSinceEpoch()
                                       : QDateTime::currentMSecsSinceEpoch();
            m_live.Add(now, m_liveSession->Operations().LastSnapshot());
            m_liveChart->ShowReadings(m_live, now);
        } else if (outcome == Outcome::TimedOut && chk_live->isChecked()) {
            // A silent controller would otherwise bring up a time-out box every few seconds.
            chk_live->setChecked(false);
            SetStatusText(kStatusTextPanel, QStringLiteral("定时查询已停止"));
        }
    }
}

void Tfrm_mset::ShowHistoryCharts(const HistoryTable& table) { m_chartPage->ShowHistory(table); }

bool Tfrm_mset::LineBusy() const {
    return MessageShowing() || (m_liveSession && m_liveSession->Sender().OutstandingCommand() != 0);
}

void Tfrm_mset::chk_liveClick() {
    if (!chk_live->isChecked()) {
        if (m_poller) m_poller->Stop();
        return;
    }
    if (!m_time || !m_liveSession) {
        chk_live->setChecked(false);
        return;
    }
    if (!m_poller) {
        m_poller = std::make_unique<LivePoller>(
            *m_time, [this] { return LineBusy(); },
            [this] {
                if (m_liveSession) m_liveSession->Operations().btn_inquire_curdatClick();
            });
    }
    const int s = edt_live_interval->text().toInt();
    m_poller->SetIntervalSeconds(s > 0 ? s : LivePoller::kDefaultSeconds);
    m_live.SetJoinLimitMs(
        std::max<int64_t>(LiveReadings::kDefaultJoinMs, 3000LL * m_poller->IntervalSeconds()));
    m_poller->Start();
}

void Tfrm_mset::UpdateLiveControls(bool deviceControlsEnabled) {
    if (!chk_live) return;
    chk_live->setEnabled(deviceControlsEnabled);
    // Stop, close and a lost port end the polling with the rest of the exchanges.
    if (!deviceControlsEnabled) chk_live->setChecked(false);
}

}  // namespace r4t8
