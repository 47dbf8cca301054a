// An installer's first session, end to end on a real X server against the simulated
// controller over a pty: every click and key is a real input event, every message box is read
// and answered on screen, and every page is kept as a screenshot.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <map>

#include "Desktop.h"
#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "session/DeviceSession.h"
#include "support/SimProcess.h"
#include "ui/window/WindowProgram.h"
#include "ui/window/umset.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace r4t8::testing {
namespace {

const char* const kSimProfile = "--demo";

// Every field's value as text, to compare what the controller holds with what was read.
std::map<QString, QString> Values(const DeviceSettings& s) {
    std::map<QString, QString> values;
    for (const FieldSpec& spec : s.Specs()) {
        QString v;
        switch (spec.kind) {
            case FieldKind::Choice:
                v = QString::number(s.Index(spec.name)) + u'/' + s.Text(spec.name);
                break;
            case FieldKind::Flag:
                v = s.Checked(spec.name) ? QStringLiteral("1") : QStringLiteral("0");
                break;
            case FieldKind::Time:
                v = s.Time(spec.name).toString(QStringLiteral("HH:mm"));
                break;
            default:
                v = s.Text(spec.name);
        }
        values[spec.name] = v;
    }
    return values;
}

class Journey : public ::testing::Test {
  protected:
    void SetUp() override {
        // The backup archive lives under the user's data folder: a private one here.
        ASSERT_TRUE(home.isValid());
        qputenv("XDG_DATA_HOME", QDir(home.path()).filePath(QStringLiteral("data")).toUtf8());
        ASSERT_TRUE(sim.Start({kSimProfile}));
        program = std::make_unique<WindowProgram>();
        program->Create(QString::fromStdString(sim.PtyPath()));
        window = &program->Window();
        exportDir = QStringLiteral(R4T8_TEST_OUTPUT) + QStringLiteral("/journey-export");
        QDir(exportDir).removeRecursively();
        QDir().mkpath(exportDir);
        program->Session().History().SetExportFolders(exportDir, exportDir);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        robot.Focus(window);
    }
    void TearDown() override {
        program.reset();
        qunsetenv("XDG_DATA_HOME");
    }

    template <typename T = QWidget>
    T* Find(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QTabBar* Tabs() { return window->Pages()->findChild<QTabBar*>(); }
    // A real click on the page's tab.
    void OpenPage(const QString& title) {
        QTabBar* bar = Tabs();
        for (int i = 0; i < bar->count(); ++i)
            if (bar->tabText(i) == title) {
                robot.Click(bar, bar->tabRect(i).center());
                break;
            }
        ASSERT_EQ(window->Pages()->tabText(window->Pages()->currentIndex()), title);
    }
    // Clicks into an edit, empties it with the keyboard and types the new text.
    void Retype(QLineEdit* edit, const QString& text) {
        robot.Click(edit);
        ASSERT_EQ(QApplication::focusWidget(), edit) << edit->objectName().toStdString();
        robot.Key(QStringLiteral("End"));
        RunX(QStringLiteral("xdotool"),
             {QStringLiteral("key"), QStringLiteral("--repeat"),
              QString::number(edit->text().size() + 1), QStringLiteral("BackSpace")});
        Settle();
        robot.Type(text);
    }
    // Waits until `count` message boxes have been answered.
    void WaitForBoxes(size_t count, int timeoutMs = 30000) {
        QTRY_VERIFY_WITH_TIMEOUT(boxes.Seen().size() >= count, timeoutMs);
    }

    QTemporaryDir home;
    SimProcess sim;
    Robot robot;
    BoxAnswerer boxes{robot, [](const SeenBox& box) {
                          // The installer does not open the exported files here.
                          return box.text.startsWith(QStringLiteral("是否打开"))
                                     ? QStringLiteral("取消")
                                     : QString();
                      }};
    std::unique_ptr<WindowProgram> program;
    Tfrm_mset* window = nullptr;
    QString exportDir;
};

// Answers the next file dialog by typing `path` and Return.
class TypeIntoNextDialog : public QObject {
  public:
    TypeIntoNextDialog(Robot& robot, QString path) : m_robot(robot), m_path(std::move(path)) {
        m_timer.setInterval(60);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!d || m_done) return;
            m_done = true;
            m_title = ShownTitle(d);
            m_robot.Focus(d);
            auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            m_robot.Click(edit);
            m_robot.Key(QStringLiteral("ctrl+a"));
            m_robot.Key(QStringLiteral("BackSpace"));
            m_robot.Type(m_path);
            m_robot.Key(QStringLiteral("Return"));
        });
        m_timer.start();
    }
    bool Done() const { return m_done; }
    const QString& Title() const { return m_title; }

  private:
    Robot& m_robot;
    QString m_path;
    QString m_title;
    QTimer m_timer;
    bool m_done = false;
};

TEST_F(Journey, OpenLogInReadEditWriteSaveLoadExportAndLookAtEveryPage) {
    boxes.SetScreenshotPrefix(QStringLiteral("journey"));
    auto* btn8 = Find<QPushButton>("btn8");
    auto* btn7 = Find<QPushButton>("btn7");

    // Open the port and log in with the default password.
    robot.Click(btn8);
    QTRY_COMPARE_WITH_TIMEOUT(btn8->text(), QStringLiteral("关闭串口"), 5000);
    ASSERT_TRUE(btn7->isEnabled());
    robot.Click(btn7);
    WaitForBoxes(1);
    EXPECT_EQ(boxes.Seen()[0].text, QStringLiteral("密码正确"));
    EXPECT_EQ(boxes.Seen()[0].shownTitle, QStringLiteral("R4T8报警器设置软件"));
    EXPECT_FALSE(Find<QLineEdit>("Edit1")->text().isEmpty());

    // Read the controller.
    robot.Click(Find<QPushButton>("btn_load"));
    WaitForBoxes(2);
    EXPECT_EQ(boxes.Seen()[1].text, QStringLiteral("读取结束"));
    const std::map<QString, QString> read = Values(program->Settings());

    // A phone number and two limits, typed, with Tab between the fields.
    OpenPage(QStringLiteral("基本设置"));
    auto* tel1 = Find<QLineEdit>("edt_tel1");
    Retype(tel1, QStringLiteral("13912345678"));
    robot.Key(QStringLiteral("Tab"));
    EXPECT_EQ(QApplication::focusWidget(), Find<QComboBox>("cbb_tel1_f1"));
    Screenshot(QStringLiteral("journey-edited-basic"));
    OpenPage(QStringLiteral("报警设置"));
    auto* slow = Find<QLineEdit>("edt_Sensor1_SLow");
    auto* low = Find<QLineEdit>("edt_Sensor1_Low");
    Retype(slow, QStringLiteral("-25.5"));
    robot.Key(QStringLiteral("Tab"));
    ASSERT_EQ(QApplication::focusWidget(), low);
    robot.Key(QStringLiteral("End"));
    RunX(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--repeat"),
                                     QStringLiteral("12"), QStringLiteral("BackSpace")});
    robot.Type(QStringLiteral("-20"));
    EXPECT_EQ(tel1->text(), QStringLiteral("13912345678"));
    EXPECT_EQ(slow->text(), QStringLiteral("-25.5"));
    EXPECT_EQ(low->text(), QStringLiteral("-20"));
    Screenshot(QStringLiteral("journey-edited-alarm"));

    // Write: backup, erase and write, write-done, read back and compare.
    robot.Click(Find<QPushButton>("btn_down"));
    WaitForBoxes(3);
    EXPECT_EQ(boxes.Seen()[2].text, QStringLiteral("写入成功"));
    QTRY_VERIFY_WITH_TIMEOUT(!program->Session().Config().RawReadRunning(), 10000);
    Settle(300);
    const std::vector<uint8_t> memory = sim.DumpMemory();
    ASSERT_EQ(memory.size(), 65536u);
    ConfigImage image;
    std::copy(memory.begin(), memory.end(), image.begin());
    DeviceSettings onController;
    for (ConfigBlock b : {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock, ConfigBlock::GprsBlock,
                          ConfigBlock::SystemBlock})
        DecodeBlock(b, image, onController);
    EXPECT_EQ(onController.Text(QStringLiteral("edt_tel1")), QStringLiteral("13912345678"));
    EXPECT_EQ(onController.Text(QStringLiteral("edt_Sensor1_SLow")), QStringLiteral("-25.50"));
    EXPECT_EQ(onController.Text(QStringLiteral("edt_Sensor1_Low")), QStringLiteral("-20.00"));
    // Everything else is as it was read (the login password and the model are no settings).
    const std::map<QString, QString> written = Values(onController);
    for (const auto& [name, value] : read) {
        if (name == QLatin1String("edt_tel1") || name == QLatin1String("edt_Sensor1_SLow") ||
            name == QLatin1String("edt_Sensor1_Low") || name == QLatin1String("edt_setpwd") ||
            name == QLatin1String("Edit1") || name == QLatin1String("edt43"))
            continue;
        EXPECT_EQ(written.at(name), value) << name.toStdString();
    }

    // Save the settings to a file, spoil a field, load the file back.
    const QString saved = QStringLiteral(R4T8_TEST_OUTPUT) + QStringLiteral("/journey-site");
    QFile::remove(saved + QStringLiteral(".ini"));
    {
        TypeIntoNextDialog dialog(robot, saved);
        robot.Click(Find<QPushButton>("btn_saveconfigure"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.Done(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(saved + QStringLiteral(".ini")), 5000);
    }
    OpenPage(QStringLiteral("基本设置"));
    auto* tel2 = Find<QLineEdit>("edt_tel2");
    const QString tel2Before = tel2->text();
    Retype(tel2, QStringLiteral("1"));
    EXPECT_EQ(tel2->text(), QStringLiteral("1"));
    {
        TypeIntoNextDialog dialog(robot, saved + QStringLiteral(".ini"));
        robot.Click(Find<QPushButton>("btn_loadconfigure"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.Done(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(tel2->text(), tel2Before, 5000);
    }
    EXPECT_EQ(tel1->text(), QStringLiteral("13912345678"));

    // Export today's history.
    OpenPage(QStringLiteral("其它操作"));
    const size_t before = boxes.Seen().size();
    robot.Click(Find<QPushButton>("Button1"));
    WaitForBoxes(before + 3, 60000);
    EXPECT_EQ(boxes.Seen()[before].text, QStringLiteral("导出历史数据成功"));
    EXPECT_EQ(boxes.Seen()[before + 1].text, QStringLiteral("是否打开保存的excel文件"));
    EXPECT_EQ(boxes.Seen()[before + 1].shownTitle, QStringLiteral("提示"));
    EXPECT_EQ(boxes.Seen()[before + 2].text, QStringLiteral("是否打开保存的CSV文件?"));
    const QStringList files = QDir(exportDir).entryList(QDir::Files);
    EXPECT_EQ(files.filter(QStringLiteral(".xls")).size(), 1) << files.join(' ').toStdString();
    EXPECT_EQ(files.filter(QStringLiteral(".csv")).size(), 1) << files.join(' ').toStdString();
    EXPECT_GT(program->Session().History().LastDownload().size(), 0u);

    // Every page the user can reach, as it looks now.
    QTabBar* bar = Tabs();
    for (int i = 0; i < bar->count(); ++i) {
        if (!bar->isTabVisible(i)) continue;
        robot.Click(bar, bar->tabRect(i).center());
        EXPECT_EQ(window->Pages()->currentIndex(), i);
        Screenshot(QStringLiteral("journey-page-%1").arg(i));
    }

    // Every message on the way had its own caption.
    for (const SeenBox& box : boxes.Seen())
        EXPECT_EQ(box.shownTitle, box.caption) << box.text.toStdString();

    robot.Click(btn8);
    QTRY_COMPARE_WITH_TIMEOUT(btn8->text(), QStringLiteral("打开串口"), 5000);
}

}  // namespace
}  // namespace r4t8::testing
