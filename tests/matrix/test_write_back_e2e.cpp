// Read and written back unchanged through the real session over a pty, a controller's memory
// stays byte for byte what it was: a blank r4t8-sim, the demo one, and one whose lists and
// flags hold codes that no entry of the window stands for.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "MatrixRig.h"

namespace r4t8::matrix {
namespace {

constexpr int kCapMs = 30000;  // a bound for a hung test, not a measured time

class WriteBackE2e : public ::testing::Test {
  protected:
    // Logs in, reads, writes without an edit; the memory before the read and after the write.
    void ReadAndWriteBack(std::vector<uint8_t>& before, std::vector<uint8_t>& after) {
        ASSERT_TRUE(rig.Login());
        before = rig.sim->DumpMemory();
        ASSERT_EQ(before.size(), kConfigImageSize);

        size_t mark = rig.ui.outcomes.size();
        rig.session.Config().btn_loadClick();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.ui.outcomes.size() > mark; }, kCapMs));
        ASSERT_EQ(rig.ui.outcomes[mark],
                  std::make_pair(Operation::ReadSettings, Outcome::Succeeded));

        mark = rig.ui.outcomes.size();
        rig.session.Config().btn_downClick();
        const auto writeDone = [&] {
            for (size_t i = mark; i < rig.ui.outcomes.size(); ++i)
                if (rig.ui.outcomes[i].first == Operation::WriteDone) return true;
            return false;
        };
        ASSERT_TRUE(rig.RunUntil(writeDone, kCapMs))
            << rig.ui.MessageTexts().join(',').toStdString();
        ASSERT_EQ(rig.ui.outcomes[mark],
                  std::make_pair(Operation::WriteSettings, Outcome::Succeeded))
            << rig.ui.MessageTexts().join(',').toStdString();
        EXPECT_TRUE(rig.ui.MessageTexts().contains(QStringLiteral("写入成功")));
        const std::string status = rig.sim->Command("status");
        EXPECT_TRUE(status.size() > 9 && status.substr(status.size() - 9) == " writes=4") << status;
        after = rig.sim->DumpMemory();
    }

    Rig rig;
};

TEST_F(WriteBackE2e, BlankControllerStaysBlank) {
    ASSERT_TRUE(rig.StartSimWith({}));
    std::vector<uint8_t> before, after;
    ReadAndWriteBack(before, after);
    EXPECT_EQ(before, std::vector<uint8_t>(kConfigImageSize, 0xFF));
    EXPECT_TRUE(after == before) << "the write changed a blank controller";
}

TEST_F(WriteBackE2e, DemoControllerIsWrittenBackAsItWas) {
    ASSERT_TRUE(rig.StartSimWith({"--demo"}));
    std::vector<uint8_t> before, after;
    ReadAndWriteBack(before, after);
    EXPECT_NE(before, std::vector<uint8_t>(kConfigImageSize, 0xFF));
    EXPECT_TRUE(after == before);
}

TEST_F(WriteBackE2e, CodesWithoutAnEntrySurvive) {
    ConfigImage memory = VariantImage(0);
    memory[kPhoneBlockAddress + 22] = '9';   // function code 1 of number 2
    memory[kSensorBlockAddress + 36] = 'K';  // type of sensor 2
    memory[kSensorBlockAddress + 24] = 7;    // analogue range of sensor 1
    memory[kGprsBlockAddress + 66] = 7;      // protocol
    memory[kSystemBlockAddress + 0] = 7;     // clock mode
    memory[kSystemBlockAddress + 46] = 7;    // verify PIN
    memory[kSystemBlockAddress + 80] = 'Q';  // upload mode, with its bytes
    memory[kSystemBlockAddress + 82] = 0x34;
    memory[kSystemBlockAddress + 84] = 0x12;
    ASSERT_TRUE(rig.StartSim(memory));
    std::vector<uint8_t> before, after;
    ReadAndWriteBack(before, after);
    EXPECT_EQ(before, ToVector(memory));
    EXPECT_TRUE(after == before);
    EXPECT_EQ(rig.settings.Index("cbb_mode"), -1);
    EXPECT_EQ(rig.settings.Index("cb_pdat"), -1);
}

}  // namespace
}  // namespace r4t8::matrix

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
