#include "orbit/Orbits.h"
#include "orbit/Satellite.h"

#include <gtest/gtest.h>

namespace vantorel {
namespace {

TEST(Orbit, StartUpNameIsMeteorM2) {
    TOrbit orbit;
    EXPECT_FLOAT_EQ(orbit.ScanHalfAngle, 55.37f);
    EXPECT_FALSE(orbit.IsMeteorM2());
    orbit.SetSatellite("METEOR-M2");
    EXPECT_EQ(orbit.SatelliteName, "METEOR-M2");
    EXPECT_EQ(orbit.ShortName, "");
    EXPECT_EQ(orbit.CatalogueNumber, "40069");
    EXPECT_FLOAT_EQ(orbit.ScanHalfAngle, 55.37f);
    EXPECT_EQ(orbit.YawOffset, 0.0);
    EXPECT_FALSE(orbit.YawSteering);
    EXPECT_TRUE(orbit.IsMeteorM2());
    orbit.SetSatellite("METEOR-M2 2");
    EXPECT_EQ(orbit.CatalogueNumber, "44387");
    EXPECT_TRUE(orbit.IsMeteorM2());
}

TEST(Orbit, ContainedTextsSelectTheCanonicalName) {
    TOrbit orbit;
    orbit.SetSatellite("NOAA 17");
    // "NOAA 7" does not occur in "NOAA 17".
    EXPECT_EQ(orbit.SatelliteName, "NOAA-17");
    EXPECT_EQ(orbit.ShortName, "n17");
    EXPECT_EQ(orbit.CatalogueNumber, "27453");
    orbit.SetSatellite("NOAA 7");
    EXPECT_EQ(orbit.SatelliteName, "NOAA-7");
    EXPECT_EQ(orbit.CatalogueNumber, "12553");
    orbit.SetSatellite("FENGYUN 1D");
    EXPECT_EQ(orbit.SatelliteName, "FY1D");
    EXPECT_EQ(orbit.ShortName, "fy1d");
    orbit.SetSatellite("SPOT 4 (HRVIR)");
    EXPECT_EQ(orbit.SatelliteName, "SPOT-4");
    EXPECT_FLOAT_EQ(orbit.ScanHalfAngle, 50.5f);
    orbit.SetSatellite("METOP B");
    EXPECT_EQ(orbit.SatelliteName, "METOP-B");
    EXPECT_TRUE(orbit.YawSteering);
    EXPECT_EQ(orbit.ShortName, ""); // only METOP-A has a short name
    orbit.SetSatellite("NOAA 16");
    EXPECT_FLOAT_EQ(orbit.ScanHalfAngle, 55.25f);
    EXPECT_FALSE(orbit.YawSteering);
}

TEST(Orbit, NamesWithoutRowsKeepThePreviousValues) {
    TOrbit orbit;
    orbit.SetSatellite("NOAA 18");
    // Lower case: only upper-cased, no contained text matches, no rows apply.
    orbit.SetSatellite("noaa 15");
    EXPECT_EQ(orbit.SatelliteName, "NOAA 15");
    EXPECT_EQ(orbit.ShortName, "");
    EXPECT_EQ(orbit.CatalogueNumber, "28654");

    orbit.SetSatellite("METEOR-M1");
    EXPECT_EQ(orbit.YawOffset, -1.1);
    EXPECT_FLOAT_EQ(orbit.ScanHalfAngle, 54.0f);
    // "METEOR-M 2" has a catalogue row but no yaw or scan rows.
    orbit.SetSatellite("METEOR-M 2");
    EXPECT_EQ(orbit.CatalogueNumber, "40069");
    EXPECT_EQ(orbit.YawOffset, -1.1);
    EXPECT_FLOAT_EQ(orbit.ScanHalfAngle, 54.0f);
    orbit.SetSatellite("METEOR-M2");
    EXPECT_EQ(orbit.YawOffset, 0.0);
    orbit.SetSatellite("Tiros-N");
    EXPECT_EQ(orbit.SatelliteName, "TIROS-N");
    EXPECT_EQ(orbit.ShortName, "Tiros-N");
    EXPECT_EQ(orbit.CatalogueNumber, "11060");
}

TEST(Orbit, LoadTimeNamesOfPreLaunchSatellites) {
    EXPECT_EQ(TSatelliteList::LoadTimeName("NOAA-L"), "NOAA 16");
    EXPECT_EQ(TSatelliteList::LoadTimeName("  noaa-m \r"), "NOAA 17");
    EXPECT_EQ(TSatelliteList::LoadTimeName("NOAA-N"), "NOAA 18");
    EXPECT_EQ(TSatelliteList::LoadTimeName("NOAA-N'"), "NOAA-N'");
    EXPECT_EQ(TSatelliteList::LoadTimeName("A NAME LONGER THAN 24 CHARACTERS"),
              "A NAME LONGER THAN 24 CH");
}

} // namespace
} // namespace vantorel
