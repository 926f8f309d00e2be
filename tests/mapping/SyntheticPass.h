#pragma once

// A location grid from a plain spherical scanner model, independent of the orbit code:
// the nadir moves along a great circle at a fixed ground speed, and each image column
// looks out at scan angle (column - 770.5) / 769.5 x 55.37 degrees across the track.

#include "mapping/FitMap.h"

#include <cmath>

namespace vantorel::testing {

struct ScannerModel {
    double startLatDeg = 60.0;
    double startLonDeg = 20.0;
    double azimuthDeg = 190.0; // direction of travel at the start (190: southbound)
    double stepKm = 1.1;       // ground distance per line
    double altitudeKm = 830.0;
    double radiusKm = 6378.135;
    double halfAngleDeg = 55.37;
    double stepGrowthPerLine = 0.0; // relative change of the step from line to line
    double rollDeg = 0.0;           // added to every scan angle (towards higher columns)

    static constexpr double kRad = 3.14159265358979323846 / 180.0;

    // Destination from (lat, lon) after central angle d (radians) on azimuth az (radians).
    static void Destination(double lat, double lon, double az, double d, double& outLat,
                            double& outLon, double& outAz) {
        const double lat2 =
            std::asin(std::sin(lat) * std::cos(d) + std::cos(lat) * std::sin(d) * std::cos(az));
        const double lon2 = lon + std::atan2(std::sin(az) * std::sin(d) * std::cos(lat),
                                             std::cos(d) - std::sin(lat) * std::sin(lat2));
        // Azimuth of travel at the destination, along the same great circle.
        const double az2 =
            std::atan2(std::sin(az) * std::cos(lat),
                       std::cos(lat) * std::cos(d) * std::cos(az) - std::sin(lat) * std::sin(d));
        outLat = lat2;
        outLon = lon2;
        outAz = az2;
    }

    // Central angle from the nadir of the ground point seen at scan angle beta.
    double CentralAngle(double beta) const {
        const double s = (radiusKm + altitudeKm) / radiusKm * std::sin(beta);
        return std::asin(std::min(1.0, s)) - beta;
    }

    // Ground point (degrees) of image column `column` (may be fractional) at line `line`.
    GeoPoint At(double line, double column) const {
        double travelled = 0.0;
        if (stepGrowthPerLine == 0.0) {
            travelled = stepKm * line;
        } else {
            travelled =
                stepKm * (std::pow(1.0 + stepGrowthPerLine, line) - 1.0) / stepGrowthPerLine;
        }
        double lat = 0, lon = 0, az = 0;
        Destination(startLatDeg * kRad, startLonDeg * kRad, azimuthDeg * kRad, travelled / radiusKm,
                    lat, lon, az);
        const double beta = ((column - 770.5) / 769.5 * halfAngleDeg + rollDeg) * kRad;
        const double a = CentralAngle(std::fabs(beta));
        // Columns grow towards the left of the direction of travel (east on a southbound
        // pass, so that a north-to-south image is north up).
        const double side = az - (beta >= 0 ? 1.0 : -1.0) * 3.14159265358979323846 / 2;
        double gLat = 0, gLon = 0, gAz = 0;
        Destination(lat, lon, side, a, gLat, gLon, gAz);
        double lonDeg = gLon / kRad;
        while (lonDeg > 180.0)
            lonDeg -= 360.0;
        while (lonDeg <= -180.0)
            lonDeg += 360.0;
        return {static_cast<float>(gLat / kRad), static_cast<float>(lonDeg)};
    }

    LocationGrid Grid(int lines) const {
        LocationGrid grid(static_cast<size_t>(lines));
        for (int l = 0; l < lines; ++l) {
            for (int k = 0; k < kGridColumns; ++k) {
                grid[static_cast<size_t>(l)][static_cast<size_t>(k)] = At(l, 21 + 30 * k);
            }
        }
        return grid;
    }
};

} // namespace vantorel::testing
