#pragma once

// The Meteor-M N2 series: the satellites that carry the MSU-MR scanner, as element-set
// files, decoders and people name them.

#include <optional>
#include <span>
#include <string_view>

namespace vantorel {

struct TMeteorSatellite {
    /// As element-set files spell it; it also names the per-satellite Kepler files.
    std::string_view Name;
    std::string_view CatalogueNumber; ///< five-digit NORAD catalogue number
    std::string_view DisplayName;     ///< for messages: "Meteor-M N2-3"
    /// The days it sent LRPT pictures, as yyyymmdd: from its launch, until the last day
    /// stations received it (0: still sending). Published events, not measurements.
    int LaunchedOn = 0;
    int LrptUntil = 0;
};

/// N2 (silent since 2022-12-24), N2-2 (no LRPT since its impact on 2019-12-18), N2-3 and
/// N2-4.
std::span<const TMeteorSatellite> MeteorSatellites();

/// The satellite of the series that a text names: its catalogue number, or its name as
/// element-set files ("METEOR-M2 4"), decoders ("METEOR-M2-4") or people ("Meteor-M N2-4",
/// "M2-4") write it, in any case; nullopt for anything else.
std::optional<TMeteorSatellite> FindMeteorSatellite(std::string_view nameOrNumber);

} // namespace vantorel
