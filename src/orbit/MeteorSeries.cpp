#include "orbit/MeteorSeries.h"

#include <array>
#include <cctype>
#include <string>

namespace vantorel {
namespace {

constexpr std::array<TMeteorSatellite, 4> kSeries = {{
    // N2 lost its attitude for good on 2022-12-24; N2-2 was struck by a micrometeoroid on
    // 2019-12-18 and came back without its LRPT transmitter.
    {"METEOR-M2", "40069", "Meteor-M N2", 20140708, 20221224},
    {"METEOR-M2 2", "44387", "Meteor-M N2-2", 20190705, 20191218},
    {"METEOR-M2 3", "57166", "Meteor-M N2-3", 20230627, 0},
    {"METEOR-M2 4", "59051", "Meteor-M N2-4", 20240229, 0},
}};

// The part of a name that tells the satellites apart: "2" for N2, "24" for N2-4. Spaces,
// dashes, case, "METEOR", the "M" of the series and the "N" of "N2" make no difference.
std::string Key(std::string_view name) {
    std::string key;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    for (const std::string_view prefix : {"METEOR", "M", "N"}) {
        if (key.compare(0, prefix.size(), prefix) == 0) {
            key.erase(0, prefix.size());
        }
    }
    return key;
}

} // namespace

std::span<const TMeteorSatellite> MeteorSatellites() {
    return kSeries;
}

std::optional<TMeteorSatellite> FindMeteorSatellite(std::string_view nameOrNumber) {
    const std::string key = Key(nameOrNumber);
    for (const TMeteorSatellite& s : kSeries) {
        if (nameOrNumber == s.CatalogueNumber || (!key.empty() && key == Key(s.Name))) {
            return s;
        }
    }
    return std::nullopt;
}

} // namespace vantorel
