#pragma once

// What can be told of a two-line element set from its text alone: whether its lines keep
// their checksums, and whether its orbit is one a Meteor-M flies.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// The checksum of a line: the sum of its digits in columns 1-68, a minus sign counting
/// one, modulo 10.
int ElementLineChecksum(std::string_view line);

struct TElementSetCheck {
    /// One text per line whose written checksum (column 69) differs from its own sum, as
    /// "line 2: written 7, its sum 3".
    std::vector<std::string> ChecksumFailures;
    /// Lines that carry no digit in column 69 (SatDump 2.0 writes a letter there): they
    /// cannot be checked.
    int Unchecked = 0;
    /// Why the orbit is no Meteor-M's ("mean motion 16.50 revolutions a day, ..."), or
    /// nullopt when it is one.
    std::optional<std::string> NotMeteorOrbit;
};

/// Mean motion (revolutions a day), inclination (degrees) and eccentricity a Meteor-M's
/// sun-synchronous orbit at about 830 km keeps: 14.2, 98.6-98.8 and below 0.002.
inline constexpr double kMeteorLeastRevolutionsPerDay = 13.8;
inline constexpr double kMeteorMostRevolutionsPerDay = 14.6;
inline constexpr double kMeteorLeastInclination = 97.5;
inline constexpr double kMeteorMostInclination = 99.8;
inline constexpr double kMeteorMostEccentricity = 0.01;

/// Checks a set's two lines (columns as the two-line format places them).
TElementSetCheck CheckElementSet(std::string_view line1, std::string_view line2);

} // namespace vantorel
