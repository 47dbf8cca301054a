// The in-memory controller of the safe-write tests against the simulator's controller model:
// for the requests those tests send, both must answer alike and end with the same memory.
#include <gtest/gtest.h>

#include "SimController.h"
#include "tests/support/FakeController.h"

namespace r4t8 {
namespace {

using testing::FakeController;

struct Request {
    const char* what;
    Bytes frame;  // raw, unescaped
    bool storeWrong = false;
};

Bytes Data(uint8_t seed) {
    Bytes d(kBlockSize);
    for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(seed + i * 7);
    return d;
}

// Reply payload of the fake to one request, or nothing.
std::optional<Bytes> FakeReply(FakeController& fake, const Bytes& raw) {
    const Bytes line = EscapeFrame(raw);
    fake.pending.clear();
    fake.WriteBytes(line.data(), line.size());
    if (fake.pending.empty()) return std::nullopt;
    const Bytes escaped = fake.pending.front();
    Bytes reply{kFrameDelimiter};
    const Bytes inner = UnescapeFrame(escaped.data() + 1, escaped.size() - 2);
    reply.insert(reply.end(), inner.begin(), inner.end());
    reply.push_back(kFrameDelimiter);
    uint8_t command = 0;
    Bytes payload;
    if (!ParseRawFrame(reply, command, payload) || command != raw[3]) return Bytes{0xEE};
    return payload;
}

TEST(FakeControllerContract, BlockRequestsAnswerAndStoreAsTheSimulatorDoes) {
    const Bytes a = Data(1), b = Data(0xA5);
    const std::vector<Request> requests = {
        {"read a blank block", BuildReadBlockFrame(kPhoneBlockAddress)},
        {"erase", BuildEraseBlockFrame(kSensorBlockAddress)},
        {"write", BuildWriteBlockFrame(kSensorBlockAddress, a.data())},
        {"read it back", BuildReadBlockFrame(kSensorBlockAddress)},
        {"erase another", BuildEraseBlockFrame(kSystemBlockAddress)},
        {"write stored wrong", BuildWriteBlockFrame(kSystemBlockAddress, b.data()), true},
        {"read the wrong one", BuildReadBlockFrame(kSystemBlockAddress)},
        {"write-done", BuildWriteDoneFrame()},
        {"read the last block", BuildReadBlockFrame(kSystemBlockAddress)},
    };
    FakeController fake;
    sim::SimController real{sim::ControllerSettings{}};
    real.Memory().fill(0xFF);
    const sim::Moment now{0, QDateTime(QDate(2026, 12, 8), QTime(3, 10, 36))};
    for (const Request& r : requests) {
        SCOPED_TRACE(r.what);
        fake.storeWrong = r.storeWrong;
        real.SetStoreWrong(r.storeWrong);
        uint8_t command = 0;
        Bytes payload;
        ASSERT_TRUE(ParseRawFrame(r.frame, command, payload));
        EXPECT_EQ(FakeReply(fake, r.frame), real.Handle(command, payload, now));
        EXPECT_TRUE(fake.memory == real.Memory());
    }
    // The login: both accept, with the model the tests' set-up relies on.
    const uint8_t password[4] = {'5', '8', '0', '7'};
    const Bytes login = BuildLoginFrame(password);
    uint8_t command = 0;
    Bytes payload;
    ASSERT_TRUE(ParseRawFrame(login, command, payload));
    const auto fakeLogin = FakeReply(fake, login);
    const auto realLogin = real.Handle(command, payload, now);
    ASSERT_TRUE(fakeLogin && realLogin);
    EXPECT_EQ(fakeLogin->at(0), 1);
    EXPECT_EQ(realLogin->at(0), 1);
    EXPECT_EQ(Bytes(fakeLogin->begin() + 1, fakeLogin->begin() + 5),
              Bytes(realLogin->begin() + 1, realLogin->begin() + 5));
}

}  // namespace
}  // namespace r4t8
