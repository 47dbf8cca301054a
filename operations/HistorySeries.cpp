#include "operations/HistorySeries.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <limits>

namespace r4t8 {

namespace {

constexpr uint32_t kAbsent = 0xFFFFFFFF;
// A step between records this many times their usual spacing (and at least the minimum) is a
// time without records, a controller switched off: drawn as a gap, not a line across it.
constexpr double kGapFactor = 3.0;
constexpr double kMinGapMs = 10 * 60 * 1000.0;

double JoinLimitMs(const std::vector<std::optional<int64_t>>& times) {
    std::vector<int64_t> steps;
    std::optional<int64_t> previous;
    for (const std::optional<int64_t>& at : times) {
        if (!at) continue;
        if (previous && *at > *previous) steps.push_back(*at - *previous);
        previous = at;
    }
    if (steps.empty()) return std::numeric_limits<double>::infinity();
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    return std::max(kMinGapMs, kGapFactor * static_cast<double>(*middle));
}

// Collects the runs of one series.
class SegmentCollector {
  public:
    void Add(double x, double y) {
        if (!m_open) {
            m_series.emplace_back();
            m_open = true;
        }
        m_series.back().emplace_back(x, y);
    }
    void Break() { m_open = false; }
    void AddOrBreak(bool present, double x, double y) {
        if (present && std::isfinite(x) && std::isfinite(y))
            Add(x, y);
        else
            Break();
    }
    SegmentedSeries Take() { return std::move(m_series); }

  private:
    SegmentedSeries m_series;
    bool m_open = false;
};

}  // namespace

std::optional<int64_t> RecordTimeMs(const HistoryRecord& record) {
    const QDate date(2000 + record.year, record.month, record.day);
    const QTime time(record.hour, record.minute, record.second);
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    const QDateTime at(date, time);
    // A local time skipped by a daylight-saving change is no moment either.
    if (!at.isValid()) return std::nullopt;
    return at.toMSecsSinceEpoch();
}

HistorySeries BuildHistorySeries(const HistoryTable& table) {
    HistorySeries out;
    std::array<SegmentCollector, 4> sensors;
    SegmentCollector speed;
    SegmentCollector track;
    std::vector<std::optional<int64_t>> times;
    times.reserve(table.size());
    for (const HistoryRecord& r : table) times.push_back(RecordTimeMs(r));
    const double joinLimitMs = JoinLimitMs(times);
    std::optional<double> previous;
    for (size_t i = 0; i < table.size(); ++i) {
        const HistoryRecord& r = table[i];
        // Position needs no time stamp: the track is drawn in the order it was recorded.
        track.AddOrBreak(r.longitude != kAbsent && r.latitude != kAbsent, r.longitude / 1e6,
                         r.latitude / 1e6);
        const std::optional<int64_t> at = times[i];
        if (!at) {
            ++out.badTimeRecords;
            for (SegmentCollector& s : sensors) s.Break();
            speed.Break();
            continue;
        }
        const double x = static_cast<double>(*at);
        if (previous && x - *previous > joinLimitMs) {
            for (SegmentCollector& s : sensors) s.Break();
            speed.Break();
        }
        previous = x;
        for (int i = 0; i < 4; ++i) sensors[i].AddOrBreak(r.sensorPresent[i] != 0, x, r.sensor[i]);
        speed.AddOrBreak(r.speed != kAbsent, x, r.speed / 10.0);
    }
    for (int i = 0; i < 4; ++i) out.sensors[i] = sensors[i].Take();
    out.speed = speed.Take();
    out.track = track.Take();
    return out;
}

void LiveReadings::Add(int64_t atMs, const CurrentDataSnapshot& snapshot) {
    if (!m_samples.empty() && atMs < m_samples.back().atMs) m_samples.clear();
    Sample sample;
    sample.atMs = atMs;
    for (int i = 0; i < 4; ++i) {
        if (snapshot.sensorPresent[i] && std::isfinite(snapshot.sensor[i]))
            sample.sensor[i] = snapshot.sensor[i];
    }
    m_samples.push_back(sample);
    while (!m_samples.empty() && m_samples.front().atMs < atMs - kWindowMs) m_samples.pop_front();
}

std::array<SegmentedSeries, 4> LiveReadings::Series() const {
    std::array<SegmentedSeries, 4> out;
    for (int i = 0; i < 4; ++i) {
        SegmentCollector collector;
        int64_t previous = 0;
        bool first = true;
        for (const Sample& s : m_samples) {
            if (!first && s.atMs - previous > m_joinMs) collector.Break();
            first = false;
            previous = s.atMs;
            const bool present = s.sensor[i].has_value();
            collector.AddOrBreak(present, static_cast<double>(s.atMs),
                                 present ? *s.sensor[i] : 0.0);
        }
        out[i] = collector.Take();
    }
    return out;
}

}  // namespace r4t8
