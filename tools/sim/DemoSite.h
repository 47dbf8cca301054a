// The site of the demo controller: a refrigerated truck of a cold chain in Beijing with four
// temperature sensors (front and rear of the cargo space, supply air of the refrigeration
// unit, outside air) and GPS. It loads at a depot, delivers on a morning and an afternoon
// round, stands at the depot overnight with the unit running and is switched off from
// Saturday evening to Monday morning. Every value is a function of the controller's clock,
// so the history and the current readings agree, and the same date gives the same records.
#pragma once

#include <QDate>
#include <QDateTime>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "SimHistory.h"

namespace r4t8::sim {

class RoadLeg;

struct SiteReading {
    std::array<float, 4> sensors{};  // °C, to 0.1
    // Longitude, latitude (x 1000000), speed (km/h x 10), direction (degrees x 10); none
    // without a fix.
    std::optional<std::array<uint32_t, 4>> gps;
};

class DemoSite {
  public:
    // `today` is the last day of the recent history and always a full working day.
    explicit DemoSite(const QDate& today);

    // The controller's clock (wall time without a zone) as seconds since 1970-01-01 00:00.
    static int64_t WallSeconds(const QDateTime& wallTime);

    bool Powered(int64_t t) const;
    // What the sensors and the GPS show at `t` (also while switched off, as if it were on).
    SiteReading ReadingAt(int64_t t) const;
    // One record every recording interval while switched on: every day of 2014, and the 30
    // days that end with today (the whole of today).
    std::vector<HistoryEntry> History() const;

    struct Interval {
        int64_t start = 0;
        int64_t end = 0;
    };
    // Times switched off that start on `day` (days since 1970-01-01), never within today.
    std::vector<Interval> GapsStarting(int64_t day) const;

    struct Drive {
        int64_t start = 0;
        int64_t end = 0;
        const RoadLeg* leg = nullptr;
        int waves = 1;  // speed swings over the leg
    };
    struct DoorOpen {
        int64_t start = 0;
        int64_t end = 0;
        double k = 0;       // how much outside air gets in
        bool dock = false;  // at the depot's loading dock, else in the street
    };
    struct DayPlan {
        std::vector<Drive> drives;  // in time order
        std::vector<DoorOpen> doors;
        std::array<int64_t, 3> defrosts{};
        int64_t morningReturn = 0;
        int64_t afternoonStart = 0;  // 0: no afternoon round
    };
    DayPlan PlanFor(int64_t day) const;

  private:
    struct PowerOn {
        int64_t at = 0;
        int64_t gapSeconds = 0;  // how long it had been off before
    };
    PowerOn LastPowerOn(int64_t t) const;
    SiteReading Evaluate(int64_t t, const DayPlan& plan, const PowerOn& on) const;
    void AddRange(int64_t from, int64_t to, std::vector<HistoryEntry>& out) const;

    int64_t m_today;  // days since 1970-01-01
};

}  // namespace r4t8::sim
