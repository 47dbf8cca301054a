// Tfrm_mset: binding to the settings record, the window's own rules and its handlers.
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextCursor>
#include <QTimeEdit>
#include <algorithm>

#include "operations/CurrentData.h"
#include "operations/RelayRules.h"
#include "session/DeviceSession.h"
#include "ui/file/SettingsFile.h"
#include "ui/window/ArchivePage.h"
#include "ui/window/EditInputRules.h"
#include "ui/window/FileChooser.h"
#include "ui/window/KeyAcceptors.h"
#include "ui/window/StatusPanels.h"
#include "ui/window/WindowUserInterface.h"
#include "ui/window/umset.h"

Q_LOGGING_CATEGORY(lcWindow, "r4t8.window")

namespace r4t8 {

namespace {

// Counts nesting, so that a model change applied while another is being applied still
// suppresses the write-back of both.
class BindingScope {
  public:
    explicit BindingScope(int& depth) : m_depth(depth) { ++m_depth; }
    ~BindingScope() { --m_depth; }
    BindingScope(const BindingScope&) = delete;
    BindingScope& operator=(const BindingScope&) = delete;

  private:
    int& m_depth;
};

void AppendToEnd(QPlainTextEdit* memo, QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    // Caret, selection and view follow the newest text.
    memo->moveCursor(QTextCursor::End);
    memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
}

}  // namespace

void Tfrm_mset::BindSettings() {
    for (const FieldSpec& spec : m_settings.Specs()) BindField(spec);
    m_listenerId = m_settings.AddListener([this](const QString& name) { UpdateControl(name); });
}

void Tfrm_mset::BindField(const FieldSpec& spec) {
    const QString name = spec.name;
    QWidget* widget = findChild<QWidget*>(name);
    if (!widget) {
        qCWarning(lcWindow) << "no control for settings field" << name;
        return;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        InstallInputRules(edit, spec.maxLength, AcceptorFor(spec.filter));
        edit->setReadOnly(spec.readOnly);
        connect(edit, &QLineEdit::textChanged, this, [this, name](const QString& text) {
            if (m_binding > 0 || m_settings.Text(name) == text) return;
            m_settings.SetText(name, text);
        });
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        connect(combo, &QComboBox::activated, this, [this, name](int index) {
            if (m_binding > 0) return;
            m_settings.UserPickIndex(name, index);
        });
        connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this, name](const QString& text) {
            if (m_binding > 0) return;
            m_settings.SetComboText(name, text);
        });
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        connect(box, &QCheckBox::toggled, this, [this, name](bool checked) {
            if (m_binding > 0 || m_settings.Checked(name) == checked) return;
            m_settings.SetChecked(name, checked);
        });
    } else if (auto* time = qobject_cast<QTimeEdit*>(widget)) {
        connect(time, &QTimeEdit::timeChanged, this, [this, name](QTime value) {
            if (m_binding > 0 || m_settings.Time(name) == value) return;
            m_settings.SetTime(name, value);
        });
    }
    UpdateControl(name);
}

void Tfrm_mset::UpdateControl(const QString& name) {
    QWidget* widget = findChild<QWidget*>(name);
    if (!widget) return;
    BindingScope scope(m_binding);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        SetProgramText(edit, m_settings.Text(name));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        QLineEdit* line = combo->lineEdit();
        const int cursor = line->cursorPosition();
        const QStringList items = m_settings.Items(name);
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
        if (shown != items) {
            combo->clear();
            combo->addItems(items);
        }
        const int index = m_settings.Index(name);
        if (combo->currentIndex() != index) combo->setCurrentIndex(index);
        const QString text = m_settings.Text(name);
        if (combo->currentText() != text) {
            combo->setEditText(text);
            line->setCursorPosition(std::min<int>(cursor, text.size()));
        }
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        box->setChecked(m_settings.Checked(name));
    } else if (auto* time = qobject_cast<QTimeEdit*>(widget)) {
        time->setTime(m_settings.Time(name));
    }
    widget->setEnabled(m_settings.Enabled(name));
}

void Tfrm_mset::ConnectLocalButtons() {
    connect(btn8, &QPushButton::clicked, this, &Tfrm_mset::btn8Click);
    connect(btn_clrmmo1, &QPushButton::clicked, this, &Tfrm_mset::btn_clrmmo1Click);
    connect(btn_clrmmo2, &QPushButton::clicked, this, &Tfrm_mset::btn_clrmmo2Click);
    connect(Button6, &QPushButton::clicked, this, &Tfrm_mset::Button6Click);
    connect(Button7, &QPushButton::clicked, this, [this] { ShowLamp(true); });
    connect(Button8, &QPushButton::clicked, this, [this] { ShowLamp(false); });
    connect(ComboBox1, &QComboBox::activated, this, [this] {
        m_comboBox1Typed = false;
        ComboBox1Change();
    });
    connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, [this] {
        m_comboBox1Typed = true;
        ComboBox1Change();
    });
    connect(Edit12, &QLineEdit::textChanged, this, &Tfrm_mset::Edit12Change);
    connect(btn_saveconfigure, &QPushButton::clicked, this, &Tfrm_mset::btn_saveconfigureClick);
    connect(btn_loadconfigure, &QPushButton::clicked, this, &Tfrm_mset::btn_loadconfigureClick);

    // The buttons that talk to the controller go through the session.
    connect(btn7, &QPushButton::clicked, this, &Tfrm_mset::btn7Click);
    const auto viaSession = [this](QPushButton* button, auto action) {
        connect(button, &QPushButton::clicked, this, [this, action] {
            if (m_session) action(*m_session);
        });
    };
    viaSession(btn_load, [](DeviceSession& s) { s.Config().btn_loadClick(); });
    viaSession(btn_down, [this](DeviceSession& s) {
        if (SafeWrite* safe = m_archivePage->Safe())
            safe->WriteSettings();
        else
            s.Config().btn_downClick();
    });
    viaSession(btn_stop, [](DeviceSession& s) { s.btn_stopClick(); });
    viaSession(btn_industrial, [](DeviceSession& s) { s.Operations().btn_industrialClick(); });
    viaSession(Button1, [this](DeviceSession& s) {
        s.History().Button1Click(DateTimePicker1->date(), DateTimePicker2->date());
    });
    viaSession(btn_inquire_curdat,
               [](DeviceSession& s) { s.Operations().btn_inquire_curdatClick(); });
    viaSession(Button3,
               [this](DeviceSession& s) { s.Operations().Button3Click(ReadRelayInputs()); });
    viaSession(Button2, [](DeviceSession& s) { s.Operations().Button2Click(); });
    viaSession(btn_acquiretime, [](DeviceSession& s) { s.Operations().btn_acquiretimeClick(); });
    viaSession(Button4, [this](DeviceSession& s) {
        s.Operations().Button4Click(DateTimePicker3->date(), DateTimePicker4->time());
    });
    viaSession(btn_setcurtime, [](DeviceSession& s) { s.Operations().btn_setcurtimeClick(); });
    viaSession(Button5, [](DeviceSession& s) { s.Operations().Button5Click(); });
    viaSession(btn_padlockregulation,
               [](DeviceSession& s) { s.Operations().btn_padlockregulationClick(); });
}

void Tfrm_mset::AttachSession(DeviceSession* session) {
    m_session = session;
    m_archivePage->Attach(session, m_time);
}

void Tfrm_mset::btn7Click() {
    if (m_session) m_session->btn7Click(edt_setpwd->text());
}

void Tfrm_mset::btn_saveconfigureClick() {
    if (!m_files) return;
    const QDateTime now = m_time ? m_time->CurrentDateTime() : QDateTime::currentDateTime();
    const QString path =
        m_files->SaveFileName(SettingsDialogFolder(), SettingsFile::ProposedFileName(now));
    if (path.isEmpty()) return;
    SettingsFile::Save(SettingsFile::WithDefaultExtension(path), m_settings, *m_ui);
}

void Tfrm_mset::btn_loadconfigureClick() {
    if (!m_files) return;
    const QString path = m_files->OpenFileName(SettingsDialogFolder());
    if (path.isEmpty()) return;
    SettingsFile::Load(path, m_settings, *m_ui);
}

std::vector<QWidget*> Tfrm_mset::DeviceControls() const {
    return {btn_down,          btn_load,          btn_industrial,
            btn_stop,          Button1,           Button4,
            btn_acquiretime,   Button5,           btn_padlockregulation,
            Button3,           Button2,           btn_inquire_curdat,
            btn_loadconfigure, btn_saveconfigure, btn_setcurtime};
}

void Tfrm_mset::FormCreate(const std::vector<PortChoice>& ports, const QDateTime& now) {
    cbox_com->clear();
    FillPortList(ports);
    if (cbox_com->count() > 0) cbox_com->setCurrentIndex(0);

    DateTimePicker1->setDate(now.date());
    DateTimePicker2->setDate(now.date());
    DateTimePicker3->setDate(now.date());
    DateTimePicker4->setTime(now.time());
    m_settings.SensorTypeCodes() = {'C', 'F', 'B'};

    const QStringList captions = CurrentDataCaptions();
    for (int c = 0; c < captions.size(); ++c) strngrd_curdata->item(0, c)->setText(captions[c]);
    strngrd_curdata->item(1, 0)->setText(CurrentDataValueCaption());
    mmo1->clear();
}

void Tfrm_mset::SelectPort(const QString& name) {
    const int index = cbox_com->findText(name);
    if (index >= 0)
        cbox_com->setCurrentIndex(index);
    else
        cbox_com->setEditText(name);
}

void Tfrm_mset::FormShow() {
    m_shown = true;
    pb_write->setValue(0);
    pb_write->setGeometry(stat1->PanelRect(3));
    const QPoint lampAt = stat1->PanelRect(1).topLeft() + QPoint(15, 5);
    img_red->move(lampAt);
    img_green->move(lampAt);
    ShowLamp(false);
}

void Tfrm_mset::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_shown) FormShow();
}

bool Tfrm_mset::FormCloseQuery() {
    return m_ui->ShowMessage(QStringLiteral("是否退出程序"), kQuestionCaption, MsgButtons::YesNo) !=
           MsgAnswer::No;
}

void Tfrm_mset::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void Tfrm_mset::btn8Click() {
    const QString name = cbox_com->currentText().trimmed();
    if (m_portState % 2 == 1) {
        ++m_portState;
        btn8->setText(QStringLiteral("打开串口"));
        if (m_link) m_link->Close();
        SetLoginEnabled(false);
        SetDeviceControlsEnabled(false);
        ShowLamp(false);
        // Plugging and unplugging seen while the port was open shows now.
        if (m_portsPending) UpdatePortList(m_pendingPorts);
        return;
    }
    QString reason;
    const bool opened = m_link && m_link->Open(name, reason);
    if (!opened) {
        // The reason stays in the status bar after the box is gone, so the user can act on it.
        SetStatusText(kStatusTextPanel, reason);
        m_ui->ShowMessage(QStringLiteral("串口打开失败"), kAppTitle);
        btn8->setText(QStringLiteral("打开串口"));
        ShowLamp(false);
        return;
    }
    ++m_portState;
    SetStatusText(kStatusTextPanel, QString());
    SetLoginEnabled(true);
    btn8->setText(QStringLiteral("关闭串口"));
    ShowLamp(true);
}

void Tfrm_mset::OnRequestHangup(const QString& reason) {
    if (m_portState % 2 == 0) return;
    ShowPortLost();
    // Resending into the dead port would only end in "发送命令超时" three seconds later.
    const bool stopped = m_session && m_session->AbortPending().has_value();
    ShowHangup(reason, stopped);
}

void Tfrm_mset::ShowPortLost() {
    if (m_portState % 2 == 1) btn8Click();
}

void Tfrm_mset::ShowHangup(const QString& reason, bool stopped) {
    SetStatusText(kStatusTextPanel, reason.isEmpty() ? QStringLiteral("串口已断开") : reason);
    if (stopped) m_ui->ShowMessage(QStringLiteral("串口已断开，操作已停止"), kAppTitle);
}

void Tfrm_mset::SetLoginEnabled(bool enabled) { btn7->setEnabled(enabled); }

void Tfrm_mset::SetDeviceControlsEnabled(bool enabled) {
    for (QWidget* control : DeviceControls()) control->setEnabled(enabled);
    UpdateLiveControls(enabled);
}

void Tfrm_mset::ShowLamp(bool green) {
    (green ? img_green : img_red)->raise();
    m_lampGreen = green;
}

void Tfrm_mset::SetStatusText(int panel, const QString& text) { stat1->SetText(panel, text); }

QString Tfrm_mset::StatusText(int panel) const { return stat1->Text(panel); }

void Tfrm_mset::SetProgress(int position) {
    // QProgressBar ignores values outside its range; a classic bar shows them as full/empty.
    pb_write->setValue(std::clamp(position, pb_write->minimum(), pb_write->maximum()));
}

void Tfrm_mset::SetProgressVisible(bool visible) { pb_write->setVisible(visible); }

void Tfrm_mset::AppendSendLog(const QString& text) { AppendToEnd(mmo1, text); }

void Tfrm_mset::AppendReceiveLogLine(const QString& line) { mmo2->appendPlainText(line); }

void Tfrm_mset::AppendDebugOutput(bool received, const QString& text) {
    AppendToEnd(received ? Memo1 : memo2, text);
}

void Tfrm_mset::ShowDeviceTime(const QDateTime& time) {
    dtp_DeviceCurrentTime->setDateTime(time);
    DateTimePicker3->setDate(time.date());
    DateTimePicker4->setTime(time.time());
}

void Tfrm_mset::SetCurrentDataCell(int column, const QString& text) {
    if (column < 1 || column >= strngrd_curdata->columnCount()) return;
    strngrd_curdata->item(1, column)->setText(text);
}

RelayInputs Tfrm_mset::ReadRelayInputs() const {
    RelayInputs in;
    in.comboIndex = m_comboBox1Typed ? -1 : ComboBox1->currentIndex();
    in.edit8 = Edit8->text();
    in.edit10 = Edit10->text();
    in.edit11 = Edit11->text();
    in.edit12 = Edit12->text();
    return in;
}

RelayEnables Tfrm_mset::CurrentRelayEnables() const {
    return {Edit8->isEnabled(), Edit10->isEnabled(), Edit11->isEnabled(), Edit12->isEnabled()};
}

void Tfrm_mset::ApplyRelayEnables(const RelayEnables& enables) {
    Edit8->setEnabled(enables.edit8);
    Edit10->setEnabled(enables.edit10);
    Edit11->setEnabled(enables.edit11);
    Edit12->setEnabled(enables.edit12);
}

void Tfrm_mset::ComboBox1Change() {
    const int index = m_comboBox1Typed ? -1 : ComboBox1->currentIndex();
    ApplyRelayEnables(::r4t8::ComboBox1Change(index, CurrentRelayEnables()));
}

void Tfrm_mset::Edit12Change() {
    const int index = m_comboBox1Typed ? -1 : ComboBox1->currentIndex();
    ApplyRelayEnables(::r4t8::Edit12Change(index, CurrentRelayEnables()));
}

void Tfrm_mset::Button6Click() {
    pb_write->setVisible(true);
    pb_write->setValue(0);
    SetStatusText(kStatusTextPanel, QStringLiteral("第一步"));
    // Runs to the end without yielding, as the test button always did.
    for (int n = 0; n <= 30000; ++n) {
        if (n % 2000 == 0) SetStatusText(kStatusTextPanel, QString::number(n));
        SetProgress(n / 100);
    }
}

void Tfrm_mset::btn_clrmmo1Click() { mmo1->clear(); }

void Tfrm_mset::btn_clrmmo2Click() { mmo2->clear(); }

}  // namespace r4t8
