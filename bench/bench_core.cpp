// The pure hot paths: the receiver fed one byte per call, escaping and checksum of the
// largest request, and the four block codecs.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cstdint>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "DemoSite.h"
#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "protocol/Frame.h"
#include "protocol/FrameReceiver.h"
#include "session/DeviceSession.h"

namespace {

using namespace r4t8;

// A code no request waits for: the frame takes the whole receive path (collection, unescaping,
// checks, receive log, reply guard), which drops it, and starts no sequence.
constexpr uint8_t kInertCommand = 0x7E;

// `frames` full-size replies (256 payload bytes) on the line, escaped. The payload is random,
// so about one byte in 128 needs an escape as on a real line, and no two frames are equal
// (the reply guard drops repeats).
std::vector<uint8_t> ReplyStream(int frames, uint8_t command) {
    std::mt19937 rng(7);
    std::vector<uint8_t> line;
    Bytes payload(256);
    for (int f = 0; f < frames; ++f) {
        for (auto& b : payload) b = static_cast<uint8_t>(rng());
        payload[0] = static_cast<uint8_t>(f);
        payload[1] = static_cast<uint8_t>(f >> 8);
        const Bytes escaped = EscapeFrame(BuildReplyFrame(command, payload));
        line.insert(line.end(), escaped.begin(), escaped.end());
    }
    return line;
}

class NullPort : public IPort {
  public:
    bool WriteBytes(const uint8_t*, size_t count) override { return count > 0; }
};

void BM_FrameReceiver_PerByte(benchmark::State& state) {
    const auto line = ReplyStream(static_cast<int>(state.range(0)), cmd_read_block);
    FrameReceiver receiver;
    uint64_t lines = 0, dispatched = 0;
    // The receive log is formatted as in the program; only the memo is missing.
    receiver.SetLogSink([&](const QString&) { ++lines; });
    receiver.SetDispatch([&](const ReplyRecord& r) { dispatched += r.payloadCount; });
    for (auto _ : state) {
        for (const uint8_t b : line) receiver.cm1ReceiveData(&b, 1);
    }
    benchmark::DoNotOptimize(dispatched);
    if (receiver.Stats().dispatched != static_cast<uint64_t>(state.range(0)) * state.iterations())
        state.SkipWithError("frames were lost");
    state.SetBytesProcessed(static_cast<int64_t>(line.size()) * state.iterations());
    state.SetComplexityN(static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_FrameReceiver_PerByte)->Arg(16)->Arg(160)->Arg(1600)->Complexity(benchmark::oN);

// The same bytes through DeviceSession::cm1ReceiveData, one byte per call as TComm delivers
// them: receiver, reply guard and dispatcher together.
void BM_SessionReceive_PerByte(benchmark::State& state) {
    const auto line = ReplyStream(static_cast<int>(state.range(0)), kInertCommand);
    NullPort port;
    QtTimeSource time;
    bench::BenchUserInterface ui;
    DeviceSettings settings(&ui);
    DeviceSession session(port, time, ui, settings);
    // TComm hands every byte over with the read thread's stamp of its chunk.
    const int64_t stamp = time.NowUs();
    for (auto _ : state) {
        for (const uint8_t b : line) session.cm1ReceiveData(&b, 1, stamp);
    }
    // The reply guard screens out every frame of a code no request waits for.
    const auto& taken = session.Receiver().Stats();
    if (taken.dispatched + taken.filtered !=
        static_cast<uint64_t>(state.range(0)) * state.iterations())
        state.SkipWithError("frames were lost");
    state.SetBytesProcessed(static_cast<int64_t>(line.size()) * state.iterations());
    state.SetComplexityN(static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_SessionReceive_PerByte)->Arg(16)->Arg(160)->Arg(1600)->Complexity(benchmark::oN);

// The worst case of the send tail: a block write whose every data byte needs an escape.
void BM_EscapeChecksum_WriteFrame(benchmark::State& state) {
    uint8_t data[kBlockSize];
    for (size_t i = 0; i < kBlockSize; ++i) data[i] = (i % 2) ? kFrameDelimiter : kEscapeByte;
    Bytes raw = BuildWriteBlockFrame(kPhoneBlockAddress, data);
    const size_t n = raw.size();  // 271
    size_t escapedSize = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(raw.data());
        const uint16_t sum = FrameChecksum(raw, 1, n - 4);
        raw[n - 3] = static_cast<uint8_t>(sum);
        raw[n - 2] = static_cast<uint8_t>(sum >> 8);
        const Bytes line = EscapeFrame(raw);
        escapedSize = line.size();
        benchmark::DoNotOptimize(line.data());
    }
    if (n != 271 || escapedSize < 2 * kBlockSize) state.SkipWithError("not the worst case");
    state.SetBytesProcessed(static_cast<int64_t>(n) * state.iterations());
    state.counters["escaped_bytes"] = static_cast<double>(escapedSize);
}
BENCHMARK(BM_EscapeChecksum_WriteFrame);

// Settings that every field of the four blocks can be written from: the defaults after a
// login as a sensor model, with every edit filled.
bool PrepareSettings(DeviceSettings& settings, ConfigImage& image) {
    ClearConfigImage(image);
    constexpr ConfigBlock kBlocks[] = {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock,
                                       ConfigBlock::GprsBlock, ConfigBlock::SystemBlock};
    for (const ConfigBlock b : kBlocks)
        if (ValidateBlock(b, settings) || !EncodeBlock(b, settings, image)) return false;
    for (const ConfigBlock b : kBlocks) DecodeBlock(b, image, settings);
    return true;
}

void BM_EncodeDecode_FourBlocks(benchmark::State& state) {
    DeviceSettings settings;
    auto image = std::make_unique<ConfigImage>();
    if (!PrepareSettings(settings, *image)) {
        state.SkipWithError("default settings cannot be encoded");
        return;
    }
    constexpr ConfigBlock kBlocks[] = {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock,
                                       ConfigBlock::GprsBlock, ConfigBlock::SystemBlock};
    bool ok = true;
    for (auto _ : state) {
        for (const ConfigBlock b : kBlocks) ok &= EncodeBlock(b, settings, *image);
        for (const ConfigBlock b : kBlocks) ok &= DecodeBlock(b, *image, settings);
        benchmark::DoNotOptimize(image->data());
    }
    if (!ok) state.SkipWithError("a block failed to encode or decode");
}
BENCHMARK(BM_EncodeDecode_FourBlocks)->Unit(benchmark::kMicrosecond);

// The demo simulator's history, made at its start: 2014 and the last 30 days.
void BM_DemoHistory_Generate(benchmark::State& state) {
    const QDate today(2026, 12, 9);
    size_t records = 0;
    for (auto _ : state) {
        const std::vector<sim::HistoryEntry> history = sim::DemoSite(today).History();
        records = history.size();
        benchmark::DoNotOptimize(history.data());
    }
    state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_DemoHistory_Generate)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
