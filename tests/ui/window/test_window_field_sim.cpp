// A controller that goes away in the middle of a read, with the real port and clock.
#include <QPushButton>

#include "protocol/CommandSender.h"
#include "tests/support/SimProcess.h"
#include "tests/ui/window/WindowFixture.h"
#include "ui/window/WindowProgram.h"

namespace r4t8::testing {
namespace {

constexpr int kReplyWaitMs = 15000;  // a bound for a hung test, not a measured time

TEST(FieldSimTest, AHangupMidReadLeavesTheWindowClosedAndReopenWorks) {
    SimProcess first{R4T8_SIM_PATH};
    // Answers the login and the first block, then closes the line.
    ASSERT_TRUE(first.Start({"--hangup-after", "2"}));
    FakePresenter presenter;
    WindowProgram program(&presenter, nullptr, [] { return std::vector<PortInfo>{}; });
    program.Create(QString::fromStdString(first.PtyPath()));
    Tfrm_mset& w = program.Window();
    w.show();
    const auto button = [&](const char* name) { return w.findChild<QPushButton*>(name); };
    const auto waitFor = [&](const QString& text) {
        return QTest::qWaitFor([&] { return presenter.Texts().contains(text); }, kReplyWaitMs);
    };
    const auto logIn = [&] {
        auto* edit = w.findChild<QLineEdit*>("edt_setpwd");
        edit->setText("5807");
        button("btn7")->click();
    };

    button("btn8")->click();
    ASSERT_EQ(w.PortState(), 1);
    logIn();
    ASSERT_TRUE(waitFor("密码正确"));
    button("btn_load")->click();
    ASSERT_TRUE(waitFor("串口已断开，操作已停止")) << presenter.Texts().join(',').toStdString();
    EXPECT_EQ(w.PortState() % 2, 0);
    EXPECT_FALSE(w.LampIsGreen());
    EXPECT_EQ(button("btn8")->text(), "打开串口");
    EXPECT_FALSE(button("btn_load")->isEnabled());
    EXPECT_FALSE(button("btn7")->isEnabled());
    EXPECT_EQ(program.Session().Sender().OutstandingCommand(), 0);
    EXPECT_FALSE(program.Session().Commands().tmr_cf().IsActive());

    // The adapter plugged back: a new line, opened and read from the start.
    SimProcess second{R4T8_SIM_PATH};
    ASSERT_TRUE(second.Start({}));
    w.SelectPort(QString::fromStdString(second.PtyPath()));
    button("btn8")->click();
    ASSERT_EQ(w.PortState() % 2, 1) << w.StatusText(2).toStdString();
    presenter.shown.clear();
    logIn();
    ASSERT_TRUE(waitFor("密码正确"));
    button("btn_load")->click();
    ASSERT_TRUE(waitFor("读取结束")) << presenter.Texts().join(',').toStdString();
    EXPECT_FALSE(presenter.Texts().contains("发送命令超时"));
}

}  // namespace
}  // namespace r4t8::testing
