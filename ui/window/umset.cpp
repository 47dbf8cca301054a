#include "ui/window/umset.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimeEdit>
#include <algorithm>

#include "operations/RelayRules.h"
#include "ui/window/ArchivePage.h"
#include "ui/window/EditInputRules.h"
#include "ui/window/KeyAcceptors.h"
#include "ui/window/LampBitmaps.h"
#include "ui/window/StatusPanels.h"
#include "ui/window/WindowUserInterface.h"

namespace r4t8 {

namespace {

constexpr int kRowHeight = 21;
constexpr int kStatusHeight = 28;

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y, int w,
                 const QString& name = {}) {
    auto* label = new QLabel(text, parent);
    if (!name.isEmpty()) label->setObjectName(name);
    label->setGeometry(x, y, w, kRowHeight);
    return label;
}

QLineEdit* AddEdit(QWidget* parent, const QString& name, int x, int y, int w) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(x, y, w, kRowHeight);
    return edit;
}

QComboBox* AddCombo(QWidget* parent, const QString& name, int x, int y, int w) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(true);
    // Typed text stays typed text: no new items, no completion into an item.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->setGeometry(x, y, w, kRowHeight + 1);
    return combo;
}

QCheckBox* AddCheck(QWidget* parent, const QString& name, int x, int y, int w = 18,
                    const QString& text = {}) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setGeometry(x, y, w, kRowHeight);
    return box;
}

QTimeEdit* AddTime(QWidget* parent, const QString& name, int x, int y, int w,
                   const QString& format) {
    auto* edit = new QTimeEdit(parent);
    edit->setObjectName(name);
    edit->setDisplayFormat(format);
    edit->setGeometry(x, y, w, kRowHeight);
    return edit;
}

QDateEdit* AddDate(QWidget* parent, const QString& name, int x, int y, int w,
                   const QString& format) {
    auto* edit = new QDateEdit(parent);
    edit->setObjectName(name);
    edit->setDisplayFormat(format);
    // Two-digit years mean 2000 + yy everywhere in this tool.
    edit->setDateRange(QDate(2000, 1, 1), QDate(2099, 12, 31));
    edit->setCalendarPopup(true);
    edit->setGeometry(x, y, w, kRowHeight);
    return edit;
}

QPushButton* AddButton(QWidget* parent, const QString& name, const QString& caption, int x, int y,
                       int w, int h = 25) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(x, y, w, h);
    return button;
}

QGroupBox* AddGroup(QWidget* parent, const QString& title, int x, int y, int w, int h,
                    const QString& name = {}) {
    auto* group = new QGroupBox(title, parent);
    if (!name.isEmpty()) group->setObjectName(name);
    group->setGeometry(x, y, w, h);
    return group;
}

QPlainTextEdit* AddMemo(QWidget* parent, const QString& name, int x, int y, int w, int h,
                        bool readOnly) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setObjectName(name);
    memo->setGeometry(x, y, w, h);
    memo->setReadOnly(readOnly);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return memo;
}

QString VerticalCaption(const QString& text) {
    QStringList chars;
    for (QChar c : text) chars << QString(c);
    return chars.join(QLatin1Char('\n'));
}

// Six alarm numbers, each with its two function codes.
void AddTelephoneGroup(QWidget* page) {
    auto* tel = AddGroup(page, QStringLiteral("报警号码设置"), 8, 9, 569, 184);
    for (int n = 1; n <= 6; ++n) {
        const int y = 22 + (n - 1) * 26;
        AddLabel(tel, QStringLiteral("电话号%1").arg(n), 10, y, 50);
        AddEdit(tel, QStringLiteral("edt_tel%1").arg(n), 62, y, 150);
        AddLabel(tel, QStringLiteral("功能码1"), 222, y, 48);
        AddCombo(tel, QStringLiteral("cbb_tel%1_f1").arg(n), 272, y, 104);
        AddLabel(tel, QStringLiteral("功能码2"), 386, y, 48);
        AddCombo(tel, QStringLiteral("cbb_tel%1_f2").arg(n), 436, y, 122);
    }
}

// A caption, its control (by the name's prefix) and an optional hint to the right.
struct LabelledRow {
    QString label;
    const char* name;
    QString hint;
};

void AddGprsGroup(QWidget* page) {
    auto* gprs = AddGroup(page, QStringLiteral("GPRS参数设置"), 584, 8, 361, 185);
    const QString max32 = QStringLiteral("(Max. 32)");
    const LabelledRow rows[] = {
        {QStringLiteral("GPRS主IP"), "edt_ip1", max32},
        {QStringLiteral("GPRS从IP"), "edt_ip2", max32},
        {QStringLiteral("端口："), "edt_port", QStringLiteral("(范围:1~65535)")},
        {QStringLiteral("协议："), "cbb_mode", QString()},
        {QStringLiteral("接入点名称"), "edt_apn", max32},
        {QStringLiteral("GPRS用户名"), "edt_gprsname", max32},
        {QStringLiteral("GPRS密码"), "edt_gprspassword", max32},
    };
    int y = 20;
    for (const LabelledRow& row : rows) {
        AddLabel(gprs, row.label, 10, y, 78);
        const QString name = QString::fromLatin1(row.name);
        if (name.startsWith(QLatin1String("cbb_")))
            AddCombo(gprs, name, 90, y, 90);
        else
            AddEdit(gprs, name, 90, y, 170);
        if (!row.hint.isEmpty()) AddLabel(gprs, row.hint, 264, y, 94);
        y += 23;
    }
}

// The left column of the system parameters.
void AddSystemColumn(QGroupBox* sys) {
    const LabelledRow left[] = {
        {QStringLiteral("校时方式："), "cbb_timemode", QString()},
        {QStringLiteral("本机号码："), "edt_tel_my", QString()},
        {QStringLiteral("操作密码："), "edt_pwd", QString()},
        {QStringLiteral("设备编号："), "edt_id", QString()},
        {QStringLiteral("记录时间："), "edt_rec_time", QStringLiteral("(0、5～255)分钟")},
        {QStringLiteral("GPS开启："), "CheckBox1", QString()},
        {QStringLiteral("验证PIN："), "chk1", QString()},
        {QStringLiteral("PIN码："), "edt_PinCode", QString()},
        {QStringLiteral("GPRS连接失败报告电话："), "edt_GprsFailTel", QString()},
    };
    int y = 18;
    for (const LabelledRow& row : left) {
        AddLabel(sys, row.label, 8, y, 142);
        const QString name = QString::fromLatin1(row.name);
        if (name.startsWith(QLatin1String("cbb_")))
            AddCombo(sys, name, 150, y, 70);
        else if (name == QLatin1String("CheckBox1") || name == QLatin1String("chk1"))
            AddCheck(sys, name, 150, y);
        else
            AddEdit(sys, name, 150, y, row.hint.isEmpty() ? 130 : 50);
        if (!row.hint.isEmpty()) AddLabel(sys, row.hint, 204, y, 100);
        y += 23;
    }
}

// The middle column of the system parameters: the SMS upload.
void AddSmsUploadColumn(QGroupBox* sys) {
    const int mx = 316;
    AddLabel(sys, QStringLiteral("上传方式："), mx, 18, 130);
    AddCombo(sys, QStringLiteral("cb_pdat"), mx + 130, 18, 90);
    AddLabel(sys, QStringLiteral("上传号码："), mx, 41, 130);
    AddEdit(sys, QStringLiteral("edit9"), mx + 130, 41, 130);
    AddLabel(sys, QStringLiteral("定时时间："), mx, 64, 130);
    AddEdit(sys, QStringLiteral("edt1"), mx + 130, 64, 50);
    AddLabel(sys, QStringLiteral("(0～999)小时"), mx + 184, 64, 90);
    for (int row = 1; row <= 4; ++row) {
        const int ry = 64 + row * 23;
        AddLabel(sys, QStringLiteral("定点时间%1：").arg(row), mx, ry, 130);
        AddCheck(sys, QStringLiteral("CheckBox%1").arg(row + 1), mx + 130, ry);
        AddLabel(sys, QStringLiteral("开启"), mx + 150, ry, 30);
        AddTime(sys, QStringLiteral("DateTimePicker%1").arg(row + 4), mx + 184, ry, 70,
                QStringLiteral("HH:mm"));
    }
    AddLabel(sys, QStringLiteral("呼入继电器闭合时间："), mx, 179, 130);
    AddEdit(sys, QStringLiteral("edt_relay_time"), mx + 130, 179, 50);
    AddLabel(sys, QStringLiteral("(1～9999)秒"), mx + 184, 179, 90);
}

// The right column of the system parameters: the GPRS upload.
void AddGprsUploadColumn(QGroupBox* sys) {
    const int rx = 640;
    AddLabel(sys, QStringLiteral("GPRS上传方式："), rx, 18, 110);
    AddCombo(sys, QStringLiteral("cbb_gprsupmode"), rx + 110, 18, 90);
    AddLabel(sys, QStringLiteral("GPRS定时时间："), rx, 41, 110);
    AddEdit(sys, QStringLiteral("edt_gprstimeup"), rx + 110, 41, 60);
    AddLabel(sys, QStringLiteral("分钟"), rx + 174, 41, 40);
    AddLabel(sys, QStringLiteral("GPRS定点时间："), rx, 64, 110);
    AddTime(sys, QStringLiteral("dtp_gprspointup"), rx + 110, 64, 70, QStringLiteral("HH:mm"));
}

// Two rows by twelve columns; the first row and column are headings painted in `headingColor`.
QTableWidget* AddCurrentDataGrid(QWidget* parent, const QColor& headingColor) {
    auto* grid = new QTableWidget(2, 12, parent);
    grid->setObjectName(QStringLiteral("strngrd_curdata"));
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    int gridWidth = 2;
    for (int c = 0; c < 12; ++c) {
        const int w = c == 8 ? 65 : 64;
        grid->setColumnWidth(c, w);
        gridWidth += w;
    }
    for (int r = 0; r < 2; ++r) {
        grid->setRowHeight(r, 24);
        for (int c = 0; c < 12; ++c) {
            auto* item = new QTableWidgetItem;
            if (r == 0 || c == 0) {
                // The fixed row and column look like headings and take no selection.
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(headingColor);
            }
            grid->setItem(r, c, item);
        }
    }
    grid->setGeometry(10, 20, gridWidth, 54);
    return grid;
}

// A caption written top to bottom beside a memo.
void AddVerticalCaption(QWidget* parent, const QString& text, int x, const QString& name) {
    auto* label = AddLabel(parent, VerticalCaption(text), x, 22, 16, name);
    label->setGeometry(x, 22, 16, 250);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

QFont StatusFont() {
    const QStringList families = QFontDatabase::families();
    for (const QString& wanted :
         {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
          QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
          QStringLiteral("Droid Sans Fallback")}) {
        if (families.contains(wanted, Qt::CaseInsensitive)) return QFont(wanted, 9);
    }
    QFont font;
    font.setPointSize(9);
    return font;
}

}  // namespace

Tfrm_mset::Tfrm_mset(DeviceSettings& settings, IMessagePresenter& presenter, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_settings(settings),
      m_presenter(presenter),
      m_ui(std::make_unique<WindowUserInterface>(*this, presenter)) {
    setObjectName(QStringLiteral("frm_mset"));
    setWindowTitle(kAppTitle + QStringLiteral("V1.19"));
    setFixedSize(kClientWidth, kClientHeight);
    QFont font = this->font();
    font.setPointSize(9);
    setFont(font);

    BuildTopArea();
    m_pages = new QTabWidget(this);
    m_pages->setObjectName(QStringLiteral("PageControl1"));
    m_pages->setGeometry(8, 120, 960, 465);
    struct PageDef {
        const char* name;
        QString title;
        void (Tfrm_mset::*build)(QWidget*);
    };
    const PageDef pages[] = {
        {"ts_basic", QStringLiteral("基本设置"), &Tfrm_mset::BuildBasicPage},
        {"ts_alarm", QStringLiteral("报警设置"), &Tfrm_mset::BuildAlarmPage},
        {"ts_operation", QStringLiteral("其它操作"), &Tfrm_mset::BuildOperationsPage},
        {"ts_debug", QStringLiteral("调试数据"), &Tfrm_mset::BuildDebugPage},
        {"ts_other", QStringLiteral("设备时间"), &Tfrm_mset::BuildOtherPage},
    };
    for (const PageDef& def : pages) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromLatin1(def.name));
        (this->*def.build)(page);
        m_pages->addTab(page, def.title);
    }
    // Last, so the hidden pages keep their places; it shows after "其它操作".
    m_archivePage = new ArchivePage(m_settings, *m_ui);
    m_archivePage->setObjectName(QStringLiteral("ts_archive"));
    m_pages->addTab(m_archivePage, QStringLiteral("备份"));
    connect(m_archivePage, &ArchivePage::backupToRestore, this,
            [this] { m_pages->setCurrentWidget(m_archivePage); });
    // The two pages of the system's own: live controls, never shown.
    m_pages->setTabVisible(3, false);
    m_pages->setTabVisible(4, false);
    m_pages->setCurrentIndex(2);
    BuildStatusBar();
    BuildLivePages();

    BindSettings();
    ConnectLocalButtons();
    SetLoginEnabled(false);
    SetDeviceControlsEnabled(false);

    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
}

Tfrm_mset::~Tfrm_mset() { m_settings.RemoveListener(m_listenerId); }

WindowUserInterface& Tfrm_mset::UserInterface() { return *m_ui; }

void Tfrm_mset::BuildTopArea() {
    GroupBox1 = AddGroup(this, QString(), 13, 8, 228, 49, QStringLiteral("GroupBox1"));
    AddLabel(GroupBox1, QStringLiteral("端口号"), 6, 18, 42);
    cbox_com = AddCombo(GroupBox1, QStringLiteral("cbox_com"), 48, 17, 106);
    for (int i = 1; i <= 5; ++i) cbox_com->addItem(QStringLiteral("COM%1").arg(i));
    btn8 = AddButton(GroupBox1, QStringLiteral("btn8"), QStringLiteral("打开串口"), 158, 15, 64);

    grp8 = AddGroup(this, QString(), 253, 8, 516, 49, QStringLiteral("grp8"));
    AddLabel(grp8, QStringLiteral("密码"), 8, 18, 30);
    edt_setpwd = AddEdit(grp8, QStringLiteral("edt_setpwd"), 40, 18, 60);
    btn7 = AddButton(grp8, QStringLiteral("btn7"), QStringLiteral("进入设置"), 108, 15, 75);
    AddLabel(grp8, QStringLiteral("型号："), 196, 18, 40);
    AddEdit(grp8, QStringLiteral("Edit1"), 236, 18, 120);
    AddLabel(grp8, QStringLiteral("版本："), 366, 18, 40);
    AddEdit(grp8, QStringLiteral("edt43"), 406, 18, 100);

    grp9 = AddGroup(this, QString(), 13, 64, 532, 49, QStringLiteral("grp9"));
    struct Def {
        QPushButton** field;
        const char* name;
        QString caption;
    };
    const Def defs[] = {
        {&btn_load, "btn_load", QStringLiteral("读取设置")},
        {&btn_down, "btn_down", QStringLiteral("写入设置")},
        {&btn_loadconfigure, "btn_loadconfigure", QStringLiteral("载入配置文件")},
        {&btn_saveconfigure, "btn_saveconfigure", QStringLiteral("保存配置文件")},
        {&btn_stop, "btn_stop", QStringLiteral("停止")},
        {&btn_industrial, "btn_industrial", QStringLiteral("恢复工厂化")},
    };
    int x = 8;
    for (const Def& d : defs) {
        *d.field = AddButton(grp9, QString::fromLatin1(d.name), d.caption, x, 15, 82);
        x += 87;
    }
    for (QPushButton* red : {btn_load, btn_down}) {
        QPalette palette = red->palette();
        // Red only while usable: a disabled button keeps the greyed text of the others.
        palette.setColor(QPalette::Active, QPalette::ButtonText, Qt::red);
        palette.setColor(QPalette::Inactive, QPalette::ButtonText, Qt::red);
        red->setPalette(palette);
    }
}

void Tfrm_mset::BuildBasicPage(QWidget* page) {
    AddTelephoneGroup(page);
    AddGprsGroup(page);
    auto* sys = AddGroup(page, QStringLiteral("系统参数"), 8, 200, 937, 233);
    AddSystemColumn(sys);
    AddSmsUploadColumn(sys);
    AddGprsUploadColumn(sys);
}

void Tfrm_mset::BuildAlarmPage(QWidget* page) {
    for (int n = 1; n <= 4; ++n) {
        auto* group =
            AddGroup(page, QStringLiteral("报警参数设置%1").arg(n), 8, 8 + (n - 1) * 96, 937, 89);
        const QString p = QStringLiteral("edt_Sensor%1_").arg(n);
        AddLabel(group, QStringLiteral("传感器%1").arg(n), 10, 18, 50);
        AddCombo(group, QStringLiteral("cbb_sensor%1").arg(n), 62, 18, 120);
        AddCombo(group, QStringLiteral("cbb_sensor%1_ain").arg(n), 62, 62, 120);
        struct Cell {
            QString label;
            QString suffix;
        };
        const Cell rows[3][4] = {
            {{QStringLiteral("超低限值"), "SLow"},
             {QStringLiteral("低限值"), "Low"},
             {QStringLiteral("超高限值"), "SHigh"},
             {QStringLiteral("高限值"), "High"}},
            {{QStringLiteral("继电器闭合时间"), "Relay"},
             {QStringLiteral("步长"), "STP"},
             {QStringLiteral("下次报警间隔"), "SP"},
             {QStringLiteral("报警确认时间"), "ens"}},
            {{QStringLiteral("起始值"), "start"}, {QStringLiteral("终止值"), "end"}, {}, {}},
        };
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 4; ++c) {
                if (rows[r][c].suffix.isEmpty()) continue;
                const int x = 200 + c * 182;
                AddLabel(group, rows[r][c].label, x, 18 + r * 22, 90);
                AddEdit(group, p + rows[r][c].suffix, x + 92, 18 + r * 22, 80);
            }
        }
    }
}

void Tfrm_mset::BuildOperationsPage(QWidget* page) {
    BuildCurrentDataGroup(page);
    BuildHistoryExportGroup(page);
    BuildClockGroup(page);
    BuildRelayGroup(page);
    BuildDebugOutputGroup(page);
}

void Tfrm_mset::BuildCurrentDataGroup(QWidget* page) {
    auto* data = AddGroup(page, QStringLiteral("当前数据查询"), 8, 6, 937, 92);
    strngrd_curdata = AddCurrentDataGrid(data, palette().color(QPalette::Button));
    btn_inquire_curdat =
        AddButton(data, QStringLiteral("btn_inquire_curdat"), QStringLiteral("查询当前数据"),
                  strngrd_curdata->width() + 30, 33, 110);
}

void Tfrm_mset::BuildHistoryExportGroup(QWidget* page) {
    auto* history = AddGroup(page, QStringLiteral("历史数据导出"), 8, 104, 250, 118);
    AddLabel(history, QStringLiteral("起始时间："), 10, 22, 70);
    DateTimePicker1 = AddDate(history, QStringLiteral("DateTimePicker1"), 82, 22, 100,
                              QStringLiteral("yy-MM-dd"));
    AddLabel(history, QStringLiteral("终止时间："), 10, 50, 70);
    DateTimePicker2 = AddDate(history, QStringLiteral("DateTimePicker2"), 82, 50, 100,
                              QStringLiteral("yy-MM-dd"));
    Button1 = AddButton(history, QStringLiteral("Button1"), QStringLiteral("导出"), 82, 80, 80);
}

void Tfrm_mset::BuildClockGroup(QWidget* page) {
    auto* clock = AddGroup(page, QStringLiteral("设置时间"), 8, 228, 250, 205);
    AddLabel(clock, QStringLiteral("日期："), 10, 22, 50);
    DateTimePicker3 =
        AddDate(clock, QStringLiteral("DateTimePicker3"), 62, 22, 110, QStringLiteral("yy-MM-dd "));
    AddLabel(clock, QStringLiteral("时间："), 10, 50, 50);
    DateTimePicker4 =
        AddTime(clock, QStringLiteral("DateTimePicker4"), 62, 50, 110, QStringLiteral("HH:mm:ss"));
    Button4 =
        AddButton(clock, QStringLiteral("Button4"), QStringLiteral("标定编辑时间"), 62, 84, 110);
    btn_setcurtime = AddButton(clock, QStringLiteral("btn_setcurtime"),
                               QStringLiteral("标定当前时间"), 62, 118, 110);
    btn_acquiretime = AddButton(clock, QStringLiteral("btn_acquiretime"),
                                QStringLiteral("获取设备时间"), 62, 152, 110);
}

void Tfrm_mset::BuildRelayGroup(QWidget* page) {
    auto* relay = AddGroup(page, QStringLiteral("继电器控制"), 266, 104, 290, 329);
    AddLabel(relay, QStringLiteral("控制方式："), 12, 24, 70);
    ComboBox1 = AddCombo(relay, QStringLiteral("ComboBox1"), 84, 24, 100);
    ComboBox1->addItems({QStringLiteral("闭合控制"), QStringLiteral("脉冲控制")});
    ComboBox1->setCurrentIndex(0);
    struct RelayRow {
        QLineEdit** field;
        const char* name;
        QString label;
        QString range;
        QString def;
        int maxLength;
    };
    const RelayRow relayRows[] = {
        {&Edit8, "Edit8", QStringLiteral("闭合时间："), QStringLiteral("(0～9999)秒"),
         RelayDefaultEdit8(), 4},
        {&Edit10, "Edit10", QStringLiteral("脉冲时间："), QStringLiteral("(0～999)秒"),
         RelayDefaultEdit10(), 3},
        {&Edit11, "Edit11", QStringLiteral("间隔时间："), QStringLiteral("(0～999)秒"),
         RelayDefaultEdit11(), 3},
        {&Edit12, "Edit12", QStringLiteral("次数："), QStringLiteral("(0～99)次"),
         RelayDefaultEdit12(), 3},
    };
    int y = 60;
    for (const RelayRow& row : relayRows) {
        AddLabel(relay, row.label, 12, y, 70);
        *row.field = AddEdit(relay, QString::fromLatin1(row.name), 84, y, 80);
        (*row.field)->setText(row.def);
        InstallInputRules(*row.field, row.maxLength, AcceptorFor(KeyFilter::Digits));
        AddLabel(relay, row.range, 170, y, 100);
        y += 34;
    }
    ApplyRelayEnables(kRelayInitialEnables);
    Button3 = AddButton(relay, QStringLiteral("Button3"), QStringLiteral("执行"), 40, 210, 90);
    Button2 = AddButton(relay, QStringLiteral("Button2"), QStringLiteral("断开"), 150, 210, 90);
}

void Tfrm_mset::BuildDebugOutputGroup(QWidget* page) {
    auto* debug = AddGroup(page, QStringLiteral("调试输出"), 564, 104, 381, 329);
    AddVerticalCaption(debug, QStringLiteral("GPRS设备收到"), 6, QStringLiteral("lbl_gpssend"));
    Memo1 = AddMemo(debug, QStringLiteral("Memo1"), 24, 20, 162, 260, true);
    AddVerticalCaption(debug, QStringLiteral("GPRS设备发送"), 192, QStringLiteral("lbl_gpsrec"));
    memo2 = AddMemo(debug, QStringLiteral("memo2"), 210, 20, 162, 260, true);
    for (QPlainTextEdit* memo : {Memo1, memo2}) {
        memo->setLineWrapMode(QPlainTextEdit::NoWrap);
        memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    }
    Button5 =
        AddButton(debug, QStringLiteral("Button5"), QStringLiteral("打开调试模式"), 40, 290, 120);
    btn_padlockregulation = AddButton(debug, QStringLiteral("btn_padlockregulation"),
                                      QStringLiteral("关闭调试模式"), 220, 290, 120);
}

void Tfrm_mset::BuildDebugPage(QWidget* page) {
    mmo1 = AddMemo(page, QStringLiteral("mmo1"), 8, 8, 460, 380, false);
    mmo2 = AddMemo(page, QStringLiteral("mmo2"), 480, 8, 460, 380, false);
    btn_clrmmo1 =
        AddButton(page, QStringLiteral("btn_clrmmo1"), QStringLiteral("清除发送"), 8, 396, 90);
    btn_clrmmo2 =
        AddButton(page, QStringLiteral("btn_clrmmo2"), QStringLiteral("清除接受"), 480, 396, 90);
    Button6 =
        AddButton(page, QStringLiteral("Button6"), QStringLiteral("测试进度条"), 120, 396, 90);
    Button7 = AddButton(page, QStringLiteral("Button7"), QStringLiteral("绿"), 220, 396, 60);
    Button8 = AddButton(page, QStringLiteral("Button8"), QStringLiteral("红"), 290, 396, 60);
}

void Tfrm_mset::BuildOtherPage(QWidget* page) {
    dtp_DeviceCurrentTime = new QDateTimeEdit(page);
    dtp_DeviceCurrentTime->setObjectName(QStringLiteral("dtp_DeviceCurrentTime"));
    dtp_DeviceCurrentTime->setDisplayFormat(QStringLiteral("yy'\\'MM'\\'dd HH:mm:ss"));
    dtp_DeviceCurrentTime->setDateRange(QDate(2000, 1, 1), QDate(2099, 12, 31));
    dtp_DeviceCurrentTime->setGeometry(8, 8, 160, kRowHeight);
}

void Tfrm_mset::BuildStatusBar() {
    stat1 = new StatusPanels(this);
    stat1->setObjectName(QStringLiteral("stat1"));
    stat1->setGeometry(0, kClientHeight - kStatusHeight, kClientWidth, kStatusHeight);
    stat1->setFont(StatusFont());
    stat1->SetText(0, QStringLiteral("串口状态："));

    img_red = new QLabel(stat1);
    img_red->setObjectName(QStringLiteral("img_red"));
    img_red->setPixmap(RedLamp());
    img_green = new QLabel(stat1);
    img_green->setObjectName(QStringLiteral("img_green"));
    img_green->setPixmap(GreenLamp());
    for (QLabel* lamp : {img_red, img_green}) lamp->resize(kLampSize, kLampSize);

    pb_write = new QProgressBar(stat1);
    pb_write->setObjectName(QStringLiteral("pb_write"));
    pb_write->setRange(0, 80);
    pb_write->setValue(0);
    pb_write->setTextVisible(false);
    // Placed now as well, so that the bar sits right even before the first show.
    FormShow();
    m_shown = false;
}

}  // namespace r4t8
