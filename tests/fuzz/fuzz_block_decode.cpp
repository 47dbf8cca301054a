// Each configuration block decoder on arbitrary block bytes, then the validation and the
// encoder on what it decoded: whatever a controller holds must come back as writable bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "FuzzSupport.h"
#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "protocol/Frame.h"
#include "protocol/Sender.h"

using namespace r4t8;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const auto block = static_cast<ConfigBlock>(fdp.ConsumeIntegralInRange<int>(0, 3));
    // Type codes are rewritten at login from what the controller reports.
    DeviceSettings settings;
    for (char& c : settings.SensorTypeCodes()) c = static_cast<char>(fdp.ConsumeIntegral<uint8_t>());

    auto image = std::make_unique<ConfigImage>();
    ClearConfigImage(*image);
    const uint32_t address = BlockAddress(block);
    const std::vector<uint8_t> bytes = fdp.ConsumeRemainingBytes<uint8_t>();
    std::copy_n(bytes.begin(), std::min(bytes.size(), kBlockSize), image->begin() + address);

    DecodeBlock(block, *image, settings);

    // The decoded values go back the way a write takes them.
    auto out = std::make_unique<ConfigImage>();
    ClearConfigImage(*out);
    const bool valid = !ValidateBlock(block, settings).has_value();
    const bool encoded = EncodeBlock(block, settings, *out);
    R4T8_FUZZ_CHECK(!valid || encoded);
    // Nothing outside the block's used bytes is touched.
    for (size_t i = 0; i < out->size(); ++i) {
        if (i >= address && i < address + BlockUsedLength(block)) continue;
        R4T8_FUZZ_CHECK((*out)[i] == 0xFF);
    }
    return 0;
}
