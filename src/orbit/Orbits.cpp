#include "orbit/Orbits.h"

#include "common/StringUtils.h"

#include <string_view>

namespace vantorel {
namespace {

struct NameRow {
    std::string_view from;
    std::string_view to;
};

// Texts looked for in the name as given; a later row overrides an earlier one.
constexpr NameRow kCanonicalNames[] = {
    {"FENGYUN 1C", "FY1C"}, {"FENGYUN 1D", "FY1D"}, {"METOP A", "METOP-A"}, {"METOP B", "METOP-B"},
    {"METOP C", "METOP-C"}, {"NOAA 7", "NOAA-7"},   {"NOAA 10", "NOAA-10"}, {"NOAA 11", "NOAA-11"},
    {"NOAA 12", "NOAA-12"}, {"NOAA 13", "NOAA-13"}, {"NOAA 14", "NOAA-14"}, {"NOAA 15", "NOAA-15"},
    {"NOAA 16", "NOAA-16"}, {"NOAA 17", "NOAA-17"}, {"NOAA 18", "NOAA-18"}, {"NOAA 19", "NOAA-19"},
    {"SEASTAR", "SEASTAR"}, {"SPOT 4", "SPOT-4"},   {"SPOT-4", "SPOT-4"},
};

constexpr NameRow kShortNames[] = {
    {"FY1C", "fy1c"},       {"FY1D", "fy1d"},   {"METOP-A", "metopA"},  {"NOAA-7", "n7"},
    {"NOAA-10", "n10"},     {"NOAA-11", "n11"}, {"NOAA-12", "n12"},     {"NOAA-13", "n13"},
    {"NOAA-14", "n14"},     {"NOAA-15", "n15"}, {"NOAA-16", "n16"},     {"NOAA-17", "n17"},
    {"NOAA-18", "n18"},     {"NOAA-19", "n19"}, {"SEASTAR", "seastar"}, {"SPOT-4", "spot-4"},
    {"TIROS-N", "Tiros-N"},
};

constexpr NameRow kCatalogueNumbers[] = {
    {"FY1C", "25730"},      {"FY1D", "27431"},       {"FY3A", "32958"},
    {"FY3B", "37214"},      {"FY3C", "39260"},       {"METEOR-M1", "35865"},
    {"METEOR-M2", "40069"}, {"METEOR-M 2", "40069"}, {"METEOR-M2 2", "44387"},
    {"METOP-A", "29499"},   {"METOP-B", "38771"},    {"METOP-C", "43689"},
    {"NOAA-7", "12553"},    {"NOAA-10", "16969"},    {"NOAA-11", "19531"},
    {"NOAA-12", "21263"},   {"NOAA-13", "22739"},    {"NOAA-14", "23455"},
    {"NOAA-15", "25338"},   {"NOAA-16", "26536"},    {"NOAA-17", "27453"},
    {"NOAA-18", "28654"},   {"NOAA-19", "33591"},    {"SEASTAR", "24883"},
    {"SPOT-4", "25260"},    {"TIROS-N", "11060"},    {"AQUA", "27424"},
    {"TERRA", "25994"},     {"ENVISAT", "27386"},
};

const NameRow* FindExact(std::string_view name, const NameRow* begin, const NameRow* end) {
    for (const NameRow* row = begin; row != end; ++row) {
        if (row->from == name) {
            return row;
        }
    }
    return nullptr;
}

} // namespace

void TOrbit::SetSatellite(const std::string& name) {
    SatelliteName = UpperCase(name);
    for (const NameRow& row : kCanonicalNames) {
        if (name.find(row.from) != std::string::npos) {
            SatelliteName = row.to;
        }
    }

    ShortName.clear();
    if (const NameRow* row =
            FindExact(SatelliteName, std::begin(kShortNames), std::end(kShortNames))) {
        ShortName = row->to;
    }
    if (const NameRow* row =
            FindExact(SatelliteName, std::begin(kCatalogueNumbers), std::end(kCatalogueNumbers))) {
        CatalogueNumber = row->to;
    }

    if (SatelliteName == "NOAA-16") {
        ScanHalfAngle = 55.25f;
    } else if (SatelliteName == "SPOT-4") {
        ScanHalfAngle = 50.5f;
    } else if (SatelliteName == "METEOR-M1") {
        ScanHalfAngle = 54.0f;
    }

    if (SatelliteName == "METEOR-M1") {
        YawOffset = -1.1;
    } else if (SatelliteName == "METEOR-M2" || SatelliteName == "METEOR-M2 2") {
        YawOffset = 0.0;
    }

    YawSteering =
        SatelliteName == "METOP-A" || SatelliteName == "METOP-B" || SatelliteName == "METOP-C";
}

bool TOrbit::IsMeteorM2() const {
    return CatalogueNumber == "40069" || CatalogueNumber == "44387";
}

} // namespace vantorel
