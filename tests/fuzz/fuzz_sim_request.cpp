// The simulated controller's request side: arbitrary line bytes through the collector and
// the strict request check into the controller, and well-formed requests that must pass.
#include <fuzzer/FuzzedDataProvider.h>

#include <QDateTime>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "RequestCollector.h"
#include "SimController.h"
#include "protocol/Frame.h"

using namespace r4t8;
using namespace r4t8::sim;

namespace {

void Serve(SimController& controller, const std::vector<CollectedFrame>& frames, int64_t& now) {
    for (const CollectedFrame& f : frames) {
        R4T8_FUZZ_CHECK(f.line.size() <= RequestCollector::kMaxLineBytes + 1);
        if (f.overflow) continue;
        Request request;
        if (!ParseRequest(f.raw, request)) continue;
        Moment m{now += 37, QDateTime(QDate(2014, 3, 5), QTime(8, 7, 6)).addMSecs(now)};
        if (const auto reply = controller.Handle(request.command, request.payload, m))
            R4T8_FUZZ_CHECK(reply->size() <= kReplyPayloadSize);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    SimController controller{ControllerSettings{}};
    RequestCollector collector;
    int64_t now = 0;
    while (fdp.remaining_bytes() > 0) {
        std::vector<CollectedFrame> frames;
        if (fdp.ConsumeBool()) {
            const std::vector<uint8_t> chunk =
                fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(1, 1500));
            collector.Feed(chunk.data(), chunk.size(), frames);
        } else {
            // A correct request of any command and payload is collected whole and passes.
            const uint8_t command = fdp.ConsumeIntegral<uint8_t>();
            const std::vector<uint8_t> payload =
                fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(0, 260));
            const Bytes line = EscapeFrame(BuildFrame(command, payload));
            const bool wasCollecting = collector.Collecting();
            collector.Feed(line.data(), line.size(), frames);
            if (!wasCollecting) {
                R4T8_FUZZ_CHECK(frames.size() == 1);
                Request request;
                R4T8_FUZZ_CHECK(ParseRequest(frames[0].raw, request));
                R4T8_FUZZ_CHECK(request.command == command && request.payload == payload);
            }
        }
        Serve(controller, frames, now);
    }
    return 0;
}
