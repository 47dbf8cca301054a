// The window's rules and handlers driven through clicks, and what the session shows in it.
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimeEdit>

#include "config/SetupForModel.h"
#include "tests/ui/window/WindowFixture.h"

namespace r4t8::testing {
namespace {

class RuleTest : public WindowTest {
  protected:
    bool On(const QString& name) { return Find<QWidget>(name)->isEnabled(); }
    bool Checked(const QString& name) { return Find<QCheckBox>(name)->isChecked(); }
    void ClickBox(int k) { Click(Find<QCheckBox>(QStringLiteral("CheckBox%1").arg(k))); }
};

TEST_F(RuleTest, UploadModeAndFixedTimeChainThroughClicks) {
    Pick("cb_pdat", 1);
    EXPECT_FALSE(On("edt1"));
    EXPECT_TRUE(On("CheckBox2"));
    EXPECT_TRUE(On("DateTimePicker5"));
    for (const char* n : {"CheckBox3", "CheckBox4", "CheckBox5", "DateTimePicker6",
                          "DateTimePicker7", "DateTimePicker8"})
        EXPECT_FALSE(On(n)) << n;

    ClickBox(2);
    EXPECT_TRUE(Checked("CheckBox2"));
    EXPECT_TRUE(On("CheckBox3"));
    EXPECT_TRUE(On("DateTimePicker6"));
    ClickBox(3);
    ClickBox(4);
    ClickBox(5);
    EXPECT_TRUE(On("DateTimePicker8"));
    EXPECT_TRUE(Checked("CheckBox5"));

    // Unchecking row 1 cascades down; picker 5 follows the upload mode only.
    ClickBox(2);
    for (int k = 2; k <= 5; ++k) EXPECT_FALSE(Checked(QStringLiteral("CheckBox%1").arg(k))) << k;
    for (const char* n : {"CheckBox3", "CheckBox4", "CheckBox5", "DateTimePicker6",
                          "DateTimePicker7", "DateTimePicker8"})
        EXPECT_FALSE(On(n)) << n;
    EXPECT_TRUE(On("DateTimePicker5"));
    EXPECT_TRUE(On("CheckBox2"));
    EXPECT_FALSE(settings.Checked("CheckBox4"));

    // Back to timed: every row off; fixed again: only row 1 available, nothing re-checked.
    ClickBox(2);
    Pick("cb_pdat", 0);
    EXPECT_TRUE(On("edt1"));
    EXPECT_FALSE(On("CheckBox2"));
    EXPECT_FALSE(Checked("CheckBox2"));
    EXPECT_FALSE(On("DateTimePicker5"));
    Pick("cb_pdat", 1);
    EXPECT_FALSE(Checked("CheckBox2"));
    EXPECT_TRUE(On("CheckBox2"));
    EXPECT_FALSE(On("CheckBox3"));
}

TEST_F(RuleTest, ModeRulesRunOnAUsersPickOnly) {
    // Set from code (a block decoded, a file loaded): no rule.
    settings.SetIndex("cb_pdat", 1);
    settings.SetIndex("cbb_gprsupmode", 1);
    EXPECT_TRUE(On("edt1"));
    EXPECT_FALSE(On("CheckBox2"));
    EXPECT_TRUE(On("edt_gprstimeup"));

    Pick("cbb_gprsupmode", 0);
    Pick("cbb_gprsupmode", 1);
    EXPECT_FALSE(On("edt_gprstimeup"));
    EXPECT_TRUE(On("dtp_gprspointup"));

    // Typed text selects no item and changes nothing.
    auto* combo = Find<QComboBox>("cbb_gprsupmode");
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "x");
    EXPECT_EQ(settings.Index("cbb_gprsupmode"), -1);
    EXPECT_FALSE(On("edt_gprstimeup"));
    EXPECT_TRUE(On("dtp_gprspointup"));
    Pick("cbb_gprsupmode", 0);
    EXPECT_TRUE(On("edt_gprstimeup"));
    EXPECT_FALSE(On("dtp_gprspointup"));
}

TEST_F(RuleTest, RelayGroupFollowsItsMode) {
    Pick("ComboBox1", 1);
    EXPECT_FALSE(On("Edit8"));
    for (const char* n : {"Edit10", "Edit11", "Edit12"}) EXPECT_TRUE(On(n)) << n;
    Type("Edit12", "7");
    EXPECT_TRUE(On("Edit12"));
    RelayInputs in = window->ReadRelayInputs();
    EXPECT_EQ(in.comboIndex, 1);
    EXPECT_EQ(in.edit12, "7");
    EXPECT_EQ(in.edit8, "10");

    Pick("ComboBox1", 0);
    EXPECT_TRUE(On("Edit8"));
    for (const char* n : {"Edit10", "Edit11", "Edit12"}) EXPECT_FALSE(On(n)) << n;

    auto* combo = Find<QComboBox>("ComboBox1");
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "abc");
    EXPECT_EQ(window->ReadRelayInputs().comboIndex, -1);
    EXPECT_TRUE(On("Edit8"));
}

TEST_F(WindowTest, PortOpenFailureShowsTheMessageAndTheReason) {
    link.openSucceeds = false;
    link.failReason = "无权限：请将用户加入 dialout 组";
    Click(Find<QPushButton>("btn8"));
    ASSERT_EQ(presenter.Texts(), QStringList{"串口打开失败"});
    EXPECT_EQ(presenter.shown[0].caption, "R4T8报警器设置软件");
    EXPECT_EQ(link.opened, QStringList{"/dev/ttyUSB0"});
    EXPECT_EQ(Find<QPushButton>("btn8")->text(), "打开串口");
    EXPECT_EQ(window->PortState(), 0);
    EXPECT_FALSE(window->LampIsGreen());
    EXPECT_FALSE(Find<QPushButton>("btn7")->isEnabled());
    EXPECT_EQ(window->StatusText(2), "无权限：请将用户加入 dialout 组");
}

TEST_F(WindowTest, OpenCloseReopenKeepsTheTypedPortName) {
    auto* combo = Find<QComboBox>("cbox_com");
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "  /tmp/sim-port ");
    Click(Find<QPushButton>("btn8"));
    EXPECT_EQ(link.opened.value(0), "/tmp/sim-port");
    EXPECT_EQ(window->PortState(), 1);
    EXPECT_EQ(Find<QPushButton>("btn8")->text(), "关闭串口");
    EXPECT_TRUE(window->LampIsGreen());
    EXPECT_TRUE(Find<QPushButton>("btn7")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("btn_load")->isEnabled());

    // A login enables the device controls; closing takes them and btn7 away again.
    window->UserInterface().SetDeviceControlsEnabled(true);
    EXPECT_TRUE(Find<QPushButton>("Button1")->isEnabled());
    Click(Find<QPushButton>("btn8"));
    EXPECT_EQ(link.closes, 1);
    EXPECT_EQ(window->PortState(), 2);
    EXPECT_EQ(Find<QPushButton>("btn8")->text(), "打开串口");
    EXPECT_FALSE(window->LampIsGreen());
    for (const char* n :
         {"btn7", "btn_load", "btn_down", "btn_industrial", "btn_stop", "Button1", "Button4",
          "btn_acquiretime", "Button5", "btn_padlockregulation", "Button3", "Button2",
          "btn_inquire_curdat", "btn_loadconfigure", "btn_saveconfigure", "btn_setcurtime"})
        EXPECT_FALSE(Find<QWidget>(n)->isEnabled()) << n;

    Click(Find<QPushButton>("btn8"));
    EXPECT_EQ(link.opened.value(1), "/tmp/sim-port");
    EXPECT_EQ(combo->currentText(), "  /tmp/sim-port ");
    EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(WindowTest, HangupClosesThePortAndSaysSo) {
    Click(Find<QPushButton>("btn8"));
    window->OnRequestHangup(QString());
    EXPECT_EQ(link.closes, 1);
    EXPECT_EQ(window->PortState(), 2);
    EXPECT_EQ(window->StatusText(2), "串口已断开");
    window->OnRequestHangup(QString());  // already closed: nothing more
    EXPECT_EQ(link.closes, 1);
}

TEST_F(WindowTest, ExitQuestionAnsweredNoKeepsTheWindow) {
    Click(Find<QPushButton>("btn8"));
    presenter.answers = {MsgAnswer::No};
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].text, "是否退出程序");
    EXPECT_EQ(presenter.shown[0].caption, "提示");
    EXPECT_EQ(presenter.shown[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(window->PortState(), 1);
    EXPECT_EQ(link.closes, 0);

    presenter.answers = {MsgAnswer::Yes};
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, DebugPageButtons) {
    window->UserInterface().AppendSendLog("A5 01\r\nA5 02\r\n");
    window->UserInterface().AppendReceiveLogLine("A5 11");
    window->UserInterface().AppendReceiveLogLine("A5 12");
    auto* mmo1 = Find<QPlainTextEdit>("mmo1");
    auto* mmo2 = Find<QPlainTextEdit>("mmo2");
    EXPECT_EQ(mmo1->toPlainText(), "A5 01\nA5 02\n");
    EXPECT_EQ(mmo1->textCursor().position(), mmo1->document()->characterCount() - 1);
    EXPECT_EQ(mmo2->toPlainText(), "A5 11\nA5 12");

    window->Pages()->setTabVisible(3, true);  // only so that clicks reach the page
    Click(Find<QPushButton>("btn_clrmmo1"));
    EXPECT_TRUE(mmo1->toPlainText().isEmpty());
    EXPECT_FALSE(mmo2->toPlainText().isEmpty());
    Click(Find<QPushButton>("btn_clrmmo2"));
    EXPECT_TRUE(mmo2->toPlainText().isEmpty());

    Click(Find<QPushButton>("Button7"));
    EXPECT_TRUE(window->LampIsGreen());
    Click(Find<QPushButton>("Button8"));
    EXPECT_FALSE(window->LampIsGreen());

    Click(Find<QPushButton>("Button6"));
    EXPECT_EQ(Find<QProgressBar>("pb_write")->value(), 80);
    EXPECT_TRUE(Find<QProgressBar>("pb_write")->isVisible());
    EXPECT_EQ(window->StatusText(2), "30000");
}

TEST_F(WindowTest, WhatTheSessionShows) {
    auto& ui = window->UserInterface();
    ui.SetStatusText(2, "正在接收历史数据");
    EXPECT_EQ(window->StatusText(2), "正在接收历史数据");
    ui.SetProgress(40);
    EXPECT_EQ(Find<QProgressBar>("pb_write")->value(), 40);
    ui.SetProgress(120);  // past the maximum: a full bar, not the old value
    EXPECT_EQ(Find<QProgressBar>("pb_write")->value(), 80);
    ui.SetProgressVisible(false);
    EXPECT_FALSE(Find<QProgressBar>("pb_write")->isVisible());

    ui.ShowDeviceTime(QDateTime(QDate(2023, 12, 31), QTime(23, 59, 58)));
    EXPECT_EQ(Find<QDateEdit>("DateTimePicker3")->date(), QDate(2023, 12, 31));
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker4")->time(), QTime(23, 59, 58));
    EXPECT_EQ(Find<QDateTimeEdit>("dtp_DeviceCurrentTime")->dateTime(),
              QDateTime(QDate(2023, 12, 31), QTime(23, 59, 58)));

    ui.SetCurrentDataCell(10, "有效");
    ui.SetCurrentDataCell(0, "x");   // the captions are no value cells
    ui.SetCurrentDataCell(12, "x");  // outside the grid: ignored
    auto* grid = Find<QTableWidget>("strngrd_curdata");
    EXPECT_EQ(grid->item(1, 10)->text(), "有效");
    EXPECT_EQ(grid->item(1, 0)->text(), "数值");

    ui.AppendDebugOutput(true, " 41 54 0D 0A\r\n");
    ui.AppendDebugOutput(false, " 4F 4B\r\n");
    EXPECT_EQ(Find<QPlainTextEdit>("Memo1")->toPlainText(), " 41 54 0D 0A\n");
    EXPECT_EQ(Find<QPlainTextEdit>("memo2")->toPlainText(), " 4F 4B\n");

    EXPECT_EQ(ui.OpenWithDesktop("/nonexistent/r4t8/file.xls"), 2);
    EXPECT_EQ(ui.ShowMessage("读取结束", "R4T8报警器设置软件"), MsgAnswer::Ok);
    EXPECT_EQ(presenter.Texts(), QStringList{"读取结束"});
}

// Login payloads: status 1, model, 0, version, 0.
std::vector<uint8_t> LoginPayload(const QByteArray& model, const QByteArray& version) {
    std::vector<uint8_t> p{1};
    p.insert(p.end(), model.begin(), model.end());
    p.push_back(0);
    p.insert(p.end(), version.begin(), version.end());
    p.push_back(0);
    return p;
}

class ModelTest : public WindowTest {
  protected:
    void Login(const QByteArray& model, const QByteArray& version = "V1.0") {
        const auto p = LoginPayload(model, version);
        SetupForModel(settings, p.data(), p.size());
    }
    QStringList Items(const QString& name) {
        auto* combo = Find<QComboBox>(name);
        QStringList out;
        for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
        return out;
    }
    // Whether every control of sensor n is enabled (1) / disabled (0) / mixed (-1).
    int SensorEnabled(int n) {
        int on = 0, total = 0;
        for (const QString& name : SensorControlNames(n)) {
            ++total;
            on += Find<QWidget>(name)->isEnabled() ? 1 : 0;
        }
        return on == total ? 1 : on == 0 ? 0 : -1;
    }
};

TEST_F(ModelTest, TheFourVariantsSetUpTheSensorRows) {
    const QStringList temps{"摄氏度", "华氏度"};
    const QStringList analogue{"模拟"};
    const QStringList design{"摄氏度", "华氏度", "模拟"};
    struct Case {
        QByteArray model;
        QStringList first, last;
        int lastEnabled;
        SensorTypeCodeTable codes;
    };
    const Case cases[] = {
        {"R4T0", temps, design, 0, {'C', 'F', 'B'}},
        {"R4T1", temps, temps, 1, {'C', 'F', 'B'}},
        {"R4T2", analogue, temps, 0, {'B', 'F', 'B'}},  // after R4T1: 3 and 4 keep theirs
        {"R4T3", analogue, analogue, 1, {'B', 'F', 'B'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model.toStdString());
        Login(c.model, "2.07");
        EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), QString::fromLatin1(c.model));
        EXPECT_EQ(Find<QLineEdit>("edt43")->text(), "2.07");
        EXPECT_EQ(Items("cbb_sensor1"), c.first);
        EXPECT_EQ(Items("cbb_sensor2"), c.first);
        EXPECT_EQ(Find<QComboBox>("cbb_sensor2")->currentIndex(), 0);
        EXPECT_EQ(Items("cbb_sensor4"), c.last);
        EXPECT_EQ(SensorEnabled(1), 1);
        EXPECT_EQ(SensorEnabled(2), 1);
        EXPECT_EQ(SensorEnabled(3), c.lastEnabled);
        EXPECT_EQ(SensorEnabled(4), c.lastEnabled);
        EXPECT_EQ(settings.SensorTypeCodes(), c.codes);
    }
}

TEST_F(ModelTest, UnknownShortAndCutModelTexts) {
    Login("R4T1X9");
    EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "R4T1X9");
    EXPECT_EQ(SensorEnabled(4), 1);
    EXPECT_EQ(Items("cbb_sensor3"), (QStringList{"摄氏度", "华氏度"}));

    for (const QByteArray& model : {QByteArray("R5T2"), QByteArray("R4T"), QByteArray()}) {
        Login(model, "v");
        EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), QString::fromLatin1(model));
        EXPECT_EQ(Items("cbb_sensor1"), (QStringList{"摄氏度", "华氏度"}));
        EXPECT_EQ(SensorEnabled(3), 1);
    }

    Login(
        QByteArray("R4T2\xFF"
                   "AB",
                   7));
    EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "R4T2");
    EXPECT_EQ(Items("cbb_sensor1"), QStringList{"模拟"});
    EXPECT_EQ(SensorEnabled(3), 0);
}

}  // namespace
}  // namespace r4t8::testing
