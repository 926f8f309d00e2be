#pragma once

#include "mapping/FitMap.h"

namespace vantorel {

/// Ground points of a scan line outside its outer samples, carried on from the samples
/// themselves. The scan plane holds the satellite's vertical, so a line's ground points lie
/// on one great circle; the point seen at scan angle b lies asin(k sin b) - b (radians) from
/// the nadir, k being the satellite's distance from the earth's centre in earth radii, and
/// the scan angle grows by the same step from pixel to pixel.
/// Each side takes k from the arc between its two outermost samples (so the line's own
/// height and the local earth radius are in it) and carries on along their great circle.
/// On the WGS-72 ellipsoid this lands within 0.3 km, along the line, of the scanner model
/// 60 pixels beyond the outer sample: a twentieth of a pixel there.
class TScanLineEdges {
public:
    /// @param layout where the samples lie on an image line.
    /// @param halfAngleDeg the scanner's half-angle, degrees: the scan angle of the pixel
    ///   HalfWidth pixels from the nadir column.
    /// @param altitudeKm the satellite's height, km: where the search for k starts.
    /// The nadir column is the layout's line centre until FindNadir finds it.
    TScanLineEdges(const TScanLayout& layout, double halfAngleDeg, double altitudeKm);
    /// The scan lines of a picture carried on as its fit carries them: the options' scan
    /// layout, half-angle and height, and the nadir found from the middle line.
    static TScanLineEdges ForFit(const TFitOptions& options, const GeoRow& middle);

    /// Finds the image column the scanner looks straight down at (fractional) from one
    /// line's samples, as the one about which their arcs grow alike on both sides, and
    /// uses it from then on. A scanner rolled about the track moves it by tens of pixels
    /// from the line's centre, and a line carried on from the wrong nadir strays by half a
    /// pixel at its last column. False, nothing changed, when the samples do not settle it
    /// (a sample without a location, or no convergence).
    bool FindNadir(const GeoRow& row);
    /// The nadir column in use.
    double NadirColumn() const { return nadir_; }

    /// Takes the samples of one line (a location-grid row).
    void SetLine(const GeoRow& row);

    /// The ground point of image column x (fractional) of the line, carried on from the
    /// first two samples when x lies left of the first, else from the last two. False, out
    /// untouched, when those samples lack a location, lie on one point or on both sides of
    /// the nadir, or the column looks past the horizon.
    bool Locate(double x, GeoPoint& out) const;

private:
    struct Side {
        int outerSample = 0;
        int innerSample = 0;
        // Of the present line:
        bool valid = false;
        double outer[3]{};         ///< unit vector of the outer sample
        double outward[3]{};       ///< unit tangent there, pointing away from the line's centre
        double k = 0.0;            ///< satellite distance from the centre, earth radii
        double outerAngle = 0.0;   ///< the outer sample's scan angle, radians, > 0
        double outerCentral = 0.0; ///< central angle from the nadir to the outer sample
    };
    void Calibrate(Side& side, const GeoRow& row) const;
    double ScanAngle(double x) const; // signed, radians

    const TScanLayout* layout_; // a pointer: the edges of a pass are assigned with it
    double step_;  // scan angle per pixel, radians
    double nadir_; // image column of scan angle 0
    double startK_;
    Side left_;
    Side right_;
};

} // namespace vantorel
