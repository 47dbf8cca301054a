// Chart series from history records and live readings, and the poller's timing, without a
// window: absent values must be gaps, never zeros, and a poll must never overlap a request.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "operations/HistorySeries.h"
#include "operations/LivePoller.h"
#include "tests/support/FakeTimeSource.h"

namespace r4t8::testing {
namespace {

HistoryRecord At(int minute) {
    HistoryRecord r;
    r.year = 24;
    r.month = 5;
    r.day = 6;
    r.hour = 10;
    r.minute = static_cast<uint8_t>(minute);
    return r;
}

std::vector<size_t> Lengths(const SegmentedSeries& s) {
    std::vector<size_t> out;
    for (const SeriesSegment& seg : s) out.push_back(seg.size());
    return out;
}

double Ms(int minute) {
    return static_cast<double>(QDateTime(QDate(2024, 5, 6), QTime(10, minute)).toMSecsSinceEpoch());
}

TEST(HistorySeriesTest, AbsentSensorValuesSplitTheLine) {
    // presence per record for sensors 1..4, and the runs each sensor must be drawn as
    const int present[5][4] = {
        {1, 1, 0, 0}, {1, 0, 0, 1}, {1, 1, 0, 0}, {1, 1, 0, 1}, {1, 0, 0, 0}};
    const std::vector<size_t> runs[4] = {{5}, {1, 2}, {}, {1, 1}};
    HistoryTable table;
    for (int i = 0; i < 5; ++i) {
        HistoryRecord r = At(i);
        for (int s = 0; s < 4; ++s) {
            r.sensorPresent[s] = static_cast<uint8_t>(present[i][s]);
            r.sensor[s] = present[i][s] ? 10.0 * (s + 1) + i : 0.0;
        }
        table.push_back(r);
    }
    const HistorySeries series = BuildHistorySeries(table);
    for (int s = 0; s < 4; ++s)
        EXPECT_EQ(Lengths(series.sensors[s]), runs[s]) << "sensor " << s + 1;
    // No zero from an absent record sneaks into a run.
    ASSERT_EQ(series.sensors[1].size(), 2u);
    EXPECT_EQ(series.sensors[1][1][0], QPointF(Ms(2), 22.0));
    EXPECT_EQ(series.sensors[1][1][1], QPointF(Ms(3), 23.0));
    EXPECT_EQ(series.sensors[0][0][4], QPointF(Ms(4), 14.0));
    EXPECT_EQ(series.badTimeRecords, 0u);
}

TEST(HistorySeriesTest, SpeedAndTrackAreScaledAndGapped) {
    HistoryTable table;
    const struct {
        uint32_t speed, lon, lat;
    } rows[] = {{125, 116397128, 39916527},
                {0xFFFFFFFF, 116397200, 39916600},
                {0, 0xFFFFFFFF, 39916700},
                {300, 116397400, 39916800}};
    for (int i = 0; i < 4; ++i) {
        HistoryRecord r = At(i);
        r.speed = rows[i].speed;
        r.longitude = rows[i].lon;
        r.latitude = rows[i].lat;
        table.push_back(r);
    }
    const HistorySeries series = BuildHistorySeries(table);
    EXPECT_EQ(Lengths(series.speed), (std::vector<size_t>{1, 2}));
    EXPECT_DOUBLE_EQ(series.speed[0][0].y(), 12.5);
    EXPECT_DOUBLE_EQ(series.speed[1][0].y(), 0.0);  // a real zero stays a point
    EXPECT_DOUBLE_EQ(series.speed[1][1].y(), 30.0);
    EXPECT_EQ(Lengths(series.track), (std::vector<size_t>{2, 1}));
    EXPECT_DOUBLE_EQ(series.track[0][0].x(), 116.397128);
    EXPECT_DOUBLE_EQ(series.track[0][0].y(), 39.916527);
    for (const SegmentedSeries& s : series.sensors) EXPECT_TRUE(s.empty());
}

TEST(HistorySeriesTest, ImpossibleStampsAndValuesAreGaps) {
    HistoryTable table;
    for (int i = 0; i < 4; ++i) {
        HistoryRecord r = At(i);
        r.sensorPresent[0] = 1;
        r.sensor[0] = i;
        r.longitude = 116000000 + i;
        r.latitude = 39000000;
        table.push_back(r);
    }
    table[1].month = 13;  // no such month: no moment to draw it at
    table[3].sensor[0] = std::numeric_limits<double>::quiet_NaN();
    const HistorySeries series = BuildHistorySeries(table);
    EXPECT_EQ(series.badTimeRecords, 1u);
    EXPECT_EQ(Lengths(series.sensors[0]), (std::vector<size_t>{1, 1}));
    // The position needs no time: the track runs on.
    EXPECT_EQ(Lengths(series.track), (std::vector<size_t>{4}));
    EXPECT_FALSE(RecordTimeMs(table[1]).has_value());
    EXPECT_TRUE(BuildHistorySeries({}).track.empty());
}

TEST(HistorySeriesTest, ATimeWithoutRecordsIsAGapButTheirUsualSpacingIsNot) {
    struct Case {
        std::vector<int> minutes;  // of the records, from 10:00
        std::vector<size_t> runs;
    };
    const Case cases[] = {
        {{0, 5, 10, 15, 55, 60, 65}, {4, 3}},  // every 5 minutes, switched off for 40
        {{0, 5, 10, 15, 25}, {5}},             // one missed record: 10 minutes is no gap
        {{0, 1, 2, 3, 14, 15}, {4, 2}},        // every minute: 11 minutes is one
        {{0, 30, 60, 90, 120}, {5}},           // every half hour: that is the spacing
        {{0, 40}, {2}},                        // two records: nothing to compare with
    };
    for (const Case& c : cases) {
        HistoryTable table;
        for (int minute : c.minutes) {
            HistoryRecord r = At(0);
            r.hour = static_cast<uint8_t>(10 + minute / 60);
            r.minute = static_cast<uint8_t>(minute % 60);
            r.sensorPresent[0] = 1;
            r.sensor[0] = minute;
            r.speed = 100;
            r.longitude = 116000000;
            r.latitude = 39000000;
            table.push_back(r);
        }
        const HistorySeries series = BuildHistorySeries(table);
        SCOPED_TRACE(c.minutes.back());
        EXPECT_EQ(Lengths(series.sensors[0]), c.runs);
        EXPECT_EQ(Lengths(series.speed), c.runs);
        // The truck stood where it was: the track runs on.
        EXPECT_EQ(Lengths(series.track), std::vector<size_t>{c.minutes.size()});
    }
}

CurrentDataSnapshot Reading(double s1, bool s2Present = true) {
    CurrentDataSnapshot snap;
    snap.sensor[0] = s1;
    snap.sensorPresent[0] = 1;
    snap.sensor[1] = 5;
    snap.sensorPresent[1] = s2Present ? 1 : 0;
    return snap;
}

TEST(LiveReadingsTest, KeepsTenMinutesAndBreaksAtPausesAndGaps) {
    LiveReadings live;
    for (int i = 0; i <= 130; ++i) live.Add(i * 5000LL, Reading(i));  // 0 .. 650 s
    ASSERT_FALSE(live.Samples().empty());
    EXPECT_EQ(live.Samples().front().atMs, 650000 - LiveReadings::kWindowMs);
    EXPECT_EQ(live.Samples().size(), 121u);

    live.Add(700000, Reading(1));         // 50 s later: polling paused meanwhile
    live.Add(705000, Reading(2, false));  // sensor 2 absent
    live.Add(710000, Reading(3));
    const auto series = live.Series();
    EXPECT_EQ(Lengths(series[0]), (std::vector<size_t>{109, 3}));
    EXPECT_EQ(Lengths(series[1]), (std::vector<size_t>{109, 1, 1}));
    EXPECT_TRUE(series[2].empty());

    live.Add(1000, Reading(9));  // the wall clock went back
    EXPECT_EQ(live.Samples().size(), 1u);
}

struct PollerRig {
    FakeTimeSource time;
    bool busy = false;
    int polls = 0;
    LivePoller poller{time, [this] { return busy; }, [this] { ++polls; }};
};

TEST(LivePollerTest, PollsAtOnceThenEveryInterval) {
    PollerRig rig;
    rig.poller.SetIntervalSeconds(5);
    rig.poller.Start();
    EXPECT_EQ(rig.polls, 1);
    rig.time.Advance(4999);
    EXPECT_EQ(rig.polls, 1);
    rig.time.Advance(1);
    EXPECT_EQ(rig.polls, 2);
    rig.time.Advance(20000);
    EXPECT_EQ(rig.polls, 6);
    rig.poller.Stop();
    rig.time.Advance(60000);
    EXPECT_EQ(rig.polls, 6);
    EXPECT_FALSE(rig.poller.Active());
}

TEST(LivePollerTest, WaitsWhileBusyAndResumesAfter) {
    PollerRig rig;
    rig.busy = true;
    rig.poller.Start();
    EXPECT_EQ(rig.polls, 0);
    EXPECT_TRUE(rig.poller.Waiting());
    rig.time.Advance(30000);
    EXPECT_EQ(rig.polls, 0);  // never while the line is taken
    rig.busy = false;
    rig.time.Advance(LivePoller::kRetryMs);
    EXPECT_EQ(rig.polls, 1);
    EXPECT_FALSE(rig.poller.Waiting());
    // The next interval counts from that poll.
    rig.time.Advance(LivePoller::kDefaultSeconds * 1000 - 1);
    EXPECT_EQ(rig.polls, 1);
    rig.time.Advance(1);
    EXPECT_EQ(rig.polls, 2);
}

TEST(LivePollerTest, IntervalIsClamped) {
    PollerRig rig;
    const int cases[][2] = {{0, 1}, {-3, 1}, {7, 7}, {99999, LivePoller::kMaxSeconds}};
    for (const auto& c : cases) {
        rig.poller.SetIntervalSeconds(c[0]);
        EXPECT_EQ(rig.poller.IntervalSeconds(), c[1]) << c[0];
    }
}

}  // namespace
}  // namespace r4t8::testing
