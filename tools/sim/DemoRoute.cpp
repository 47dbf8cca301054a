#include "DemoRoute.h"

#include <algorithm>
#include <cmath>

namespace r4t8::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kKmPerDegreeLat = 110.574;
constexpr double kKmPerDegreeLonAtEquator = 111.320;

// East and north offsets in km; a flat map is exact enough over a city.
void Offset(const GeoPoint& a, const GeoPoint& b, double& eastKm, double& northKm) {
    const double midLat = (a.lat + b.lat) / 2 * kPi / 180;
    eastKm = (b.lon - a.lon) * kKmPerDegreeLonAtEquator * std::cos(midLat);
    northKm = (b.lat - a.lat) * kKmPerDegreeLat;
}

double Bearing(const GeoPoint& a, const GeoPoint& b) {
    double east = 0, north = 0;
    Offset(a, b, east, north);
    const double deg = std::atan2(east, north) * 180 / kPi;
    return deg < 0 ? deg + 360 : deg;
}

const GeoPoint kDepot{116.3583, 39.7905};

}  // namespace

RoadLeg::RoadLeg(std::vector<GeoPoint> points, double kmh, double stopAndGo, double noFixFrom,
                 double noFixTo)
    : m_points(std::move(points)),
      m_kmh(kmh),
      m_stopAndGo(stopAndGo),
      m_noFixFrom(noFixFrom),
      m_noFixTo(noFixTo) {
    m_cumulativeKm.push_back(0);
    for (size_t i = 1; i < m_points.size(); ++i) {
        double east = 0, north = 0;
        Offset(m_points[i - 1], m_points[i], east, north);
        m_cumulativeKm.push_back(m_cumulativeKm.back() + std::hypot(east, north));
    }
}

GeoPoint RoadLeg::At(double km, double& bearingDeg) const {
    km = std::clamp(km, 0.0, LengthKm());
    // The segment holding `km`: the first point beyond it ends it.
    const auto next = std::upper_bound(m_cumulativeKm.begin() + 1, m_cumulativeKm.end() - 1, km);
    const size_t i = static_cast<size_t>(next - m_cumulativeKm.begin());
    const GeoPoint& a = m_points[i - 1];
    const GeoPoint& b = m_points[i];
    const double span = m_cumulativeKm[i] - m_cumulativeKm[i - 1];
    const double f = span > 0 ? (km - m_cumulativeKm[i - 1]) / span : 0;
    bearingDeg = Bearing(a, b);
    return {a.lon + (b.lon - a.lon) * f, a.lat + (b.lat - a.lat) * f};
}

double RoadLeg::EndBearing() const {
    return Bearing(m_points[m_points.size() - 2], m_points.back());
}

bool RoadLeg::NoFixAt(double km) const {
    const double f = km / LengthKm();
    return f >= m_noFixFrom && f < m_noFixTo;
}

GeoPoint DepotPoint() { return kDepot; }

const Route& MorningRoute() {
    static const Route route = {
        // Up the expressway and along the south and east third ring to the first supermarket.
        RoadLeg({kDepot,
                 {116.3600, 39.8050},
                 {116.3660, 39.8280},
                 {116.3780, 39.8550},
                 {116.4100, 39.8580},
                 {116.4600, 39.8600},
                 {116.4615, 39.8800},
                 {116.4610, 39.9010}},
                45, 0.5),
        RoadLeg(
            {{116.4610, 39.9010}, {116.4620, 39.9200}, {116.4630, 39.9350}, {116.4650, 39.9480}},
            28, 0.85, 0.35, 0.55),
        RoadLeg(
            {{116.4650, 39.9480}, {116.4550, 39.9600}, {116.4300, 39.9670}, {116.4080, 39.9690}},
            26, 0.85),
        RoadLeg(
            {{116.4080, 39.9690}, {116.3800, 39.9680}, {116.3550, 39.9670}, {116.3420, 39.9620}},
            25, 0.9),
        // Down the west third ring and back to the depot.
        RoadLeg({{116.3420, 39.9620},
                 {116.3270, 39.9450},
                 {116.3200, 39.9050},
                 {116.3220, 39.8600},
                 {116.3350, 39.8250},
                 {116.3500, 39.8000},
                 kDepot},
                48, 0.5),
    };
    return route;
}

const Route& AfternoonRoute() {
    static const Route route = {
        RoadLeg({kDepot, {116.3400, 39.7980}, {116.3150, 39.8300}, {116.3020, 39.8590}}, 35, 0.6),
        RoadLeg({{116.3020, 39.8590}, {116.2900, 39.8750}, {116.2780, 39.8960}}, 27, 0.85),
        RoadLeg(
            {{116.2780, 39.8960}, {116.3050, 39.8980}, {116.3250, 39.8930}, {116.3380, 39.8870}},
            27, 0.85, 0.6, 0.75),
        RoadLeg({{116.3380, 39.8870}, {116.3500, 39.8600}, {116.3620, 39.8250}, kDepot}, 40, 0.55),
    };
    return route;
}

}  // namespace r4t8::sim
