// The screen's side of processing: start-up, handing runs to the pipeline and showing
// what they leave, and the redraw, readout, offset steps and export on the shown pass.
#include "app/ProcessingRun.h"

#include "alignment/CoastAlignment.h"
#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Program.h"
#include "common/TextFile.h"
#include "export/GeoTiff.h"
#include "export/PictureWriters.h"
#include "imaging/Canvas.h"
#include "orbit/Orbits.h"
#include "pass/inputs/InputKind.h"
#include "pass/inputs/SatDumpProduct.h"
#include "passtime/StartFromCoasts.h"
#include "settings/RegistryVariables.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

namespace vantorel {

TProcessingRun::TProcessingRun(INotifier& notifier, IRunView* view)
    : FNotifier(notifier), FView(view != nullptr ? view : &FNoView) {
    FDisplayBitmap.SetPixelFormat(TPixelFormat::pf24bit);
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

void TProcessingRun::Start(const std::string& keplerPath, const std::string& version,
                           const TPassSatellite& satellite) {
    FSources.Load(keplerPath, satellite, AppPathsValue(kTarnwickProductName));
    const std::string calibrationFile = DataFilePath("Scanner.cal");
    const auto calibrationText = ReadFileBytes(calibrationFile);
    TScannerCalibrations calibrations = ParseScannerCalibrations(calibrationText.value_or(""));
    const std::size_t calibrated = calibrations.BySatellite.size();
    std::vector<std::string> calibrationProblems = calibrations.Problems;
    FSources.SetCalibrations(std::move(calibrations), UseCalibration);
    if (FSources.ElementSet() == nullptr) {
        FView->ShowKeplerTab();
    }
    // The fine shorelines, lakes and borders when installed; Countries.dat otherwise.
    const std::string fineBoundaries = DataFilePath("Boundaries.b");
    FComposer.Load(FileExists(fineBoundaries) ? fineBoundaries : DataFilePath("Countries.dat"),
                   DataFilePath("Stations.dat"));
    FCoastLines.reset();
    FBaseCaption = "Vantorel - V" + version;
    SetCaption(FBaseCaption);
    FPass.reset();
    FImageFile.clear();

    const TOrbit& orbit = FSources.Orbit();
    const TCartogList& cartography = FComposer.Cartography();
    FDiags.Clear();
    FDiags.Add(FBaseCaption +
               FormatDateTime("\"  starting at: \" yyyy-mmm-dd hh:nn \"UTC\"", NowUTC()));
    FDiags.Add("Kepler source:");
    FDiags.Add("  Main Kepler file: " + orbit.MainKeplerFile);
    FDiags.Add("  Updates Kepler file: " + orbit.UpdatesKeplerFile);
    FDiags.Add("  Multi-Kepler folder: " + orbit.KeplerPath() +
               Format("  (%d satellites available)", orbit.SatelliteCount()));
    FDiags.Add("Cartography loaded from: " + ExpandFileName(cartography.FirstFileName()) +
               Format(" (%d lines)", cartography.Count()));
    if (!UseCalibration) {
        FDiags.Add("Scanner calibration: not used (the scanner model as it stands)");
    } else if (calibrationText) {
        FDiags.Add("Scanner calibration loaded from: " + ExpandFileName(calibrationFile) +
                   Format(" (%d satellites)", static_cast<int>(calibrated)));
        for (const std::string& problem : calibrationProblems) {
            FDiags.Add("  not used: " + problem);
        }
    }
    FDiags.Add("");
}

void TProcessingRun::ChooseSatellite(const TPassSatellite& satellite) {
    FSources.Load(FSources.KeplerPath(), satellite, AppPathsValue(kTarnwickProductName));
    FDiags.Add("Satellite chosen: " + satellite.DisplayName + " (catalogue number " +
               satellite.CatalogueNumber + ")");
}

void TProcessingRun::SetCaption(std::string caption) {
    FCaption = std::move(caption);
    FView->CaptionChanged(FCaption);
}

void TProcessingRun::SetOffsets(int lineOffset, int pixelOffset) {
    FLineOffset = lineOffset;
    FPixelOffset = pixelOffset;
}

bool TProcessingRun::ProcessFile(const std::string& fileName) {
    return ProcessFile(fileName, [this](const TReportEntry& entry) {
        // Reprocessing an archive must not mean a box per pass for the same old set: the
        // box comes once per set, the account line every run.
        if (entry.Issue == TPassIssue::StaleElementSet) {
            const TSatellite* set = FSources.ElementSet();
            const std::string key = set != nullptr ? set->Line1 : std::string();
            if (!FStaleSetsShown.insert(key).second) {
                return;
            }
        }
        Deliver(entry, FDiags, FNotifier);
    });
}

bool TProcessingRun::ProcessFile(const std::string& fileName, const TDelivery& deliver) {
    TPassReport report;
    report.OnEntry = deliver;
    // A decoder's product folder (or its product.cbor, or a picture in it) carries its own
    // satellite, element set and line times; anything else is a channel image file.
    const TPassSatellite chosen = FSources.Satellite();
    TChannelFileOptions options{FallbackFolder, NowUTC(), std::nullopt, StretchColour,
                                GivenStart, GivenLinePeriodSeconds, RequirePassTime};
    if (FileClockOffsetHours) {
        options.FileClockOffset = *FileClockOffsetHours / 24.0;
    }
    TProductOptions product{ProductChannel, ProductComposite, StretchColour, std::nullopt};
    if (SatelliteOverProduct) {
        product.Satellite = chosen;
    }
    TPassOutcome outcome;
    const TInputKind kind = InputKindOf(fileName);
    if (kind == TInputKind::SatDumpProduct) {
        outcome = ProcessSatDumpProduct(fileName, product, FSources, report);
    } else if (kind == TInputKind::SatDumpPictureFolder) {
        product.Start = GivenStart;
        outcome = ProcessSatDumpPictureFolder(
            fileName, product, FSources, report,
            [this](const TExtBitmap& picture, TDateTime around, double period,
                   TPassSources& sources, TPassReport& r) -> std::optional<TDateTime> {
                const TStartFound found =
                    FindStartFromCoasts(picture, around, period, sources, CoastLines(), r);
                return found.Found ? std::optional<TDateTime>(found.Start) : std::nullopt;
            });
    } else {
        outcome = ProcessChannelImageFile(fileName, options, FSources, report);
    }
    FPassSatellite = FSources.Satellite(); // a product may name its own
    FSources.Choose(chosen); // the next file without a satellite of its own gets the chosen one
    if (report.EndedBy() == TPassIssue::NoElementSet) {
        FView->ShowKeplerTab();
    }
    const bool finished = outcome.Result != nullptr;
    Show(std::move(outcome));
    if (finished && AlignAutomatically && CoastsContradictOverlay(FLastAlignment)) {
        report.Warning(TPassIssue::CoastsMismatch,
                       "The coasts in the picture do not match the overlay: wrong satellite, "
                       "element set or time? (" +
                           ExtractFileName(FImageFile) +
                           Format(": %d of %d shore points on clear edges, yet nothing within "
                                  "the search stands out of chance: confidence %.1f)",
                                  FLastAlignment.Support, FLastAlignment.ShorePoints,
                                  FLastAlignment.Confidence),
                       "Vantorel - coasts do not match");
    }
    return finished;
}

void TProcessingRun::Show(TPassOutcome outcome) {
    if (outcome.Result) {
        FPass = std::move(outcome.Result);
        FImageFile = FPass->ImageFile;
        SetCaption(FBaseCaption + "  \u2014  " + ExtractFileName(FImageFile) + "  \u2014  " +
                   FormatDateTime("yyyy-mm-dd hh:nn \"UTC\", ", FPass->Times.At(0)) +
                   FPassSatellite.DisplayName);
        SetOffsets(FPass->LineOffset, FPass->PixelOffset);
        if (AlignAutomatically) {
            AlignToCoasts(false);
        }
        FView->ShowImageTab();
        RedrawOverlay();
        // Once a run: the nudges that follow redraw without burying the account.
        FDiags.Add(Format("Plotting %d line boundaries", FComposer.Cartography().Count()));
        FView->Maximise();
        return;
    }
    // Ended early: nothing of an earlier pass may answer for this file.
    FPass.reset();
    FImageFile.clear();
    SetOffsets(0, 0);
    if (outcome.Unprocessed) {
        SetCaption(FBaseCaption + "  \u2014  " + ExtractFileName(outcome.ImageFile) +
                   "  (not processed)");
        FDisplayBitmap.SetSize(outcome.Unprocessed->Width(), outcome.Unprocessed->Height());
        FDisplayBitmap.Canvas().Draw(0, 0, *outcome.Unprocessed);
        FView->ShowImageTab();
    } else {
        SetCaption(FBaseCaption);
        FDisplayBitmap.SetSize(0, 0);
    }
    FView->PictureChanged();
}

bool TProcessingRun::AlignToCoasts(bool redraw, const TAlignmentOptions& options) {
    if (!FPass) {
        return false;
    }
    const TExtBitmap& image = FPass->Channel;
    const auto started = std::chrono::steady_clock::now();
    const std::vector<TCoastSample> shore =
        CoastLines().SamplesOnImage(FPass->Mapping, image.Width(), image.Height(),
                                    std::max(options.SearchPixels, options.SearchLines) + 8);
    TAlignment found = vantorel::AlignToCoasts(image, shore, FLineOffset, FPixelOffset, options,
                                               FPass->LostLines);
    found.Milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    FLastAlignment = found;
    const std::string figures =
        Format("confidence %.1f (peak ratio %.2f, in its row %.2f, column %.2f), %d of %d shore "
               "points on edges, "
               "%.0f ms",
               found.Confidence, found.PeakRatio, found.PixelRatio, found.LineRatio, found.Support,
               found.ShorePoints, found.Milliseconds);
    if (!found.Confident) {
        FDiags.Add("Automatic alignment: " + found.Doubt + "; offsets kept at line " +
                   Format("%d pixel %d", FLineOffset, FPixelOffset) + "; " + figures);
        return false;
    }
    SetOffsets(static_cast<int>(std::lround(found.LineOffset)),
               static_cast<int>(std::lround(found.PixelOffset)));
    const char* which = found.PixelOnly  ? " (the pixel offset only: the coasts run along the pass)"
                        : found.LineOnly ? " (the line offset only: the coasts run across the pass)"
                                         : "";
    FDiags.Add(Format("Automatic alignment: offsets line %d pixel %d (%.1f, %.1f)%s, rotation "
                      "0.00 degrees; ",
                      FLineOffset, FPixelOffset, found.LineOffset, found.PixelOffset, which) +
               figures);
    if (redraw) {
        RedrawOverlay();
    }
    return true;
}

TCoastLines& TProcessingRun::CoastLines() {
    if (!FCoastLines) {
        FCoastLines = std::make_unique<TCoastLines>(FComposer.Cartography());
    }
    return *FCoastLines;
}

void TProcessingRun::RedrawOverlay() {
    if (!FPass) {
        return;
    }
    ComposeWithView(FViewScale, FDisplayBitmap, true);
    FView->PictureChanged();
}

void TProcessingRun::ComposeWithView(int scale, TExtBitmap& picture, bool forScreen) {
    FComposer.Graticule = {Graticule, GraticuleStepInUse(), GraticuleColour,
                           forScreen ? PartInView() : TPictureArea{}};
    FComposer.ViewScale = scale;
    FComposer.Compose(*FPass, LineColour, LineThickness, FLineOffset, FPixelOffset, picture);
}

TPictureArea TProcessingRun::PartInView() const {
    if (!FPass) {
        return {};
    }
    const int width = FPass->Channel.Width();
    const int height = FPass->Channel.Height();
    const TPictureArea& part = FViewPart;
    if (part.Empty()) {
        return {0, 0, width, height};
    }
    if (FPass->Northbound) {
        return {width - part.Right, height - part.Bottom, width - part.Left, height - part.Top};
    }
    return part;
}

int TProcessingRun::GraticuleStepInUse() const {
    if (GraticuleStep > 0) {
        return GraticuleStep;
    }
    if (!FPass) {
        return kGraticuleSteps.back();
    }
    // The ground under the part is where the overlay, moved by the offsets, puts it.
    const TPictureArea part = PartInView();
    return GraticuleStepFor(GroundBox(FPass->GroundTable, kMeteorScanLayout,
                                      part.Top + FLineOffset, part.Bottom + FLineOffset,
                                      part.Left - FPixelOffset, part.Right - FPixelOffset));
}

void TProcessingRun::SetView(int left, int top, int right, int bottom, int scale) {
    const int step = GraticuleStepInUse();
    const TPictureArea part = PartInView();
    const int oldScale = FViewScale;
    FViewPart = {left, top, right, bottom};
    FViewScale = std::max(1, scale);
    // The grid's labels stay at the edges of the part in view.
    if (FPass && (FViewScale != oldScale ||
                  (Graticule && (GraticuleStepInUse() != step || PartInView() != part)))) {
        RedrawOverlay();
    }
}

const TExtBitmap& TProcessingRun::PictureAtFullSize() {
    if (!FPass || (FViewScale == 1 && (!Graticule || PartInView() == TPictureArea{
                                                         0, 0, FPass->Channel.Width(),
                                                         FPass->Channel.Height()}))) {
        return FDisplayBitmap;
    }
    ComposeWithView(1, FFullSizePicture, false);
    return FFullSizePicture;
}

const TExtBitmap& TProcessingRun::ChannelBitmap() const {
    static const TExtBitmap kNone;
    return FPass ? FPass->Channel : kNone;
}

const LocationGrid& TProcessingRun::GroundTable() const {
    static const LocationGrid kNone;
    return FPass ? FPass->GroundTable : kNone;
}

const TWarpedMapping& TProcessingRun::Mapping() const {
    static const TWarpedMapping kNone;
    return FPass ? FPass->Mapping : kNone;
}

bool TProcessingRun::LookUpLonLat(int x, int y, float& lon, float& lat) const {
    if (!FPass) {
        lon = lat = 0.0f;
        return false;
    }
    return vantorel::LookUpLonLat(FPass->GroundTable, FDisplayBitmap.Height(), x, y, lon, lat,
                                  FPass->Edges ? &*FPass->Edges : nullptr);
}

std::optional<TProcessingRun::TPixelGround> TProcessingRun::GroundAt(int pictureX,
                                                                     int pictureY) const {
    if (!FPass) {
        return std::nullopt;
    }
    TPixelGround g{pictureX, pictureY, std::nullopt};
    const int width = FDisplayBitmap.Width();
    const int height = FDisplayBitmap.Height();
    if (FPass->Northbound) {
        g.X = width - g.X;
        g.Y = height - g.Y;
    }
    if (g.X < 0 || g.Y < 0 || g.X >= width || g.Y >= height) {
        return std::nullopt;
    }
    // The position the drawn overlay gives this pixel: the overlay is the ground table's
    // grid moved by the offsets; the margin it leaves has none.
    float lon = 0.0f;
    float lat = 0.0f;
    if (LookUpLonLat(g.X - FPixelOffset, g.Y + FLineOffset, lon, lat)) {
        g.LonLat = std::make_pair(lon, lat);
    }
    return g;
}

std::optional<std::string> TProcessingRun::Readout(int pictureX, int pictureY) const {
    const auto g = GroundAt(pictureX, pictureY);
    if (!g) {
        return std::nullopt;
    }
    const std::string ground = g->LonLat ? Format("Lon: %.1f   Lat: %.1f", g->LonLat->first,
                                                  g->LonLat->second)
                                         : std::string("Lon: -   Lat: -");
    return Format("X: %d   Y: %d     ", g->X, g->Y) + ground +
           Format("     Offset line: %d   pixel: %d", FLineOffset, FPixelOffset);
}

bool TProcessingRun::PicturePosition(float lon, float lat, int& pictureX, int& pictureY) const {
    int x = 0;
    int y = 0;
    if (!FPass || !FPass->Mapping.LatLonToImage(x, y, lon, lat)) {
        return false;
    }
    x += FPixelOffset;
    y -= FLineOffset;
    if (FPass->Northbound) {
        x = FDisplayBitmap.Width() - 1 - x;
        y = FDisplayBitmap.Height() - 1 - y;
    }
    pictureX = x;
    pictureY = y;
    return true;
}

void TProcessingRun::ArrowKey(TArrowKey key, bool shift) {
    if (!FPass) {
        return;
    }
    int pixelStep = shift ? 16 : 2;
    int lineStep = shift ? 8 : 1;
    if (FPass->Northbound) {
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
    if (delta == 0 || !FPass) {
        return;
    }
    int step = delta > 0 ? 5 : -5;
    if (FPass->Northbound) {
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

std::string TProcessingRun::SavePicture(const std::string& fileName, bool overlay) {
    if (!FPass) {
        throw std::runtime_error("There is no processed picture to save.");
    }
    // Without the overlay: the enhanced picture as shown, turned as shown.
    TExtBitmap plain;
    const TBitmap* picture = &PictureAtFullSize();
    if (!overlay) {
        plain = FPass->Channel;
        if (FPass->Northbound) {
            plain.Rotate();
        }
        picture = &plain;
    }
    // Whole or not at all: a full disk leaves the picture that was there as it was.
    const TPictureFormat format = PictureFormatForName(fileName);
    if (format != TPictureFormat::GeoTiff) {
        WriteWhole(fileName, [&](const std::string& file) { WritePicture(*picture, file, format); });
        return "Picture written to " + ExpandFileName(fileName) +
               (overlay ? std::string() : std::string(" (without the overlay)"));
    }
    const auto points =
        ControlPoints(FPass->GroundTable, kMeteorScanLayout, picture->Width(), picture->Height(),
                      FLineOffset, FPixelOffset, FPass->Northbound);
    WriteWhole(fileName, [&](const std::string& file) { WriteGeoTiff(*picture, file, points); });
    return "Picture written to " + ExpandFileName(fileName) +
           Format(" (GeoTIFF%s, %d ground control points in WGS 84 longitude/latitude)",
                  overlay ? "" : " without the overlay", static_cast<int>(points.size()));
}

std::string TProcessingRun::SaveProjectedPicture(const std::string& fileName,
                                                 const std::string& crs, double step) const {
    if (!FPass) {
        throw std::runtime_error("There is no processed picture to save.");
    }
    TProjectionInput in;
    in.Channel = &FPass->Channel;
    in.Mapping = &FPass->Mapping;
    in.Grid = &FPass->GroundTable;
    in.LineOffset = FLineOffset;
    in.PixelOffset = FPixelOffset;
    in.LostLines = FPass->LostLines;
    in.Boundaries = &FComposer.Cartography();
    in.LineColour = LineColour;
    in.PenWidth = LineThickness + 1;
    in.Crs = crs;
    in.Step = step;
    const TProjectedPicture projected = ProjectPicture(in);
    WriteProjectedGeoTiff(projected, fileName);
    const TMapGrid& g = projected.Grid;
    return "Map-projected picture written to " + ExpandFileName(fileName) + " (" +
           (crs.empty() ? std::string("longitude/latitude") : crs) +
           Format(", %g x %g a pixel, %d x %d pixels, world file %s)", g.StepX, g.StepY, g.Width,
                  g.Height, ChangeFileExt(ExpandFileName(fileName), ".tfw").c_str());
}

} // namespace vantorel
