// The window's controls: names, captions, items, defaults, initial states and geometry.
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimeEdit>

#include "tests/ui/window/WindowFixture.h"
#include "ui/window/EditInputRules.h"

namespace r4t8::testing {
namespace {

struct EditDefault {
    QString name;
    QString text;
    int maxLength;  // 0: none
};

// The edits of the settings pages and the login line with their defaults and lengths.
std::vector<EditDefault> SettingsEdits() {
    std::vector<EditDefault> v = {
        {"edt_setpwd", "5807", 4},
        {"Edit1", "", 0},
        {"edt43", "", 0},
        {"edt_tel_my", "", 20},
        {"edt_pwd", "5807", 4},
        {"edt_id", "", 15},
        {"edt_rec_time", "5", 3},
        {"edt_PinCode", "5807", 6},
        {"edt_GprsFailTel", "", 20},
        {"edit9", "", 20},
        {"edt1", "24", 3},
        {"edt_relay_time", "10", 4},
        {"edt_gprstimeup", "", 4},
        {"edt_ip1", "", 32},
        {"edt_ip2", "", 32},
        {"edt_port", "8000", 0},
        {"edt_apn", "", 32},
        {"edt_gprsname", "", 32},
        {"edt_gprspassword", "", 32},
        {"Edit8", "10", 4},
        {"Edit10", "3", 3},
        {"Edit11", "1", 3},
        {"Edit12", "5", 3},
    };
    for (int n = 1; n <= 6; ++n) v.push_back({QStringLiteral("edt_tel%1").arg(n), "", 20});
    for (int n = 1; n <= 4; ++n) {
        const QString p = QStringLiteral("edt_Sensor%1_").arg(n);
        for (const char* s : {"SLow", "Low", "SHigh", "High", "start", "end"})
            v.push_back({p + s, "", 8});
        v.push_back({p + "Relay", "", 4});
        v.push_back({p + "STP", "", 2});
        v.push_back({p + "SP", "", 3});
        v.push_back({p + "ens", "", 3});
    }
    return v;
}

struct ComboDefault {
    QString name;
    QStringList items;
    int index;
};

std::vector<ComboDefault> Combos() {
    const QStringList modes{"定时上传", "定点上传"};
    std::vector<ComboDefault> v = {
        {"cbb_timemode", {"手动", "自动"}, 1},
        {"cb_pdat", modes, 0},
        {"cbb_gprsupmode", modes, 0},
        {"cbb_mode", {"TCP", "UDP"}, 0},
        {"ComboBox1", {"闭合控制", "脉冲控制"}, 0},
        {"cbox_com", {"/dev/ttyUSB0", "/dev/ttyS0"}, 0},
    };
    for (int n = 1; n <= 6; ++n) {
        v.push_back({QStringLiteral("cbb_tel%1_f1").arg(n), {"发短信并拨号", "只发短信"}, 0});
        v.push_back({QStringLiteral("cbb_tel%1_f2").arg(n),
                     {"返回主机状态", "操作继电器", "GPRS拨号上线", "设备重启"},
                     0});
    }
    for (int n = 1; n <= 4; ++n) {
        v.push_back({QStringLiteral("cbb_sensor%1").arg(n), {"摄氏度", "华氏度", "模拟"}, 0});
        v.push_back(
            {QStringLiteral("cbb_sensor%1_ain").arg(n), {"关闭", "0～20mA/0～5V", "4～20mA"}, 0});
    }
    return v;
}

TEST_F(WindowTest, WindowFrameCaptionAndStartPage) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("R4T8报警器设置软件V1.19"));
    EXPECT_EQ(window->size(), QSize(977, 615));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);

    auto* pages = Find<QTabWidget>("PageControl1");
    EXPECT_EQ(pages->geometry(), QRect(8, 120, 960, 465));
    // Pages added later (backup, charts) come after these five.
    ASSERT_GE(pages->count(), 5);
    const QStringList titles{"基本设置", "报警设置", "其它操作", "调试数据"};
    for (int i = 0; i < titles.size(); ++i) EXPECT_EQ(pages->tabText(i), titles[i]);
    EXPECT_EQ(pages->currentIndex(), 2);
    EXPECT_TRUE(pages->isTabVisible(0) && pages->isTabVisible(1) && pages->isTabVisible(2));
    EXPECT_FALSE(pages->isTabVisible(3));
    EXPECT_FALSE(pages->isTabVisible(4));

    EXPECT_EQ(Find<QGroupBox>("GroupBox1")->geometry(), QRect(13, 8, 228, 49));
    EXPECT_EQ(Find<QGroupBox>("grp8")->geometry(), QRect(253, 8, 516, 49));
    EXPECT_EQ(Find<QGroupBox>("grp9")->geometry(), QRect(13, 64, 532, 49));
}

TEST_F(WindowTest, EveryEditHasItsDefaultAndLength) {
    for (const EditDefault& e : SettingsEdits()) {
        SCOPED_TRACE(e.name.toStdString());
        auto* edit = Find<QLineEdit>(e.name);
        if (!edit) continue;
        EXPECT_EQ(edit->text(), e.text);
        const auto* limiter = qobject_cast<const LengthLimiter*>(edit->validator());
        EXPECT_EQ(limiter ? limiter->MaxLength() : 0, e.maxLength);
        EXPECT_EQ(edit->echoMode(), QLineEdit::Normal);  // passwords show what is typed
    }
    EXPECT_TRUE(Find<QLineEdit>("Edit1")->isReadOnly());
    EXPECT_TRUE(Find<QLineEdit>("edt43")->isReadOnly());
    EXPECT_FALSE(Find<QLineEdit>("edt_pwd")->isReadOnly());
}

TEST_F(WindowTest, EveryComboHasItsItemsAndIsEditable) {
    for (const ComboDefault& c : Combos()) {
        SCOPED_TRACE(c.name.toStdString());
        auto* combo = Find<QComboBox>(c.name);
        if (!combo) continue;
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        EXPECT_EQ(items, c.items);
        EXPECT_EQ(combo->currentIndex(), c.index);
        EXPECT_TRUE(combo->isEditable());
        EXPECT_TRUE(combo->isEnabled());
    }
    EXPECT_EQ(Find<QComboBox>("cbox_com")->itemData(1, Qt::ToolTipRole).toString(), "on-board");
}

TEST_F(WindowTest, CheckBoxesPickersAndInitialEnabling) {
    for (const char* name : {"CheckBox1", "chk1"}) {
        EXPECT_FALSE(Find<QCheckBox>(name)->isChecked()) << name;
        EXPECT_TRUE(Find<QCheckBox>(name)->isEnabled()) << name;
    }
    for (int k = 2; k <= 5; ++k) {
        auto* box = Find<QCheckBox>(QStringLiteral("CheckBox%1").arg(k));
        EXPECT_FALSE(box->isChecked());
        EXPECT_FALSE(box->isEnabled());
        auto* picker = Find<QTimeEdit>(QStringLiteral("DateTimePicker%1").arg(k + 3));
        EXPECT_FALSE(picker->isEnabled());
        EXPECT_EQ(picker->time(), QTime(0, 0));
        EXPECT_EQ(picker->displayFormat(), "HH:mm");
    }
    EXPECT_FALSE(Find<QTimeEdit>("dtp_gprspointup")->isEnabled());
    EXPECT_TRUE(Find<QLineEdit>("edt_gprstimeup")->isEnabled());
    EXPECT_TRUE(Find<QLineEdit>("Edit8")->isEnabled());
    for (const char* name : {"Edit10", "Edit11", "Edit12"})
        EXPECT_FALSE(Find<QLineEdit>(name)->isEnabled()) << name;

    EXPECT_EQ(Find<QDateEdit>("DateTimePicker1")->displayFormat(), "yy-MM-dd");
    EXPECT_EQ(Find<QDateEdit>("DateTimePicker2")->date(), QDate(2024, 5, 6));
    EXPECT_EQ(Find<QDateEdit>("DateTimePicker3")->displayFormat(), "yy-MM-dd ");
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker4")->time(), QTime(7, 8, 9));
    EXPECT_EQ(Find<QDateTimeEdit>("dtp_DeviceCurrentTime")->displayFormat(),
              "yy'\\'MM'\\'dd HH:mm:ss");
}

TEST_F(WindowTest, ButtonsCaptionsAndStartState) {
    struct B {
        const char* name;
        QString caption;
        bool enabled;
    };
    const B buttons[] = {
        {"btn8", "打开串口", true},
        {"btn7", "进入设置", false},
        {"btn_load", "读取设置", false},
        {"btn_down", "写入设置", false},
        {"btn_loadconfigure", "载入配置文件", false},
        {"btn_saveconfigure", "保存配置文件", false},
        {"btn_stop", "停止", false},
        {"btn_industrial", "恢复工厂化", false},
        {"Button1", "导出", false},
        {"Button3", "执行", false},
        {"Button2", "断开", false},
        {"Button4", "标定编辑时间", false},
        {"btn_setcurtime", "标定当前时间", false},
        {"btn_acquiretime", "获取设备时间", false},
        {"btn_inquire_curdat", "查询当前数据", false},
        {"Button5", "打开调试模式", false},
        {"btn_padlockregulation", "关闭调试模式", false},
        {"btn_clrmmo1", "清除发送", true},
        {"btn_clrmmo2", "清除接受", true},
        {"Button6", "测试进度条", true},
        {"Button7", "绿", true},
        {"Button8", "红", true},
    };
    for (const B& b : buttons) {
        auto* button = Find<QPushButton>(b.name);
        if (!button) continue;
        EXPECT_EQ(button->text(), b.caption) << b.name;
        EXPECT_EQ(button->isEnabled(), b.enabled) << b.name;
    }
    // Red while usable; greyed like every other button while disabled.
    for (const char* name : {"btn_load", "btn_down"}) {
        const QPalette p = Find<QPushButton>(name)->palette();
        EXPECT_EQ(p.color(QPalette::Active, QPalette::ButtonText), QColor(Qt::red)) << name;
        EXPECT_NE(p.color(QPalette::Disabled, QPalette::ButtonText), QColor(Qt::red)) << name;
    }
    EXPECT_NE(
        Find<QPushButton>("btn_stop")->palette().color(QPalette::Active, QPalette::ButtonText),
        QColor(Qt::red));
}

TEST_F(WindowTest, GridMemosAndStatusBar) {
    auto* grid = Find<QTableWidget>("strngrd_curdata");
    ASSERT_EQ(grid->columnCount(), 12);
    ASSERT_EQ(grid->rowCount(), 2);
    const QStringList captions{"名称", "传感器1", "传感器2", "传感器3", "传感器4",    "经度",
                               "纬度", "速度",    "方向",    "GSM信息", "继电器状态", "电源状态"};
    for (int c = 0; c < 12; ++c) {
        EXPECT_EQ(grid->item(0, c)->text(), captions[c]);
        EXPECT_EQ(grid->columnWidth(c), c == 8 ? 65 : 64) << c;
    }
    EXPECT_EQ(grid->item(1, 0)->text(), "数值");

    for (const char* name : {"Memo1", "memo2"})
        EXPECT_TRUE(Find<QPlainTextEdit>(name)->isReadOnly()) << name;
    EXPECT_EQ(Find<QLabel>("lbl_gpssend")->text(), "G\nP\nR\nS\n设\n备\n收\n到");
    EXPECT_EQ(Find<QLabel>("lbl_gpsrec")->text(), "G\nP\nR\nS\n设\n备\n发\n送");
    EXPECT_TRUE(Find<QPlainTextEdit>("mmo1")->toPlainText().isEmpty());

    EXPECT_EQ(window->StatusText(0), "串口状态：");
    auto* bar = Find<QProgressBar>("pb_write");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 80);
    auto* stat1 = Find<QWidget>("stat1");
    EXPECT_EQ(stat1->geometry().bottom(), 614);
    EXPECT_EQ(stat1->height(), 28);
    // The bar covers panel 3 exactly; the lamps sit 15 right, 5 down in panel 1.
    auto* panel3 = Find<QLabel>("stat1_panel3");
    EXPECT_EQ(bar->geometry().left(), panel3->geometry().left());
    EXPECT_EQ(bar->width(), 50);
    auto* panel1 = Find<QLabel>("stat1_panel1");
    EXPECT_EQ(panel1->width(), 50);
    EXPECT_EQ(Find<QLabel>("stat1_panel2")->width(), 110);
    EXPECT_EQ(Find<QLabel>("img_red")->pos(), panel1->geometry().topLeft() + QPoint(15, 5));
    EXPECT_EQ(Find<QLabel>("img_green")->size(), QSize(17, 17));
    EXPECT_FALSE(window->LampIsGreen());
}

TEST_F(WindowTest, ScreenshotsOfTheVisiblePages) {
    QDir().mkpath(QStringLiteral(R4T8_TEST_OUTPUT));
    const char* files[] = {"window-basic.png", "window-alarm.png", "window-operations.png"};
    for (int i = 0; i < 3; ++i) {
        window->Pages()->setCurrentIndex(i);
        QApplication::processEvents();
        const QPixmap shot = window->grab();
        EXPECT_EQ(shot.size(), QSize(977, 615) * shot.devicePixelRatio());
        const QString path = QStringLiteral(R4T8_TEST_OUTPUT "/") + files[i];
        EXPECT_TRUE(shot.save(path)) << path.toStdString();
    }
}

}  // namespace
}  // namespace r4t8::testing
