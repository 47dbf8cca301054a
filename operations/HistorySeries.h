// Chart series of downloaded history records and of live readings: data only, no widgets,
// so that what the charts draw can be checked without a window.
#pragma once

#include <QPointF>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "operations/CurrentData.h"
#include "operations/HistoryQuery.h"

namespace r4t8 {

// A run of points drawn as one line; an absent value ends the run, so the chart shows a gap
// rather than a made-up zero. So does a time without records (the controller switched off):
// a step of more than three times the records' usual spacing, and at least ten minutes.
using SeriesSegment = std::vector<QPointF>;
using SegmentedSeries = std::vector<SeriesSegment>;

struct HistorySeries {
    std::array<SegmentedSeries, 4> sensors;  // x: ms since the epoch (local time), y: value
    SegmentedSeries speed;                   // x: ms since the epoch, y: km/h
    SegmentedSeries track;                   // x: longitude, y: latitude, in degrees
    size_t badTimeRecords = 0;               // stamps that name no real date and time
};

// The moment a record was taken, as ms since the epoch; nullopt for an impossible stamp.
std::optional<int64_t> RecordTimeMs(const HistoryRecord& record);

HistorySeries BuildHistorySeries(const HistoryTable& table);

// The live readings of the last ten minutes, oldest first.
class LiveReadings {
  public:
    static constexpr int64_t kWindowMs = 10 * 60 * 1000;
    static constexpr int64_t kDefaultJoinMs = 30 * 1000;

    struct Sample {
        int64_t atMs = 0;
        std::array<std::optional<double>, 4> sensor;
    };

    // Adds the readings of one reply taken at `atMs` (wall clock) and forgets those that fell
    // out of the window. A clock that went back starts the record afresh.
    void Add(int64_t atMs, const CurrentDataSnapshot& snapshot);
    void Clear() { m_samples.clear(); }
    // Samples further apart than this are not joined by a line (polling paused meanwhile).
    void SetJoinLimitMs(int64_t ms) { m_joinMs = ms; }

    const std::deque<Sample>& Samples() const { return m_samples; }
    std::array<SegmentedSeries, 4> Series() const;

  private:
    std::deque<Sample> m_samples;
    int64_t m_joinMs = kDefaultJoinMs;
};

}  // namespace r4t8
