#include "pass/PassPipeline.h"

#include "SamplePass.h"
#include "TempDir.h"
#include "TestData.h"
#include "common/Clock.h"
#include "common/TextFile.h"
#include "imaging/JPEG_IO.h"
#include "imaging/zorPNGImage.h"
#include "orbit/Orbits.h"
#include "pass/inputs/ChannelImage.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>

namespace vantorel {
namespace {

using testing::kSampleImage;
using testing::kSampleKeps;

// A finished run hands over the whole pass; one that ends early hands over none of it,
// only the image it read.
TEST(PassPipeline, AFinishedPassIsHandedOverWholeAndAnEndedOneNotAtAll) {
    TPassSources sources;
    TPassReport report;
    TPassOutcome done = testing::RunSamplePass(sources, report);
    ASSERT_TRUE(done.Result);
    EXPECT_FALSE(done.Unprocessed);
    const TPassResult& pass = *done.Result;
    EXPECT_EQ(pass.ImageFile, kSampleImage);
    EXPECT_EQ(pass.GroundTable.size(), 4000u);
    EXPECT_EQ(pass.Channel.Height(), 4000);
    EXPECT_TRUE(pass.Mapping.Fitted());
    EXPECT_EQ(pass.Mapping.GetMapWidth(), 4000);
    EXPECT_EQ(pass.LineOffset, 10);
    EXPECT_EQ(pass.PixelOffset, -20);
    EXPECT_NEAR(pass.Times.Start, EncodeDateTime(2020, 9, 27, 8, 1, 0), 1.0 / 86400);
    EXPECT_FALSE(report.EndedBy());
    EXPECT_EQ(report.AccountLines().front(), "Processing: " + kSampleImage);

    // Two lines: the image comes back unprocessed, with the reason as an error.
    testing::TempDir dir;
    TExtBitmap shortImage;
    shortImage.LoadFromFile(kSampleImage);
    shortImage.SetHeight(2);
    shortImage.SaveToFile(dir / "2020_09_27_08_00_58_64.bmp");
    TPassReport shortReport;
    TPassOutcome ended =
        testing::RunSamplePass(sources, shortReport, dir / "2020_09_27_08_00_58_64.bmp");
    EXPECT_FALSE(ended.Result);
    ASSERT_TRUE(ended.Unprocessed);
    EXPECT_EQ(ended.Unprocessed->Height(), 2);
    EXPECT_EQ(shortReport.EndedBy(), TPassIssue::TooFewLines);
    EXPECT_TRUE(shortReport.Has(TPassIssue::MissingStat));
}

// Whatever the file's depth and palette, the run gets 256 grey levels; a JPEG cut short
// still runs, and says how much of it there was.
TEST(PassPipeline, ChannelImagesOfAnyPaletteAndJpegsCutShort) {
    const TChannelImage palette =
        LoadChannelImage(testing::TestDataPath("imaging/pal8_224_colours.bmp"));
    EXPECT_EQ(palette.Bitmap.Palette(), GrayRamp());

    testing::TempDir dir;
    TExtBitmap sample;
    sample.LoadFromFile(kSampleImage);
    const std::string jpeg = dir / "2020_09_27_08_00_58_64.jpg";
    ASSERT_TRUE(WriteJpegFile(sample, jpeg, 90, true, ""));
    const auto bytes = ReadFileBytes(jpeg);
    dir.Write("2020_09_27_08_00_58_64.jpg", bytes->substr(0, bytes->size() / 2));
    TPassSources sources;
    TPassReport report;
    const TPassOutcome cut = testing::RunSamplePass(sources, report, jpeg);
    ASSERT_TRUE(cut.Result);
    EXPECT_TRUE(report.Has(TPassIssue::ImageCutShort));
    const auto lines = report.AccountLines();
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) {
                               return l.rfind("Image cut short: ", 0) == 0 &&
                                      l.find(" of 4000 rows decoded") != std::string::npos;
                           }),
              lines.end());
}

// A dropout of 5 groups of 8 lines during which the clock ran 20 s longer than those
// lines: the lines after it are placed by their own times, not by start + line x period.
TEST(PassPipeline, LinesAfterADropoutArePlacedByTheirOwnTimes) {
    TPassSources sources;
    sources.Load(kSampleKeps, TPassSatellite{});
    const TDateTime start = EncodeDateTime(2020, 9, 27, 8, 1, 0);
    const double period = kDefaultLinePeriodDays;
    const double late = 20.0 / kSecondsPerDay;
    std::vector<TDateTime> own(40 * 8, std::numeric_limits<double>::quiet_NaN());
    for (int line = 0; line < 40 * 8; ++line) {
        const int group = line / 8;
        if (group < 10 || group >= 15) {
            own[static_cast<std::size_t>(line)] =
                start + line * period + (group >= 15 ? late : 0.0);
        }
    }
    const auto times = TLineTimes::FromOwnTimes(own, period);
    ASSERT_TRUE(times);
    TPassReport report;
    LocationGrid table;
    float altitude = 0.0f;
    bool northbound = true;
    ASSERT_TRUE(
        BuildGroundTable(sources.Orbit(), *times, 320, table, altitude, northbound, report));
    EXPECT_FALSE(northbound);
    TScanLine scan;
    for (const int line : {0, 79, 123, 319}) {
        sources.Orbit().LocateScanLine(own[static_cast<std::size_t>(line)], scan);
        EXPECT_EQ(table[static_cast<std::size_t>(line)][0].lat, scan.Points[0].Lat) << line;
        EXPECT_EQ(table[static_cast<std::size_t>(line)][0].lon, scan.Points[0].Lon) << line;
    }
    // The lost lines lie between their neighbours.
    sources.Orbit().LocateScanLine(start + 100 * period + late * 21.0 / 41.0, scan);
    EXPECT_NEAR(table[100][kNadirColumn].lat, scan.Points[kNadirColumn].Lat, 1e-4);
    const auto lines = report.AccountLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "  40 lines without a time (80-119) placed by their neighbours' times"),
              lines.end());
}

// The sample pass as a decoder's product folder: its picture as a PNG, one time per group
// of 8 lines (5 groups lost), its element set inside, no Kepler folder. The run takes the
// product's satellite, set and times, and places the lines where the file route does.
TEST(PassPipeline, AProductFolderRunsOnItsOwnSatelliteElementSetAndTimes) {
    TPassSources fileSources;
    TPassReport fileReport;
    const TPassOutcome file = testing::RunSamplePass(fileSources, fileReport);
    ASSERT_TRUE(file.Result);
    const TLineTimes& times = file.Result->Times;

    testing::TempDir dir;
    TBitmap picture;
    picture.LoadFromFile(kSampleImage);
    TPngImage png;
    png.AssignBitmap(picture);
    std::filesystem::create_directories(dir / "pass/MSU-MR");
    png.SaveToFile(dir / "pass/MSU-MR/MSU-MR-1.png");
    nlohmann::json stamps = nlohmann::json::array();
    for (int group = 0; group < 500; ++group) {
        const double unix = (times.At(8 * group) - 25569.0) * kSecondsPerDay;
        stamps.push_back(group >= 200 && group < 205 ? -1.0 : unix);
    }
    const auto lines = testing::ReadTestDataLines("../../samples/keps/meteor.txt");
    const nlohmann::json product = {
        {"instrument", "msu_mr"},
        {"type", "image"},
        {"timestamps_type", 1},
        {"tle",
         {{"norad", 40069}, {"name", "METEOR-M 2"}, {"line1", lines[1]}, {"line2", lines[2]}}},
        {"images",
         {{{"file", "MSU-MR-1.png"}, {"name", "1"}, {"ifov_y", 8}, {"timestamps", stamps}}}}};
    const std::vector<std::uint8_t> cbor = nlohmann::json::to_cbor(product);
    dir.Write("pass/MSU-MR/product.cbor", std::string(cbor.begin(), cbor.end()));

    TPassSources sources;
    sources.Load(dir / "no-keps", TPassSatellite::Of(*FindMeteorSatellite("59051")));
    TPassReport report;
    const TPassOutcome run =
        ProcessSatDumpProduct(dir / "pass/MSU-MR", "", testing::kSampleDay, sources, report);
    ASSERT_TRUE(run.Result) << (report.Entries().empty() ? "" : report.Entries().back().Text);
    EXPECT_EQ(sources.Satellite().CatalogueNumber, "40069"); // the product's, not the chosen
    const auto account = report.AccountLines();
    auto said = [&](const std::string& start) {
        return std::any_of(account.begin(), account.end(),
                           [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(said("Element set: the one in " + (dir / "pass/MSU-MR/product.cbor")));
    EXPECT_TRUE(said("  40 lines without a time (1600-1639)"));
    for (const std::size_t line : {0u, 1599u, 1640u, 3999u}) {
        for (const int k : {0, kNadirColumn, kGridColumns - 1}) {
            const GeoPoint& a = run.Result->GroundTable[line][static_cast<std::size_t>(k)];
            const GeoPoint& b = file.Result->GroundTable[line][static_cast<std::size_t>(k)];
            EXPECT_NEAR(a.lat, b.lat, 1e-4) << line;
            EXPECT_NEAR(a.lon, b.lon, 1e-4) << line;
        }
    }
}

// The readout agrees with the overlay to the picture's sides, and answers for every column:
// the ground point it gives a pixel is drawn within a pixel of it.
TEST(LookUpLonLat, AgreesWithTheOverlayAcrossTheWholeLine) {
    TPassSources sources;
    TPassReport report;
    const TPassOutcome done = testing::RunSamplePass(sources, report);
    ASSERT_TRUE(done.Result && done.Result->Edges);
    const TPassResult& pass = *done.Result;
    for (const int y : {0, 1999, 3999}) {
        for (const int x : {0, 7, 20, 21, 400, 1521, 1522, 1550, 1551, 1567}) {
            float lon = 0, lat = 0, ix = 0, iy = 0;
            ASSERT_TRUE(LookUpLonLat(pass.GroundTable, 4000, x, y, lon, lat, &*pass.Edges));
            ASSERT_TRUE(pass.Mapping.LatLonToImageF(ix, iy, lon, lat, true));
            EXPECT_NEAR(ix, x, 1.0) << x << "," << y;
            EXPECT_NEAR(iy, y, 1.0) << x << "," << y;
        }
        float lon = 0, lat = 0;
        EXPECT_FALSE(LookUpLonLat(pass.GroundTable, 4000, 1568, y, lon, lat, &*pass.Edges));
    }
}

TEST(LookUpLonLat, InterpolatesBetweenSamplesAndAcrossTheDateLine) {
    LocationGrid grid(2);
    for (int k = 0; k < kGridColumns; ++k) {
        grid[0][static_cast<size_t>(k)] = {10.0f + k, 20.0f + k};
        grid[1][static_cast<size_t>(k)] = {0.0f, 0.0f};
    }
    grid[1][0] = {1.0f, 179.0f};
    grid[1][1] = {3.0f, -179.0f};
    float lon = 9, lat = 9;
    EXPECT_TRUE(LookUpLonLat(grid, 2, 21, 0, lon, lat));
    EXPECT_FLOAT_EQ(lat, 10.0f);
    EXPECT_FLOAT_EQ(lon, 20.0f);
    EXPECT_TRUE(LookUpLonLat(grid, 2, 36, 1, lon, lat));
    EXPECT_FLOAT_EQ(lon, 180.0f); // the shorter arc, not 0
    EXPECT_FLOAT_EQ(lat, 2.0f);
    EXPECT_TRUE(LookUpLonLat(grid, 2, 1531, 0, lon, lat)); // extrapolated
    EXPECT_FLOAT_EQ(lon, 20.0f + 50.0f + 1.0f / 3.0f);
    EXPECT_FALSE(LookUpLonLat(grid, 2, 1560, 0, lon, lat));
    EXPECT_EQ(lon, 0.0f);
    EXPECT_EQ(lat, 0.0f);
    EXPECT_FALSE(LookUpLonLat(grid, 2, 100, 2, lon, lat));
    EXPECT_FALSE(LookUpLonLat(grid, 2, -9, 0, lon, lat));
}

} // namespace
} // namespace vantorel
