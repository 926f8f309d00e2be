#include "orbit/MeteorSeries.h"

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

} // namespace
} // namespace vantorel
