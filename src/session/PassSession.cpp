#include "session/PassSession.h"

#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Parallel.h"
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
#include <optional>
#include <stdexcept>

namespace vantorel {

TPassSession::TPassSession() {
    picture_.SetPixelFormat(TPixelFormat::pf24bit);
}

TPassSession::~TPassSession() = default;

void TPassSession::Start(std::shared_ptr<const TSessionData> data, const std::string& caption,
                         const TPassSatellite& satellite) {
    if (data != data_) {
        data_ = std::move(data);
        composer_.reset(); // made when first drawn, once the boundaries are read
    }
    sources_.Load(Setup.Keplers, satellite, AppPathsValue(kTarnwickProductName));
    sources_.SetCalibrations(data_->Calibrations, Setup.Calibration);
    pass_.reset();
    imageFile_.clear();

    const TOrbit& orbit = sources_.Orbit();
    diags_.Clear();
    diags_.Add(caption + FormatDateTime("\"  starting at: \" yyyy-mmm-dd hh:nn \"UTC\"", NowUTC()));
    diags_.Add("Kepler source:");
    diags_.Add("  Main Kepler file: " + orbit.MainKeplerFile);
    diags_.Add("  Updates Kepler file: " + orbit.UpdatesKeplerFile);
    diags_.Add("  Multi-Kepler folder: " + orbit.KeplerPath() +
               Format("  (%d satellites available)", orbit.SatelliteCount()));
    diags_.Add("Cartography loaded from: " + ExpandFileName(data_->BoundaryFile) +
               Format(" (%d lines)", data_->BoundaryCount));
    if (!Setup.Calibration) {
        diags_.Add("Scanner calibration: not used (the scanner model as it stands)");
    } else if (data_->CalibrationRead) {
        diags_.Add(
            "Scanner calibration loaded from: " + ExpandFileName(data_->CalibrationFile) +
            Format(" (%d satellites)", static_cast<int>(data_->Calibrations.BySatellite.size())));
        for (const std::string& problem : data_->Calibrations.Problems) {
            diags_.Add("  not used: " + problem);
        }
    }
    diags_.Add("");
}

TPictureComposer& TPassSession::Composer() const {
    if (!composer_) {
        composer_ = std::make_unique<TPictureComposer>(data_->Boundaries(), data_->Stations);
    }
    return *composer_;
}

void TPassSession::ChooseSatellite(const TPassSatellite& satellite) {
    sources_.Load(sources_.KeplerPath(), satellite, AppPathsValue(kTarnwickProductName));
    diags_.Add("Satellite chosen: " + satellite.DisplayName + " (catalogue number " +
               satellite.CatalogueNumber + ")");
}

TPassSession::TRunEnd TPassSession::ProcessFile(const std::string& fileName,
                                                const TDelivery& deliver,
                                                const std::function<void(const TRunEnd&)>& drawn) {
    TPassReport report;
    report.OnEntry = deliver;
    // A decoder's product folder (or its product.cbor, or a picture in it) carries its own
    // satellite, element set and line times; anything else is a channel image file.
    const TPassSatellite chosen = sources_.Satellite();
    TChannelFileOptions options{Setup.FallbackFolder, NowUTC(),    std::nullopt,
                                Setup.Stretch,        Setup.Start, Setup.LinePeriodSeconds,
                                Setup.RequirePassTime};
    if (Setup.FileClockOffsetHours) {
        options.FileClockOffset = *Setup.FileClockOffsetHours / 24.0;
    }
    TProductOptions product{Setup.Channel, Setup.Composite, Setup.Stretch, std::nullopt};
    if (Setup.SatelliteGiven) {
        product.Satellite = chosen;
    }
    TPassOutcome outcome;
    const TInputKind kind = InputKindOf(fileName);
    if (kind == TInputKind::SatDumpProduct) {
        outcome = ProcessSatDumpProduct(fileName, product, sources_, report);
    } else if (kind == TInputKind::SatDumpPictureFolder) {
        product.Start = Setup.Start;
        outcome = ProcessSatDumpPictureFolder(
            fileName, product, sources_, report,
            [this](const TExtBitmap& picture, TDateTime around, double period,
                   TPassSources& sources, TPassReport& r) -> std::optional<TDateTime> {
                const TStartFound found =
                    FindStartFromCoasts(picture, around, period, sources, data_->Coasts(), r);
                return found.Found ? std::optional<TDateTime>(found.Start) : std::nullopt;
            });
    } else {
        outcome = ProcessChannelImageFile(fileName, options, sources_, report);
    }
    passSatellite_ = sources_.Satellite(); // a product may name its own
    sources_.Choose(chosen); // the next file without a satellite of its own gets the chosen one
    TRunEnd end{outcome.Result != nullptr, report.EndedBy(), {}};
    if (!end.Finished && outcome.Unprocessed) {
        end.UnprocessedFile = outcome.ImageFile;
    }
    Take(std::move(outcome), report);
    if (drawn) {
        drawn(end);
    }
    if (end.Finished && Setup.Align && CoastsContradictOverlay(lastAlignment_)) {
        report.Warning(TPassIssue::CoastsMismatch,
                       "The coasts in the picture do not match the overlay: wrong satellite, "
                       "element set or time? (" +
                           ExtractFileName(imageFile_) +
                           Format(": %d of %d shore points on clear edges, yet nothing within "
                                  "the search stands out of chance: confidence %.1f)",
                                  lastAlignment_.Support, lastAlignment_.ShorePoints,
                                  lastAlignment_.Confidence),
                       "Vantorel - coasts do not match");
    }
    return end;
}

void TPassSession::Take(TPassOutcome outcome, TPassReport& report) {
    if (outcome.Result) {
        pass_ = std::move(outcome.Result);
        imageFile_ = pass_->ImageFile;
        SetOffsets(pass_->LineOffset, pass_->PixelOffset);
        // The labels are text, drawn through an application: made here, where the text
        // module has long been loaded, its font list is read while the pass is aligned.
        // Made before the picture was read, it waited for the module and held that up.
        EnsureGuiApplication();
        if (Setup.Align) {
            // The channel image is laid into the picture meanwhile: the redraw after it
            // draws only the overlay.
            ForEachPart(2, 2, [&](long long part, long long) {
                if (part == 0) {
                    AlignToCoasts(false, {}, &report);
                } else {
                    PrepareCompose();
                }
            });
        }
        Redraw();
        // Once a run: the nudges that follow redraw without burying the account.
        diags_.Add(Format("Plotting %d line boundaries", Composer().Cartography().Count()));
        return;
    }
    // Ended early: nothing of an earlier pass may answer for this file.
    pass_.reset();
    imageFile_.clear();
    SetOffsets(0, 0);
    if (outcome.Unprocessed) {
        picture_.SetSize(outcome.Unprocessed->Width(), outcome.Unprocessed->Height());
        picture_.Canvas().Draw(0, 0, *outcome.Unprocessed);
    } else {
        picture_.SetSize(0, 0);
    }
}

bool TPassSession::AlignToCoasts(bool redraw, const TAlignmentOptions& options,
                                 TPassReport* report) {
    if (!pass_) {
        return false;
    }
    const TExtBitmap& image = pass_->Channel;
    const auto started = std::chrono::steady_clock::now();
    // The picture's edges and the shore placed on it, side by side: neither keeps both
    // cores busy all the time.
    std::optional<TAlignmentPicture> prepared;
    std::vector<TCoastSample> shore;
    ForEachPart(2, 2, [&](long long part, long long) {
        if (part == 0) {
            shore = data_->Coasts().SamplesOnImage(
                pass_->Mapping, image.Width(), image.Height(),
                std::max(options.SearchPixels, options.SearchLines) + 8);
        } else {
            prepared.emplace(image, pass_->LostLines);
        }
    });
    TAlignment found =
        vantorel::AlignToCoasts(*prepared, shore, lineOffset_, pixelOffset_, options);
    found.Milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    lastAlignment_ = found;
    const std::string figures =
        Format("confidence %.1f (peak ratio %.2f, in its row %.2f, column %.2f), %d of %d shore "
               "points on edges, "
               "%.0f ms",
               found.Confidence, found.PeakRatio, found.PixelRatio, found.LineRatio, found.Support,
               found.ShorePoints, found.Milliseconds);
    // Into the run's report with what was found, or (asked for later) the account.
    const auto account = [&](std::string line) {
        if (report == nullptr) {
            diags_.Add(line);
            return;
        }
        report->Aligned(std::move(line), {found.Confident, found.Confidence, found.LineOffset,
                                          found.PixelOffset, found.Doubt, found.Milliseconds});
    };
    if (!found.Confident) {
        account("Automatic alignment: " + found.Doubt + "; offsets kept at line " +
                Format("%d pixel %d", lineOffset_, pixelOffset_) + "; " + figures);
        return false;
    }
    SetOffsets(static_cast<int>(std::lround(found.LineOffset)),
               static_cast<int>(std::lround(found.PixelOffset)));
    const char* which = found.PixelOnly  ? " (the pixel offset only: the coasts run along the pass)"
                        : found.LineOnly ? " (the line offset only: the coasts run across the pass)"
                                         : "";
    account(Format("Automatic alignment: offsets line %d pixel %d (%.1f, %.1f)%s, rotation "
                   "0.00 degrees; ",
                   lineOffset_, pixelOffset_, found.LineOffset, found.PixelOffset, which) +
            figures);
    if (redraw) {
        Redraw();
    }
    return true;
}

void TPassSession::Redraw() {
    if (pass_) {
        Compose(picture_, true);
    }
}

void TPassSession::PrepareCompose() {
    // What the choice of a start needs only: the offsets may change meanwhile.
    Composer().Graticule.Shown = Setup.Graticule;
    Composer().Screen = ScreenSize();
    Composer().PrepareBase(*pass_, picture_);
}

void TPassSession::Compose(TExtBitmap& picture, bool forScreen) {
    Composer().Graticule = {Setup.Graticule, GraticuleStepInUse(), Setup.GraticuleColour,
                            forScreen ? PartInView() : TPictureArea{}};
    Composer().Screen = forScreen ? ScreenSize() : TScreenSize{};
    Composer().Compose(*pass_, Setup.LineColour, Setup.LineThickness, lineOffset_, pixelOffset_,
                       picture);
}

TPictureArea TPassSession::PartInView() const {
    if (!pass_) {
        return {};
    }
    const int width = pass_->Channel.Width();
    const int height = pass_->Channel.Height();
    const TPictureArea& part = viewPart_;
    if (part.Empty()) {
        return {0, 0, width, height};
    }
    if (pass_->Northbound) {
        return {width - part.Right, height - part.Bottom, width - part.Left, height - part.Top};
    }
    return part;
}

int TPassSession::GraticuleStepInUse() const {
    if (Setup.GraticuleStep > 0) {
        return Setup.GraticuleStep;
    }
    if (!pass_) {
        return kGraticuleSteps.back();
    }
    // The ground under the part is where the overlay, moved by the offsets, puts it.
    const TPictureArea part = PartInView();
    return GraticuleStepFor(GroundBox(pass_->GroundTable, kMeteorScanLayout, part.Top + lineOffset_,
                                      part.Bottom + lineOffset_, part.Left - pixelOffset_,
                                      part.Right - pixelOffset_));
}

bool TPassSession::SetView(const TPictureArea& shownPart, double zoom) {
    const int step = GraticuleStepInUse();
    const TPictureArea part = PartInView();
    const TScreenSize size = ScreenSize();
    viewPart_ = shownPart;
    viewZoom_ = zoom > 0.0 ? zoom : 1.0;
    // The grid's labels stay at the edges of the part in view.
    return pass_ && (ScreenSize() != size ||
                     (Setup.Graticule && (GraticuleStepInUse() != step || PartInView() != part)));
}

TScreenSize TPassSession::ScreenSize() const {
    if (!pass_ || viewZoom_ >= 1.0) {
        return {};
    }
    return ZoomedSize(pass_->Channel.Width(), pass_->Channel.Height(), viewZoom_);
}

TScreenSize TPassSession::FullSize() const {
    return pass_ ? TScreenSize{pass_->Channel.Width(), pass_->Channel.Height()}
                 : TScreenSize{picture_.Width(), picture_.Height()};
}

const TExtBitmap& TPassSession::PictureAtFullSize() {
    if (!pass_ || (ScreenSize() == TScreenSize{} &&
                   (!Setup.Graticule || PartInView() == TPictureArea{0, 0, pass_->Channel.Width(),
                                                                     pass_->Channel.Height()}))) {
        return picture_;
    }
    Compose(fullSizePicture_, false);
    return fullSizePicture_;
}

bool TPassSession::LookUpLonLat(int x, int y, float& lon, float& lat) const {
    if (Pass() == nullptr) {
        lon = lat = 0.0f;
        return false;
    }
    return vantorel::LookUpLonLat(Pass()->GroundTable, FullSize().Height, x, y, lon, lat,
                                  Pass()->Edges ? &*Pass()->Edges : nullptr);
}

std::optional<TPassSession::TPixelGround> TPassSession::GroundAt(int pictureX, int pictureY) const {
    if (Pass() == nullptr) {
        return std::nullopt;
    }
    TPixelGround g{pictureX, pictureY, std::nullopt};
    const int width = FullSize().Width;
    const int height = FullSize().Height;
    if (Pass()->Northbound) {
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
    if (LookUpLonLat(g.X - PixelOffset(), g.Y + LineOffset(), lon, lat)) {
        g.LonLat = std::make_pair(lon, lat);
    }
    return g;
}

std::optional<std::string> TPassSession::Readout(int pictureX, int pictureY) const {
    const auto g = GroundAt(pictureX, pictureY);
    if (!g) {
        return std::nullopt;
    }
    const std::string ground =
        g->LonLat ? Format("Lon: %.1f   Lat: %.1f", g->LonLat->first, g->LonLat->second)
                  : std::string("Lon: -   Lat: -");
    return Format("X: %d   Y: %d     ", g->X, g->Y) + ground +
           Format("     Offset line: %d   pixel: %d", LineOffset(), PixelOffset());
}

bool TPassSession::PicturePosition(float lon, float lat, int& pictureX, int& pictureY) const {
    int x = 0;
    int y = 0;
    if (Pass() == nullptr || !Pass()->Mapping.LatLonToImage(x, y, lon, lat)) {
        return false;
    }
    x += PixelOffset();
    y -= LineOffset();
    if (Pass()->Northbound) {
        x = FullSize().Width - 1 - x;
        y = FullSize().Height - 1 - y;
    }
    pictureX = x;
    pictureY = y;
    return true;
}

std::vector<TPassSession::TSatelliteState> TPassSession::SatelliteStates(TDateTime now) const {
    std::vector<TSatelliteState> states;
    const TSatelliteList* list = sources_.Satellites();
    for (const TMeteorSatellite& satellite : MeteorSatellites()) {
        TSatelliteState state{satellite, std::nullopt, 0.0, false, ""};
        const std::string number(satellite.CatalogueNumber);
        if (const TSatellite* set = list != nullptr
                                        ? list->SatelliteAt(list->IndexOfCatalogueNumber(number))
                                        : nullptr) {
            state.NewestEpoch = set->EpochDateTime();
            state.AgeDays = now - *state.NewestEpoch;
            state.Stale = state.AgeDays > kStaleElementSetDays;
        }
        const TScannerCalibration* calibration = nullptr;
        if (data_) {
            const auto found = data_->Calibrations.BySatellite.find(number);
            if (found != data_->Calibrations.BySatellite.end()) {
                calibration = &found->second;
            }
        }
        if (!Setup.Calibration) {
            state.Calibration = "not used: the scanner model as it stands";
        } else if (calibration == nullptr) {
            state.Calibration = "none: the scanner model as it stands";
        } else {
            const TScannerCalibration& c = *calibration;
            state.Calibration =
                Format("scan %.2f, roll %.2f, pitch %.2f, yaw %.2f degrees, clock %+.2f s; %s",
                       c.ScanAngle, c.Roll, c.Pitch, c.Yaw, c.TimeOffset,
                       c.Measured ? "measured on a real pass" : "not measured");
        }
        states.push_back(std::move(state));
    }
    return states;
}

std::string TPassSession::SavePicture(const std::string& fileName, bool overlay, bool replace) {
    if (!pass_) {
        throw std::runtime_error("There is no processed picture to save.");
    }
    // Without the overlay: the enhanced picture as shown, turned as shown.
    TExtBitmap plain;
    const TBitmap* picture = &PictureAtFullSize();
    if (!overlay) {
        plain = pass_->Channel;
        if (pass_->Northbound) {
            plain.Rotate();
        }
        picture = &plain;
    }
    // Whole or not at all: a full disk leaves the picture that was there as it was.
    const TPictureFormat format = PictureFormatForName(fileName);
    if (format != TPictureFormat::GeoTiff) {
        WriteWhole(
            fileName, [&](const std::string& file) { WritePicture(*picture, file, format); },
            replace);
        return "Picture written to " + ExpandFileName(fileName) +
               (overlay ? std::string() : std::string(" (without the overlay)"));
    }
    const auto points =
        ControlPoints(pass_->GroundTable, kMeteorScanLayout, picture->Width(), picture->Height(),
                      lineOffset_, pixelOffset_, pass_->Northbound);
    WriteWhole(
        fileName, [&](const std::string& file) { WriteGeoTiff(*picture, file, points); }, replace);
    return "Picture written to " + ExpandFileName(fileName) +
           Format(" (GeoTIFF%s, %d ground control points in WGS 84 longitude/latitude)",
                  overlay ? "" : " without the overlay", static_cast<int>(points.size()));
}

std::string TPassSession::SaveProjectedPicture(const std::string& fileName, const std::string& crs,
                                               double step) const {
    if (!pass_) {
        throw std::runtime_error("There is no processed picture to save.");
    }
    TProjectionInput in;
    in.Channel = &pass_->Channel;
    in.Mapping = &pass_->Mapping;
    in.Grid = &pass_->GroundTable;
    in.LineOffset = lineOffset_;
    in.PixelOffset = pixelOffset_;
    in.LostLines = pass_->LostLines;
    in.Boundaries = &data_->Boundaries();
    in.LineColour = Setup.LineColour;
    in.PenWidth = Setup.LineThickness + 1;
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
