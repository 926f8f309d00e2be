// The GDAL module: GeoTIFFs through GDAL's GTiff driver, the reference for the format, and
// coordinate systems through its OSR (PROJ underneath), which reads any system a user may
// name. GDAL's messages are kept from the terminal and handed back in the failures.
// GDAL writes a GeoTIFF's tags and georeference; its strips are coded here on every core,
// as libtiff codes them, and put in place through libtiff: the same bytes in half the time.
#include "export/GdalModule.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
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

// Strips of 16 rows at level 4 of 12: a third of the time of GDAL's one-row strips at
// level 6, and fewer bytes.
constexpr int kStripRows = 16;
constexpr int kDeflateLevel = 4;

// The file with its tags and georeference but no strips, made by GDAL's GTiff driver.
std::optional<TFailure> CreateWithoutStrips(const TRaster& r, const TGeoreference& where,
                                            const std::string& fileName) {
    const int bands = r.Colours + (r.Alpha != nullptr ? 1 : 0);
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    char** options = nullptr;
    options = CSLSetNameValue(options, "COMPRESS", "DEFLATE");
    options = CSLSetNameValue(options, "PREDICTOR", "2");
    options = CSLSetNameValue(options, "ZLEVEL", std::to_string(kDeflateLevel).c_str());
    options = CSLSetNameValue(options, "BLOCKYSIZE", std::to_string(kStripRows).c_str());
    options = CSLSetNameValue(options, "INTERLEAVE", "PIXEL");
    options = CSLSetNameValue(options, "SPARSE_OK", "TRUE"); // the strips come after
    if (r.Colours == 3) {
        options = CSLSetNameValue(options, "PHOTOMETRIC", "RGB");
    }
    if (r.Alpha != nullptr) {
        options = CSLSetNameValue(options, "ALPHA", "YES");
    }
    CPLErrorReset();
    TDataset ds(gtiff->Create(fileName.c_str(), r.Width, r.Height, bands, GDT_Byte, options));
    CSLDestroy(options);
    if (!ds) {
        return TFailure{"Cannot write the GeoTIFF", TQuiet::Message(), true};
    }
    const bool placed = Georeference(*ds, where);
    ds.reset();
    if (!placed || CPLGetLastErrorType() >= CE_Failure) {
        std::string why = TQuiet::Message();
        VSIUnlink(fileName.c_str());
        return TFailure{"Cannot write the GeoTIFF", std::move(why), true};
    }
    return std::nullopt;
}

// libtiff's messages on one file, kept for the failure.
int KeepTiffMessage(TIFF*, void* user, const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    auto& kept = *static_cast<std::string*>(user);
    if (kept.empty()) {
        kept = std::string(module != nullptr ? module : "libtiff") + ": " + text;
    }
    return 1;
}

int IgnoreTiffMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TTiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

// The rows of strip `index`, interleaved as the file holds them (R, G, B, alpha), with the
// horizontal predictor applied and deflated as libtiff would.
class TStripCoder {
public:
    TStripCoder(const TRaster& r, int stripRows)
        : r_(r), stripRows_(stripRows), bands_(r.Colours + (r.Alpha != nullptr ? 1 : 0)),
          deflate_(libdeflate_alloc_compressor(kDeflateLevel)) {}
    ~TStripCoder() { libdeflate_free_compressor(deflate_); }
    TStripCoder(const TStripCoder&) = delete;
    TStripCoder& operator=(const TStripCoder&) = delete;

    bool Usable() const { return deflate_ != nullptr; }

    void Code(int index, std::vector<std::uint8_t>& out) {
        const int first = index * stripRows_;
        const int rows = std::min(stripRows_, r_.Height - first);
        const std::size_t rowBytes = static_cast<std::size_t>(r_.Width) * bands_;
        raw_.resize(rowBytes * rows);
        for (int y = 0; y < rows; ++y) {
            std::uint8_t* to = raw_.data() + rowBytes * y;
            Interleave(first + y, to);
            for (std::size_t i = rowBytes; i-- > static_cast<std::size_t>(bands_);) {
                to[i] = static_cast<std::uint8_t>(to[i] - to[i - bands_]);
            }
        }
        out.resize(libdeflate_zlib_compress_bound(deflate_, raw_.size()));
        out.resize(
            libdeflate_zlib_compress(deflate_, raw_.data(), raw_.size(), out.data(), out.size()));
    }

private:
    void Interleave(int y, std::uint8_t* to) const {
        const std::uint8_t* from = r_.Pixels + r_.Stride * y;
        if (r_.Colours == 1 && r_.Alpha == nullptr) {
            std::memcpy(to, from, static_cast<std::size_t>(r_.Width));
            return;
        }
        const std::uint8_t* alpha =
            r_.Alpha != nullptr ? r_.Alpha + static_cast<std::ptrdiff_t>(r_.Width) * y : nullptr;
        for (int x = 0; x < r_.Width; ++x) {
            const std::uint8_t* p = from + static_cast<std::ptrdiff_t>(x) * r_.Colours;
            if (r_.Colours == 3) { // B, G, R
                *to++ = p[2];
                *to++ = p[1];
                *to++ = p[0];
            } else {
                *to++ = p[0];
            }
            if (alpha != nullptr) {
                *to++ = alpha[x];
            }
        }
    }

    const TRaster& r_;
    int stripRows_;
    int bands_;
    libdeflate_compressor* deflate_;
    std::vector<std::uint8_t> raw_;
};

// Codes strips 0 to count - 1 of `stripRows` rows on every core and hands each to `write` in order,
// at most a few strips ahead of the one written next; false when a strip could not be coded or
// written (`write` returned false), and then no more are written.
bool CodeInOrder(const TRaster& r, int stripRows, int count,
                 const std::function<bool(int, std::vector<std::uint8_t>&)>& write) {
    const int threads =
        std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, std::max(count, 1));
    const int ahead = 4 * threads;
    std::vector<std::vector<std::uint8_t>> coded(static_cast<std::size_t>(count));
    std::vector<char> ready(static_cast<std::size_t>(count), 0);
    std::mutex mutex;
    std::condition_variable changed;
    int next = 0;    // the next strip to code
    int written = 0; // strips written
    bool failed = false;
    auto work = [&] {
        TStripCoder coder(r, stripRows);
        std::vector<std::uint8_t> out;
        while (true) {
            int strip = 0;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock,
                             [&] { return failed || next >= count || next < written + ahead; });
                if (failed || next >= count) {
                    return;
                }
                strip = next++;
            }
            const bool ok = coder.Usable() && (coder.Code(strip, out), !out.empty());
            const std::lock_guard lock(mutex);
            failed = failed || !ok;
            coded[static_cast<std::size_t>(strip)].swap(out);
            ready[static_cast<std::size_t>(strip)] = 1;
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) {
        pool.emplace_back(work);
    }
    for (int strip = 0; strip < count; ++strip) {
        std::vector<std::uint8_t> bytes;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock,
                         [&] { return failed || ready[static_cast<std::size_t>(strip)] != 0; });
            if (failed) {
                break;
            }
            bytes.swap(coded[static_cast<std::size_t>(strip)]);
        }
        const bool stored = write(strip, bytes);
        const std::lock_guard lock(mutex);
        written = strip + 1;
        failed = failed || !stored;
        changed.notify_all();
    }
    for (std::thread& t : pool) {
        t.join();
    }
    return !failed;
}

// Fills the strips of the file GDAL made, through libtiff. Coding is nearly all of the
// writing, and GDAL's own threads kept a second core only a quarter busy.
std::optional<TFailure> WriteStrips(const TRaster& r, const std::string& fileName) {
    std::string why;
    TIFFOpenOptions* opened = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opened, KeepTiffMessage, &why);
    TIFFOpenOptionsSetWarningHandlerExtR(opened, IgnoreTiffMessage, nullptr);
    std::unique_ptr<TIFF, TTiffCloser> tif(TIFFOpenExt(fileName.c_str(), "r+", opened));
    TIFFOpenOptionsFree(opened);
    // A picture shorter than a strip is one strip of its height.
    std::uint32_t rowsPerStrip = 0;
    bool written = tif && TIFFGetField(tif.get(), TIFFTAG_ROWSPERSTRIP, &rowsPerStrip) == 1 &&
                   rowsPerStrip == static_cast<std::uint32_t>(std::min(kStripRows, r.Height));
    const int stripRows = static_cast<int>(rowsPerStrip);
    const int strips = written ? (r.Height + stripRows - 1) / stripRows : 0;
    written = written && TIFFNumberOfStrips(tif.get()) == static_cast<std::uint32_t>(strips);
    if (!written && why.empty()) {
        why = "GDAL made the file with other strips";
    }
    written = written &&
              CodeInOrder(r, stripRows, strips, [&](int strip, std::vector<std::uint8_t>& bytes) {
                  const auto size = static_cast<tmsize_t>(bytes.size());
                  return TIFFWriteRawStrip(tif.get(), static_cast<std::uint32_t>(strip),
                                           bytes.data(), size) == size;
              });
    // The strips' places are written as the file is flushed: a full disk may show only then.
    written = written && TIFFFlush(tif.get()) == 1;
    tif.reset();
    if (!written || !why.empty()) {
        VSIUnlink(fileName.c_str());
        return TFailure{"Cannot write the GeoTIFF",
                        why.empty() ? "a strip could not be coded" : why, true};
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
        if (auto failed = CreateWithoutStrips(raster, where, fileName)) {
            return failed;
        }
        return WriteStrips(raster, fileName);
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
