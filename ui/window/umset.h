// Tfrm_mset: the configuration tool's one window. It lays out every control under its
// name, binds the settings controls to DeviceSettings, applies the input rules, and shows
// what the session reports through its front end.
#pragma once

#include <QDateTime>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "config/DeviceSettings.h"
#include "operations/DirectOperations.h"
#include "operations/HistorySeries.h"
#include "operations/LivePoller.h"
#include "protocol/Captions.h"
#include "protocol/UserInterfaces.h"
#include "ui/window/MessagePresenter.h"
#include "ui/window/SerialLink.h"
#include "ui/window/WindowUserInterface.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTimeEdit;

namespace r4t8 {

class ArchivePage;
class DeviceSession;
class IFileChooser;
class StatusPanels;
class ChartPage;
class LiveChart;

class Tfrm_mset : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kClientWidth = 977;
    static constexpr int kClientHeight = 615;

    Tfrm_mset(DeviceSettings& settings, IMessagePresenter& presenter, QWidget* parent = nullptr);
    ~Tfrm_mset() override;

    // What the session and the settings record show the user through.
    WindowUserInterface& UserInterface();
    DeviceSettings& Settings() { return m_settings; }

    // Window creation: the port list, the date pickers set to `now`, the grid captions, the
    // send log cleared. Runs once before the window is shown.
    void FormCreate(const std::vector<PortChoice>& ports, const QDateTime& now);
    // Selects the named port, or types it into the port combo when it is not listed.
    void SelectPort(const QString& name);
    // First show: the progress bar over panel 3, the lamp over panel 1, red in front.
    void FormShow();
    // Asks "是否退出程序"; true lets the window close.
    bool FormCloseQuery();

    // The port toggle. Without a link every open fails.
    void SetSerialLink(ISerialLink* link) { m_link = link; }
    void btn8Click();
    uint8_t PortState() const { return m_portState; }
    // The line went away under us: closes as "关闭串口" would, stops what the session was
    // waiting for and says why in panel 2.
    void OnRequestHangup(const QString& reason);
    // The same in the order the port binding reports it: the port shows closed at once, then,
    // once the session has stopped its request, the reason and whether anything was stopped.
    void ShowPortLost();
    void ShowHangup(const QString& reason, bool stopped);

    // The composition root; the buttons that talk to the controller call into it. Null
    // leaves them without effect (they are disabled until a login through it anyway).
    void AttachSession(DeviceSession* session);
    // The "备份" page; "写入设置" writes through its safe write once a session is attached.
    ArchivePage* Archive() const { return m_archivePage; }
    void btn7Click();

    // Settings file buttons: the dialogs, and the clock for the proposed file name.
    void SetFileChooser(IFileChooser* chooser) { m_files = chooser; }
    void SetTimeSource(ITimeSource* time) { m_time = time; }
    void btn_saveconfigureClick();
    void btn_loadconfigureClick();

    // Enabling as login, port close and stop do it.
    void SetLoginEnabled(bool enabled);
    void SetDeviceControlsEnabled(bool enabled);

    // The lamp: green in front while the port is open.
    void ShowLamp(bool green);
    bool LampIsGreen() const { return m_lampGreen; }

    // Status bar and progress bar.
    void SetStatusText(int panel, const QString& text);
    QString StatusText(int panel) const;
    void SetProgress(int position);
    void SetProgressVisible(bool visible);

    // Logs and outputs.
    void AppendSendLog(const QString& text);
    void AppendReceiveLogLine(const QString& line);
    void AppendDebugOutput(bool received, const QString& text);
    void ShowDeviceTime(const QDateTime& time);
    void SetCurrentDataCell(int column, const QString& text);

    // The relay group as "执行" reads it.
    RelayInputs ReadRelayInputs() const;

    // Debug page buttons.
    void Button6Click();
    void btn_clrmmo1Click();
    void btn_clrmmo2Click();

    // Relay group rules.
    void ComboBox1Change();
    void Edit12Change();

    // The page control, for the page shown at start and screenshots.
    QTabWidget* Pages() const { return m_pages; }

    // Charts and live readings. The session's outcomes feed them: a finished history download
    // goes to "历史曲线", every current-data reply to "实时曲线". Null detaches.
    void AttachLiveData(DeviceSession* session);
    void ShowHistoryCharts(const HistoryTable& table);
    ChartPage* HistoryCharts() const { return m_chartPage; }
    LiveChart* LiveCharts() const { return m_liveChart; }
    const LiveReadings& Readings() const { return m_live; }
    // Null until "定时查询" was first ticked.
    LivePoller* Poller() const { return m_poller.get(); }
    void chk_liveClick();
    // The ports present now: applied at once while the port is closed, else when it closes.
    // Typed text stays in the combo.
    void UpdatePortList(const std::vector<PortChoice>& ports);
    // True while a message box is open: its event loop must not start a poll.
    bool MessageShowing() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildTopArea();
    void BuildBasicPage(QWidget* page);
    void BuildAlarmPage(QWidget* page);
    void BuildOperationsPage(QWidget* page);
    void BuildCurrentDataGroup(QWidget* page);
    void BuildHistoryExportGroup(QWidget* page);
    void BuildClockGroup(QWidget* page);
    void BuildRelayGroup(QWidget* page);
    void BuildDebugOutputGroup(QWidget* page);
    void BuildDebugPage(QWidget* page);
    void BuildOtherPage(QWidget* page);
    void BuildStatusBar();
    void BindSettings();
    void BindField(const FieldSpec& spec);
    void UpdateControl(const QString& name);
    void ConnectLocalButtons();
    std::vector<QWidget*> DeviceControls() const;
    RelayEnables CurrentRelayEnables() const;
    void ApplyRelayEnables(const RelayEnables& enables);

    DeviceSettings& m_settings;
    IMessagePresenter& m_presenter;
    std::unique_ptr<WindowUserInterface> m_ui;
    ISerialLink* m_link = nullptr;
    DeviceSession* m_session = nullptr;
    IFileChooser* m_files = nullptr;
    ITimeSource* m_time = nullptr;
    int m_listenerId = 0;
    int m_binding = 0;  // >0 while the window applies model values to controls
    uint8_t m_portState = 0;
    bool m_lampGreen = false;
    bool m_shown = false;
    bool m_comboBox1Typed = false;  // ComboBox1 holds typed text, no item

    // Controls the window's own logic uses; all others are reached by name.
    QGroupBox* GroupBox1 = nullptr;
    QComboBox* cbox_com = nullptr;
    QPushButton* btn8 = nullptr;
    QGroupBox* grp8 = nullptr;
    QLineEdit* edt_setpwd = nullptr;
    QPushButton* btn7 = nullptr;
    QGroupBox* grp9 = nullptr;
    QPushButton* btn_load = nullptr;
    QPushButton* btn_down = nullptr;
    QPushButton* btn_loadconfigure = nullptr;
    QPushButton* btn_saveconfigure = nullptr;
    QPushButton* btn_stop = nullptr;
    QPushButton* btn_industrial = nullptr;
    QTabWidget* m_pages = nullptr;
    ArchivePage* m_archivePage = nullptr;
    QDateEdit* DateTimePicker1 = nullptr;
    QDateEdit* DateTimePicker2 = nullptr;
    QPushButton* Button1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QLineEdit* Edit10 = nullptr;
    QLineEdit* Edit11 = nullptr;
    QLineEdit* Edit12 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button2 = nullptr;
    QDateEdit* DateTimePicker3 = nullptr;
    QTimeEdit* DateTimePicker4 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* btn_setcurtime = nullptr;
    QPushButton* btn_acquiretime = nullptr;
    QTableWidget* strngrd_curdata = nullptr;
    QPushButton* btn_inquire_curdat = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* memo2 = nullptr;
    QPushButton* Button5 = nullptr;
    QPushButton* btn_padlockregulation = nullptr;
    QPlainTextEdit* mmo1 = nullptr;
    QPlainTextEdit* mmo2 = nullptr;
    QPushButton* btn_clrmmo1 = nullptr;
    QPushButton* btn_clrmmo2 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button7 = nullptr;
    QPushButton* Button8 = nullptr;
    QDateTimeEdit* dtp_DeviceCurrentTime = nullptr;
    StatusPanels* stat1 = nullptr;
    QProgressBar* pb_write = nullptr;
    QLabel* img_red = nullptr;
    QLabel* img_green = nullptr;

    // Charts, live polling and the followed port list (umset_live.cpp).
    void BuildLivePages();
    void FillPortList(const std::vector<PortChoice>& ports);
    void UpdateLiveControls(bool deviceControlsEnabled);
    bool LineBusy() const;
    void OnLiveOutcome(Operation op, Outcome outcome);
    ChartPage* m_chartPage = nullptr;
    LiveChart* m_liveChart = nullptr;
    QCheckBox* chk_live = nullptr;
    QLineEdit* edt_live_interval = nullptr;
    std::unique_ptr<LivePoller> m_poller;
    LiveReadings m_live;
    DeviceSession* m_liveSession = nullptr;
    int m_liveListener = 0;
    std::vector<PortChoice> m_pendingPorts;
    bool m_portsPending = false;
};

}  // namespace r4t8
