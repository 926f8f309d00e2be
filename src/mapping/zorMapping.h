#pragma once

#include <cstdint>
#include <span>

namespace vantorel {

/// A position to project: longitude and latitude in degrees, east and north positive.
struct TLonLat {
    float lon = 0.0f;
    float lat = 0.0f;
};

/// A projected position: its pixel, written only when onMap.
struct TProjectedPixel {
    int x = 0;
    int y = 0;
    bool onMap = false;
};

/// The mapping interface through which drawing turns geographic positions into image
/// pixels. The only concrete mapping is TWarpedMapping.
class TMapping {
public:
    /// Projection kind that the boundary drawing treats specially (never produced here).
    static constexpr std::uint8_t kVanDerGrinten = 12;

    virtual ~TMapping() = default;

    /// The map width (set by SetMapWidth).
    virtual int GetMapWidth() const { return FMapWidth; }
    /// The mapping's size in pixels; drawing uses it for the largest jump that still
    /// counts as a connected line.
    virtual int GetMapHeight() const { return FMapHeight; }
    /// Projects lon, lat (degrees, east and north positive) to an image pixel. False when
    /// the position cannot be placed; x and y are then not written. Cheap and free of
    /// side effects: it runs for every boundary vertex on every redraw.
    virtual bool LatLonToImage(int& x, int& y, float lon, float lat) const;
    /// LatLonToImage of many positions, into to[0 .. from.size() - 1]: the same pixels,
    /// sooner where a mapping can project several at once. to[i].x and y are written only
    /// where to[i].onMap is set.
    virtual void LatLonToImage(std::span<const TLonLat> from, TProjectedPixel* to) const;

    /// Stores the width and, when it is not zero, its reciprocal.
    void SetMapWidth(int width);
    /// Stores the base height and, when it is not zero, its reciprocal.
    void SetMapHeight(int height);

    std::uint8_t ProjectionKind() const { return FProjection; }
    /// A number unique to the projection's present state: it changes whenever anything
    /// LatLonToImage depends on changes (and differs between mapping objects), so that
    /// callers may keep projected points between redraws.
    std::uint64_t ProjectionVersion() const { return FProjectionVersion; }
    float RecipMapWidth() const { return FRecipMapWidth; }
    float RecipMapHeight() const { return FRecipMapHeight; }

protected:
    /// Marks the projection as changed (every setter that affects LatLonToImage).
    void ProjectionChanged() { FProjectionVersion = NewProjectionVersion(); }

    std::uint8_t FProjection = 0;
    std::int32_t FMapWidth = 0;
    float FRecipMapWidth = 0.0f;
    std::int32_t FMapHeight = 0;
    float FRecipMapHeight = 0.0f;

private:
    static std::uint64_t NewProjectionVersion();

    std::uint64_t FProjectionVersion = NewProjectionVersion();
};

/// Great-circle distance (km, on a sphere of radius 6378.135 km) and initial bearing
/// (degrees clockwise from north, [0, 360)) from (lon1, lat1) to (lon2, lat2), all in
/// degrees. The bearing uses latitudes converted with the WGS-72 flattening. Returns
/// false, writing nothing, when the arithmetic fails (non-finite input).
bool GreatCircleDistanceBearing(float& distanceKm, float& bearingDeg, float lon1, float lat1,
                                float lon2, float lat2);

} // namespace vantorel
