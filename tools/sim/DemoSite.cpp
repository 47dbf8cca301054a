#include "DemoSite.h"

#include <algorithm>
#include <cmath>

#include "DemoProfile.h"
#include "DemoRoute.h"

namespace r4t8::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int64_t kMinute = 60;
constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 86400;
constexpr int64_t kRecordSeconds = kDemoRecordMinutes * kMinute;

constexpr double kSetPoint = 4.0;                // °C: chilled goods, alarm limits 2 and 8
constexpr double kDockAir = 14.0;                // °C at the depot's loading dock, all year
constexpr int64_t kCycleSeconds = 50 * kMinute;  // the unit's thermostat, on and off
constexpr int64_t kDefrostSeconds = 24 * kMinute;
// After power-on the box is back at its set point within this; later it no longer counts.
constexpr int64_t kPullDownSeconds = 3 * kHour;
constexpr int64_t kColdStartSeconds = 150;  // the GPS has no fix yet

// One stream of deterministic noise per quantity.
enum Stream : uint64_t {
    kLoadStart = 1,
    kLoadK,
    kLoadLength,
    kDeparture,
    kSpeed,
    kDwell,
    kDoorDelay,
    kDoorLength,
    kDoorK,
    kLongDoor,
    kReturnLength,
    kReturnK,
    kAfternoon,
    kAfternoonStart,
    kEveningStart,
    kEveningLength,
    kEveningK,
    kDefrost,
    kLunch,
    kLunchStart,
    kLunchLength,
    kWeekendOff,
    kWeekendOn,
    kWeather,
    kWeatherHours,
    kWeatherFast,
    kGusts,
    kSupplyFlutter,
    kCargoFlutter,
    kFrontDrift,
    kRearDrift,
    kSupplyDrift,
    kFine,
    kGpsDrop,
    kJitterLon,
    kJitterLat,
    kSpeedNoise,
    kHeadingNoise,
};

uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The `index`-th value of a stream, uniform in [0, 1): the same for the same index, always.
double Unit(uint64_t stream, int64_t index) {
    return static_cast<double>(Mix(Mix(stream) ^ static_cast<uint64_t>(index)) >> 11) * 0x1p-53;
}

double Between(uint64_t stream, int64_t index, double lo, double hi) {
    return lo + (hi - lo) * Unit(stream, index);
}

double Signed(uint64_t stream, int64_t index) { return 2 * Unit(stream, index) - 1; }

// Noise that drifts smoothly: random values at whole `x`, eased from one to the next.
double Smooth(uint64_t stream, double x) {
    const double i = std::floor(x);
    const double a = Signed(stream, static_cast<int64_t>(i));
    const double b = Signed(stream, static_cast<int64_t>(i) + 1);
    const double w = (1 - std::cos(kPi * (x - i))) / 2;
    return a + (b - a) * w;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t DayOf(int64_t t) { return FloorDiv(t, kDay); }
// 1 Monday .. 7 Sunday; 1970-01-01 was a Thursday.
int Weekday(int64_t day) { return static_cast<int>(((day % 7) + 7 + 3) % 7) + 1; }
int64_t Minutes(double m) { return std::llround(m * kMinute); }
int64_t DayNumber(const QDate& date) { return QDate(1970, 1, 1).daysTo(date); }

// Beijing: about -3 °C in January and 27 °C in July, coldest before dawn and warmest in the
// early afternoon, 10 °C apart, and weather that comes and goes over days and hours.
double OutsideAir(int64_t t) {
    const double days = static_cast<double>(t) / kDay;
    const double dayOfYear = std::fmod(days, 365.2425);
    const double season = 12.0 - 15.0 * std::cos(2 * kPi * (dayOfYear - 15) / 365.2425);
    const double hour = static_cast<double>(t - DayOf(t) * kDay) / kHour;
    // Up from 05:00 to 14:30, down slower until 05:00 the next day.
    const double sinceDawn = std::fmod(hour - 5 + 24, 24);
    const double daily = sinceDawn < 9.5 ? -std::cos(kPi * sinceDawn / 9.5)
                                         : std::cos(kPi * (sinceDawn - 9.5) / 14.5);
    const double weather = 4.0 * Smooth(kWeather, days / 2.5) +
                           1.5 * Smooth(kWeatherHours, static_cast<double>(t) / (3 * kHour)) +
                           0.6 * Smooth(kWeatherFast, static_cast<double>(t) / 1200) +
                           0.35 * Smooth(kGusts, static_cast<double>(t) / 30);
    return season + 5.0 * daily + weather;
}

bool RushHour(int64_t t) {
    const int64_t s = t - DayOf(t) * kDay;
    return (s >= 7 * kHour && s < 9 * kHour + 30 * kMinute) || (s >= 17 * kHour && s < 19 * kHour);
}

// The thermostat cycle of the refrigeration unit, from 1 (warmest) to -1 (coldest): it cools
// fast while running and warms slowly while off; the warmer outside, the longer it runs.
double Cycle(int64_t t, double lagShare, double onShare) {
    double phase =
        static_cast<double>((t % kCycleSeconds + kCycleSeconds) % kCycleSeconds) / kCycleSeconds -
        lagShare;
    if (phase < 0) phase += 1;
    if (phase < onShare) {
        const double x = phase / onShare;
        return 1 - 2 * (1 - std::exp(-4 * x)) / (1 - std::exp(-4.0));
    }
    return -1 + 2 * (phase - onShare) / (1 - onShare);
}

// How far the air at the rear door has moved from the set point towards the air outside it.
double DoorEffect(int64_t t, const DemoSite::DoorOpen& door, double outside) {
    if (t < door.start) return 0;
    const double full = ((door.dock ? kDockAir : outside) - kSetPoint) * door.k;
    const auto open = static_cast<double>(std::min(t, door.end) - door.start);
    const double reached = full * (1 - std::exp(-open / 360.0));
    if (t <= door.end) return reached;
    const auto closed = static_cast<double>(t - door.end);
    return closed > 2 * kHour ? 0 : reached * std::exp(-closed / 720.0);
}

// The air in the cargo space as the unit and the doors make it, before the probes read it.
struct BoxAir {
    double supply = 0;
    double front = 0;
    double rear = 0;
};

// The unit's thermostat cycle, its defrosts and the doors of the day's plan.
BoxAir PlannedAir(int64_t t, const DemoSite::DayPlan& plan, double outside) {
    const double onShare = std::clamp(0.3 + 0.012 * (outside - kSetPoint), 0.15, 0.75);
    // The supply air follows the unit at once; the cargo follows a little later and less.
    BoxAir air;
    air.supply = 0.3 + 1.6 * Cycle(t, 0.0, onShare);
    air.front = kSetPoint + 0.35 * Cycle(t, 0.10, onShare);
    air.rear = kSetPoint + 0.6 + 0.5 * Cycle(t, 0.15, onShare);
    for (const int64_t start : plan.defrosts) {
        const double x = static_cast<double>(t - start) / kDefrostSeconds;
        if (x < 0 || x >= 1) continue;
        const double heat = std::sin(kPi * x);
        air.supply += 8.0 * heat;
        air.front += 0.6 * heat;
        air.rear += 0.3 * heat;
    }
    double door = 0;
    for (const DemoSite::DoorOpen& d : plan.doors) door += DoorEffect(t, d, outside);
    air.rear += door;
    air.front += 0.3 * door;
    air.supply += 0.45 * door;
    return air;
}

// Switched off, the box drifted towards the outside air; the unit pulls it down again.
void AddPullDown(BoxAir& air, int64_t sinceOn, int64_t onAt, int64_t gapSeconds) {
    if (sinceOn < 0 || sinceOn >= kPullDownSeconds || gapSeconds <= 0) return;
    const double drift = 1 - std::exp(-static_cast<double>(gapSeconds) / (3 * kHour));
    const double atOn = OutsideAir(onAt);
    const double cargo = (atOn - kSetPoint) * drift * std::exp(-sinceOn / 1500.0);
    air.front += cargo;
    air.rear += cargo;
    air.supply += (atOn - 0.3) * drift * std::exp(-sinceOn / 600.0);
}

// Slow drifts of each probe and the air moving past them, from one poll to the next.
void AddDrift(BoxAir& air, int64_t t) {
    air.front += 0.12 * Smooth(kFrontDrift, static_cast<double>(t) / 2400);
    air.rear += 0.15 * Smooth(kRearDrift, static_cast<double>(t) / 2100);
    air.supply += 0.2 * Smooth(kSupplyDrift, static_cast<double>(t) / 900);
    air.supply += 0.4 * Smooth(kSupplyFlutter, static_cast<double>(t) / 20);
    air.front += 0.05 * Smooth(kCargoFlutter, static_cast<double>(t) / 45);
    air.rear += 0.07 * Smooth(kCargoFlutter + 100, static_cast<double>(t) / 35);
}

// Front and rear of the cargo space, supply air and outside air, as the probes show them.
std::array<float, 4> Temperatures(int64_t t, const DemoSite::DayPlan& plan, int64_t onAt,
                                  int64_t gapSeconds) {
    const double outside = OutsideAir(t);
    BoxAir air = PlannedAir(t, plan, outside);
    AddPullDown(air, t - onAt, onAt, gapSeconds);
    AddDrift(air, t);
    // The sensors resolve a tenth of a degree (+ 0.0: never a negative zero).
    auto tenth = [t](double v, int64_t k, double noise) {
        return static_cast<float>(std::round((v + noise * Signed(kFine, t * 4 + k)) * 10) / 10 +
                                  0.0);
    };
    return {tenth(air.front, 0, 0.04), tenth(air.rear, 1, 0.04), tenth(air.supply, 2, 0.05),
            tenth(outside, 3, 0.05)};
}

// Where the truck is, which way it heads and how fast it goes.
struct Position {
    GeoPoint at = DepotPoint();
    double heading = MorningRoute().back().EndBearing();
    double kmh = 0;
    bool driving = false;
};

// Along the drive under way at `t`, else where the last one ended; none in an underpass.
std::optional<Position> PositionAt(int64_t t, const DemoSite::DayPlan& plan) {
    Position p;
    for (const DemoSite::Drive& d : plan.drives) {
        if (t >= d.end) {
            p.at = d.leg->End();
            p.heading = d.leg->EndBearing();
            continue;
        }
        if (t < d.start) break;
        // Along the leg with the speed swinging about its average (lights, traffic).
        const auto span = static_cast<double>(d.end - d.start);
        const double x = static_cast<double>(t - d.start) / span;
        const double a = d.leg->StopAndGo();
        const double w = 2 * kPi * d.waves;
        const double km = d.leg->LengthKm() * (x - a * std::sin(w * x) / w);
        p.at = d.leg->At(km, p.heading);
        p.kmh = d.leg->LengthKm() / (span / kHour) * (1 - a * std::cos(w * x));
        if (d.leg->NoFixAt(km)) return std::nullopt;
        p.driving = true;
        break;
    }
    return p;
}

// The GPS fix at `t` with the receiver's jitter; none without reception.
std::optional<std::array<uint32_t, 4>> FixAt(int64_t t, const DemoSite::DayPlan& plan) {
    std::optional<Position> p = PositionAt(t, plan);
    if (!p) return std::nullopt;
    // Between high buildings the fix drops out now and then.
    if (p->driving && Unit(kGpsDrop, FloorDiv(t, kRecordSeconds)) < 0.03) return std::nullopt;
    const double lon = p->at.lon + 0.00002 * Signed(kJitterLon, t);
    const double lat = p->at.lat + 0.00002 * Signed(kJitterLat, t);
    double heading = p->heading;
    double kmh = p->kmh;
    if (p->driving) {
        kmh = std::max(0.0, kmh + 1.5 * Signed(kSpeedNoise, t));
        heading += 2.0 * Signed(kHeadingNoise, t);
    }
    heading = std::fmod(heading + 360.0, 360.0);
    return std::array<uint32_t, 4>{static_cast<uint32_t>(std::llround(lon * 1e6)),
                                   static_cast<uint32_t>(std::llround(lat * 1e6)),
                                   static_cast<uint32_t>(std::llround(kmh * 10)),
                                   static_cast<uint32_t>(std::llround(heading * 10) % 3600)};
}

// Drives a round from the depot, with a delivery at each stop; returns the time it is back.
int64_t DriveRound(const Route& route, int64_t t, int64_t day, int round, DemoSite::DayPlan& plan) {
    for (size_t i = 0; i < route.size(); ++i) {
        const RoadLeg& leg = route[i];
        const int64_t key = (day * 2 + round) * 8 + static_cast<int64_t>(i);
        const double kmh =
            leg.Kmh() * (RushHour(t) ? 0.65 : 1.0) * Between(kSpeed, key, 0.85, 1.15);
        const auto seconds = static_cast<int64_t>(leg.LengthKm() / kmh * kHour);
        // A swing of the speed about every five minutes.
        const int waves = std::max(1, static_cast<int>(std::lround(seconds / 300.0)));
        plan.drives.push_back({t, t + seconds, &leg, waves});
        t += seconds;
        if (i + 1 == route.size()) break;  // back at the depot
        const int64_t open = t + Minutes(Between(kDoorDelay, key, 2, 5));
        // Now and then the door stays open for the whole unloading.
        const bool stays = Unit(kLongDoor, key) < 0.12;
        const int64_t length =
            Minutes(stays ? Between(kDoorLength, key, 15, 25) : Between(kDoorLength, key, 5, 14));
        const double k = stays ? Between(kDoorK, key, 0.3, 0.45) : Between(kDoorK, key, 0.08, 0.25);
        plan.doors.push_back({open, open + length, k, false});
        t += Minutes(Between(kDwell, key, 25, 45));
    }
    return t;
}

// Unloading what came back, at the dock.
void AddReturnDoor(DemoSite::DayPlan& plan, int64_t back, int64_t key) {
    const int64_t open = back + Minutes(3);
    plan.doors.push_back({open, open + Minutes(Between(kReturnLength, key, 6, 10)),
                          Between(kReturnK, key, 0.15, 0.3), true});
}

}  // namespace

DemoSite::DemoSite(const QDate& today) : m_today(DayNumber(today)) {}

int64_t DemoSite::WallSeconds(const QDateTime& wallTime) {
    return QDateTime(wallTime.date(), wallTime.time(), Qt::UTC).toSecsSinceEpoch();
}

DemoSite::DayPlan DemoSite::PlanFor(int64_t day) const {
    DayPlan plan;
    const int64_t base = day * kDay;
    for (int64_t i = 0; i < 3; ++i)
        plan.defrosts[static_cast<size_t>(i)] = base + (1 + 8 * i) * kHour + 40 * kMinute +
                                                Minutes(Between(kDefrost, day * 3 + i, -15, 15));
    const int weekday = Weekday(day);
    const bool today = day == m_today;
    if (weekday == 7 && !today) return plan;  // Sunday: standing, switched off

    // Loading at the dock in two goes before the morning round.
    int64_t t = base + 5 * kHour + Minutes(Between(kLoadStart, day, 0, 15));
    const double loadK = Between(kLoadK, day, 0.15, 0.48);
    for (int64_t i = 0; i < 2; ++i) {
        const int64_t length = Minutes(Between(kLoadLength, day * 2 + i, 8, 18));
        plan.doors.push_back({t, t + length, loadK, true});
        t += length + Minutes(4);
    }
    t = std::max(t, base + 6 * kHour + 10 * kMinute + Minutes(Between(kDeparture, day, 0, 25)));
    t = DriveRound(MorningRoute(), t, day, 0, plan);
    plan.morningReturn = t;
    AddReturnDoor(plan, t, day * 2);

    if (weekday <= 5 && Unit(kAfternoon, day) >= 0.2) {
        t = std::max(
            base + 13 * kHour + 30 * kMinute + Minutes(Between(kAfternoonStart, day, 0, 30)),
            t + Minutes(60));
        plan.afternoonStart = t;
        t = DriveRound(AfternoonRoute(), t, day, 1, plan);
        AddReturnDoor(plan, t, day * 2 + 1);
    }
    // Loading for tomorrow's first round.
    if (weekday <= 5 || weekday == 7) {
        const int64_t open =
            std::max(base + 18 * kHour + 40 * kMinute + Minutes(Between(kEveningStart, day, 0, 40)),
                     t + Minutes(30));
        plan.doors.push_back({open, open + Minutes(Between(kEveningLength, day, 20, 30)),
                              Between(kEveningK, day, 0.1, 0.3), true});
    }
    return plan;
}

std::vector<DemoSite::Interval> DemoSite::GapsStarting(int64_t day) const {
    std::vector<Interval> raw;
    const int64_t base = day * kDay;
    const int weekday = Weekday(day);
    if (weekday == 6) {  // Saturday evening to Monday morning
        const int64_t off = base + 20 * kHour + Minutes(Between(kWeekendOff, day, 0, 30));
        const int64_t on = base + 2 * kDay + 4 * kHour + 30 * kMinute +
                           static_cast<int64_t>(Between(kWeekendOn, day, 0, 900));
        raw.push_back({off, on});
    }
    // Now and then the driver switches off for the lunch break at the depot.
    if (weekday <= 5 && Unit(kLunch, day) < 0.3) {
        const DayPlan plan = PlanFor(day);
        if (plan.afternoonStart != 0) {
            const int64_t off = std::max(
                base + 12 * kHour + 10 * kMinute + Minutes(Between(kLunchStart, day, 0, 20)),
                plan.morningReturn + Minutes(15));
            const int64_t on = off + Minutes(Between(kLunchLength, day, 35, 70));
            if (on + Minutes(10) <= plan.afternoonStart) raw.push_back({off, on});
        }
    }
    // Today is always a whole day of records.
    const int64_t todayStart = m_today * kDay;
    const int64_t todayEnd = todayStart + kDay;
    std::vector<Interval> gaps;
    for (const Interval& g : raw) {
        if (g.end <= todayStart || g.start >= todayEnd) {
            gaps.push_back(g);
            continue;
        }
        if (g.start < todayStart) gaps.push_back({g.start, todayStart});
        if (g.end > todayEnd) gaps.push_back({todayEnd, g.end});
    }
    return gaps;
}

bool DemoSite::Powered(int64_t t) const {
    const int64_t day = DayOf(t);
    for (int64_t d = day - 2; d <= day; ++d)
        for (const Interval& g : GapsStarting(d))
            if (t >= g.start && t < g.end) return false;
    return true;
}

DemoSite::PowerOn DemoSite::LastPowerOn(int64_t t) const {
    // Longer ago than any gap reaches back: settled.
    PowerOn on{t - 30 * kDay, 0};
    const int64_t day = DayOf(t);
    for (int64_t d = day - 3; d <= day; ++d)
        for (const Interval& g : GapsStarting(d))
            if (g.end <= t && g.end > on.at) on = {g.end, g.end - g.start};
    return on;
}

SiteReading DemoSite::ReadingAt(int64_t t) const {
    return Evaluate(t, PlanFor(DayOf(t)), LastPowerOn(t));
}

SiteReading DemoSite::Evaluate(int64_t t, const DayPlan& plan, const PowerOn& on) const {
    SiteReading r;
    r.sensors = Temperatures(t, plan, on.at, on.gapSeconds);
    const int64_t sinceOn = t - on.at;
    if (sinceOn >= 0 && sinceOn < kColdStartSeconds) return r;  // no fix yet after power-on
    r.gps = FixAt(t, plan);
    return r;
}

void DemoSite::AddRange(int64_t from, int64_t to, std::vector<HistoryEntry>& out) const {
    // A week back there is always a weekend: the power-on the first records count from.
    std::vector<Interval> gaps;
    for (int64_t d = DayOf(from) - 8; d <= DayOf(to); ++d) {
        const std::vector<Interval> g = GapsStarting(d);
        gaps.insert(gaps.end(), g.begin(), g.end());
    }
    std::sort(gaps.begin(), gaps.end(),
              [](const Interval& a, const Interval& b) { return a.start < b.start; });
    int64_t planDay = 0;
    DayPlan plan;
    bool planned = false;
    for (size_t i = 0; i < gaps.size(); ++i) {
        const PowerOn on{gaps[i].end, gaps[i].end - gaps[i].start};
        const int64_t off = std::min(to, i + 1 < gaps.size() ? gaps[i + 1].start : to);
        // The controller records every interval counted from its power-on.
        int64_t t = on.at;
        if (t < from) t += (from - t + kRecordSeconds - 1) / kRecordSeconds * kRecordSeconds;
        for (; t < off; t += kRecordSeconds) {
            if (!planned || DayOf(t) != planDay) {
                planDay = DayOf(t);
                plan = PlanFor(planDay);
                planned = true;
            }
            const SiteReading r = Evaluate(t, plan, on);
            HistoryEntry e;
            e.time = QDateTime::fromSecsSinceEpoch(t, Qt::UTC);
            for (size_t k = 0; k < 4; ++k) e.sensors[k] = r.sensors[k];
            e.gps = r.gps;
            out.push_back(std::move(e));
        }
    }
}

std::vector<HistoryEntry> DemoSite::History() const {
    const int64_t year2014 = DayNumber(QDate(2014, 1, 1)) * kDay;
    const int64_t year2015 = DayNumber(QDate(2015, 1, 1)) * kDay;
    const int64_t recent = (m_today - 29) * kDay;
    const int64_t recentEnd = (m_today + 1) * kDay;
    std::vector<HistoryEntry> out;
    out.reserve(120000);
    if (recent < year2015 && year2014 < recentEnd) {  // the two overlap: one range
        AddRange(std::min(year2014, recent), std::max(year2015, recentEnd), out);
    } else if (recent < year2014) {
        AddRange(recent, recentEnd, out);
        AddRange(year2014, year2015, out);
    } else {
        AddRange(year2014, year2015, out);
        AddRange(recent, recentEnd, out);
    }
    return out;
}

}  // namespace r4t8::sim
