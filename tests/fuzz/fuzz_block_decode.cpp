// Each configuration block decoder on arbitrary block bytes, then the validation and the
// encoder on what it decoded: whatever a controller holds must come back as writable bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

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
    for (char& c : settings.SensorTypeCodes())
        c = static_cast<char>(fdp.ConsumeIntegral<uint8_t>());

    auto image = std::make_unique<ConfigImage>();
    ClearConfigImage(*image);
    const uint32_t address = BlockAddress(block);
    const std::vector<uint8_t> bytes = fdp.ConsumeRemainingBytes<uint8_t>();
    std::copy_n(bytes.begin(), std::min(bytes.size(), kBlockSize), image->begin() + address);

    const bool complete = DecodeBlock(block, *image, settings);

    // The decoded values go back the way a write takes them.
    auto out = std::make_unique<ConfigImage>();
    ClearConfigImage(*out);
    const bool valid = !ValidateBlock(block, settings).has_value();
    const bool encoded = EncodeBlock(block, settings, *out);
    R4T8_FUZZ_CHECK(!valid || encoded);
    // What was read is what is written: a code byte of a list or flag comes back as it was,
    // whether or not the window has an entry for it.
    if (complete && encoded) {
        std::vector<size_t> codes;
        switch (block) {
            case ConfigBlock::PhoneBlock:
                for (size_t n = 0; n < 6; ++n) codes.insert(codes.end(), {22 * n, 22 * n + 1});
                break;
            case ConfigBlock::SensorBlock:
                for (size_t n = 0; n < 4; ++n) codes.insert(codes.end(), {36 * n, 36 * n + 24});
                break;
            case ConfigBlock::GprsBlock:
                codes = {66};
                break;
            case ConfigBlock::SystemBlock:
                codes = {0, 46, 73, 74, 80};
                break;
        }
        for (size_t at : codes) R4T8_FUZZ_CHECK((*out)[address + at] == (*image)[address + at]);
    }
    // Nothing outside the block's used bytes is touched.
    for (size_t i = 0; i < out->size(); ++i) {
        if (i >= address && i < address + BlockUsedLength(block)) continue;
        R4T8_FUZZ_CHECK((*out)[i] == 0xFF);
    }
    return 0;
}
