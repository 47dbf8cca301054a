// Typing into the window: key filters, maximum lengths, pasting and the GPRS time limit.
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QTimeEdit>

#include "tests/ui/window/WindowFixture.h"

namespace r4t8::testing {
namespace {

struct TypingCase {
    const char* edit;
    QString keys;
    QString expected;
};

TEST_F(WindowTest, KeyFiltersLetThroughOnlyTheirCharacters) {
    const TypingCase cases[] = {
        // PhoneFilter: '+' only into an empty edit.
        {"edt_tel1", "+123", "+123"},
        {"edt_tel1", "1+2+", "12"},
        {"edt_tel_my", "a1 b-2.", "12"},
        {"edit9", "++5", "+5"},
        {"edt_GprsFailTel", "9+", "9"},
        // SignedDecimalFilter: signs and points anywhere, any number of times.
        {"edt_Sensor1_Low", "1-2.3+", "1-2.3+"},
        {"edt_Sensor3_end", "--..x", "--.."},
        {"edt_relay_time", "+1e5", "+15"},
        // DecimalFilter.
        {"edt_setpwd", "1.2a", "1.2"},
        {"edt_rec_time", "-.5", ".5"},
        // DigitsFilter, settings fields and the relay edits.
        {"edt_pwd", "1.2-3", "123"},
        {"edt_port", "80a80", "8080"},
        {"edt_Sensor4_STP", "x9", "9"},
        {"Edit8", "7 7", "77"},
        // No filter.
        {"edt_ip1", "a b.c-1", "a b.c-1"},
        {"edt_gprspassword", "P@ss w", "P@ss w"},
    };
    for (const TypingCase& c : cases) {
        SCOPED_TRACE(c.edit);
        Type(c.edit, c.keys);
        EXPECT_EQ(Find<QLineEdit>(c.edit)->text(), c.expected);
    }
    // The typed text reached the settings record.
    EXPECT_EQ(settings.Text("edt_tel1"), "12");
    EXPECT_EQ(settings.Text("edt_Sensor1_Low"), "1-2.3+");
}

TEST_F(WindowTest, NonAsciiCharactersAreFilteredLikeAnyOther) {
    Type("edt_ip1", "服务器");
    EXPECT_EQ(Find<QLineEdit>("edt_ip1")->text(), "服务器");
    Type("edt_tel2", "１2中");  // a full-width digit is no digit '0'..'9'
    EXPECT_EQ(Find<QLineEdit>("edt_tel2")->text(), "2");
}

TEST_F(WindowTest, EditingKeysPassFilteredEdits) {
    Type("edt_pwd", "123");
    auto* edit = Find<QLineEdit>("edt_pwd");
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "12");
    QTest::keyClick(edit, Qt::Key_Home);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->text(), "2");
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClick(edit, Qt::Key_Left);
    QTest::keyClick(edit, '7');
    EXPECT_EQ(edit->text(), "72");
}

TEST_F(WindowTest, ClipboardShortcutsAreSwallowedInFilteredEditsOnly) {
    QGuiApplication::clipboard()->setText("4321");
    Type("edt_id", "");
    QTest::keyClick(Find<QLineEdit>("edt_id"), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Find<QLineEdit>("edt_id")->text(), "");

    Type("edt_apn", "");
    QTest::keyClick(Find<QLineEdit>("edt_apn"), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Find<QLineEdit>("edt_apn")->text(), "4321");

    // Copying out of a filtered edit by shortcut does nothing either.
    Type("edt_pwd", "99");
    auto* pwd = Find<QLineEdit>("edt_pwd");
    pwd->selectAll();
    QTest::keyClick(pwd, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(pwd->text(), "99");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "4321");
}

TEST_F(WindowTest, MaximumLengthLimitsTypingAndPastingButNotProgramText) {
    Type("edt_setpwd", "123456");
    EXPECT_EQ(Find<QLineEdit>("edt_setpwd")->text(), "1234");
    Type("edt_Sensor2_STP", "123");
    EXPECT_EQ(Find<QLineEdit>("edt_Sensor2_STP")->text(), "12");

    // Pasting (as the context menu does) is not filtered but is cut to the room left.
    auto* pwd = Find<QLineEdit>("edt_pwd");
    Type("edt_pwd", "1");
    QGuiApplication::clipboard()->setText("ab3456");
    pwd->paste();
    EXPECT_EQ(pwd->text(), "1ab3");
    EXPECT_EQ(settings.Text("edt_pwd"), "1ab3");

    // A selection replaced by a paste frees its room.
    pwd->setSelection(1, 2);
    QGuiApplication::clipboard()->setText("xyz");
    pwd->paste();
    EXPECT_EQ(pwd->text(), "1xy3");

    // Text from the program stays whole; typing into it adds nothing, deleting works.
    settings.SetText("edt_tel3", "123456789012345678901234");
    auto* tel = Find<QLineEdit>("edt_tel3");
    EXPECT_EQ(tel->text(), "123456789012345678901234");
    Type("edt_tel3", "5", false);
    EXPECT_EQ(tel->text(), "123456789012345678901234");
    QTest::keyClick(tel, Qt::Key_Backspace);
    EXPECT_EQ(tel->text(), "12345678901234567890123");
    EXPECT_EQ(settings.Text("edt_tel3"), "12345678901234567890123");
}

TEST_F(WindowTest, GprsTimeLimitWhenTyped) {
    Type("edt_gprstimeup", "1440");
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_EQ(Find<QLineEdit>("edt_gprstimeup")->text(), "1440");

    QString textWhileOpen;
    presenter.whileOpen = [&](const QString&) {
        textWhileOpen = Find<QLineEdit>("edt_gprstimeup")->text();
    };
    Type("edt_gprstimeup", "1441");
    ASSERT_EQ(presenter.Texts(), QStringList{"输入值超出范围"});
    EXPECT_EQ(presenter.shown[0].caption, "R4T8报警器设置软件");
    EXPECT_EQ(textWhileOpen, "1441");  // the box comes while the typed value is shown
    EXPECT_EQ(Find<QLineEdit>("edt_gprstimeup")->text(), "144");
    EXPECT_EQ(settings.Text("edt_gprstimeup"), "144");

    presenter.shown.clear();
    Type("edt_gprstimeup", "");
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_EQ(Find<QLineEdit>("edt_gprstimeup")->text(), "");
}

TEST_F(WindowTest, GprsTimeLimitWhenSetByTheProgram) {
    struct Case {
        QString stored;
        QString shown;
        int messages;
    };
    const Case cases[] = {{"2000", "200", 1},
                          {"14400", "1440", 1},
                          {"99999", "999", 2},
                          {"1440", "1440", 0},
                          {"abc", "abc", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        presenter.shown.clear();
        settings.SetText("edt_gprstimeup", QString());
        settings.SetText("edt_gprstimeup", c.stored);
        EXPECT_EQ(int(presenter.shown.size()), c.messages);
        EXPECT_EQ(Find<QLineEdit>("edt_gprstimeup")->text(), c.shown);
    }
}

TEST_F(WindowTest, ModelChangesReachTheControlsAndBack) {
    settings.SetText("edt_ip2", "10.0.0.1");
    settings.SetIndex("cbb_mode", 1);
    settings.SetChecked("chk1", true);
    settings.SetTime("DateTimePicker7", QTime(13, 45));
    settings.SetEnabled("edt_apn", false);
    settings.SetItems("cbb_sensor2", {"模拟"}, 0);
    EXPECT_EQ(Find<QLineEdit>("edt_ip2")->text(), "10.0.0.1");
    EXPECT_EQ(Find<QComboBox>("cbb_mode")->currentText(), "UDP");
    EXPECT_TRUE(Find<QCheckBox>("chk1")->isChecked());
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker7")->time(), QTime(13, 45));
    EXPECT_FALSE(Find<QLineEdit>("edt_apn")->isEnabled());
    EXPECT_EQ(Find<QComboBox>("cbb_sensor2")->count(), 1);
    EXPECT_EQ(Find<QComboBox>("cbb_sensor2")->currentText(), "模拟");

    // Back from the controls, by the user.
    Click(Find<QCheckBox>("CheckBox1"));
    EXPECT_TRUE(settings.Checked("CheckBox1"));
    Pick("cbb_tel4_f2", 3);
    EXPECT_EQ(settings.Index("cbb_tel4_f2"), 3);
    auto* picker = Find<QTimeEdit>("DateTimePicker7");
    settings.SetEnabled("DateTimePicker7", true);
    picker->setFocus();
    picker->setCurrentSection(QDateTimeEdit::HourSection);
    QTest::keyClick(picker, Qt::Key_Up);
    EXPECT_EQ(settings.Time("DateTimePicker7"), QTime(14, 45));
}

TEST_F(WindowTest, TypingIntoACombo) {
    auto* combo = Find<QComboBox>("cbb_mode");
    Reveal(combo);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "SCTP");
    EXPECT_EQ(settings.Index("cbb_mode"), -1);
    EXPECT_EQ(settings.Text("cbb_mode"), "SCTP");
    EXPECT_EQ(combo->currentText(), "SCTP");
    EXPECT_EQ(combo->count(), 2);  // typing adds no item
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->currentText(), "SCTP");
    Pick("cbb_mode", 0);
    EXPECT_EQ(settings.Index("cbb_mode"), 0);
    EXPECT_EQ(combo->currentText(), "TCP");
}

}  // namespace
}  // namespace r4t8::testing
