// The window on a real X desktop: captions as the window manager shows them, Qt's own texts in
// Chinese, Tab leaving every edit, and the settings file dialogs, all driven by real events.
#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include "Desktop.h"
#include "packaging/identity/ProgramIdentity.h"
#include "ui/window/FileChooser.h"
#include "ui/window/WindowProgram.h"
#include "ui/window/umset.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace r4t8::testing {
namespace {

const QString kCaption = QStringLiteral("R4T8报警器设置软件V1.19");
const QString kTitle = QStringLiteral("R4T8报警器设置软件");

class DesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        program = std::make_unique<WindowProgram>();
        program->Create();
        window = &program->Window();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        robot.Focus(window);
    }
    void TearDown() override { program.reset(); }

    template <typename T = QWidget>
    T* Find(const QString& name) {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    void ShowPageOf(QWidget* w) {
        for (QWidget* p = w; p; p = p->parentWidget())
            if (const int i = window->Pages()->indexOf(p); i >= 0)
                window->Pages()->setCurrentIndex(i);
        Settle(30);
    }

    Robot robot;
    std::unique_ptr<WindowProgram> program;
    Tfrm_mset* window = nullptr;
};

TEST_F(DesktopTest, EveryWindowAndBoxCarriesExactlyItsOwnCaption) {
    EXPECT_EQ(ShownTitle(window), kCaption);
    Screenshot(QStringLiteral("desktop-window"));

    struct Case {
        QString caption;
        MsgButtons buttons;
        QStringList readable;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("提示"), MsgButtons::YesNo, {QStringLiteral("是"), QStringLiteral("否")}},
        {QStringLiteral("提示"),
         MsgButtons::OkCancel,
         {QStringLiteral("确定"), QStringLiteral("取消")}},
        {QStringLiteral("Information"), MsgButtons::Ok, {QStringLiteral("确定")}},
        {kTitle, MsgButtons::Ok, {QStringLiteral("确定")}},
    };
    BoxAnswerer boxes(robot);
    boxes.SetScreenshotPrefix(QStringLiteral("desktop-captions"));
    for (const Case& c : cases) {
        const MsgAnswer answer =
            window->UserInterface().ShowMessage(QStringLiteral("测试"), c.caption, c.buttons);
        ASSERT_FALSE(boxes.Seen().empty());
        const SeenBox& seen = boxes.Seen().back();
        EXPECT_EQ(seen.caption, c.caption);
        EXPECT_EQ(seen.shownTitle, c.caption);
        QStringList sorted = seen.buttons, expected = c.readable;
        sorted.sort();
        expected.sort();
        EXPECT_EQ(sorted, expected) << c.caption.toStdString();
        // The real click on the default button came through.
        EXPECT_EQ(answer, c.buttons == MsgButtons::YesNo      ? MsgAnswer::Yes
                          : c.buttons == MsgButtons::OkCancel ? MsgAnswer::Ok
                                                              : MsgAnswer::Ok);
    }
    EXPECT_EQ(boxes.Seen().size(), cases.size());
}

TEST_F(DesktopTest, TheExitQuestionIsAskedInChineseAndNoKeepsTheWindow) {
    BoxAnswerer boxes(robot, [](const SeenBox&) { return QStringLiteral("否"); });
    boxes.SetScreenshotPrefix(QStringLiteral("desktop-exit"));
    window->close();
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, QStringLiteral("是否退出程序"));
    EXPECT_EQ(boxes.Seen()[0].shownTitle, QStringLiteral("提示"));
    EXPECT_TRUE(window->isVisible());
}

TEST_F(DesktopTest, TabAndShiftTabLeaveEveryEdit) {
    int checked = 0;
    for (QLineEdit* edit : window->findChildren<QLineEdit*>()) {
        // The editors inside combos and pickers belong to those controls.
        if (edit->isReadOnly() || qobject_cast<QAbstractSpinBox*>(edit->parentWidget()) ||
            qobject_cast<QComboBox*>(edit->parentWidget()))
            continue;
        ShowPageOf(edit);
        if (!edit->isVisible() || !edit->isEnabled()) continue;
        const std::string name = edit->objectName().toStdString();
        edit->clear();
        robot.Click(edit);
        ASSERT_EQ(QApplication::focusWidget(), edit) << name;
        robot.Type(QStringLiteral("12"));
        robot.Key(QStringLiteral("Tab"));
        EXPECT_NE(QApplication::focusWidget(), edit) << name << ": Tab stayed in the edit";
        QWidget* next = QApplication::focusWidget();
        robot.Key(QStringLiteral("shift+Tab"));
        EXPECT_EQ(QApplication::focusWidget(), edit) << name << ": Shift+Tab did not come back";
        robot.Key(QStringLiteral("Tab"));
        EXPECT_EQ(QApplication::focusWidget(), next) << name;
        robot.Type(QStringLiteral("77"));
        EXPECT_EQ(edit->text(), QStringLiteral("12")) << name;
        ++checked;
    }
    // Every filtered edit of the three pages and the login line, and the free-text ones.
    EXPECT_GE(checked, 60);
}

TEST_F(DesktopTest, TypingTwelveTabSeventySevenInThePhoneNumber) {
    auto* tel1 = Find<QLineEdit>(QStringLiteral("edt_tel1"));
    auto* f1 = Find<QComboBox>(QStringLiteral("cbb_tel1_f1"));
    ShowPageOf(tel1);
    robot.Click(tel1);
    robot.Type(QStringLiteral("12"));
    robot.Key(QStringLiteral("Tab"));
    robot.Type(QStringLiteral("77"));
    EXPECT_EQ(tel1->text(), QStringLiteral("12"));
    EXPECT_TRUE(QApplication::focusWidget() != tel1);
    // Tab goes along the row: the number's next stop is its first function list.
    EXPECT_EQ(QApplication::focusWidget(), f1);
    Screenshot(QStringLiteral("desktop-tab"));
}

// Drives the modal file dialog from inside its own event loop.
class DialogDriver : public QObject {
  public:
    using Step = std::function<void(QFileDialog&)>;
    DialogDriver(Robot& robot, Step step) : m_robot(robot), m_step(std::move(step)) {
        m_timer.setInterval(60);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!d || m_done) return;
            m_done = true;
            (void)QTest::qWaitForWindowExposed(d);
            m_robot.Focus(d);
            m_step(*d);
        });
        m_timer.start();
    }
    bool Ran() const { return m_done; }

  private:
    Robot& m_robot;
    Step m_step;
    QTimer m_timer;
    bool m_done = false;
};

struct DialogSeen {
    QString shownTitle;
    QStringList filters;
    QString proposed;
    QStringList labels;
};

DialogSeen Inspect(QFileDialog& d) {
    DialogSeen seen;
    seen.shownTitle = ShownTitle(&d);
    if (auto* types = d.findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
        for (int i = 0; i < types->count(); ++i) seen.filters << types->itemText(i);
    if (auto* name = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        seen.proposed = name->text();
    for (const char* label : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
        if (auto* l = d.findChild<QLabel*>(QString::fromLatin1(label)))
            seen.labels << ReadableText(l->text());
    return seen;
}

// Replaces the file name with `name` by real keys and accepts with Return.
void Answer(Robot& robot, QFileDialog& d, const QString& name) {
    auto* edit = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    robot.Click(edit);
    robot.Key(QStringLiteral("ctrl+a"));
    robot.Key(QStringLiteral("BackSpace"));
    robot.Type(name);
    robot.Key(QStringLiteral("Return"));
}

TEST_F(DesktopTest, SaveDialogIsChineseShowsItsCaptionsAndAddsTheExtension) {
    QTemporaryDir dir;
    DialogFileChooser chooser(window);
    DialogSeen seen;
    DialogDriver driver(robot, [&](QFileDialog& d) {
        seen = Inspect(d);
        Screenshot(QStringLiteral("desktop-save-dialog"));
        Answer(robot, d, QStringLiteral("site"));
    });
    const QString chosen =
        chooser.SaveFileName(dir.path(), QStringLiteral("setini2026-12-07_03-10-36"));
    ASSERT_TRUE(driver.Ran());
    EXPECT_EQ(seen.shownTitle, QStringLiteral("另存为"));
    EXPECT_EQ(seen.filters, (QStringList{QStringLiteral("ini文件"), QStringLiteral("(*.*)")}));
    EXPECT_EQ(seen.proposed, QStringLiteral("setini2026-12-07_03-10-36"));
    EXPECT_EQ(seen.labels, (QStringList{QStringLiteral("查找范围："), QStringLiteral("文件名称："),
                                        QStringLiteral("文件类型：")}));
    EXPECT_EQ(chosen, QDir(dir.path()).filePath(QStringLiteral("site.ini")));
}

TEST_F(DesktopTest, LoadDialogTakesANameAsTypedAndProposesItAgain) {
    QTemporaryDir dir;
    QFile noext(QDir(dir.path()).filePath(QStringLiteral("noext")));
    ASSERT_TRUE(noext.open(QIODevice::WriteOnly));
    noext.write("[TEL]\r\ntel1=13812345678\r\n");
    noext.close();

    DialogFileChooser chooser(window);
    DialogSeen first;
    DialogDriver driver(robot, [&](QFileDialog& d) {
        first = Inspect(d);
        Screenshot(QStringLiteral("desktop-load-dialog"));
        Answer(robot, d, QStringLiteral("noext"));
    });
    const QString chosen = chooser.OpenFileName(dir.path());
    ASSERT_TRUE(driver.Ran());
    EXPECT_EQ(first.shownTitle, QStringLiteral("打开"));
    EXPECT_EQ(first.filters, (QStringList{QStringLiteral("INI文件"), QStringLiteral("(*.*)")}));
    EXPECT_EQ(first.proposed, QString());
    EXPECT_EQ(chosen, noext.fileName());

    // The second time the dialog holds what it held last, in that file's folder.
    DialogSeen second;
    QString folder;
    DialogDriver again(robot, [&](QFileDialog& d) {
        second = Inspect(d);
        folder = d.directory().absolutePath();
        robot.Key(QStringLiteral("Escape"));
    });
    EXPECT_EQ(chooser.OpenFileName(QDir::tempPath()), QString());
    ASSERT_TRUE(again.Ran());
    EXPECT_EQ(second.proposed, QStringLiteral("noext"));
    EXPECT_EQ(folder, QDir(dir.path()).absolutePath());
}

TEST_F(DesktopTest, LoadingAFileWithoutExtensionThroughTheWindowReadsThatFile) {
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("noext"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[TEL]\r\ntel1=13812345678\r\n[COM]\r\nsetPwd=1234\r\n");
    f.close();
    window->findChild<QPushButton*>(QStringLiteral("btn_loadconfigure"))->setEnabled(true);
    ShowPageOf(Find<QPushButton>(QStringLiteral("btn_loadconfigure")));
    DialogDriver driver(robot, [&](QFileDialog& d) { Answer(robot, d, path); });
    robot.Click(Find<QPushButton>(QStringLiteral("btn_loadconfigure")));
    QTRY_VERIFY_WITH_TIMEOUT(driver.Ran(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(Find<QLineEdit>(QStringLiteral("edt_tel1"))->text(),
                              QStringLiteral("13812345678"), 5000);
    EXPECT_EQ(Find<QLineEdit>(QStringLiteral("edt_setpwd"))->text(), QStringLiteral("1234"));
}

// The program itself, started as a desktop launcher would, with arguments it does not know.
TEST(ProgramOnDesktop, StartsDespiteUnknownArgumentsAndShowsItsOwnTitle) {
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(R4T8_CONFIG_PATH),
                  {QStringLiteral("--no-such-option"), QStringLiteral("-x"),
                   QStringLiteral("/tmp/site.ini")});
    ASSERT_TRUE(program.waitForStarted());
    // A plain "R4T8" would also match Qt's hidden selection-owner window.
    const auto found = RunX(QStringLiteral("xdotool"),
                            {QStringLiteral("search"), QStringLiteral("--sync"),
                             QStringLiteral("--name"), QStringLiteral("V1\\.19")},
                            30000);
    ASSERT_TRUE(found.has_value());
    const WId id = found->split(u'\n', Qt::SkipEmptyParts).value(0).toULongLong();
    ASSERT_NE(id, 0u);
    EXPECT_EQ(WindowProperty(id, "_NET_WM_NAME"), kCaption);
    EXPECT_EQ(program.state(), QProcess::Running);

    // A desktop matches the window to its entry by this class, and shows the icon it carries.
    QFile entry(QStringLiteral(R4T8_BINARY_DIR "/packaging/") + DesktopId() +
                QStringLiteral(".desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString startupClass = QString::fromUtf8(entry.readAll())
                                     .section(QStringLiteral("\nStartupWMClass="), 1)
                                     .section(u'\n', 0, 0);
    ASSERT_FALSE(startupClass.isEmpty());
    const auto wmClass = RunX(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(id),
                                                        QStringLiteral("WM_CLASS")});
    ASSERT_TRUE(wmClass.has_value());
    EXPECT_TRUE(wmClass->trimmed().endsWith(QStringLiteral(", \"") + startupClass + u'"'))
        << wmClass->toStdString();
    // xprop cuts long properties short unless told otherwise; the icon holds every size.
    const auto icon = RunX(QStringLiteral("xprop"),
                           {QStringLiteral("-id"), QString::number(id), QStringLiteral("-len"),
                            QStringLiteral("1000000"), QStringLiteral("_NET_WM_ICON")});
    ASSERT_TRUE(icon.has_value());
    for (const char* size : {"16 x 16", "32 x 32", "48 x 48"})
        EXPECT_TRUE(icon->contains(QStringLiteral("Icon (") + size + u')')) << size;
    Screenshot(QStringLiteral("desktop-program"));
    program.kill();
    program.waitForFinished();
}

// What the program's set-up tells Qt (this test program ran it): Wayland and startup
// notification look for the desktop entry under this name.
TEST(ProgramOnDesktop, TellsQtItsDesktopEntryAndIcon) {
    EXPECT_EQ(QGuiApplication::desktopFileName(), DesktopId());
    EXPECT_TRUE(QFile::exists(QStringLiteral(R4T8_BINARY_DIR "/packaging/") +
                              QGuiApplication::desktopFileName() + QStringLiteral(".desktop")));
    EXPECT_FALSE(QGuiApplication::windowIcon().isNull());
}

TEST(ProgramOnDesktop, QuitAfterShowEndsCleanlyWhateverElseIsGiven) {
    for (const QStringList& args :
         {QStringList{QStringLiteral("--quit-after-show")},
          QStringList{QStringLiteral("--bogus"), QStringLiteral("--quit-after-show"),
                      QStringLiteral("--port=/dev/null")}}) {
        QProcess program;
        program.start(QStringLiteral(R4T8_CONFIG_PATH), args);
        ASSERT_TRUE(program.waitForFinished(30000)) << args.join(' ').toStdString();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << args.join(' ').toStdString();
    }
    QProcess help;
    help.start(QStringLiteral(R4T8_CONFIG_PATH), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(30000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("--port NAME"));
}

}  // namespace
}  // namespace r4t8::testing
