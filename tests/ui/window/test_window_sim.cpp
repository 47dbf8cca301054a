// The whole program against the simulated controller over a real pseudo-terminal: the real
// port component, clock and session, with only the message boxes answered by a script.
#include <QProgressBar>
#include <QPushButton>

#include "tests/support/SimProcess.h"
#include "tests/ui/window/WindowFixture.h"
#include "ui/window/WindowProgram.h"

namespace r4t8::testing {
namespace {

constexpr int kReplyWaitMs = 15000;  // a bound for a hung test, not a measured time

class NoFiles : public IFileChooser {
  public:
    QString SaveFileName(const QString&, const QString&) override { return {}; }
    QString OpenFileName(const QString&) override { return {}; }
};

class SimWindowTest : public ::testing::Test {
  protected:
    void Start(const std::vector<std::string>& simArgs) {
        ASSERT_TRUE(sim.Start(simArgs));
        program = std::make_unique<WindowProgram>(&presenter, &files);
        program->Create(QString::fromStdString(sim.PtyPath()));
        program->Window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&program->Window()));
    }
    void TearDown() override { program.reset(); }

    template <typename T = QWidget>
    T* Find(const QString& name) {
        T* w = program->Window().findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    void Click(const QString& name) {
        QWidget* w = Find(name);
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
    }
    bool WaitForMessage(const QString& text) {
        return QTest::qWaitFor([&] { return presenter.Texts().contains(text); }, kReplyWaitMs);
    }
    void LogIn(const QString& password) {
        auto* edit = Find<QLineEdit>("edt_setpwd");
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, password);
        Click("btn7");
    }

    SimProcess sim{R4T8_SIM_PATH};
    FakePresenter presenter;
    NoFiles files;
    std::unique_ptr<WindowProgram> program;
};

TEST_F(SimWindowTest, OpenLogInReadAndClose) {
    Start({"--model", "R4T2", "--version-text", "V1.19"});
    EXPECT_EQ(Find<QComboBox>("cbox_com")->currentText(), QString::fromStdString(sim.PtyPath()));
    Click("btn8");
    ASSERT_EQ(program->Window().PortState(), 1) << presenter.Texts().join(',').toStdString();
    EXPECT_TRUE(program->Window().LampIsGreen());

    LogIn("1111");
    ASSERT_TRUE(WaitForMessage("密码错误"));
    EXPECT_FALSE(Find("btn_load")->isEnabled());

    LogIn("5807");
    ASSERT_TRUE(WaitForMessage("密码正确"));
    EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "R4T2");
    EXPECT_EQ(Find<QLineEdit>("edt43")->text(), "V1.19");
    EXPECT_FALSE(Find("cbb_sensor3")->isEnabled());
    EXPECT_TRUE(Find("btn_load")->isEnabled());

    Click("btn_load");
    ASSERT_TRUE(WaitForMessage("读取结束")) << presenter.Texts().join(',').toStdString();
    EXPECT_EQ(Find<QProgressBar>("pb_write")->maximum(), 80);

    Click("btn8");
    EXPECT_EQ(program->Window().PortState(), 2);
    EXPECT_FALSE(Find("btn_load")->isEnabled());
    EXPECT_FALSE(Find("btn7")->isEnabled());
    EXPECT_FALSE(program->Window().LampIsGreen());
}

TEST_F(SimWindowTest, NoReplyIsResentThenTimesOut) {
    // The login and its three resends all go unanswered.
    Start({"--model", "R4T1", "--drop-next", "4"});
    Click("btn8");
    ASSERT_EQ(program->Window().PortState(), 1);
    LogIn("5807");
    ASSERT_TRUE(WaitForMessage("发送命令超时"));
    EXPECT_FALSE(Find("btn_load")->isEnabled());
}

TEST_F(SimWindowTest, AHangupClosesThePort) {
    Start({"--hangup-after", "1"});
    Click("btn8");
    LogIn("5807");
    ASSERT_TRUE(WaitForMessage("密码正确"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return program->Window().PortState() == 2; }, kReplyWaitMs));
    EXPECT_EQ(program->Window().StatusText(2), "串口已断开");
    EXPECT_EQ(Find<QPushButton>("btn8")->text(), "打开串口");
    EXPECT_FALSE(Find("btn_load")->isEnabled());
}

TEST_F(SimWindowTest, AMissingPortFailsToOpen) {
    Start({});
    auto* combo = Find<QComboBox>("cbox_com");
    combo->setEditText("/dev/r4t8-no-such-port");
    Click("btn8");
    EXPECT_EQ(presenter.Texts(), QStringList{"串口打开失败"});
    EXPECT_EQ(program->Window().PortState(), 0);
    EXPECT_EQ(Find<QPushButton>("btn8")->text(), "打开串口");
    EXPECT_TRUE(program->Window().StatusText(2).startsWith("端口不存在"));
}

}  // namespace
}  // namespace r4t8::testing
