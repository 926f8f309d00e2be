// The GDAL module: GeoTIFFs through GDAL's GTiff driver, the reference for the format, and
// coordinate systems through its OSR (PROJ underneath), which reads any system a user may
// name. GDAL's messages are kept from the terminal and handed back in the failures.
#include "export/GdalModule.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <mutex>
#include <vector>

namespace vantorel::gdal {
namespace {

// GDAL's messages go to its last-error record, not to standard error, while one lives.
class TQuiet {
public:
    TQuiet() {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~TQuiet() { CPLPopErrorHandler(); }
    TQuiet(const TQuiet&) = delete;
    TQuiet& operator=(const TQuiet&) = delete;

    static std::string Message() {
        const char* m = CPLGetLastErrorMsg();
        return m != nullptr && *m != '\0' ? m : "GDAL gave no reason";
    }
};

struct TDatasetCloser {
    void operator()(GDALDataset* d) const { GDALClose(d); }
};
using TDataset = std::unique_ptr<GDALDataset, TDatasetCloser>;

OGRSpatialReference Wgs84() {
    OGRSpatialReference srs;
    srs.SetWellKnownGeogCS("WGS84");
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER); // longitude first
    return srs;
}

std::string WktOf(const OGRSpatialReference& srs) {
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    std::string text = wkt != nullptr ? wkt : "";
    CPLFree(wkt);
    return text;
}

// An in-memory dataset of the raster's bands (grey, or B, G, R reordered to R, G, B, and
// alpha when given).
TDataset MemoryDataset(const TRaster& r) {
    const int bands = r.Colours + (r.Alpha != nullptr ? 1 : 0);
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    // Pixel by pixel, as the GeoTIFF holds them: the copy into it takes whole rows.
    char** layout = CSLSetNameValue(nullptr, "INTERLEAVE", "PIXEL");
    TDataset ds(memory->Create("", r.Width, r.Height, bands, GDT_Byte, layout));
    CSLDestroy(layout);
    if (!ds) {
        return ds;
    }
    // Each row's blue, green and red go to bands 3, 2 and 1; all rows in one call.
    int order[] = {3, 2, 1};
    const bool grey = r.Colours == 1;
    auto* pixels = const_cast<std::uint8_t*>(r.Pixels);
    const bool written =
        ds->RasterIO(GF_Write, 0, 0, r.Width, r.Height, pixels, r.Width, r.Height, GDT_Byte,
                     r.Colours, grey ? nullptr : order, r.Colours, static_cast<GSpacing>(r.Stride),
                     1, nullptr) == CE_None &&
        (r.Alpha == nullptr ||
         ds->GetRasterBand(bands)->RasterIO(GF_Write, 0, 0, r.Width, r.Height,
                                            const_cast<std::uint8_t*>(r.Alpha), r.Width,
                                            r.Height, GDT_Byte, 0, 0) == CE_None);
    if (!written) {
        return nullptr;
    }
    if (!grey) {
        ds->GetRasterBand(1)->SetColorInterpretation(GCI_RedBand);
        ds->GetRasterBand(2)->SetColorInterpretation(GCI_GreenBand);
        ds->GetRasterBand(3)->SetColorInterpretation(GCI_BlueBand);
    }
    if (r.Alpha != nullptr) {
        ds->GetRasterBand(bands)->SetColorInterpretation(GCI_AlphaBand);
    }
    return ds;
}

// Places the dataset: control points in WGS 84, or a transform in the grid's system.
bool Georeference(GDALDataset& ds, const TGeoreference& where) {
    if (where.Transform) {
        std::array<double, 6> transform = *where.Transform;
        OGRSpatialReference srs;
        srs.importFromWkt(where.Wkt.c_str());
        return ds.SetGeoTransform(transform.data()) == CE_None &&
               ds.SetSpatialRef(&srs) == CE_None;
    }
    std::vector<GDAL_GCP> gcps(where.Gcps.size());
    std::vector<std::string> ids(where.Gcps.size());
    for (std::size_t i = 0; i < where.Gcps.size(); ++i) {
        ids[i] = std::to_string(i + 1);
        gcps[i].pszId = ids[i].data();
        gcps[i].pszInfo = const_cast<char*>("");
        gcps[i].dfGCPPixel = where.Gcps[i].Pixel;
        gcps[i].dfGCPLine = where.Gcps[i].Line;
        gcps[i].dfGCPX = where.Gcps[i].Lon;
        gcps[i].dfGCPY = where.Gcps[i].Lat;
        gcps[i].dfGCPZ = 0.0;
    }
    const OGRSpatialReference wgs84 = Wgs84();
    return ds.SetGCPs(static_cast<int>(gcps.size()), gcps.data(), &wgs84) == CE_None;
}

// Copies the dataset to a GeoTIFF file; nothing is left behind when that fails.
std::optional<TFailure> CopyToGeoTiff(GDALDataset& ds, const std::string& fileName) {
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    char** options = nullptr;
    options = CSLSetNameValue(options, "COMPRESS", "DEFLATE");
    options = CSLSetNameValue(options, "PREDICTOR", "2");
    // Strips of 16 rows at level 4 of 12: a third of the time of GDAL's one-row strips at
    // level 6, and fewer bytes.
    options = CSLSetNameValue(options, "ZLEVEL", "4");
    options = CSLSetNameValue(options, "BLOCKYSIZE", "16");
    // The strips are compressed on every core: compression is nearly all of the writing.
    options = CSLSetNameValue(options, "NUM_THREADS", "ALL_CPUS");
    if (ds.GetRasterCount() == 4) {
        options = CSLSetNameValue(options, "ALPHA", "YES");
    }
    CPLErrorReset();
    TDataset out(gtiff->CreateCopy(fileName.c_str(), &ds, FALSE, options, nullptr, nullptr));
    CSLDestroy(options);
    // The strips are written out as the file closes: a full disk shows only then, as an
    // error GDAL records (its close returns nothing here).
    const bool created = out != nullptr;
    out.reset();
    if (!created || CPLGetLastErrorType() >= CE_Failure) {
        std::string why = TQuiet::Message();
        VSIUnlink(fileName.c_str());
        return TFailure{"Cannot write the GeoTIFF", std::move(why), true};
    }
    return std::nullopt;
}

class TOsrCrs final : public TCrs {
public:
    // WGS 84 longitude/latitude itself: no transformation.
    TOsrCrs() : wkt_(WktOf(Wgs84())) {}

    // Null forward_ when the system cannot be used, with the reason in error.
    TOsrCrs(const std::string& crs, std::string& error) {
        OGRSpatialReference target;
        if (target.SetFromUserInput(crs.c_str()) != OGRERR_NONE) {
            const char* why = CPLGetLastErrorMsg();
            error = "The coordinate system \"" + crs + "\" is not one PROJ reads" +
                    (why != nullptr && *why != '\0' ? std::string(": ") + why : std::string());
            return;
        }
        target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        const OGRSpatialReference wgs84 = Wgs84();
        forward_.reset(OGRCreateCoordinateTransformation(&wgs84, &target));
        inverse_.reset(OGRCreateCoordinateTransformation(&target, &wgs84));
        if (!forward_ || !inverse_) {
            error = "No transformation from WGS 84 to \"" + crs + "\": " + TQuiet::Message();
            forward_.reset();
            return;
        }
        geographic_ = target.IsGeographic() != 0;
        metres_ = geographic_ ? 1.0 : target.GetLinearUnits();
        wkt_ = WktOf(target);
    }

    bool Geographic() const override { return geographic_ || !forward_; }
    double Metres() const override { return metres_; }
    const std::string& Wkt() const override { return wkt_; }
    bool Forward(double lon, double lat, double& x, double& y) const override {
        x = lon;
        y = lat;
        return !forward_ || forward_->Transform(1, &x, &y) != 0;
    }
    bool Inverse(double x, double y, double& lon, double& lat) const override {
        lon = x;
        lat = y;
        return !inverse_ || inverse_->Transform(1, &lon, &lat) != 0;
    }
    bool Usable() const { return forward_ != nullptr; }

private:
    TQuiet quiet_; // failed transformations stay off the terminal while the system is used
    std::unique_ptr<OGRCoordinateTransformation> forward_;
    std::unique_ptr<OGRCoordinateTransformation> inverse_;
    bool geographic_ = true;
    double metres_ = 1.0;
    std::string wkt_;
};

class TGdalModule final : public TModule {
public:
    TGdalModule() { GDALAllRegister(); }

    std::optional<TFailure> WriteGeoTiff(const TRaster& raster, const TGeoreference& where,
                                         const std::string& fileName) override {
        const TQuiet quiet;
        TDataset ds = MemoryDataset(raster);
        if (!ds) {
            return TFailure{"Cannot make the GeoTIFF's picture", TQuiet::Message(), false};
        }
        if (!Georeference(*ds, where)) {
            return TFailure{"Cannot write the GeoTIFF", TQuiet::Message(), true};
        }
        return CopyToGeoTiff(*ds, fileName);
    }

    std::unique_ptr<TCrs> Crs(const std::string& crs, std::string& error) override {
        if (crs.empty()) {
            return std::make_unique<TOsrCrs>();
        }
        auto made = std::make_unique<TOsrCrs>(crs, error);
        if (!made->Usable()) {
            return nullptr;
        }
        return made;
    }
};

} // namespace
} // namespace vantorel::gdal

extern "C" vantorel::gdal::TModule* VantorelGdalModule() {
    static std::once_flag once;
    static vantorel::gdal::TGdalModule* module = nullptr;
    // Never destroyed: GDAL's own teardown at exit is its business.
    std::call_once(once, [] { module = new vantorel::gdal::TGdalModule(); });
    return module;
}
