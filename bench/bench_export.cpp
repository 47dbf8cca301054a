// The history export: workbook and CSV file of a downloaded table.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdint>

#include "BenchSupport.h"
#include "operations/HistoryExport.h"
#include "operations/HistoryQuery.h"
#include "protocol/QtTimeSource.h"

namespace {

using namespace r4t8;

// Records as a logging controller stores them: one every ten minutes from 2014-01-01, all
// four sensors and a GPS fix, values that change from record to record.
HistoryTable MakeTable(int count) {
    HistoryTable table(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        HistoryRecord& r = table[static_cast<size_t>(i)];
        const int minutes = i * 10;
        const int day = minutes / 1440;
        r.year = static_cast<uint16_t>(14 + day / 336);
        r.month = static_cast<uint8_t>(1 + (day / 28) % 12);
        r.day = static_cast<uint8_t>(1 + day % 28);
        r.hour = static_cast<uint8_t>((minutes / 60) % 24);
        r.minute = static_cast<uint8_t>(minutes % 60);
        r.second = static_cast<uint8_t>(i % 60);
        for (int s = 0; s < 4; ++s) {
            r.sensor[s] = -20.0 + 0.25 * ((i * (s + 3)) % 400);
            r.sensorPresent[s] = 1;
        }
        r.longitude = 116397128u + static_cast<uint32_t>(i % 5000);
        r.latitude = 39916527u + static_cast<uint32_t>(i % 7000);
        r.speed = static_cast<uint32_t>(i % 1200);
        r.direction = static_cast<uint32_t>((i * 7) % 3600);
    }
    return table;
}

void BM_Export(benchmark::State& state) {
    const HistoryTable table = MakeTable(static_cast<int>(state.range(0)));
    QTemporaryDir dir;
    bench::BenchUserInterface ui;
    QtTimeSource time;
    HistoryExport exporter(ui, ui, time);
    const ExportFolders folders{dir.path(), dir.path()};
    const auto never = [] { return false; };
    for (auto _ : state) {
        if (exporter.Run(table, never, folders) != Outcome::Succeeded) {
            state.SkipWithError("export failed");
            return;
        }
    }
    const qint64 bytes =
        QFileInfo(exporter.WorkbookPath()).size() + QFileInfo(exporter.CsvPath()).size();
    state.counters["file_bytes"] = static_cast<double>(bytes);
    state.SetItemsProcessed(state.range(0) * state.iterations());
    state.SetComplexityN(state.range(0));
}
// The two figures: a day-sized download and a large one.
BENCHMARK(BM_Export)
    ->Name("BM_Export/figure")
    ->Arg(1025)
    ->Arg(100000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
// Growth with the number of records.
BENCHMARK(BM_Export)
    ->Name("BM_Export/growth")
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
