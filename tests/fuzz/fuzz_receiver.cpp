// The frame receiver fed an arbitrary byte stream, with dispatches that feed further bytes
// (a message box open inside a reply handler) and a filter that refuses some frames.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/Frame.h"
#include "protocol/FrameReceiver.h"

using namespace r4t8;

namespace {

void CheckRecord(const ReplyRecord& r) {
    // Only frames whose length and checksum agree reach the dispatcher.
    const size_t length = r.length[0] + 256u * r.length[1];
    R4T8_FUZZ_CHECK(length >= 5 && length <= kMaxReplyLength);
    R4T8_FUZZ_CHECK(r.payloadCount == length - 5);
    Bytes raw = {kFrameDelimiter, r.length[0], r.length[1], r.command};
    raw.insert(raw.end(), r.header.begin(), r.header.end());
    raw.insert(raw.end(), r.payload.begin(), r.payload.begin() + r.payloadCount);
    const uint16_t sum = FrameChecksum(raw, 1, raw.size() - 1);
    R4T8_FUZZ_CHECK(r.checksumLow == (sum & 0xFF) && r.checksumHigh == (sum >> 8));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    FrameReceiver receiver;
    int depth = 0;
    uint64_t delivered = 0;
    size_t logLines = 0;
    const uint8_t refuseCommand = fdp.ConsumeIntegral<uint8_t>();

    receiver.SetLogSink([&](const QString& line) {
        R4T8_FUZZ_CHECK(line.size() <= 3 * static_cast<qsizetype>(FrameReceiver::kLogBytesPerLine));
        ++logLines;
    });
    receiver.SetReplyFilter([&](const ReplyRecord& r) { return r.command != refuseCommand; });
    receiver.SetDispatch([&](const ReplyRecord& r) {
        CheckRecord(r);
        ++delivered;
        R4T8_FUZZ_CHECK(receiver.Busy());
        fuzz::DepthGuard guard(depth, 4);
        if (!guard.Allowed() || !fdp.ConsumeBool()) return;
        // Bytes that arrive while this dispatch is still running.
        const std::vector<uint8_t> more =
            fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(0, 300));
        receiver.cm1ReceiveData(more.data(), more.size());
    });

    while (fdp.remaining_bytes() > 0) {
        const std::vector<uint8_t> chunk =
            fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(1, 600));
        if (fdp.ConsumeBool()) {
            receiver.cm1ReceiveData(chunk.data(), chunk.size());
        } else {
            for (uint8_t b : chunk) receiver.ReceiveByte(b);
        }
        // Between receive events no frame may be left waiting.
        R4T8_FUZZ_CHECK(!receiver.Busy());
        R4T8_FUZZ_CHECK(receiver.QueuedFrames() == 0);
    }
    R4T8_FUZZ_CHECK(receiver.Stats().dispatched == delivered);
    return 0;
}
