// The GeoTIFF files as GDAL itself writes them: every kind of picture, copied by GDAL's own
// GTiff writer with the same options, gives the very same bytes.

#include "export/GeoTiff.h"

#include "TempDir.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/TextFile.h"

#include <cpl_string.h>
#include <gdal_priv.h>

#include <gtest/gtest.h>

#include <random>

namespace vantorel {
namespace {

using testing::TempDir;

// GDAL's copy of a file, written by its GTiff driver with the options ours are written with.
std::string GdalsCopy(const std::string& name, const std::string& copy) {
    GDALAllRegister();
    GDALDataset* from = static_cast<GDALDataset*>(GDALOpen(name.c_str(), GA_ReadOnly));
    EXPECT_NE(from, nullptr) << name;
    if (from == nullptr) {
        return {};
    }
    char** options = nullptr;
    for (const char* option : {"COMPRESS=DEFLATE", "PREDICTOR=2", "ZLEVEL=4", "BLOCKYSIZE=16"}) {
        options = CSLAddString(options, option);
    }
    if (from->GetRasterCount() == 4) {
        options = CSLAddString(options, "ALPHA=YES");
    }
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALClose(gtiff->CreateCopy(copy.c_str(), from, FALSE, options, nullptr, nullptr));
    CSLDestroy(options);
    GDALClose(from);
    return ReadFileBytes(copy).value_or("");
}

void Scribble(TBitmap& picture, unsigned seed) {
    std::mt19937 random(seed);
    for (int y = 0; y < picture.Height(); ++y) {
        std::uint8_t* row = picture.ScanLine(y);
        const int bytes =
            picture.Width() * (picture.PixelFormat() == TPixelFormat::pf24bit ? 3 : 1);
        for (int i = 0; i < bytes; ++i) {
            // Smooth runs with noise, as pictures have, so that the predictor matters.
            row[i] = static_cast<std::uint8_t>((i / 7 + y) * 3 + random() % 5);
        }
    }
}

// Sizes with a short last strip, a single pixel and one row exactly of strips.
TEST(GeoTiffFile, IsTheFileGdalWritesOfTheSamePicture) {
    TempDir dir;
    const std::vector<TControlPoint> points = {
        {0.5, 0.5, 10.0, 50.0}, {30.5, 0.5, 12.0, 50.5}, {0.5, 30.5, 10.5, 48.0}};
    int written = 0;
    for (const auto& [width, height] : {std::pair{37, 35}, {1, 1}, {64, 32}}) {
        for (const bool colour : {false, true}) {
            TBitmap picture;
            picture.SetPixelFormat(colour ? TPixelFormat::pf24bit : TPixelFormat::pf8bit);
            if (!colour) {
                picture.SetPalette(GrayRamp());
            }
            picture.SetSize(width, height);
            Scribble(picture, static_cast<unsigned>(width * 2 + colour));
            const std::string name = dir / Format("g%d.tif", written++);
            WriteGeoTiff(picture, name, points);
            EXPECT_EQ(ReadFileBytes(name).value_or("-"), GdalsCopy(name, dir / "copy.tif")) << name;
        }
        TProjectedPicture projected;
        projected.Grid = {"", "", 10.0, 50.0, 0.01, 0.01, width, height};
        projected.Grid.Wkt =
            R"(GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]])";
        projected.Picture.SetPixelFormat(TPixelFormat::pf24bit);
        projected.Picture.SetSize(width, height);
        Scribble(projected.Picture, static_cast<unsigned>(height));
        projected.Alpha.resize(static_cast<std::size_t>(width) * height);
        for (std::size_t i = 0; i < projected.Alpha.size(); ++i) {
            projected.Alpha[i] = i % 5 == 0 ? 0 : 255;
        }
        const std::string name = dir / Format("p%d.tif", written++);
        WriteProjectedGeoTiff(projected, name);
        EXPECT_EQ(ReadFileBytes(name).value_or("-"), GdalsCopy(name, dir / "copy.tif")) << name;
    }
}

} // namespace
} // namespace vantorel
