#include "pass/PassPipeline.h"

#include "SamplePass.h"
#include "SampleProduct.h"
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
#include <optional>

namespace vantorel {
namespace {

using testing::kSampleImage;
using testing::kSampleKeps;
using testing::SampleChannel;
using testing::WriteSampleProduct;

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
    const std::string path = testing::TestDataPath("imaging/pal8_224_colours.bmp");
    const TChannelImage palette = LoadChannelImage(path);
    EXPECT_EQ(palette.Bitmap.Palette(), GrayRamp());
    // Read ahead, the same picture; a read ahead that nothing takes is dropped.
    {
        const TChannelImageReadAhead ahead(path);
        const TChannelImage read = LoadChannelImage(path);
        EXPECT_EQ(read.Bitmap.Bits().size(), palette.Bitmap.Bits().size());
        EXPECT_TRUE(std::equal(read.Bitmap.Bits().begin(), read.Bitmap.Bits().end(),
                               palette.Bitmap.Bits().begin()));
        const TChannelImageReadAhead unused(kSampleImage);
    }

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

// A PNG's header is believed only within a pass's size: 18000 x 18000 pixels (a few
// hundred kilobytes deflated) is refused before any memory is taken.
TEST(PassPipeline, AHugePictureIsRefusedFromItsHeader) {
    testing::TempDir dir;
    std::string png("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16);
    for (const std::uint32_t v : {18000u, 18000u}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            png += static_cast<char>((v >> shift) & 0xFF);
        }
    }
    png += std::string("\x08\0\0\0\0\0\0\0\0", 9);
    const std::string path = dir.Write("2020_09_27_08_00_58_64.png", png);
    for (const bool ahead : {false, true}) {
        // Read ahead, the error comes as it would.
        std::optional<TChannelImageReadAhead> reading;
        if (ahead) {
            reading.emplace(path);
        }
        try {
            (void)LoadChannelImage(path);
            ADD_FAILURE() << "an 18000 x 18000 picture was read";
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find("18000 x 18000 pixels"), std::string::npos)
                << e.what();
        }
    }
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

TPassOutcome RunProduct(const std::string& path, const TProductOptions& options,
                        TPassReport& report) {
    TPassSources sources;
    sources.Load("no-keps", TPassSatellite::Of(*FindMeteorSatellite("59051")));
    TPassOutcome run = ProcessSatDumpProduct(path, options, sources, report);
    EXPECT_TRUE(run.Result) << (report.Entries().empty() ? "" : report.Entries().back().Text);
    EXPECT_EQ(sources.Satellite().CatalogueNumber, "40069"); // the product's, not the chosen
    return run;
}

bool Said(const TPassReport& report, const std::string& start) {
    const auto account = report.AccountLines();
    return std::any_of(account.begin(), account.end(),
                       [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

void ExpectSameGround(const LocationGrid& grid, std::size_t row, const LocationGrid& reference,
                      std::size_t referenceRow) {
    for (const int k : {0, kNadirColumn, kGridColumns - 1}) {
        const GeoPoint& a = grid.at(row)[static_cast<std::size_t>(k)];
        const GeoPoint& b = reference.at(referenceRow)[static_cast<std::size_t>(k)];
        EXPECT_NEAR(a.lat, b.lat, 1e-4) << row << " against " << referenceRow;
        EXPECT_NEAR(a.lon, b.lon, 1e-4) << row << " against " << referenceRow;
    }
}

// The sample pass run from its file, and its picture to make products of.
struct SampleReference {
    TPassSources sources;
    TPassReport report;
    TPassOutcome file = testing::RunSamplePass(sources, report);
    TBitmap picture;
    SampleReference() { picture.LoadFromFile(kSampleImage); }
};

// The sample pass as a decoder's product folder: its picture as a PNG, one time per group
// of 8 lines (5 groups lost), its element set inside, no Kepler folder. The run takes the
// product's satellite, set and times, and places the lines where the file route does.
TEST(PassPipeline, AProductFolderRunsOnItsOwnSatelliteElementSetAndTimes) {
    SampleReference ref;
    ASSERT_TRUE(ref.file.Result);
    testing::TempDir dir;
    const std::string folder =
        WriteSampleProduct(dir, ref.picture, ref.file.Result->Times, {{"1", 0, 4000, 200, 204}});
    TPassReport report;
    const TPassOutcome run = RunProduct(folder, {}, report);
    ASSERT_TRUE(run.Result);
    EXPECT_TRUE(Said(report, "Element set: the one in " + folder + "product.cbor"));
    EXPECT_TRUE(Said(report, "  40 lines without a time (1600-1639)"));
    for (const std::size_t line : {0u, 1599u, 1640u, 3999u}) {
        ExpectSameGround(run.Result->GroundTable, line, ref.file.Result->GroundTable, line);
    }

    // The user's satellite goes over the product's, and the product's set is not its.
    TPassSources sources;
    sources.Load("no-keps", TPassSatellite{});
    TProductOptions other;
    other.Satellite = TPassSatellite::Of(*FindMeteorSatellite("59051"));
    TPassReport chosen;
    EXPECT_FALSE(ProcessSatDumpProduct(folder, other, sources, chosen).Result);
    EXPECT_EQ(sources.Satellite().CatalogueNumber, "59051");
    EXPECT_TRUE(Said(chosen, "  The product names Meteor-M N2 (catalogue number 40069); "
                             "--satellite chose Meteor-M N2-4"));
    EXPECT_EQ(chosen.EndedBy(), TPassIssue::InvalidOrbit); // no set of N2-4 anywhere
}

// Three channels of a product that start at different times, have different heights and
// lose different lines, laid together as red, green and blue: a feature of the ground
// (a bright square) lands on one composite pixel in all three colours, and that pixel is
// placed where the file route places the feature. A composite the decoder wrote beside
// its channels (SatDump keeps the groups of lines both its channels have, leaving out the
// others) is placed by those channels' times.
TEST(PassPipeline, ACompositeOfAProductsChannelsMeetsThemByTime) {
    SampleReference ref;
    ASSERT_TRUE(ref.file.Result);
    testing::TempDir dir;
    for (int y = 0; y < ref.picture.Height(); ++y) {
        for (int x = 0; x < ref.picture.Width(); ++x) {
            const bool feature = x >= 700 && x < 705 && y >= 2000 && y < 2005;
            ref.picture.ScanLine(y)[x] =
                feature ? 255 : std::min<std::uint8_t>(ref.picture.ScanLine(y)[x], 200);
        }
    }
    const std::string folder =
        WriteSampleProduct(dir, ref.picture, ref.file.Result->Times,
                           {{"1", 0, 3200}, {"2", 400, 3600, 100, 104}, {"4", 200, 3400}});

    TPassReport report;
    const TPassOutcome run = RunProduct(folder, {"", TCompositeChannels{"1", "2", "4"}}, report);
    ASSERT_TRUE(run.Result);
    const TPassResult& pass = *run.Result;
    EXPECT_TRUE(pass.Colour());
    // The time all three cover: from channel 2's start to channel 1's end.
    ASSERT_EQ(pass.Channel.Height(), 2800);
    EXPECT_EQ(pass.ImageFile, folder + "composite-1-2-4.png");
    const std::uint8_t* feature = pass.Channel.ScanLine(2002 - 400) + 3 * 702;
    EXPECT_EQ(feature[0], 255);
    EXPECT_EQ(feature[1], 255);
    EXPECT_EQ(feature[2], 255);
    const std::uint8_t* beside = pass.Channel.ScanLine(2002 - 400) + 3 * 712;
    EXPECT_LT(beside[0] + beside[1] + beside[2], 3 * 255);
    ExpectSameGround(pass.GroundTable, 2002 - 400, ref.file.Result->GroundTable, 2002);
    // Channel 2's lost groups (its lines 800-839) are black in all three colours.
    const std::uint8_t* lost = pass.Channel.ScanLine(1200 + 3 - 400) + 3 * 800;
    EXPECT_EQ(lost[0] + lost[1] + lost[2], 0);
    EXPECT_TRUE(Said(report, "  Colour composite: 2800 lines"));

    // SatDump's 2,2,1: channel 2's groups that channel 1 has too, its lost ones left out.
    TBitmap rgb;
    rgb.SetSize(ref.picture.Width(), 345 * 8);
    for (int y = 0; y < rgb.Height(); ++y) {
        const int line = y < 800 ? 400 + y : 1240 + (y - 800);
        for (int x = 0; x < rgb.Width(); ++x) {
            const std::uint8_t v = ref.picture.ScanLine(line)[x];
            std::uint8_t* p = rgb.ScanLine(y) + 3 * x;
            p[0] = v;
            p[1] = p[2] = static_cast<std::uint8_t>(v / 2);
        }
    }
    TPngImage png;
    png.AssignBitmap(rgb);
    png.SaveToFile(folder + "msu_mr_rgb_221.png");
    TPassReport written;
    const TPassOutcome beside221 = RunProduct(folder + "msu_mr_rgb_221.png", {}, written);
    ASSERT_TRUE(beside221.Result);
    EXPECT_TRUE(beside221.Result->Colour());
    EXPECT_TRUE(Said(written, "  The product does not list msu_mr_rgb_221.png (2760 lines): it "
                              "has the lines channels 2, 1 have in common"));
    ExpectSameGround(beside221.Result->GroundTable, 100, ref.file.Result->GroundTable, 500);
    ExpectSameGround(beside221.Result->GroundTable, 900, ref.file.Result->GroundTable, 1340);
}

// A colour ref.picture named like a channel image, with the pass's .STAT files, keeps its
// colours and is drawn as it is (stretched colour by colour when asked), with the timing
// and map of its channel; grey pixels in 24 bits are a channel image still.
TEST(PassPipeline, AColourPictureKeepsItsColoursAndItsChannelsTiming) {
    TPassSources sources;
    TPassReport greyReport;
    const TPassOutcome grey = testing::RunSamplePass(sources, greyReport);
    ASSERT_TRUE(grey.Result);

    testing::TempDir dir;
    const std::string name = testing::ShiftedSampleCopy(dir, 0, 0);
    TExtBitmap colour;
    colour.LoadFromFile(name);
    colour.SetPixelFormat(TPixelFormat::pf24bit);
    TExtBitmap greyIn24 = colour;
    greyIn24.SaveToFile(name);
    TPassReport report24;
    const TPassOutcome as24 = testing::RunSamplePass(sources, report24, name);
    ASSERT_TRUE(as24.Result);
    EXPECT_FALSE(as24.Result->Colour());
    EXPECT_TRUE(std::equal(as24.Result->Channel.Bits().begin(), as24.Result->Channel.Bits().end(),
                           grey.Result->Channel.Bits().begin()));

    testing::Colourise(colour);
    colour.SaveToFile(name);
    TPassReport report;
    const TPassOutcome run = testing::RunSamplePass(sources, report, name);
    ASSERT_TRUE(run.Result);
    EXPECT_TRUE(run.Result->Colour());
    EXPECT_TRUE(std::equal(run.Result->Channel.Bits().begin(), run.Result->Channel.Bits().end(),
                           colour.Bits().begin()));
    EXPECT_TRUE(Said(report, "Picture: in colour, drawn as it is"));
    ExpectSameGround(run.Result->GroundTable, 0, grey.Result->GroundTable, 0);
    ExpectSameGround(run.Result->GroundTable, 3999, grey.Result->GroundTable, 3999);
    EXPECT_EQ(run.Result->LineOffset, grey.Result->LineOffset);

    sources.Load(kSampleKeps, TPassSatellite{});
    TPassReport stretchedReport;
    FixedClock utc(testing::kSampleDay, 0.0);
    ScopedClock scoped(utc);
    const TPassOutcome stretched = ProcessChannelImageFile(
        name, {"", testing::kSampleDay, std::nullopt, true}, sources, stretchedReport);
    ASSERT_TRUE(stretched.Result);
    EXPECT_TRUE(stretched.Result->Colour());
    EXPECT_FALSE(std::equal(stretched.Result->Channel.Bits().begin(),
                            stretched.Result->Channel.Bits().end(), colour.Bits().begin()));
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
