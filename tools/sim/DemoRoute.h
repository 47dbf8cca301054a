// The roads of the demo truck: a depot in the south of Beijing and two delivery rounds, as
// polylines of longitude and latitude between the places where it stops.
#pragma once

#include <vector>

namespace r4t8::sim {

struct GeoPoint {
    double lon = 0;
    double lat = 0;
};

// The road from one stop to the next.
class RoadLeg {
  public:
    // `kmh`: the speed the truck averages there outside rush hours; `stopAndGo` (0..1): how
    // far its speed swings around that (traffic lights, jams); [noFixFrom, noFixTo): the part
    // of the leg, as fractions of its length, where the GPS has no fix (an underpass).
    RoadLeg(std::vector<GeoPoint> points, double kmh, double stopAndGo, double noFixFrom = -1,
            double noFixTo = -1);

    double LengthKm() const { return m_cumulativeKm.back(); }
    double Kmh() const { return m_kmh; }
    double StopAndGo() const { return m_stopAndGo; }
    // The point `km` along the leg and the road's bearing there (degrees clockwise from north).
    GeoPoint At(double km, double& bearingDeg) const;
    GeoPoint End() const { return m_points.back(); }
    double EndBearing() const;
    bool NoFixAt(double km) const;

  private:
    std::vector<GeoPoint> m_points;
    std::vector<double> m_cumulativeKm;  // at each point
    double m_kmh;
    double m_stopAndGo;
    double m_noFixFrom;
    double m_noFixTo;
};

// From the depot through the stops and back.
using Route = std::vector<RoadLeg>;

GeoPoint DepotPoint();
// Supermarkets in the east and north of the city, in the morning.
const Route& MorningRoute();
// Shops in the south-west, in the afternoon.
const Route& AfternoonRoute();

}  // namespace r4t8::sim
