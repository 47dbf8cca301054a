#include <gtest/gtest.h>

#include "operations/DirectOperations.h"
#include "operations/RelayRules.h"
#include "tests/support/FakeTimeSource.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/support/RecordingSender.h"

namespace r4t8::testing {
namespace {

const Bytes kClose10 = {0xA5, 0x08, 0x00, 0x18, 0x01, 0x00, 0x01, 0x00,
                        0x01, 0x43, 0x0A, 0x00, 0x8F, 0xFF, 0xA5};
const Bytes kPulse315 = {0xA5, 0x0B, 0x00, 0x18, 0x01, 0x00, 0x01, 0x00, 0x01,
                         0x50, 0x03, 0x00, 0x01, 0x00, 0x05, 0x80, 0xFF, 0xA5};
const Bytes kRelease = {0xA5, 0x06, 0x00, 0x18, 0x01, 0x00, 0x01,
                        0x00, 0x01, 0x4F, 0x8F, 0xFF, 0xA5};

RelayInputs Inputs(int combo, QString e8 = "10", QString e10 = "3", QString e11 = "1",
                   QString e12 = "5") {
    return {combo, e8, e10, e11, e12};
}

// The payload of a raw frame: between the header and the checksum.
Bytes Payload(const Bytes& frame) { return Bytes(frame.begin() + 8, frame.end() - 3); }

class RelayTest : public ::testing::Test {
  protected:
    RecordingSender sender;
    FakeUserInterface ui;
    FakeTimeSource time;
    DirectOperations ops{sender, ui, ui, time};
};

TEST_F(RelayTest, WorkedFrames) {
    ops.Button3Click(Inputs(0));
    ops.Button3Click(Inputs(1));
    ops.Button2Click();
    ASSERT_EQ(sender.frames.size(), 3u);
    EXPECT_EQ(sender.frames[0], kClose10);
    EXPECT_EQ(sender.frames[1], kPulse315);
    EXPECT_EQ(sender.frames[2], kRelease);
    EXPECT_EQ(sender.selectors, (std::vector<uint8_t>{24, 24, 24}));
}

TEST_F(RelayTest, EditValuesToPayload) {
    const struct {
        RelayInputs in;
        Bytes payload;
    } cases[] = {
        {Inputs(0, ""), {0x01, 'C', 0xFF, 0x00}},
        {Inputs(0, "9999"), {0x01, 'C', 0x0F, 0x27}},
        {Inputs(0, "0"), {0x01, 'C', 0x00, 0x00}},
        {Inputs(0, "70000"), {0x01, 'C', 0x70, 0x11}},  // kept in 16 bits
        {Inputs(1, "10", "3", "1", ""), {0x01, 'P', 0x03, 0x00, 0x01, 0x00, 0xFF}},
        {Inputs(1, "10", "3", "1", "300"), {0x01, 'P', 0x03, 0x00, 0x01, 0x00, 0x2C}},
        {Inputs(1, "10", "", "", "999"), {0x01, 'P', 0xFF, 0x00, 0xFF, 0x00, 0xE7}},
        {Inputs(1, "", "999", "258", "0"), {0x01, 'P', 0xE7, 0x03, 0x02, 0x01, 0x00}},
    };
    for (const auto& c : cases) {
        sender.frames.clear();
        ops.Button3Click(c.in);
        ASSERT_EQ(sender.frames.size(), 1u) << c.in.edit8.toStdString();
        EXPECT_EQ(Payload(sender.frames[0]), c.payload)
            << c.in.edit8.toStdString() << "/" << c.in.edit12.toStdString();
    }
}

TEST_F(RelayTest, AllFourEditsAreReadWhateverTheMode) {
    ops.Button3Click(Inputs(0, "10", "", "7", "300"));
    EXPECT_EQ(ops.Relay().letter, 'C');
    EXPECT_EQ(ops.Relay().closeTime, 10);
    EXPECT_EQ(ops.Relay().pulseTime, 255);
    EXPECT_EQ(ops.Relay().interval, 7);
    EXPECT_EQ(ops.Relay().count, 300);
}

TEST_F(RelayTest, ReleaseIgnoresTheEditsAndKeepsTheChosenMode) {
    ops.Button3Click(Inputs(0, "10"));
    ops.Button2Click();
    EXPECT_EQ(Payload(sender.frames.back()), (Bytes{0x01, 'O'}));
    EXPECT_EQ(ops.Relay().letter, 'C');
    EXPECT_EQ(ops.Relay().closeTime, 10);
    // Typed combo text now repeats the close of the earlier press, with the new edits.
    ops.Button3Click(Inputs(-1, "20"));
    ASSERT_EQ(sender.frames.size(), 3u);
    EXPECT_EQ(Payload(sender.frames[2]), (Bytes{0x01, 'C', 20, 0x00}));
}

TEST_F(RelayTest, TypedComboTextRepeatsThePreviousMode) {
    ops.Button3Click(Inputs(1));
    ops.Button3Click(Inputs(-1, "10", "4", "2", "6"));
    ASSERT_EQ(sender.frames.size(), 2u);
    EXPECT_EQ(Payload(sender.frames[1]), (Bytes{0x01, 'P', 4, 0, 2, 0, 6}));
}

TEST_F(RelayTest, TypedComboTextWithoutAnEarlierChoiceSendsNothing) {
    ops.Button3Click(Inputs(-1));
    EXPECT_TRUE(sender.frames.empty());
    // A release is no choice of mode either.
    ops.Button2Click();
    ops.Button3Click(Inputs(-1));
    EXPECT_EQ(sender.frames.size(), 1u);
    EXPECT_EQ(sender.frames[0], kRelease);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(RelayTest, UnreadableNumberIsReportedAndNothingIsSentOrKept) {
    ops.Button3Click(Inputs(1));
    ops.Button3Click(Inputs(0, "1a"));
    ops.Button3Click(Inputs(0, "10", "3", "1", "5x"));
    EXPECT_EQ(sender.frames.size(), 1u);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_TRUE(ui.messages[0].text.contains("1a"));
    EXPECT_EQ(ui.messages[0].caption, "R4T8报警器设置软件");
    EXPECT_EQ(ops.Relay().letter, 'P');
    EXPECT_EQ(ops.Relay().count, 5);
}

TEST(RelayRules, ModeSwitchingEnables) {
    const RelayEnables closeMode{true, false, false, false};
    const RelayEnables pulseMode{false, true, true, true};
    EXPECT_EQ(kRelayInitialEnables, closeMode);
    EXPECT_EQ(ComboBox1Change(1, closeMode), pulseMode);
    EXPECT_EQ(ComboBox1Change(0, pulseMode), closeMode);
    // Typed text: nothing changes, in either state.
    EXPECT_EQ(ComboBox1Change(-1, pulseMode), pulseMode);
    EXPECT_EQ(ComboBox1Change(-1, closeMode), closeMode);
    const RelayEnables mixed{true, true, false, true};
    EXPECT_EQ(ComboBox1Change(-1, mixed), mixed);
}

TEST(RelayRules, CountChangeInCloseModeDisablesThePulseEdits) {
    const RelayEnables pulseMode{false, true, true, true};
    EXPECT_EQ(Edit12Change(0, pulseMode), (RelayEnables{false, false, false, false}));
    EXPECT_EQ(Edit12Change(0, RelayEnables{true, true, true, true}),
              (RelayEnables{true, false, false, false}));
    EXPECT_EQ(Edit12Change(1, pulseMode), pulseMode);
    EXPECT_EQ(Edit12Change(-1, pulseMode), pulseMode);
}

}  // namespace
}  // namespace r4t8::testing
