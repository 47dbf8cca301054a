// The window wired to a session: the buttons reach the controller, the replies reach the
// window. The port is a recorder and time a fake clock.
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <algorithm>

#include "session/DeviceSession.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/ui/window/WindowFixture.h"
#include "ui/window/FileChooser.h"

namespace r4t8::testing {
namespace {

class ScriptedFiles : public IFileChooser {
  public:
    QString SaveFileName(const QString& folder, const QString& proposed) override {
        saveFolder = folder;
        proposedName = proposed;
        return answer;
    }
    QString OpenFileName(const QString& folder) override {
        openFolder = folder;
        return answer;
    }
    QString answer, saveFolder, openFolder, proposedName;
};

class SessionTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        time.SetWallClock(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        session = std::make_unique<DeviceSession>(port, time, window->UserInterface(), settings);
        window->AttachSession(session.get());
        window->SetFileChooser(&files);
        window->SetTimeSource(&time);
        Click(Find<QPushButton>("btn8"));
    }
    void TearDown() override {
        window->AttachSession(nullptr);
        session.reset();
        WindowTest::TearDown();
    }
    void Reply(uint8_t command, const Bytes& payload) {
        const Bytes line = EscapeFrame(BuildReplyFrame(command, payload));
        session->cm1ReceiveData(line.data(), static_cast<uint16_t>(line.size()));
        QApplication::processEvents();
    }
    bool Sent(const Bytes& raw) const {
        const Bytes line = EscapeFrame(raw);
        return std::search(port.written.begin(), port.written.end(), line.begin(), line.end()) !=
               port.written.end();
    }
    void LogIn(const QByteArray& model) {
        Click(Find<QPushButton>("btn7"));
        const QByteArray raw = QByteArray(1, '\x01') + model + QByteArray("\0V2\0", 4);
        Reply(cmd_login, Bytes(raw.begin(), raw.end()));
    }

    RecordingPort port;
    FakeTimeSource time;
    ScriptedFiles files;
    std::unique_ptr<DeviceSession> session;
};

TEST_F(SessionTest, LoginWithTheTypedPassword) {
    Type("edt_setpwd", "12");
    Click(Find<QPushButton>("btn7"));
    const uint8_t password[4] = {'1', '2', 0, 0};
    EXPECT_TRUE(Sent(BuildLoginFrame(password)));

    Reply(cmd_login, {0});
    EXPECT_EQ(presenter.Texts(), QStringList{"密码错误"});
    EXPECT_FALSE(Find<QPushButton>("btn_load")->isEnabled());

    presenter.shown.clear();
    LogIn("R4T2");
    EXPECT_EQ(presenter.Texts(), QStringList{"密码正确"});
    EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "R4T2");
    EXPECT_EQ(Find<QLineEdit>("edt43")->text(), "V2");
    EXPECT_TRUE(Find<QPushButton>("btn_load")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("btn_setcurtime")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("cbb_sensor3")->isEnabled());
    EXPECT_FALSE(window->Pages()->isTabVisible(3));
}

TEST_F(SessionTest, StopTakesTheDeviceControlsAndLoginAway) {
    LogIn("R4T1");
    Click(Find<QPushButton>("btn_stop"));
    EXPECT_FALSE(Find<QPushButton>("btn_load")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("btn7")->isEnabled());
    EXPECT_EQ(window->PortState(), 1);  // the port stays open
}

struct ButtonCase {
    const char* button;
    uint8_t command;
};

class ButtonTest : public SessionTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ButtonTest, SendsItsRequest) {
    LogIn("R4T1");
    port.written.clear();
    Click(Find<QPushButton>(GetParam().button));
    ASSERT_GE(port.written.size(), 4u);
    EXPECT_EQ(port.written[0], kFrameDelimiter);
    EXPECT_EQ(port.written[3], GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(OperationButtons, ButtonTest,
                         ::testing::Values(ButtonCase{"Button3", cmd_relay},
                                           ButtonCase{"Button2", cmd_relay},
                                           ButtonCase{"btn_inquire_curdat", cmd_current_data},
                                           ButtonCase{"Button4", cmd_set_time},
                                           ButtonCase{"btn_setcurtime", cmd_set_time},
                                           ButtonCase{"Button5", cmd_debug_mode},
                                           ButtonCase{"btn_padlockregulation", cmd_debug_mode},
                                           ButtonCase{"btn_load", cmd_read_block},
                                           ButtonCase{"btn_down", cmd_erase_block},
                                           ButtonCase{"Button1", cmd_history_count},
                                           ButtonCase{"btn_acquiretime", cmd_get_time}),
                         [](const ::testing::TestParamInfo<ButtonCase>& info) {
                             return std::string(info.param.button);
                         });

TEST_F(SessionTest, RelayAndClockThroughTheWindow) {
    LogIn("R4T1");
    Click(Find<QPushButton>("Button3"));
    EXPECT_TRUE(Sent(BuildRelayCloseFrame(10)));
    Reply(cmd_relay, {1});
    EXPECT_EQ(presenter.Texts().last(), "操作成功");

    Pick("ComboBox1", 1);
    Type("Edit12", "300");
    Click(Find<QPushButton>("Button3"));
    time.Advance(3000);  // a repeated request code waits until late replies are ruled out
    EXPECT_TRUE(Sent(BuildRelayPulseFrame(3, 1, 300 & 0xFF)));

    Click(Find<QPushButton>("btn_acquiretime"));
    EXPECT_TRUE(Sent(BuildGetTimeFrame()));
    Reply(cmd_get_time, {24, 2, 29, 23, 59, 1});
    EXPECT_EQ(Find<QDateEdit>("DateTimePicker3")->date(), QDate(2024, 2, 29));
    EXPECT_EQ(Find<QTimeEdit>("DateTimePicker4")->time(), QTime(23, 59, 1));
}

TEST_F(SessionTest, SaveAndLoadTheSettingsFile) {
    LogIn("R4T1");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    files.answer = dir.filePath("site");  // no extension typed: ".ini" is added
    Type("edt_tel1", "+8613800");
    Pick("cbb_mode", 1);
    Click(Find<QPushButton>("btn_saveconfigure"));
    EXPECT_EQ(files.proposedName, "setini2026-01-02_03-04-05");
    // A build's own folder can be written: the dialogs start there.
    EXPECT_EQ(files.saveFolder, QCoreApplication::applicationDirPath());
    ASSERT_TRUE(QFileInfo::exists(dir.filePath("site.ini")));

    Type("edt_tel1", "1");
    Pick("cbb_mode", 0);
    files.answer = dir.filePath("site.ini");
    Click(Find<QPushButton>("btn_loadconfigure"));
    EXPECT_EQ(files.openFolder, QCoreApplication::applicationDirPath());
    EXPECT_EQ(Find<QLineEdit>("edt_tel1")->text(), "+8613800");
    EXPECT_EQ(Find<QComboBox>("cbb_mode")->currentText(), "UDP");

    // A cancelled dialog changes nothing.
    files.answer.clear();
    Type("edt_tel1", "5");
    Click(Find<QPushButton>("btn_loadconfigure"));
    EXPECT_EQ(Find<QLineEdit>("edt_tel1")->text(), "5");
}

// An installed program's folder (/usr/bin) cannot be written: the dialogs start in the
// documents folder, made when missing, or else at home.
TEST(SettingsDialogFolder, TheProgramsFolderWhereWritableElseTheDocuments) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString docs = QDir(dir.path()).filePath("home/Documents");
    struct Case {
        const char* what;
        QString program;
        QString documents;
        QString expected;
    };
    const Case cases[] = {
        {"writable program folder", dir.path(), docs, dir.path()},
        {"program folder that is no folder", QStringLiteral("/dev/null/bin"), docs, docs},
        {"no program folder", QString(), docs, docs},
        {"documents that cannot be made", QStringLiteral("/dev/null/bin"),
         QStringLiteral("/dev/null/Documents"), QDir::homePath()},
        {"no documents folder", QStringLiteral("/dev/null/bin"), QString(), QDir::homePath()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SettingsDialogFolder(c.program, c.documents), c.expected);
    }
    EXPECT_TRUE(QFileInfo(docs).isDir());
}

TEST_F(SessionTest, NoReplyEndsInTheTimeoutMessage) {
    Click(Find<QPushButton>("btn7"));
    time.Advance(4500);
    EXPECT_TRUE(presenter.Texts().contains("发送命令超时"));
    EXPECT_FALSE(Find<QPushButton>("btn_load")->isEnabled());
}

}  // namespace
}  // namespace r4t8::testing
