// The GeoTIFFs of the sample pass, read back with GDAL: its control points are the ground
// table's, and the map-projected picture puts coasts where GDAL's georeference says.

#include "session/PassSession.h"

#include "FullDisk.h"
#include "SamplePass.h"
#include "TempDir.h"
#include "common/Clock.h"
#include "common/Files.h"
#include "common/Program.h"
#include "common/TextFile.h"
#include "imaging/Canvas.h"
#include "mapping/MapWithWarp.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <gdal_utils.h>
#include <ogr_spatialref.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

namespace vantorel {
namespace {

using testing::kSampleImage;
using testing::kSampleKeps;
using testing::TempDir;

struct Dataset {
    explicit Dataset(const std::string& name)
        : ds(static_cast<GDALDataset*>(GDALOpen(name.c_str(), GA_ReadOnly))) {}
    ~Dataset() { GDALClose(ds); }
    Dataset(const Dataset&) = delete;
    Dataset& operator=(const Dataset&) = delete;
    GDALDataset* ds;
};

// gdalinfo's report of a file, failing on any error or warning GDAL raises while making it.
void ExpectCleanInfo(GDALDataset* ds) {
    CPLErrorReset();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    char* info = GDALInfo(ds, nullptr);
    CPLPopErrorHandler();
    EXPECT_NE(info, nullptr);
    EXPECT_EQ(CPLGetLastErrorType(), CE_None) << CPLGetLastErrorMsg();
    CPLFree(info);
}

struct GeoTiff : ::testing::Test {
    // Sparse map pixels of a longitude/latitude file off the overlay hold, in each colour, a
    // level that the picture has within two pixels of the mapping's place for them (the
    // projection interpolates places across its cells).
    void ExpectTheChannelAtEachPixel(GDALDataset* ds, const double* gt) const {
        const TExtBitmap& channel = run.Pass()->Channel;
        const int w = ds->GetRasterXSize(), h = ds->GetRasterYSize();
        int compared = 0;
        for (int my = 5; my < h; my += 61) {
            for (int mx = 3; mx < w; mx += 59) {
                std::uint8_t rgba[4] = {};
                for (int band = 0; band < 4; ++band) {
                    ASSERT_EQ(ds->GetRasterBand(band + 1)->RasterIO(
                                  GF_Read, mx, my, 1, 1, &rgba[band], 1, 1, GDT_Byte, 0, 0),
                              CE_None);
                }
                if (rgba[3] == 0 || (rgba[0] == 255 && rgba[1] == 255 && rgba[2] == 0)) {
                    continue; // no picture, or the overlay
                }
                float x = 0.0f, y = 0.0f;
                const auto lon = static_cast<float>(gt[0] + (mx + 0.5) * gt[1]);
                const auto lat = static_cast<float>(gt[3] + (my + 0.5) * gt[5]);
                ASSERT_TRUE(run.Pass()->Mapping.LatLonToImageF(x, y, lon, lat, true));
                const int cx = static_cast<int>(std::lround(x)) + run.PixelOffset();
                const int cy = static_cast<int>(std::lround(y)) - run.LineOffset();
                if (cx < 2 || cy < 2 || cx + 2 >= channel.Width() || cy + 2 >= channel.Height()) {
                    continue;
                }
                const bool colour = channel.PixelFormat() == TPixelFormat::pf24bit;
                for (int band = 0; band < 3; ++band) {
                    int lo = 255, hi = 0;
                    for (int dy = -2; dy <= 2; ++dy) {
                        for (int dx = -2; dx <= 2; ++dx) {
                            const std::uint8_t* row = channel.ScanLine(cy + dy);
                            const int v = colour ? row[3 * (cx + dx) + 2 - band] : row[cx + dx];
                            lo = std::min(lo, v);
                            hi = std::max(hi, v);
                        }
                    }
                    EXPECT_GE(rgba[band], lo) << mx << ", " << my << " band " << band;
                    EXPECT_LE(rgba[band], hi) << mx << ", " << my << " band " << band;
                }
                ++compared;
            }
        }
        EXPECT_GT(compared, 1000);
    }

    testing::ProgramFolder program;
    FixedClock clock{EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0};
    ScopedClock scopedClock{clock};
    TPassSession run;
    const TPassSession::TDelivery ignore = [](const TReportEntry&) {};
    TempDir dir;

    void SetUp() override {
        EnsureGuiApplication();
        GDALAllRegister();
        run.Setup.Keplers = kSampleKeps;
        run.Start(LoadSessionData(), "Vantorel - V1", {});
        ASSERT_TRUE(run.ProcessFile(kSampleImage, ignore).Finished);
        ASSERT_NE(run.LineOffset(), 0); // the offsets must be carried into both files
        ASSERT_NE(run.PixelOffset(), 0);
    }
};

TEST_F(GeoTiff, ControlPointsAreTheGroundTableAtTheirPixels) {
    const std::string name = dir / "g.tif";
    const std::string written = run.SavePicture(name);
    EXPECT_NE(written.find("ground control points in WGS 84"), std::string::npos) << written;
    Dataset file(name);
    ASSERT_NE(file.ds, nullptr);
    ExpectCleanInfo(file.ds);
    EXPECT_EQ(file.ds->GetRasterXSize(), run.Picture().Width());
    EXPECT_EQ(file.ds->GetRasterCount(), 3);
    ASSERT_GT(file.ds->GetGCPCount(), 500);
    ASSERT_NE(file.ds->GetGCPSpatialRef(), nullptr);
    EXPECT_TRUE(file.ds->GetGCPSpatialRef()->IsGeographic());
    const GDAL_GCP* gcps = file.ds->GetGCPs();
    const LocationGrid& table = run.Pass()->GroundTable;
    for (int i = 0; i < file.ds->GetGCPCount(); ++i) {
        const GDAL_GCP& g = gcps[i];
        // The picture shows ground of line l, column c moved by the offsets.
        const int l = static_cast<int>(std::lround(g.dfGCPLine - 0.5)) + run.LineOffset();
        const int c = static_cast<int>(std::lround(g.dfGCPPixel - 0.5)) - run.PixelOffset();
        ASSERT_GE(l, 0);
        ASSERT_LT(l, static_cast<int>(table.size()));
        const int k = (c - kMeteorScanLayout.ColumnOf(0)) / kMeteorScanLayout.Step;
        ASSERT_EQ(kMeteorScanLayout.ColumnOf(k), c) << "no sample at column " << c;
        const GeoPoint& p = table[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)];
        EXPECT_NEAR(g.dfGCPX, p.lon, 1e-6);
        EXPECT_NEAR(g.dfGCPY, p.lat, 1e-6);
    }
}

// The coast at Skagen and at the Lizard lies where GDAL's georeference places it, on the
// drawn boundary, in longitude/latitude and in UTM; and every map pixel shows the channel
// where the fitted mapping puts its centre, moved by the offsets as the overlay is.
TEST_F(GeoTiff, TheProjectedPictureHasTheOverlayWhereTheGeoreferenceSays) {
    struct Cape {
        double lon, lat;
    };
    const Cape capes[] = {{10.5946, 57.7437}, {-5.2047, 49.9597}};
    for (const std::string crs : {"", "EPSG:32632"}) {
        SCOPED_TRACE(crs);
        const std::string name = dir / (crs.empty() ? "p.tif" : "u.tif");
        const std::string written = run.SaveProjectedPicture(name, crs, 0.0);
        EXPECT_NE(written.find("world file"), std::string::npos) << written;
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(name).replace_extension(".tfw")));
        Dataset file(name);
        ASSERT_NE(file.ds, nullptr);
        ExpectCleanInfo(file.ds);
        ASSERT_EQ(file.ds->GetRasterCount(), 4);
        double gt[6] = {};
        ASSERT_EQ(file.ds->GetGeoTransform(gt), CE_None);
        if (!crs.empty()) {
            EXPECT_DOUBLE_EQ(gt[1], 1000.0);
        }
        // The world file says what the GeoTIFF says: the centre of the top-left pixel.
        double world[6] = {};
        GDALReadWorldFile(name.c_str(), "tfw", world);
        EXPECT_NEAR(world[0], gt[0], 1e-6);
        EXPECT_NEAR(world[1], gt[1], 1e-9);
        EXPECT_NEAR(world[3], gt[3], 1e-6);
        EXPECT_NEAR(world[5], gt[5], 1e-9);
        OGRSpatialReference wgs84;
        wgs84.SetWellKnownGeogCS("WGS84");
        wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        OGRSpatialReference target(*file.ds->GetSpatialRef());
        target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        std::unique_ptr<OGRCoordinateTransformation> toMap(
            OGRCreateCoordinateTransformation(&wgs84, &target));
        ASSERT_NE(toMap, nullptr);
        for (const Cape& cape : capes) {
            double x = cape.lon, y = cape.lat;
            ASSERT_TRUE(toMap->Transform(1, &x, &y));
            // gdallocationinfo's pixel for the place.
            const int mx = static_cast<int>(std::floor((x - gt[0]) / gt[1]));
            const int my = static_cast<int>(std::floor((y - gt[3]) / gt[5]));
            std::uint8_t rgba[4][3 * 3] = {};
            for (int band = 0; band < 4; ++band) {
                ASSERT_EQ(file.ds->GetRasterBand(band + 1)->RasterIO(
                              GF_Read, mx - 1, my - 1, 3, 3, rgba[band], 3, 3, GDT_Byte, 0, 0),
                          CE_None);
            }
            // The overlay colour (yellow) within a pixel of it, on the picture.
            bool onOverlay = false;
            for (int i = 0; i < 9; ++i) {
                onOverlay |= rgba[0][i] == 255 && rgba[1][i] == 255 && rgba[2][i] == 0;
                EXPECT_EQ(rgba[3][i], 255);
            }
            EXPECT_TRUE(onOverlay)
                << "no overlay within a pixel of " << cape.lon << ", " << cape.lat;
        }
        if (crs.empty()) {
            ExpectTheChannelAtEachPixel(file.ds, gt);
        }
    }
}

// A colour picture keeps its colours in both files: the picture with its control points,
// and the map-projected one, each map pixel in the picture's colours at its place.
TEST_F(GeoTiff, AColourPictureKeepsItsColours) {
    const std::string name = testing::ShiftedSampleCopy(dir, 0, 0);
    TExtBitmap colour;
    colour.LoadFromFile(name);
    colour.SetPixelFormat(TPixelFormat::pf24bit);
    testing::Colourise(colour);
    colour.SaveToFile(name);
    ASSERT_TRUE(run.ProcessFile(name, ignore).Finished);
    ASSERT_EQ(run.Pass()->Channel.PixelFormat(), TPixelFormat::pf24bit);

    run.SavePicture(dir / "g.tif", false);
    Dataset plain(dir / "g.tif");
    ASSERT_NE(plain.ds, nullptr);
    ASSERT_EQ(plain.ds->GetRasterCount(), 3);
    std::uint8_t rgb[3] = {};
    for (int band = 0; band < 3; ++band) {
        ASSERT_EQ(plain.ds->GetRasterBand(band + 1)->RasterIO(GF_Read, 700, 2000, 1, 1, &rgb[band],
                                                              1, 1, GDT_Byte, 0, 0),
                  CE_None);
    }
    const std::uint8_t* bgr = run.Pass()->Channel.ScanLine(2000) + 3 * 700;
    EXPECT_EQ(rgb[0], bgr[2]);
    EXPECT_EQ(rgb[1], bgr[1]);
    EXPECT_EQ(rgb[2], bgr[0]);

    run.SaveProjectedPicture(dir / "p.tif", "", 0.0);
    Dataset projected(dir / "p.tif");
    ASSERT_NE(projected.ds, nullptr);
    double gt[6] = {};
    ASSERT_EQ(projected.ds->GetGeoTransform(gt), CE_None);
    ExpectTheChannelAtEachPixel(projected.ds, gt);
}

// A full disk leaves the map-projected picture and its world file as they were.
TEST_F(GeoTiff, AFullDiskLeavesTheProjectedPictureThatWasThere) {
    const std::string tif = dir.Write("p.tif", "the picture that was there");
    const std::string tfw = dir.Write("p.tfw", "its world file");
    {
        testing::FullDisk full(64 * 1024);
        EXPECT_THROW(run.SaveProjectedPicture(tif, "", 0.0), std::exception);
    }
    EXPECT_EQ(ReadFileBytes(tif), "the picture that was there");
    EXPECT_EQ(ReadFileBytes(tfw), "its world file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              2);
}

} // namespace
} // namespace vantorel
