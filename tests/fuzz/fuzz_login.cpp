// The login reply as the dispatcher takes it: model and version read from the payload and
// the sensor rows set up for the model, both through the record and the raw bytes.
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "config/DeviceSettings.h"
#include "config/SetupForModel.h"
#include "protocol/Frame.h"

using namespace r4t8;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DeviceSettings settings;
    // Exactly the received bytes, so a read past the payload is caught.
    const ModelInfo raw = SetupForModel(settings, size ? data : nullptr, size);
    R4T8_FUZZ_CHECK(raw.model.size() <= static_cast<qsizetype>(size));

    ReplyRecord reply;
    reply.command = cmd_login;
    reply.payload.fill(0xFF);
    const size_t n = std::min(size, kReplyPayloadSize);
    std::copy_n(data, n, reply.payload.begin());
    reply.payloadCount = static_cast<uint16_t>(n);
    DeviceSettings again;
    SetupForModel(again, reply);
    // A second login onto the same record (the user logs in twice).
    SetupForModel(again, reply);
    for (int s = 1; s <= 4; ++s) R4T8_FUZZ_CHECK(SensorControlNames(s).size() == 12);
    return 0;
}
