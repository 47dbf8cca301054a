// The demo site: its history (coverage, gaps, curves, GPS track, page counts), its current
// readings through the simulated controller, and how both agree. The tool's own decoders
// read the pages and the current-data reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "DemoSite.h"
#include "SimController.h"
#include "operations/CurrentData.h"
#include "operations/HistoryPage.h"

namespace r4t8 {
namespace {

using sim::DemoSite;
using sim::HistoryEntry;

constexpr int64_t kDay = 86400;
const QDate kToday(2026, 12, 9);  // a Wednesday

// Built once: the checks below only read it.
const std::vector<HistoryEntry>& History() {
    static const std::vector<HistoryEntry> h = DemoSite(kToday).History();
    return h;
}

int64_t Seconds(const HistoryEntry& e) { return DemoSite::WallSeconds(e.time); }

std::vector<const HistoryEntry*> OnDay(const QDate& day) {
    std::vector<const HistoryEntry*> out;
    for (const HistoryEntry& e : History())
        if (e.time.date() == day) out.push_back(&e);
    return out;
}

double Km(double lon1, double lat1, double lon2, double lat2) {
    const double east = (lon2 - lon1) * 111.32 * std::cos((lat1 + lat2) / 2 * M_PI / 180);
    const double north = (lat2 - lat1) * 110.574;
    return std::hypot(east, north);
}

double BearingDeg(double lon1, double lat1, double lon2, double lat2) {
    const double east = (lon2 - lon1) * std::cos((lat1 + lat2) / 2 * M_PI / 180);
    const double d = std::atan2(east, lat2 - lat1) * 180 / M_PI;
    return d < 0 ? d + 360 : d;
}

TEST(DemoSite, SameDateSameRecords) {
    const std::vector<HistoryEntry> again = DemoSite(kToday).History();
    ASSERT_EQ(again.size(), History().size());
    // Another today changes the recent days, never 2014.
    const std::vector<HistoryEntry> later = DemoSite(kToday.addDays(40)).History();
    auto year2014 = [](const std::vector<HistoryEntry>& h) {
        std::vector<const HistoryEntry*> out;
        for (const HistoryEntry& e : h)
            if (e.time.date().year() == 2014) out.push_back(&e);
        return out;
    };
    const auto a = year2014(History()), b = year2014(later);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i]->time, b[i]->time);
        ASSERT_EQ(a[i]->sensors, b[i]->sensors);
        ASSERT_EQ(a[i]->gps, b[i]->gps);
        ASSERT_EQ(again[i].time, History()[i].time);
    }
}

TEST(DemoSite, RecordsEveryFiveMinutesWithGapsAndTodayIsWhole) {
    const DemoSite site(kToday);
    const auto& h = History();
    ASSERT_FALSE(h.empty());
    std::set<QDate> days;
    int gaps = 0, weekendGaps = 0;
    for (size_t i = 0; i < h.size(); ++i) {
        days.insert(h[i].time.date());
        if (i == 0) continue;
        const int64_t step = Seconds(h[i]) - Seconds(h[i - 1]);
        ASSERT_GT(step, 0) << "out of order at " << i;
        if (step == 300) continue;
        const bool betweenRanges =
            h[i - 1].time.date().year() == 2014 && h[i].time.date().year() != 2014;
        if (betweenRanges) continue;
        ++gaps;
        if (step > 24 * 3600) ++weekendGaps;
        // Switched off in between, on while recording.
        EXPECT_FALSE(site.Powered(Seconds(h[i - 1]) + step / 2))
            << h[i].time.toString().toStdString();
        EXPECT_TRUE(site.Powered(Seconds(h[i])));
        // After a gap the controller counts its interval from power-on, and the GPS has no
        // fix yet.
        EXPECT_FALSE(h[i].gps.has_value()) << h[i].time.toString().toStdString();
    }
    EXPECT_GT(gaps, 60);
    EXPECT_GE(weekendGaps, 52);    // every weekend of 2014 and of the last 30 days
    EXPECT_GT(gaps, weekendGaps);  // and lunch breaks switched off

    // 2014 whole, the last 30 days without their Sundays, nothing else.
    for (QDate d(2014, 1, 1); d.year() == 2014; d = d.addDays(1))
        EXPECT_EQ(days.count(d), d.dayOfWeek() == 7 ? 0u : 1u) << d.toString().toStdString();
    for (QDate d = kToday.addDays(-29); d <= kToday; d = d.addDays(1))
        EXPECT_EQ(days.count(d), d.dayOfWeek() == 7 ? 0u : 1u) << d.toString().toStdString();
    EXPECT_EQ(days.size(), 365u - 52u + 30u - 4u);

    // Today, the window's default range, from midnight to midnight.
    const auto today = OnDay(kToday);
    ASSERT_EQ(today.size(), 288u);
    EXPECT_LT(today.front()->time.time(), QTime(0, 5));
    EXPECT_GE(today.back()->time.time(), QTime(23, 55));
}

TEST(DemoSite, EveryRangeFitsSixteenBitPageCounts) {
    sim::SimHistory history;
    history.Replace(History());
    auto pages = [&](const QDate& from, const QDate& to) {
        const uint8_t range[6] = {uint8_t(from.year() % 100), uint8_t(from.month()),
                                  uint8_t(from.day()),        uint8_t(to.year() % 100),
                                  uint8_t(to.month()),        uint8_t(to.day())};
        return history.StartQuery(range);
    };
    // The widest range a query can name holds every record.
    const uint16_t all = pages(QDate(2000, 1, 1), QDate(2099, 12, 31));
    EXPECT_LT(all, 60000);
    EXPECT_GT(all, 20000);
    const uint16_t today = pages(kToday, kToday);
    EXPECT_GE(today, 50);

    // Every record of today arrives through the pages, as the tool parses them.
    HistoryTable table;
    for (uint16_t p = 1; p <= today; ++p) {
        const Bytes page = history.Page(p);
        const HistoryPageResult r = ParseHistoryPage(page.data(), page.size(), table);
        ASSERT_FALSE(r.undefinedItem);
    }
    ASSERT_EQ(table.size(), OnDay(kToday).size());
    const auto first = OnDay(kToday).front();
    EXPECT_EQ(table.front().hour, first->time.time().hour());
    EXPECT_FLOAT_EQ(static_cast<float>(table.front().sensor[1]), *first->sensors[1]);
}

// Values of sensor `k` on one day.
std::vector<float> Values(const QDate& day, int k) {
    std::vector<float> v;
    for (const HistoryEntry* e : OnDay(day)) v.push_back(*e->sensors[static_cast<size_t>(k)]);
    return v;
}

TEST(DemoSite, CurvesFollowTheDayAndTheRearSensorCrossesItsLimitsNowAndThen) {
    int daysAboveHigh = 0, workingDays = 0;
    double warmAfternoons = 0, coldNights = 0;
    int nights = 0;
    // Switched on again, the box is pulled down from the outside air for a while: the records
    // of the three hours after a time without records are not counted here.
    std::set<const HistoryEntry*> settling;
    int64_t switchedOn = 0;
    for (size_t i = 0; i < History().size(); ++i) {
        const int64_t t = Seconds(History()[i]);
        if (i > 0 && t - Seconds(History()[i - 1]) > 300) switchedOn = t;
        if (t - switchedOn < 3 * 3600) settling.insert(&History()[i]);
    }
    for (QDate d(2014, 1, 1); d.year() == 2014; d = d.addDays(1)) {
        const auto records = OnDay(d);
        if (records.empty()) continue;
        ++workingDays;
        bool above = false;
        for (const HistoryEntry* e : records) {
            if (settling.count(e)) continue;
            above = above || *e->sensors[1] > 8.0f;
            // The front of the box stays within its limits.
            ASSERT_GE(*e->sensors[0], 2.0f) << e->time.toString().toStdString();
            ASSERT_LE(*e->sensors[0], 8.0f) << e->time.toString().toStdString();
        }
        if (above) ++daysAboveHigh;
        for (const HistoryEntry* e : records) {
            const int hour = e->time.time().hour();
            if (hour == 15) warmAfternoons += *e->sensors[3];
            if (hour == 3) coldNights += *e->sensors[3];
            if (hour == 3) ++nights;
        }
    }
    // Above the high limit (8 °C) on some days, not on most.
    EXPECT_GT(daysAboveHigh, workingDays / 10);
    EXPECT_LT(daysAboveHigh, workingDays * 9 / 10);
    // The outside air is warmer in the afternoon than at night, by several degrees.
    EXPECT_GT((warmAfternoons - coldNights) / nights, 5.0);

    // Summer is warm outside, winter cold; the cargo stays chilled in both.
    auto mean = [](const std::vector<float>& v) {
        double s = 0;
        for (float x : v) s += x;
        return s / static_cast<double>(v.size());
    };
    EXPECT_GT(mean(Values(QDate(2014, 7, 16), 3)), 20.0);
    EXPECT_LT(mean(Values(QDate(2014, 1, 15), 3)), 5.0);
    for (const QDate& d : {QDate(2014, 7, 16), QDate(2014, 1, 15), kToday}) {
        const std::vector<float> front = Values(d, 0);
        EXPECT_NEAR(mean(front), 4.0, 1.0) << d.toString().toStdString();
        // Not a flat line: the unit's cycle and noise.
        const auto [lo, hi] = std::minmax_element(front.begin(), front.end());
        EXPECT_GT(*hi - *lo, 0.5);
    }
}

TEST(DemoSite, DoorOpeningsWarmTheRearFirst) {
    const DemoSite site(kToday);
    const int64_t day = QDate(1970, 1, 1).daysTo(QDate(2014, 7, 16));
    const DemoSite::DayPlan plan = site.PlanFor(day);
    ASSERT_GE(plan.doors.size(), 6u);
    int warmed = 0;
    for (const DemoSite::DoorOpen& door : plan.doors) {
        const auto before = site.ReadingAt(door.start - 60).sensors;
        const auto during = site.ReadingAt(door.end).sensors;
        if (during[1] - before[1] > 1.0f) ++warmed;
        // The front of the box feels less of it than the rear.
        EXPECT_LT(during[0] - before[0], during[1] - before[1] + 0.3f);
    }
    EXPECT_GE(warmed, static_cast<int>(plan.doors.size()) / 2);
}

TEST(DemoSite, GpsTrackIsARouteDrivenAtItsOwnSpeedAndHeading) {
    const DemoSite site(kToday);
    int withFix = 0, withoutFix = 0, moving = 0, speedAgrees = 0, headingAgrees = 0;
    for (const HistoryEntry& e : History()) {
        if (!e.gps) {
            ++withoutFix;
            continue;
        }
        ++withFix;
        const auto& g = *e.gps;
        const double lon = g[0] / 1e6, lat = g[1] / 1e6;
        ASSERT_TRUE(lon > 116.2 && lon < 116.5 && lat > 39.75 && lat < 40.0) << lon << "," << lat;
        ASSERT_LT(g[3], 3600u);
        ASSERT_LT(g[2], 1200u);    // below 120 km/h
        if (g[2] < 150) continue;  // slow: the position jitter would decide the bearing
        // Where it was half a minute before and is half a minute after.
        const int64_t t = Seconds(e);
        const auto a = site.ReadingAt(t - 30).gps, b = site.ReadingAt(t + 30).gps;
        if (!a || !b) continue;
        ++moving;
        const double km = Km((*a)[0] / 1e6, (*a)[1] / 1e6, (*b)[0] / 1e6, (*b)[1] / 1e6);
        const double kmh = km / 60 * 3600;
        if (std::abs(kmh - g[2] / 10.0) < 0.35 * g[2] / 10.0 + 3) ++speedAgrees;
        const double bearing =
            BearingDeg((*a)[0] / 1e6, (*a)[1] / 1e6, (*b)[0] / 1e6, (*b)[1] / 1e6);
        double diff = std::fabs(bearing - g[3] / 10.0);
        diff = std::min(diff, 360 - diff);
        if (diff < 20) ++headingAgrees;
    }
    EXPECT_GT(moving, 5000);
    EXPECT_GT(speedAgrees, moving * 9 / 10);
    EXPECT_GT(headingAgrees, moving * 9 / 10);
    // Some records have no fix (after power-on, in underpasses, between high buildings).
    EXPECT_GT(withoutFix, withFix / 200);
    EXPECT_LT(withoutFix, withFix / 10);

    // Standing overnight at the depot: zero speed, one place.
    const auto night = site.ReadingAt(DemoSite::WallSeconds(QDateTime(kToday, QTime(2, 0)))).gps;
    const auto later = site.ReadingAt(DemoSite::WallSeconds(QDateTime(kToday, QTime(3, 0)))).gps;
    ASSERT_TRUE(night && later);
    EXPECT_EQ((*night)[2], 0u);
    EXPECT_LT(Km((*night)[0] / 1e6, (*night)[1] / 1e6, (*later)[0] / 1e6, (*later)[1] / 1e6), 0.01);
}

Bytes CurrentDataAt(sim::SimController& c, const QDateTime& wallTime) {
    sim::Moment now;
    now.monoMs = 0;
    now.localNow = QDateTime(wallTime.date(), wallTime.time());
    const auto reply = c.Handle(cmd_current_data, {}, now);
    EXPECT_TRUE(reply.has_value());
    return reply ? *reply : Bytes{};
}

TEST(DemoSite, CurrentReadingsAreTheHistoryAtThatMomentAndDrift) {
    sim::SimController controller{sim::ControllerSettings{}};
    controller.SetSite(std::make_shared<const DemoSite>(kToday));
    // At the moment of a record the controller reports exactly what it recorded.
    const auto today = OnDay(kToday);
    for (size_t i = 0; i < today.size(); i += 37) {
        const HistoryEntry& e = *today[i];
        SCOPED_TRACE(e.time.toString().toStdString());
        const Bytes reply = CurrentDataAt(controller, e.time);
        const CurrentDataDecode d = DecodeCurrentData(reply.data(), reply.size());
        ASSERT_FALSE(d.undefinedItem);
        for (size_t k = 0; k < 4; ++k) {
            ASSERT_EQ(d.snapshot.sensorPresent[k], 1);
            EXPECT_FLOAT_EQ(static_cast<float>(d.snapshot.sensor[k]), *e.sensors[k]);
        }
        if (e.gps) {
            EXPECT_EQ(d.snapshot.longitude, (*e.gps)[0]);
            EXPECT_EQ(d.snapshot.latitude, (*e.gps)[1]);
            EXPECT_EQ(d.snapshot.speed, (*e.gps)[2]);
            EXPECT_EQ(d.snapshot.direction, (*e.gps)[3]);
        } else {
            EXPECT_EQ(d.snapshot.longitude, kGpsNotReceived);
        }
        EXPECT_DOUBLE_EQ(d.snapshot.power, 1.0);
    }

    // Polled every five seconds for ten minutes, the supply air moves with the unit's cycle.
    const QDateTime start(kToday, QTime(15, 0));
    float lo = 1e9f, hi = -1e9f;
    int changes = 0;
    float last = 0;
    for (int s = 0; s < 600; s += 5) {
        const Bytes reply = CurrentDataAt(controller, start.addSecs(s));
        const auto snap = DecodeCurrentData(reply.data(), reply.size()).snapshot;
        const auto supply = static_cast<float>(snap.sensor[2]);
        lo = std::min(lo, supply);
        hi = std::max(hi, supply);
        if (s > 0 && supply != last) ++changes;
        last = supply;
    }
    EXPECT_GT(hi - lo, 1.0f);
    EXPECT_GT(changes, 30);

    // Without the site: the fixed readings as before.
    sim::SimController blank{sim::ControllerSettings{}};
    const Bytes fixed = CurrentDataAt(blank, start);
    const auto snap = DecodeCurrentData(fixed.data(), fixed.size()).snapshot;
    EXPECT_DOUBLE_EQ(snap.sensor[0], 25.5);
    EXPECT_EQ(snap.longitude, 116397128u);
}

TEST(DemoSite, TheControllersClockDecidesTheMoment) {
    sim::SimController controller{sim::ControllerSettings{}};
    controller.SetSite(std::make_shared<const DemoSite>(kToday));
    const QDateTime pc(kToday, QTime(10, 0));
    const HistoryEntry& e = *OnDay(kToday.addDays(-1))[100];
    // Set the device clock to a record's moment of yesterday, then ask at once.
    const QDateTime t = e.time;
    const Bytes set = {uint8_t(t.date().year() % 100), uint8_t(t.date().month()),
                       uint8_t(t.date().day()),        uint8_t(t.time().hour()),
                       uint8_t(t.time().minute()),     uint8_t(t.time().second())};
    sim::Moment now;
    now.localNow = QDateTime(pc.date(), pc.time());
    ASSERT_EQ(controller.Handle(cmd_set_time, set, now), Bytes{1});
    const Bytes reply = CurrentDataAt(controller, pc);
    const auto snap = DecodeCurrentData(reply.data(), reply.size()).snapshot;
    for (size_t k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(static_cast<float>(snap.sensor[k]), *e.sensors[k]);
    EXPECT_EQ(snap.longitude, e.gps ? (*e.gps)[0] : kGpsNotReceived);
}

}  // namespace
}  // namespace r4t8
