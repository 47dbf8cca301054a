// Faults found between the cells of the fault matrix, each reproduced with the real session
// and sender against the simulated controller in virtual time, kept as regression tests.
#include <gtest/gtest.h>

#include <QDate>
#include <string>
#include <vector>

#include "ChaosCheck.h"
#include "FaultOptions.h"
#include "config/BlockCodecs.h"
#include "operations/HistoryPage.h"
#include "safety/ConfigArchive.h"
#include "safety/SafeWrite.h"
#include "support/Variants.h"
#include "support/VirtualRig.h"

using namespace r4t8;
using namespace r4t8::matrix;
using r4t8::chaos::SameRecords;
using r4t8::testing::VirtualRig;
using r4t8::testing::WrittenRequest;

namespace {

const QString kTimeout = QStringLiteral("发送命令超时");

sim::FaultOptions Faults(const std::string& spec) {
    sim::FaultOptions f;
    EXPECT_EQ(sim::ApplyFaultSpec(f, spec), "");
    return f;
}

uint32_t AddressOf(const WrittenRequest& w) {
    const Bytes body = UnescapeFrame(w.line.data() + 1, w.line.size() - 2);
    return body.size() >= 11 ? body[7] | body[8] << 8 | body[9] << 16 | body[10] << 24 : 0;
}

std::vector<uint8_t> Block(const ConfigImage& image, uint32_t address) {
    return {image.begin() + address, image.begin() + address + kBlockSize};
}

// A logged-in session against a controller that holds variant 0.
struct Rig : VirtualRig {
    Rig() {
        controller.Memory() = VariantImage(0);
        controller.History().Generate(QDate(2026, 12, 7));
        session.History().SetExportFolders(dir.path(), dir.path());
        loggedIn = Login();
    }
    // The records the controller holds for a range, page by page.
    HistoryTable Expected(const QDate& from, const QDate& to) {
        const uint8_t range[6] = {
            static_cast<uint8_t>(from.year() % 100), static_cast<uint8_t>(from.month()),
            static_cast<uint8_t>(from.day()),        static_cast<uint8_t>(to.year() % 100),
            static_cast<uint8_t>(to.month()),        static_cast<uint8_t>(to.day())};
        HistoryTable table;
        const uint16_t pages = controller.History().StartQuery(range);
        for (uint16_t p = 1; p <= pages; ++p) {
            const Bytes page = controller.History().Page(p);
            ParseHistoryPage(page.data(), page.size(), table);
        }
        return table;
    }
    bool loggedIn = false;
};

}  // namespace

// A page reply that came 2 to 3 s after a resend was dropped by the history query after the
// sender had taken it as the answer: nothing was resent and the download sat still.
TEST(GuardFaults, HistoryDownloadEndsWhenRepliesComeTwoToThreeSecondsLate) {
    for (int delay : {2000, 2500, 2900}) {
        SCOPED_TRACE(delay);
        Rig rig;
        ASSERT_TRUE(rig.loggedIn);
        rig.SetFaults(Faults("delay " + std::to_string(delay)));
        rig.session.History().Button1Click(QDate(2014, 3, 1), QDate(2014, 3, 20));
        ASSERT_TRUE(rig.RunUntilOutcome(Operation::HistoryQuery, 120000));
        EXPECT_EQ(rig.OutcomeOf(Operation::HistoryQuery), Outcome::Succeeded);
        EXPECT_EQ(rig.Messages(kTimeout), 0);
        const HistoryTable expected = rig.Expected(QDate(2014, 3, 1), QDate(2014, 3, 20));
        ASSERT_GT(expected.size(), 20u);
        EXPECT_TRUE(SameRecords(rig.session.History().LastDownload(), expected));
    }
}

// A controller answering every copy 2 to 3.4 s after it was sent: its late replies were taken
// for the next block, and the read ended in "读取结束" with another block's bytes.
TEST(GuardFaults, SlowControllerReadsEveryBlockIntoItsPlace) {
    for (int delay : {2000, 2600, 3000, 3400}) {
        SCOPED_TRACE(delay);
        Rig rig;
        ASSERT_TRUE(rig.loggedIn);
        rig.SetFaults(Faults("delay " + std::to_string(delay)));
        rig.session.Config().btn_loadClick();
        ASSERT_TRUE(rig.RunUntilOutcome(Operation::ReadSettings, 120000));
        EXPECT_EQ(rig.OutcomeOf(Operation::ReadSettings), Outcome::Succeeded);
        for (const auto& [name, value] : VariantFields(0))
            EXPECT_EQ(rig.settings.Text(name), value) << name.toStdString();
        EXPECT_EQ(rig.Messages(kTimeout), 0);
    }
}

TEST(GuardFaults, SlowControllerGetsEveryBlockWrittenInItsPlace) {
    for (int delay : {2000, 2600, 3400}) {
        SCOPED_TRACE(delay);
        Rig rig;
        ASSERT_TRUE(rig.loggedIn);
        rig.SetFaults(Faults("delay " + std::to_string(delay)));
        ApplyVariant(rig.settings, 1);
        rig.session.Config().btn_downClick();
        ASSERT_TRUE(rig.RunUntilOutcome(Operation::WriteDone, 200000));
        EXPECT_EQ(rig.OutcomeOf(Operation::WriteSettings), Outcome::Succeeded);
        EXPECT_EQ(rig.controller.Memory(), EncodeAll(rig.settings, VariantImage(0)));
        // Each block was erased and written in turn, never one for another.
        std::vector<uint32_t> erased;
        for (const WrittenRequest& w : rig.Written(cmd_erase_block)) {
            if (erased.empty() || erased.back() != AddressOf(w)) erased.push_back(AddressOf(w));
        }
        EXPECT_EQ(erased, (std::vector<uint32_t>{1024, 2048, 3072, 4096}));
    }
}

// In a safe write, the backup read's reply came 3.25 s late, after the erase of 1024 had gone
// out: it restarted the read, whose request replaced the erase, and 1024 stayed erased.
TEST(GuardFaults, LateBackupReadReplyLeavesTheWriteGoing) {
    Rig rig;
    ASSERT_TRUE(rig.loggedIn);
    ConfigArchive archive(rig.dir.path() + "/archive");
    SafeWrite safe(rig.session, archive, rig.time, rig.ui);
    bool slowed = false;
    rig.onWrite = [&](const WrittenRequest& w) {
        if (!slowed && w.command == cmd_read_block && AddressOf(w) == 4096) {
            slowed = true;
            rig.SetFaults(Faults("delay 3250"));
        }
    };
    bool finished = false;
    safe.SetOnFinished([&](const SafeWriteReport&) { finished = true; });
    ApplyVariant(rig.settings, 1);
    safe.WriteSettings();
    ASSERT_TRUE(rig.RunUntil([&] { return finished; }, 300000));
    EXPECT_EQ(safe.Report().outcome, Outcome::Succeeded) << safe.Report().error.toStdString();
    EXPECT_TRUE(safe.Report().verified);
    EXPECT_EQ(rig.controller.Memory(), EncodeAll(rig.settings, VariantImage(0)));
}

// A late duplicate of the login reply, arriving while a block read waited for its answer,
// stopped the resend timer: the lost read request was never sent again.
TEST(GuardFaults, AReplyOfAnotherCodeKeepsTheResendGoing) {
    Rig rig;
    ASSERT_TRUE(rig.loggedIn);
    rig.SetFaults(Faults("drop-next 1"));
    rig.session.Config().btn_loadClick();
    rig.RunFor(500);
    const Bytes login = EscapeFrame(
        BuildReplyFrame(cmd_login, Bytes{0x01, 'R', '4', 'T', '1', 0x00, 'V', '2', 0x00}));
    rig.session.cm1ReceiveData(login.data(), static_cast<uint16_t>(login.size()), rig.time.NowUs());
    ASSERT_TRUE(rig.RunUntilOutcome(Operation::ReadSettings, 20000));
    EXPECT_EQ(rig.OutcomeOf(Operation::ReadSettings), Outcome::Succeeded);
    EXPECT_EQ(rig.Messages(QStringLiteral("密码正确")), 1);
    EXPECT_EQ(rig.Messages(kTimeout), 0);
    // Resent one interval after the lost copy.
    const auto reads = rig.Written(cmd_read_block);
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads[1].atUs - reads[0].atUs, 1000000);
}

// The user made a field unconvertible while the erase of 2048 was outstanding: the write
// stopped with the field's message and left 2048 erased.
TEST(GuardFaults, FieldBrokenDuringAnEraseStillGetsTheBlockWritten) {
    Rig rig;
    ASSERT_TRUE(rig.loggedIn);
    rig.SetFaults(Faults("delay 200"));
    ApplyVariant(rig.settings, 1);
    const ConfigImage checked = EncodeAll(rig.settings, VariantImage(0));
    rig.onWrite = [&](const WrittenRequest& w) {
        if (w.command == cmd_erase_block && AddressOf(w) == 2048) {
            rig.settings.SetText(QStringLiteral("edt_Sensor1_SLow"), QStringLiteral("-"));
            // An edit of a later block still reaches it.
            rig.settings.SetText(QStringLiteral("edt_apn"), QStringLiteral("cmwap"));
        }
    };
    ASSERT_TRUE(ValidateBlock(ConfigBlock::PhoneBlock, rig.settings) == std::nullopt);
    rig.session.Config().btn_downClick();
    ASSERT_TRUE(rig.RunUntilOutcome(Operation::WriteSettings, 60000));
    EXPECT_EQ(rig.OutcomeOf(Operation::WriteSettings), Outcome::Succeeded);
    const ConfigImage& memory = rig.controller.Memory();
    EXPECT_EQ(Block(memory, 1024), Block(checked, 1024));
    EXPECT_EQ(Block(memory, 2048), Block(checked, 2048));
    DeviceSettings edited;
    SetUpLike(rig.settings, edited);
    ApplyVariant(edited, 1);
    edited.SetText(QStringLiteral("edt_apn"), QStringLiteral("cmwap"));
    const ConfigImage withApn = EncodeAll(edited, VariantImage(0));
    EXPECT_EQ(Block(memory, 3072), Block(withApn, 3072));
    EXPECT_NE(Block(withApn, 3072), Block(checked, 3072));
    // The message names the field that was not taken.
    const auto problem = ValidateBlock(ConfigBlock::SensorBlock, rig.settings);
    ASSERT_TRUE(problem.has_value());
    bool named = false;
    for (const QString& m : rig.ui.MessageTexts()) named = named || m.contains(problem->label);
    EXPECT_TRUE(named) << rig.ui.MessageTexts().join(" | ").toStdString();
}

// An erase went out and no reply came: the time-out alone left the installer guessing.
TEST(GuardFaults, TimeOutDuringAWriteNamesTheBlocksAndOffersTheBackup) {
    Rig rig;
    ASSERT_TRUE(rig.loggedIn);
    ConfigArchive archive(rig.dir.path() + "/archive");
    SafeWrite safe(rig.session, archive, rig.time, rig.ui);
    rig.onWrite = [&](const WrittenRequest& w) {
        if (w.command == cmd_erase_block && AddressOf(w) == 2048)
            rig.SetFaults(Faults("drop-rate 1"));
    };
    bool finished = false;
    safe.SetOnFinished([&](const SafeWriteReport&) { finished = true; });
    ApplyVariant(rig.settings, 1);
    const ConfigImage target = EncodeAll(rig.settings, VariantImage(0));
    rig.ui.questionAnswers.push_back(MsgAnswer::No);  // do not restore now
    safe.WriteSettings();
    ASSERT_TRUE(rig.RunUntil([&] { return finished; }, 60000));
    EXPECT_NE(safe.Report().outcome, Outcome::Succeeded);
    const QStringList texts = rig.ui.MessageTexts();
    ASSERT_EQ(texts.count(kTimeout), 1);
    const QString expected = QStringLiteral(
        "写入未完成。已写入：报警号码设置；可能已被擦除：报警参数设置；未改变：GPRS参数设置、系统参"
        "数");
    const int at = static_cast<int>(texts.indexOf(kTimeout));
    ASSERT_GT(texts.size(), at + 1) << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts[at + 1].startsWith(expected)) << texts[at + 1].toStdString();
    // The backup just taken is offered.
    ASSERT_TRUE(safe.Report().backup.has_value());
    EXPECT_EQ(rig.ui.messages.back().buttons, MsgButtons::YesNo);
    EXPECT_TRUE(rig.ui.messages.back().text.contains(safe.Report().backup->BinPath()));
    // What the controller holds is what the message says.
    const ConfigImage& memory = rig.controller.Memory();
    EXPECT_EQ(Block(memory, 1024), Block(target, 1024));
    EXPECT_EQ(Block(memory, 2048), std::vector<uint8_t>(kBlockSize, 0xFF));
    EXPECT_EQ(Block(memory, 3072), Block(VariantImage(0), 3072));
    EXPECT_EQ(Block(memory, 4096), Block(VariantImage(0), 4096));
}

// A blank controller's four blocks are alike: each block is confirmed by further reads
// instead of waiting, so the first read stays short; a second read straight after it cannot
// tell the first one's late copies from its own answers cheaply, and waits for their window.
TEST(GuardFaults, BlankControllerReadsStayShortAndRight) {
    VirtualRig rig;
    ASSERT_TRUE(rig.Login());
    rig.controller.Memory().fill(0xFF);
    for (int read = 0; read < 3; ++read) {
        SCOPED_TRACE(read);
        const size_t mark = rig.ui.outcomes.size();
        const size_t requests = rig.Written(cmd_read_block).size();
        const int64_t t0 = rig.time.NowMs();
        rig.settings.SetText(QStringLiteral("edt_tel1"), QStringLiteral("123"));
        rig.session.Config().btn_loadClick();
        ASSERT_TRUE(rig.RunUntilOutcome(Operation::ReadSettings, 60000, mark));
        EXPECT_EQ(rig.OutcomeOf(Operation::ReadSettings, mark), Outcome::Succeeded);
        EXPECT_EQ(rig.settings.Text(QStringLiteral("edt_tel1")), QString());
        const size_t reads = rig.Written(cmd_read_block).size() - requests;
        const int64_t took = rig.time.NowMs() - t0;
        if (read == 0) {
            EXPECT_LE(reads, 15u);
            EXPECT_LT(took, 100);
        } else {
            EXPECT_LE(took, reply_timing::kReplyWindowMs + 1000);
        }
    }
}
