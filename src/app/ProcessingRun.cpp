// The processing run of one channel image, and the redraw, readout, offset steps and
// export that work on what it leaves.
//
// Choices where the rules leave one open:
// - a run without the element set of catalogue number 40069 is refused with a message
//   that names the Kepler folder;
// - an image of fewer than three lines is shown as it is, with a message, and no fit;
// - after "Invalid orbit data" the plain image is kept for display;
// - a JPEG that cannot be decoded ends the run with the decoder's reason, like a bitmap
//   that cannot be read.
#include "app/ProcessingRun.h"

#include "app/Utils.h"
#include "common/Angles.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Program.h"
#include "common/StringUtils.h"
#include "imaging/Canvas.h"
#include "imaging/JPEG_IO.h"
#include "imaging/zorPNGImage.h"
#include "orbit/Orbits.h"
#include "orbit/Satellite.h"

#include <cmath>

namespace vantorel {

namespace {

constexpr double kStaleKeplerDays = 7.0;
constexpr double kNotContemporaryDays = 31.0;

// Offsets after a run: real decoder images sit this far from the model position.
constexpr int kSouthboundLineOffset = 10;
constexpr int kSouthboundPixelOffset = -20;
constexpr int kNorthboundLineOffset = 6;
constexpr int kNorthboundPixelOffset = -16;

} // namespace

TProcessingRun::TProcessingRun(INotifier& notifier, IRunView* view)
    : FNotifier(notifier), FView(view != nullptr ? view : &FNoView),
      FLinePeriod(kDefaultLinePeriodDays), FOrbit(std::make_unique<TOrbit>()),
      FMapping(std::make_unique<TWarpedMapping>()) {
    FDisplayBitmap.SetPixelFormat(TPixelFormat::pf24bit);
    FCartography.Mapping = FMapping.get();
}

TProcessingRun::~TProcessingRun() = default;

std::string TProcessingRun::DataFilePath(const std::string& name) {
    const std::string beside = ProgramFolder() + name;
    if (FileExists(beside)) {
        return beside;
    }
    const std::string installed = ExpandFileName(ProgramFolder() + "../share/vantorel/" + name);
    return FileExists(installed) ? installed : beside;
}

std::string TProcessingRun::KeplerFolder() const {
    return FSatellites ? FSatellites->Folder : FKeplerPath;
}

void TProcessingRun::Start(const std::string& keplerPath, const std::string& version) {
    FKeplerPath = keplerPath;
    FSatellite = nullptr;
    try {
        FSatellites = std::make_unique<TSatelliteList>(FKeplerPath);
        FSatellite =
            FSatellites->SatelliteAt(FSatellites->IndexOfCatalogueNumber(kCatalogueNumber));
    } catch (const std::exception&) {
        FSatellite = nullptr;
    }
    if (FSatellite == nullptr) {
        FView->ShowKeplerTab();
    }

    FOrbit = std::make_unique<TOrbit>();
    FOrbit->SetKeplerPath(FKeplerPath);
    FSatelliteName = kSatelliteName;
    FOrbit->SetSatellite(FSatelliteName);

    FStations.LoadFromFile(DataFilePath("Stations.dat"));
    FBaseCaption = "Vantorel - V" + version;
    SetCaption(FBaseCaption);
    FLinePeriod = kDefaultLinePeriodDays;
    FMapping = std::make_unique<TWarpedMapping>();
    // The fine shorelines, lakes and borders when installed; Countries.dat otherwise.
    const std::string fineBoundaries = DataFilePath("Boundaries.b");
    FCartography.LoadBoundaryFiles(FileExists(fineBoundaries) ? fineBoundaries
                                                              : DataFilePath("Countries.dat"));

    FDiags.Clear();
    FDiags.Add(FBaseCaption +
               FormatDateTime("\"  starting at: \" yyyy-mmm-dd hh:nn \"UTC\"", NowUTC()));
    FDiags.Add("Kepler source:");
    FDiags.Add("  Main Kepler file: " + FOrbit->MainKeplerFile);
    FDiags.Add("  Updates Kepler file: " + FOrbit->UpdatesKeplerFile);
    FDiags.Add("  Multi-Kepler folder: " + FOrbit->KeplerPath() +
               Format("  (%d satellites available)", FOrbit->SatelliteCount()));
    FDiags.Add("Cartography loaded from: " + ExpandFileName(FCartography.FirstFileName()) +
               Format(" (%d lines)", FCartography.Count()));
    FCartography.Mapping = FMapping.get();
    FDiags.Add("");
}

void TProcessingRun::SetCaption(std::string caption) {
    FCaption = std::move(caption);
    FView->CaptionChanged(FCaption);
}

void TProcessingRun::SetOffsets(int lineOffset, int pixelOffset) {
    FLineOffset = lineOffset;
    FPixelOffset = pixelOffset;
}

void TProcessingRun::ShowPlainImage() {
    FDisplayBitmap.SetSize(FChannelBitmap.Width(), FChannelBitmap.Height());
    FDisplayBitmap.Canvas().Draw(0, 0, FChannelBitmap);
    FView->ShowImageTab();
    FView->PictureChanged();
}

void TProcessingRun::LoadImage(const std::string& path) {
    if (UpperCase(ExtractFileExt(path)) == ".JPG") {
        FChannelBitmap.SetPixelFormat(TPixelFormat::pf8bit);
        FChannelBitmap.EnsureGrayPalette();
        std::string reason;
        if (!ReadJpegFile(&FChannelBitmap, path, false, 0, &reason)) {
            throw EInvalidGraphic("Cannot read the JPEG file " + path + ": " + reason);
        }
        FChannelBitmap.EqualizeContrast(0, 256, false, 2.5);
    } else if (UpperCase(ExtractFileExt(path)) == ".PNG") {
        // Lossless like a bitmap, so no contrast work at load. Colour and palette
        // images become their grey levels; alpha is blended over black.
        TPngImage png;
        png.ForceColor = false;
        png.LoadFromFile(path);
        TBitmap pixels;
        png.CopyToBitmap(pixels, 0, 0);
        if (pixels.PixelFormat() != TPixelFormat::pf8bit || pixels.Palette() != GrayRamp()) {
            pixels.SetPixelFormat(TPixelFormat::pf24bit);
            pixels.SetPixelFormat(TPixelFormat::pf8bit);
        }
        static_cast<TBitmap&>(FChannelBitmap) = pixels;
    } else {
        FChannelBitmap.LoadFromFile(path);
    }
    FImageFile = path;
    FDisplayBitmap.SetSize(FChannelBitmap.Width(), FChannelBitmap.Height());
}

bool TProcessingRun::ProcessFile(const std::string& fileName) {
    FDiags.Add("Processing: " + ExpandFileName(fileName));

    std::string path = fileName;
    if (!FileExists(path)) {
        path = FallbackFolder + fileName;
        if (!FileExists(path)) {
            return false;
        }
    }
    if (FSatellite == nullptr) {
        FNotifier.ShowMessage("No Kepler data for Meteor-M N2 (catalogue number " +
                              std::string(kCatalogueNumber) + ") was found in the folder " +
                              KeplerFolder() +
                              "\r\n\r\nPlease choose the folder with the Kepler data.");
        FView->ShowKeplerTab();
        return false;
    }
    const TDateTime epoch = FSatellite->EpochDateTime();

    // Element set against today.
    const double age = NowUTC() - epoch;
    if (age > kStaleKeplerDays) {
        FNotifier.ShowMessageBox(
            "Location accuracy may be compromised.\r\nas the Kepler data is more than a week "
            "old!\r\n\r\n" +
                FormatDateTime("\"Kepler was: \"yyyy-mm-dd hh:nn\" UTC\"", epoch),
            "Vantorel - Stale Keplers");
    }

    const std::string name = ExtractFileName(path);
    if (path.find("_122.") != std::string::npos || path.find("_124.") != std::string::npos ||
        path.find("_125.") != std::string::npos) {
        FNotifier.ShowMessageBox("File: " + name + "\r\n\r\n" +
                                     "May contain misleading timing information as it's" + "\r\n" +
                                     "a 122 124 or 125 file.  If possible, please use a" + "\r\n" +
                                     "64, 65 or 68 file instead." + "\r\n\r\n" + "Continuing ...",
                                 "Vantorel - unsuitable file");
    }

    LoadImage(path);
    const std::string lowerName = LowerCase(name);
    FChannel68 = lowerName.find(".s_68.") != std::string::npos ||
                 lowerName.find("_68.bmp") != std::string::npos;
    SetCaption(FBaseCaption + "  \u2014  " + name);

    TDateTime start = PassStartFromFileName(path, FDiags, FNotifier);
    ReadLinePeriod(fileName, FLinePeriod, FDiags);

    // Element set against the pass: one far newer than the pass is no use for it.
    const double behind = epoch - start;
    if (behind > kNotContemporaryDays) {
        FNotifier.ShowMessageBox(
            "Location accuracy will be compromised as the pass\r\nis more than a month behind "
            "the Kepler data!\r\n\r\n" +
                Format("Pass is %.0f days behind:", behind) + "\r\n" +
                FormatDateTime("\"   Kepler:  \"yyyy-mm-dd", epoch) + "\r\n" +
                FormatDateTime("\"   Pass:     \"yyyy-mm-dd", start) + "\r\n\r\n" +
                "Continuing ...",
            "Vantorel - Keplers not contemporary");
    }

    start = ExactStartFromStat(path, start, FDiags, FNotifier);

    const int lines = FChannelBitmap.Height();
    if (lines < 3) {
        FNotifier.ShowMessage(Format("The image has %d line(s): at least three are needed to "
                                     "fit the map to it.",
                                     lines));
        ShowPlainImage();
        return false;
    }
    if (!BuildGroundTable(FNorthbound, lines, start)) {
        ShowPlainImage();
        return false;
    }
    FitToImage();

    if (FNorthbound) {
        SetOffsets(kNorthboundLineOffset, kNorthboundPixelOffset);
    } else {
        SetOffsets(kSouthboundLineOffset, kSouthboundPixelOffset);
    }

    if (FChannel68) {
        FChannelBitmap.Invert();
        FChannelBitmap.StretchContrast(3.0);
    } else {
        FChannelBitmap.EqualizeContrast(0, 256, true, 2.5);
    }
    FMapping->SetMapWidth(lines);

    FView->ShowImageTab();
    RedrawOverlay();
    FView->Maximise();
    return true;
}

bool TProcessingRun::BuildGroundTable(bool& northbound, int lineCount, TDateTime start) {
    FOrbit->SelectForTime(start, FNotifier);
    FDiags.Add(FOrbit->SatelliteName + " starting overlay at " +
               FormatDateTime("yyyy-mm-dd hh:nn:ss\" UTC\"", start));
    std::string source = "  Kepler data from: " + FOrbit->MainKeplerFile;
    if (!FOrbit->UpdatesKeplerFile.empty()) {
        source += (FOrbit->MainKeplerFile.empty() ? "" : " & ") + FOrbit->UpdatesKeplerFile;
    }
    FDiags.Add(source);
    FDiags.Add(Format("  Keplers are %.0f days offset", std::fabs(FOrbit->EpochOffset)));

    FMidAltitude = 0.0f;
    if (!FOrbit->Valid) {
        FNotifier.ShowMessage("Invalid orbit data");
        return false;
    }

    LocationGrid table(static_cast<size_t>(std::max(lineCount, 0)));
    const int mid = lineCount / 2;
    TScanLine scan;
    for (int i = 0; i < lineCount; ++i) {
        FOrbit->LocateScanLine(start + i * FLinePeriod, scan);
        GeoRow& row = table[static_cast<size_t>(i)];
        for (size_t k = 0; k < row.size(); ++k) {
            row[k] = GeoPoint{scan.Points[k].Lat, scan.Points[k].Lon};
        }
        if (i == mid) {
            FMidAltitude = static_cast<float>(scan.AltitudeKm);
        }
    }
    FGroundTable = std::move(table);
    if (lineCount >= 3) {
        northbound = FGroundTable[static_cast<size_t>(mid + 1)][kNadirColumn].lat >
                     FGroundTable[static_cast<size_t>(mid - 1)][kNadirColumn].lat;
    }
    return true;
}

void TProcessingRun::FitToImage() {
    std::shared_ptr<ResidualGrid> residuals;
    FitMapToImage(FGroundTable, FChannelBitmap.Height(), &FDiags, FMidAltitude, kHalfAngleDeg,
                  kScanFormat, *FMapping, residuals, false, FNotifier);
}

void TProcessingRun::RedrawOverlay() {
    FDisplayBitmap.SetSize(FChannelBitmap.Width(), FChannelBitmap.Height());
    TCanvas& canvas = FDisplayBitmap.Canvas();
    canvas.Draw(0, 0, FChannelBitmap);
    canvas.Pen.Color = LineColour;
    canvas.Pen.Width = LineThickness + 1;
    FCartography.DrawBoundaries(FDisplayBitmap, FPixelOffset, FLineOffset);
    if (!FNorthbound) {
        FCartography.DrawPlaceMarks(FDisplayBitmap, FPixelOffset, FLineOffset, FStations.Lines(),
                                    clYellow, true, TBrushStyle::bsClear, plS, true);
    }
    FDiags.Add(Format("Plotting %d line boundaries", FCartography.Count()));
    if (FNorthbound) {
        FDisplayBitmap.Rotate();
    }
    FView->PictureChanged();
}

bool TProcessingRun::LookUpLonLat(int x, int y, float& lon, float& lat) const {
    return LookUpLonLat(FGroundTable, FDisplayBitmap.Height(), x, y, lon, lat);
}

bool TProcessingRun::LookUpLonLat(const LocationGrid& grid, int height, int x, int y, float& lon,
                                  float& lat) {
    lon = 0.0f;
    lat = 0.0f;
    if (y < 0 || y >= height || static_cast<size_t>(y) >= grid.size()) {
        return false;
    }
    if (x < -8 || x > 1550) {
        return false;
    }
    int k = (x - 21) / 30;
    k = std::clamp(k, 0, kGridColumns - 2);
    const float f = static_cast<float>(x - 21 - 30 * k) / 30.0f;
    const GeoRow& row = grid[static_cast<size_t>(y)];
    const GeoPoint& p = row[static_cast<size_t>(k)];
    const GeoPoint& q = row[static_cast<size_t>(k + 1)];
    lat = (1.0f - f) * p.lat + f * q.lat;
    const float a = p.lon;
    const float b = q.lon;
    if (std::fabs(b - a) <= 180.0f) {
        lon = (1.0f - f) * a + f * b;
    } else {
        // Across the date line: along the shorter arc.
        const double d = WrapDegrees180(static_cast<double>(b) - a);
        lon = static_cast<float>(WrapDegrees180(a + f * d));
    }
    return true;
}

std::optional<std::string> TProcessingRun::Readout(int pictureX, int pictureY) const {
    int x = pictureX;
    int y = pictureY;
    const int width = FDisplayBitmap.Width();
    const int height = FDisplayBitmap.Height();
    if (FNorthbound) {
        x = width - x;
        y = height - y;
    }
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return std::nullopt;
    }
    float lon = 0.0f;
    float lat = 0.0f;
    LookUpLonLat(x, y, lon, lat);
    return Format("X: %d   Y: %d     Lon: %.1f   Lat: %.1f     Offset line: %d   pixel: %d", x, y,
                  lon, lat, FLineOffset, FPixelOffset);
}

bool TProcessingRun::PicturePosition(float lon, float lat, int& pictureX, int& pictureY) const {
    int x = 0;
    int y = 0;
    if (!FMapping->LatLonToImage(x, y, lon, lat)) {
        return false;
    }
    x += FPixelOffset;
    y -= FLineOffset;
    if (FNorthbound) {
        x = FDisplayBitmap.Width() - 1 - x;
        y = FDisplayBitmap.Height() - 1 - y;
    }
    pictureX = x;
    pictureY = y;
    return true;
}

void TProcessingRun::ArrowKey(TArrowKey key, bool shift) {
    int pixelStep = shift ? 16 : 2;
    int lineStep = shift ? 8 : 1;
    if (FNorthbound) {
        pixelStep = -pixelStep;
        lineStep = -lineStep;
    }
    switch (key) {
    case TArrowKey::Left:
        FPixelOffset -= pixelStep;
        break;
    case TArrowKey::Right:
        FPixelOffset += pixelStep;
        break;
    case TArrowKey::Up:
        FLineOffset += lineStep;
        break;
    case TArrowKey::Down:
        FLineOffset -= lineStep;
        break;
    }
    RedrawOverlay();
}

void TProcessingRun::MouseWheel(int delta, bool shift) {
    if (delta == 0) {
        return;
    }
    int step = delta > 0 ? 5 : -5;
    if (FNorthbound) {
        step = -step;
    }
    if (shift) {
        FPixelOffset += step;
    } else {
        FLineOffset += step;
    }
    RedrawOverlay();
}

std::string TProcessingRun::SuggestedSaveName() const {
    const std::string ext = ExtractFileExt(FImageFile);
    return ChangeFileExt(FImageFile, ".geo" + ext);
}

void TProcessingRun::SavePicture(const std::string& fileName) const {
    if (UpperCase(ExtractFileExt(fileName)) == ".JPG") {
        WriteJpegFile(FDisplayBitmap, fileName, kJpegQuality, false, kJpegComment);
    } else if (UpperCase(ExtractFileExt(fileName)) == ".PNG") {
        TPngImage png;
        png.Software = kApplicationTitle;
        png.Description = kJpegComment;
        png.AssignBitmap(FDisplayBitmap);
        png.SaveToFile(fileName);
    } else {
        TBitmap copy(FDisplayBitmap);
        copy.SetPixelFormat(TPixelFormat::pf24bit);
        copy.SaveToFile(fileName);
    }
}

} // namespace vantorel
