// The archive page on its own, offscreen: the list, loading, comparing, the remembered check
// box, and a restore through a session.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>

#include "SimServer.h"
#include "session/DeviceSession.h"
#include "tests/support/FakeController.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/support/Variants.h"
#include "ui/window/ArchivePage.h"
#include "ui/window/MessagePresenter.h"
#include "ui/window/umset.h"

namespace r4t8 {
namespace {

using testing::FakeController;
using testing::FakeTimeSource;
using testing::FakeUserInterface;

class NullPort : public IPort {
  public:
    bool WriteBytes(const uint8_t* data, size_t count) override {
        if (count > 3) codes.push_back(UnescapeFrame(data + 1, count - 2)[2]);
        return true;
    }
    std::vector<uint8_t> codes;
};

class ArchivePageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ConfigArchive archive(Root());
        DeviceSettings older;
        older.SetText("edt_tel1", "13800000001");
        ASSERT_FALSE(EncodeBlocks(older, olderBlocks));
        DeviceSettings newer;
        newer.SetText("edt_id", "42");
        RawBlocks newerBlocks;
        ASSERT_FALSE(EncodeBlocks(newer, newerBlocks));
        QString error;
        const QDateTime t(QDate(2026, 12, 8), QTime(3, 10, 36));
        ASSERT_TRUE(archive.Store(olderBlocks, older, "R4T1", t, error));
        ASSERT_TRUE(archive.Store(newerBlocks, newer, "R4T3", t.addSecs(3600), error));
    }
    QString Root() const { return dir.path() + "/archive"; }
    QString Prefs() const { return dir.path() + "/prefs.ini"; }
    std::unique_ptr<ArchivePage> Page() {
        return std::make_unique<ArchivePage>(settings, ui, Root(), Prefs());
    }
    template <typename T>
    T* Find(QWidget& page, const char* name) {
        return page.findChild<T*>(QString::fromLatin1(name));
    }

    QTemporaryDir dir;
    FakeUserInterface ui;
    DeviceSettings settings;
    RawBlocks olderBlocks{};
};

TEST_F(ArchivePageTest, ListsBackupsNewestFirst) {
    auto page = Page();
    auto* table = Find<QTableWidget>(*page, "grd_backups");
    ASSERT_EQ(table->rowCount(), 2);
    const QStringList row0{table->item(0, 0)->text(), table->item(0, 1)->text(),
                           table->item(0, 2)->text()};
    EXPECT_EQ(row0, (QStringList{"2026-12-08 04:10:36", "000000000000042", "R4T3"}));
    EXPECT_EQ(table->item(1, 2)->text(), QStringLiteral("R4T1"));
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), QStringLiteral("设备号"));
}

TEST_F(ArchivePageTest, LoadsAndComparesTheSelectedBackup) {
    auto page = Page();
    Find<QPushButton>(*page, "btn_archive_compare")->click();  // nothing selected
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("请先选择一个备份"));

    page->SelectRow(1);
    Find<QPushButton>(*page, "btn_archive_compare")->click();
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_TRUE(ui.messages[1].text.contains(QStringLiteral("13800000001 → ")))
        << ui.messages[1].text.toStdString();
    EXPECT_EQ(ui.messages[1].text.count('\n'), 1);  // one differing field

    Find<QPushButton>(*page, "btn_archive_load")->click();
    EXPECT_EQ(settings.Text("edt_tel1"), QStringLiteral("13800000001"));
    Find<QPushButton>(*page, "btn_archive_compare")->click();
    EXPECT_EQ(ui.messages.back().text, QStringLiteral("窗口中的设置与此备份相同"));
}

TEST_F(ArchivePageTest, ConfirmChoiceIsOffByDefaultAndRemembered) {
    {
        auto page = Page();
        auto* box = Find<QCheckBox>(*page, "chk_confirm_changes");
        EXPECT_FALSE(box->isChecked());
        box->setChecked(true);
    }
    auto page = Page();
    EXPECT_TRUE(page->ConfirmBeforeWrite());
    NullPort port;
    FakeTimeSource time;
    DeviceSession session(port, time, ui, settings);
    page->Attach(&session, &time);
    ASSERT_NE(page->Safe(), nullptr);
    EXPECT_TRUE(page->Safe()->Options().confirmChanges);
    page->Attach(nullptr, nullptr);
    EXPECT_EQ(page->Safe(), nullptr);
}

TEST_F(ArchivePageTest, RestoreAsksAndThenStartsWithTheBackupRead) {
    auto page = Page();
    NullPort port;
    FakeTimeSource time;
    DeviceSession session(port, time, ui, settings);
    page->Attach(&session, &time);
    page->SelectRow(1);
    ui.answers = {MsgAnswer::No};
    Find<QPushButton>(*page, "btn_archive_restore")->click();
    EXPECT_TRUE(port.codes.empty());
    ui.answers = {MsgAnswer::Yes};
    Find<QPushButton>(*page, "btn_archive_restore")->click();
    EXPECT_EQ(port.codes, std::vector<uint8_t>{cmd_read_block});
    page->Attach(nullptr, nullptr);
}

TEST_F(ArchivePageTest, ABackupThatCannotBeStoredIsAQuestionWhoseDefaultWritesNothing) {
    // A folder below a regular file cannot be made, whoever runs the test.
    const QString blocker = dir.path() + "/blocker";
    std::ofstream(blocker.toStdString()) << "x";
    ArchivePage page(settings, ui, blocker + "/archive", Prefs());
    FakeController controller;
    FakeTimeSource time;
    DeviceSession session(controller, time, ui, settings);
    session.btn7Click("5807");
    controller.Pump(session);
    page.Attach(&session, &time);
    const RawBlocks before = controller.Blocks();
    settings.SetText("edt_tel1", "13900000000");
    controller.requests.clear();
    ui.messages.clear();

    page.Safe()->WriteSettings();  // what "写入设置" runs
    controller.Pump(session);
    EXPECT_EQ(controller.requests, std::vector<uint8_t>(4, cmd_read_block));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].buttons, MsgButtons::YesNoDefaultNo);
    EXPECT_EQ(ui.messages[0].caption, QStringLiteral("提示"));
    EXPECT_TRUE(ui.messages[0].text.contains(QStringLiteral("无法创建文件夹")));
    EXPECT_TRUE(controller.Blocks() == before);

    ui.answers = {MsgAnswer::Yes};
    page.Safe()->WriteSettings();
    controller.Pump(session);
    EXPECT_EQ(page.Safe()->Report().outcome, Outcome::Succeeded);
    EXPECT_TRUE(controller.Blocks() == session.Config().LastWrittenBlocks());
    EXPECT_FALSE(controller.Blocks() == before);
    page.Attach(nullptr, nullptr);
}

// The real box: a question that gives up a safeguard answers No to Enter and to Escape; the
// other questions keep Yes as their default.
TEST(MessageBoxPresenterTest, DefaultAnswerOfEachQuestion) {
    struct Case {
        MsgButtons buttons;
        Qt::Key key;
        MsgAnswer expected;
    };
    const Case cases[] = {
        {MsgButtons::YesNoDefaultNo, Qt::Key_Return, MsgAnswer::No},
        {MsgButtons::YesNoDefaultNo, Qt::Key_Escape, MsgAnswer::No},
        {MsgButtons::YesNo, Qt::Key_Return, MsgAnswer::Yes},
        {MsgButtons::YesNo, Qt::Key_Escape, MsgAnswer::No},
    };
    MessageBoxPresenter presenter;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.key));
        bool seen = false, forced = false;
        int ticks = 0;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            // A key that closes nothing fails the case instead of hanging the test.
            if (seen && ++ticks > 100) {
                forced = true;
                box->done(-1);
            }
            if (seen) return;
            seen = true;
            QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
            QApplication::sendEvent(box, &press);
        });
        poll.start(10);
        EXPECT_EQ(presenter.Present(QStringLiteral("是否？"), QStringLiteral("提示"), c.buttons),
                  c.expected);
        EXPECT_TRUE(seen);
        EXPECT_FALSE(forced);
    }
}

class AnswerYes : public IMessagePresenter {
  public:
    MsgAnswer Present(const QString&, const QString&, MsgButtons buttons) override {
        return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Yes;
    }
};

TEST(WindowArchiveHook, PageFollowsOtherOperationsAndWriteGoesThroughTheSafeWrite) {
    DeviceSettings settings;
    AnswerYes presenter;
    Tfrm_mset window(settings, presenter);
    QTabWidget* pages = window.Pages();
    QStringList visible;
    for (int i = 0; i < pages->count(); ++i)
        if (pages->isTabVisible(i)) visible << pages->tabText(i);
    const int operations = static_cast<int>(visible.indexOf(QStringLiteral("其它操作")));
    ASSERT_GE(operations, 0);
    ASSERT_LT(operations + 1, visible.size());
    EXPECT_EQ(visible.at(operations + 1), QStringLiteral("备份"));

    NullPort port;
    FakeTimeSource time;
    DeviceSession session(port, time, window.UserInterface(), settings);
    window.SetTimeSource(&time);
    window.AttachSession(&session);
    ASSERT_NE(window.Archive()->Safe(), nullptr);
    window.SetDeviceControlsEnabled(true);
    auto* write = window.findChild<QPushButton*>(QStringLiteral("btn_down"));
    ASSERT_NE(write, nullptr);
    write->click();
    // The backup read comes before any erase.
    EXPECT_EQ(port.codes, std::vector<uint8_t>{cmd_read_block});
    window.AttachSession(nullptr);
    EXPECT_EQ(window.Archive()->Safe(), nullptr);
}

// Answers every question with yes, but declines to restore a backup.
class DeclineRestore : public IMessagePresenter {
  public:
    MsgAnswer Present(const QString& text, const QString&, MsgButtons buttons) override {
        texts << text;
        if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
        return text.contains(QStringLiteral("是否将备份恢复到控制器")) ? MsgAnswer::No
                                                                       : MsgAnswer::Yes;
    }
    QStringList texts;
};

// The window over a session against the simulator's controller, in virtual time.
TEST(WindowArchiveHook, DeclinedRestoreShowsTheBackupJustTakenOnTheArchivePage) {
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    // The archive goes where the user's data goes: here, a folder of the test's own.
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    DeviceSettings settings;
    DeclineRestore presenter;
    Tfrm_mset window(settings, presenter);
    FakeTimeSource time;
    sim::SimController controller{sim::ControllerSettings{}};
    controller.Memory() = matrix::VariantImage(0);
    sim::SimServer server(controller, [](const std::string&) {});
    // The line goes dead once the erase of the second block is out.
    class SimPort : public IPort {
      public:
        SimPort(sim::SimServer& s, FakeTimeSource& t) : server(s), time(t) {}
        bool WriteBytes(const uint8_t* data, size_t count) override {
            const Bytes body = UnescapeFrame(data + 1, count - 2);
            if (body.size() > 8 && body[2] == cmd_erase_block && body[8] == 0x08) {
                sim::FaultOptions dead;
                dead.dropRate = 1.0;
                server.SetFaults(dead, time.NowUs() * 1000);
            }
            server.OnBytes(data, count, time.NowUs() * 1000, time.CurrentDateTime());
            return true;
        }
        sim::SimServer& server;
        FakeTimeSource& time;
    } port(server, time);
    DeviceSession session(port, time, window.UserInterface(), settings);
    std::vector<Operation> finished;
    session.AddOutcomeListener([&](Operation op, Outcome) { finished.push_back(op); });
    window.SetTimeSource(&time);
    window.AttachSession(&session);
    // Delivers the line and fires the timers in virtual time until `done`.
    auto runUntil = [&](auto done) {
        for (int steps = 0; !done() && steps < 100000; ++steps) {
            const Bytes out = server.TakeOutput(time.NowUs() * 1000);
            if (!out.empty()) {
                session.cm1ReceiveData(out.data(), static_cast<uint16_t>(out.size()), time.NowUs());
                continue;
            }
            int64_t next = time.NowUs() + 1000000;
            if (const auto due = time.NextDueUs()) next = std::min(next, *due);
            if (const auto wake = server.NextWakeNs())
                next = std::min(next, std::max(time.NowUs() + 1, (*wake + 999) / 1000));
            time.AdvanceToUs(next);
        }
        return done();
    };
    session.btn7Click(QStringLiteral("5807"));
    ASSERT_TRUE(runUntil([&] { return !finished.empty(); }));
    matrix::ApplyVariant(settings, 1);
    window.SetDeviceControlsEnabled(true);
    window.findChild<QPushButton*>(QStringLiteral("btn_down"))->click();
    SafeWrite* safe = window.Archive()->Safe();
    ASSERT_NE(safe, nullptr);
    ASSERT_TRUE(runUntil([&] { return !safe->Running(); }));

    ASSERT_TRUE(safe->Report().backup.has_value());
    EXPECT_TRUE(safe->Report().backupOffered);
    EXPECT_TRUE(presenter.texts.contains(
        QStringLiteral("写入未完成。已写入：报警号码设置；可能已被擦除：报警参数设置；未改变："
                       "GPRS参数设置、系统参数")))
        << presenter.texts.join(" | ").toStdString();
    // The archive page is in front, on the backup just taken.
    EXPECT_EQ(window.Pages()->currentWidget(), window.Archive());
    auto* table = window.Archive()->findChild<QTableWidget*>(QStringLiteral("grd_backups"));
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    ASSERT_EQ(rows.size(), 1);
    const auto backups = window.Archive()->Archive().List();
    ASSERT_LT(rows.front().row(), static_cast<int>(backups.size()));
    EXPECT_EQ(backups[static_cast<size_t>(rows.front().row())].BinPath(),
              safe->Report().backup->BinPath());
    window.AttachSession(nullptr);
}

}  // namespace
}  // namespace r4t8

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
