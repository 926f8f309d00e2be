#include "orbit/MeteorSeries.h"

#include "TestData.h"
#include "orbit/ElementSetCheck.h"
#include "orbit/Orbits.h"

#include <gtest/gtest.h>

namespace vantorel {
namespace {

TEST(MeteorSeries, TheFourSatellitesByEveryNameAndNumber) {
    const struct {
        const char* text;
        const char* number;
    } cases[] = {
        {"METEOR-M2", "40069"},   {"METEOR-M 2", "40069"},    {"Meteor-M N2", "40069"},
        {"40069", "40069"},       {"METEOR-M2 2", "44387"},   {"meteor-m2-2", "44387"},
        {"METEOR-M2 3", "57166"}, {"M2-3", "57166"},          {"57166", "57166"},
        {"METEOR-M2-4", "59051"}, {"Meteor-M N2-4", "59051"}, {"59051", "59051"},
    };
    for (const auto& c : cases) {
        const auto s = FindMeteorSatellite(c.text);
        ASSERT_TRUE(s) << c.text;
        EXPECT_EQ(s->CatalogueNumber, c.number) << c.text;
        // The orbit knows each by its element-file name, with the Meteor scan layout.
        TOrbit orbit;
        orbit.SetSatellite(std::string(s->Name));
        EXPECT_EQ(orbit.CatalogueNumber, c.number);
        EXPECT_TRUE(orbit.IsMeteorM2());
    }
    for (const char* other : {"", "NOAA 19", "METEOR-M1", "METEOR-M2 5", "4006"}) {
        EXPECT_FALSE(FindMeteorSatellite(other)) << other;
    }
}

// CelesTrak's own checksums hold for the weather satellites' lines it published (the ISS
// set in this file was written for it, checksums and all); one digit edited breaks it; a
// letter in their place (SatDump 2.0) leaves the line unchecked. The weather satellites'
// orbits are a Meteor's kind, the ISS's is not.
TEST(MeteorSeries, ElementSetChecksumsAndOrbits) {
    const auto lines = testing::ReadTestDataLines("keps/weather-2024-08-31.txt");
    ASSERT_EQ(lines.size(), 24u);
    for (std::size_t i = 0; i + 2 < lines.size(); i += 3) {
        const TElementSetCheck check = CheckElementSet(lines[i + 1], lines[i + 2]);
        EXPECT_EQ(check.ChecksumFailures.empty(), lines[i] != "ISS (ZARYA)") << lines[i];
        EXPECT_EQ(check.NotMeteorOrbit.has_value(), lines[i] == "ISS (ZARYA)") << lines[i];
    }
    std::string edited = lines[11]; // METEOR-M 2, line 2
    edited[10] = edited[10] == '9' ? '8' : '9';
    const TElementSetCheck bad = CheckElementSet(lines[10], edited);
    ASSERT_EQ(bad.ChecksumFailures.size(), 1u);
    EXPECT_EQ(bad.ChecksumFailures[0].rfind("line 2: written ", 0), 0u);
    std::string lettered = lines[10];
    lettered[68] = 'C';
    EXPECT_EQ(CheckElementSet(lettered, lines[11]).Unchecked, 1);
}

} // namespace
} // namespace vantorel
