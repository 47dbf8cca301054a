// The safe write's steps on a real session, against a controller faked in memory: what is
// sent, in which order, what the user is asked and what ends up on the controller.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "safety/SafeWrite.h"
#include "tests/support/FakeController.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"

namespace r4t8 {
namespace {

using testing::FakeController;
using testing::FakeTimeSource;
using testing::FakeUserInterface;

class SafeWriteTest : public ::testing::Test {
  protected:
    SafeWriteTest()
        : settings(&ui),
          session(controller, time, ui, settings),
          archive(dir.path() + "/archive"),
          safe(session, archive, time, ui) {
        safe.SetOnFinished([this](const SafeWriteReport&) { ++finished; });
        session.btn7Click("5807");
        controller.Pump(session);
        controller.requests.clear();
        ui.messages.clear();
        configured = controller.Blocks();
        for (size_t i = 0; i < configured.size(); ++i) configured[i] = static_cast<uint8_t>(i * 7);
        CopyBlocksToImage(configured, controller.memory);
    }

    void Run() { controller.Pump(session); }

    QTemporaryDir dir;
    FakeController controller;
    FakeTimeSource time;
    FakeUserInterface ui;
    DeviceSettings settings;
    DeviceSession session;
    ConfigArchive archive;
    SafeWrite safe;
    RawBlocks configured{};
    int finished = 0;
};

const std::vector<uint8_t> kBackupAndWrite{17, 17, 17, 17, 18, 16, 18, 16, 18, 16, 18, 16, 19};

TEST_F(SafeWriteTest, WritesAfterTheBackupAndConfirmsTheReadBack) {
    safe.WriteSettings();
    Run();
    std::vector<uint8_t> expected = kBackupAndWrite;
    expected.insert(expected.end(), {17, 17, 17, 17});
    EXPECT_EQ(controller.requests, expected);
    ASSERT_EQ(finished, 1);
    const SafeWriteReport& r = safe.Report();
    EXPECT_EQ(r.outcome, Outcome::Succeeded);
    EXPECT_TRUE(r.verified);
    ASSERT_TRUE(r.backup);
    EXPECT_TRUE(*r.backupBlocks == configured);
    EXPECT_TRUE(controller.Blocks() == session.Config().LastWrittenBlocks());
    EXPECT_EQ(ui.status[2], QStringLiteral("写入已校验"));
    // The window's fields were not touched by either read.
    EXPECT_EQ(settings.Text("edt_tel1"), DeviceSettings().Text("edt_tel1"));
    EXPECT_EQ(ui.MessageTexts(), QStringList{QStringLiteral("写入成功")});
    ASSERT_EQ(archive.List().size(), 1u);
}

TEST_F(SafeWriteTest, MismatchOffersTheBackupAndRestoresItWhenAsked) {
    controller.storeWrong = true;
    ui.answers = {MsgAnswer::Ok, MsgAnswer::Yes};  // "写入成功", then restore
    // The fault is gone by the time the restore is written.
    ui.whileMessageOpen = [this](const QString& text) {
        if (text.contains(QStringLiteral("是否恢复备份"))) controller.storeWrong = false;
    };
    safe.WriteSettings();
    Run();
    ASSERT_EQ(finished, 1);
    const SafeWriteReport& r = safe.Report();
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(r.mismatched.size(), 4u);
    EXPECT_TRUE(r.restored);
    EXPECT_TRUE(controller.Blocks() == configured);
    ASSERT_GE(ui.messages.size(), 2u);
    // Bit 0 of each block's first byte: a phone function code and (for this model) a sensor
    // type code that no list position carries, which the lists show as no selection with the
    // code read; the first letter of the main address; the clock mode. The fields come before
    // the question, with what was sent and what came back.
    const QStringList lines = ui.messages[1].text.split('\n');
    const QStringList expectedLines = {
        QStringLiteral("校验失败，控制器中的以下设置与写入的不一致：报警号码设置、报警参数设置、"
                       "GPRS参数设置、系统参数"),
        QStringLiteral("报警号码设置 电话号1 功能码1：写入 发短信并拨号，读回 未选择 (30)"),
        QStringLiteral("报警参数设置1 传感器1：写入 摄氏度，读回 未选择 (42)"),
        QStringLiteral("GPRS参数设置 GPRS主IP：写入 ，读回 ") + QChar(0xFE),
        QStringLiteral("系统参数 校时方式：写入 自动，读回 手动"),
        QStringLiteral("是否恢复备份？"),
    };
    EXPECT_EQ(lines, expectedLines) << ui.messages[1].text.toStdString();
    EXPECT_EQ(r.mismatch.fields.size(), 4u);
    EXPECT_TRUE(r.mismatch.bytesOnly.empty());
    EXPECT_EQ(ui.messages[1].caption, QStringLiteral("提示"));
    EXPECT_EQ(ui.messages[1].buttons, MsgButtons::YesNo);
}

TEST_F(SafeWriteTest, DeclinedRestoreLeavesTheControllerAsWritten) {
    controller.storeWrong = true;
    ui.answers = {MsgAnswer::Ok, MsgAnswer::No};
    safe.WriteSettings();
    Run();
    EXPECT_EQ(safe.Report().outcome, Outcome::Failed);
    EXPECT_FALSE(safe.Report().restored);
    std::vector<uint8_t> expected = kBackupAndWrite;
    expected.insert(expected.end(), {17, 17, 17, 17});
    EXPECT_EQ(controller.requests, expected);
}

TEST_F(SafeWriteTest, ARestoreThatAlsoFailsToVerifyIsNotOfferedAgain) {
    controller.storeWrong = true;
    ui.answers = {MsgAnswer::Ok, MsgAnswer::Yes};
    safe.WriteSettings();
    Run();
    ASSERT_EQ(finished, 1);
    EXPECT_FALSE(safe.Report().restored);
    int questions = 0;
    for (const auto& m : ui.messages) questions += m.buttons == MsgButtons::YesNo;
    EXPECT_EQ(questions, 1);
}

TEST_F(SafeWriteTest, BackupThatCannotBeStoredWritesNothing) {
    const QString blocker = dir.path() + "/blocker";
    std::ofstream(blocker.toStdString()) << "x";
    ConfigArchive blocked(blocker + "/archive");
    SafeWrite other(session, blocked, time, ui);
    other.WriteSettings();
    Run();
    EXPECT_EQ(controller.requests, (std::vector<uint8_t>{17, 17, 17, 17}));
    EXPECT_EQ(other.Report().outcome, Outcome::Failed);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_TRUE(ui.messages.back().text.startsWith(QStringLiteral("备份失败，未写入：")));
    EXPECT_TRUE(controller.Blocks() == configured);
}

TEST_F(SafeWriteTest, BackupThatCannotBeStoredAsksAndWritesOnlyOnYes) {
    const QString blocker = dir.path() + "/blocker";
    std::ofstream(blocker.toStdString()) << "x";
    ConfigArchive blocked(blocker + "/archive");
    SafeWrite other(session, blocked, time, ui);
    SafeWriteOptions options;
    options.askWithoutBackup = true;
    other.SetOptions(options);
    settings.SetText("edt_tel1", "13900000000");

    // Unanswered (the box's default, as closing it): nothing erased.
    other.WriteSettings();
    Run();
    EXPECT_EQ(controller.requests, (std::vector<uint8_t>{17, 17, 17, 17}));
    EXPECT_EQ(other.Report().outcome, Outcome::Aborted);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(ui.messages[0].buttons, MsgButtons::YesNoDefaultNo);
    // The reason names the folder that could not be made.
    EXPECT_TRUE(ui.messages[0].text.startsWith(QStringLiteral("备份失败：无法创建文件夹")))
        << ui.messages[0].text.toStdString();
    EXPECT_TRUE(ui.messages[0].text.contains(QStringLiteral("blocker")));
    EXPECT_TRUE(controller.Blocks() == configured);

    // Yes: written and verified without a backup file; the blocks read stay restorable.
    controller.requests.clear();
    ui.messages.clear();
    ui.answers = {MsgAnswer::Yes};
    other.WriteSettings();
    Run();
    std::vector<uint8_t> expected = kBackupAndWrite;
    expected.insert(expected.end(), {17, 17, 17, 17});
    EXPECT_EQ(controller.requests, expected);
    EXPECT_EQ(other.Report().outcome, Outcome::Succeeded);
    EXPECT_TRUE(other.Report().verified);
    EXPECT_FALSE(other.Report().backup);
    ASSERT_TRUE(other.Report().backupBlocks);
    EXPECT_TRUE(*other.Report().backupBlocks == configured);
    EXPECT_TRUE(controller.Blocks() == session.Config().LastWrittenBlocks());
}

TEST_F(SafeWriteTest, SilentControllerDuringBackupEndsWithoutAnErase) {
    controller.silent = true;
    safe.WriteSettings();
    time.Advance(10000);
    ASSERT_EQ(finished, 1);
    EXPECT_EQ(safe.Report().outcome, Outcome::TimedOut);
    for (uint8_t code : controller.requests) EXPECT_EQ(code, cmd_read_block);
    EXPECT_TRUE(ui.MessageTexts().contains(QStringLiteral("备份失败，未写入：控制器无应答")));
}

TEST_F(SafeWriteTest, RefusedEraseEndsTheRunAndTheBackupRestores) {
    controller.refuseErase = 3;
    safe.WriteSettings();
    Run();
    ASSERT_EQ(finished, 1);
    EXPECT_EQ(safe.Report().outcome, Outcome::Failed);
    EXPECT_TRUE(ui.MessageTexts().contains(QStringLiteral("擦出失败")));
    EXPECT_FALSE(controller.Blocks() == configured);
    const RawBlocks backup = *safe.Report().backupBlocks;
    safe.WriteBlocks(backup);
    Run();
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(safe.Report().outcome, Outcome::Succeeded);
    EXPECT_TRUE(controller.Blocks() == configured);
}

TEST_F(SafeWriteTest, ConfirmationListsTheChangesAndNoStopsBeforeTheErase) {
    // A controller holding what the record's defaults encode to, but for one number.
    RawBlocks defaults;
    ASSERT_FALSE(EncodeBlocks(settings, defaults));
    CopyBlocksToImage(defaults, controller.memory);
    settings.SetText("edt_tel3", "13512345678");
    safe.SetOptions({false, true, true});
    ui.answers = {MsgAnswer::No};
    safe.WriteSettings();
    Run();
    EXPECT_EQ(controller.requests, (std::vector<uint8_t>{17, 17, 17, 17}));
    EXPECT_EQ(safe.Report().outcome, Outcome::Aborted);
    ASSERT_EQ(ui.messages.size(), 1u);
    const QString text = ui.messages[0].text;
    EXPECT_TRUE(text.contains(QStringLiteral("13512345678"))) << text.toStdString();
    EXPECT_EQ(text.count('\n'), 2) << text.toStdString();  // heading, one field, question
    EXPECT_TRUE(archive.List().empty());                   // backing up was switched off
}

TEST_F(SafeWriteTest, InvalidFieldIsReportedWithoutABackupRead) {
    settings.SetText("edt_port", "eighty");
    safe.WriteSettings();
    Run();
    EXPECT_TRUE(controller.requests.empty());
    EXPECT_EQ(safe.Report().outcome, Outcome::Failed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].text.endsWith(QStringLiteral("的值无法写入")));
}

}  // namespace
}  // namespace r4t8
