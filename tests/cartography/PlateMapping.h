#pragma once

// A mapping for drawing tests: plain longitude/latitude, `scale` pixels per degree, (0, 0)
// at pixel (cx, cy). Points beyond |lon| = lonLimit (as beyond a scanner's swath) or
// |lat| = 90 cannot be placed.

#include "mapping/zorMapping.h"

#include <cmath>

namespace vantorel::testing {

class PlateMapping : public TMapping {
public:
    PlateMapping(double scale, int cx, int cy, int mapHeight, float lonLimit = 180.0f)
        : scale_(scale), cx_(cx), cy_(cy), lonLimit_(lonLimit) {
        SetMapHeight(mapHeight);
    }
    bool LatLonToImage(int& x, int& y, float lon, float lat) const override {
        if (std::fabs(lon) > lonLimit_ || std::fabs(lat) > 90.0f) {
            return false;
        }
        x = static_cast<int>(std::nearbyint(cx_ + lon * scale_));
        y = static_cast<int>(std::nearbyint(cy_ - lat * scale_));
        return true;
    }

private:
    double scale_;
    int cx_, cy_;
    float lonLimit_;
};

} // namespace vantorel::testing
