// The pass pipeline.
//
// Choices where the rules leave one open:
// - a run without the satellite's element set is refused with a message that names the
//   Kepler folder;
// - an image of fewer than three lines is left unprocessed, with a message, and no fit;
// - after "Invalid orbit data" the image is left unprocessed;
// - a JPEG that cannot be decoded ends the run with the decoder's reason, like a bitmap
//   that cannot be read.
#include "pass/PassPipeline.h"

#include "common/Angles.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Notifier.h"
#include "common/Parallel.h"
#include "common/StringUtils.h"
#include "orbit/Keplers.h"
#include "orbit/Orbits.h"
#include "orbit/Satellite.h"
#include "pass/Plausibility.h"
#include "pass/inputs/ChannelImage.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace vantorel {

namespace {

constexpr double kStaleKeplerDays = 7.0;
constexpr double kNotContemporaryDays = 31.0;

// Offsets after a run: real decoder images sit this far from the model position.
constexpr int kSouthboundLineOffset = 10;
constexpr int kSouthboundPixelOffset = -20;
constexpr int kNorthboundLineOffset = 6;
constexpr int kNorthboundPixelOffset = -16;

// The scan format of the fit for the Meteor scanner, and for the other layout.
constexpr std::uint8_t kMeteorScanFormat = 5;
constexpr std::uint8_t kWideScanFormat = 1;

// The start-up set against today: a set a week old places the overlay kilometres off.
void CheckElementSetAge(TDateTime epoch, TDateTime now, TPassReport& report) {
    if (now - epoch > kStaleKeplerDays) {
        report.Account(FormatDateTime(
            "\"Stale Keplers: the Kepler data is more than a week old (\"yyyy-mm-dd hh:nn\" UTC)\"",
            epoch));
        report.Warning(TPassIssue::StaleElementSet,
                       "Location accuracy may be compromised.\r\nas the Kepler data is more than "
                       "a week old!\r\n\r\n" +
                           FormatDateTime("\"Kepler was: \"yyyy-mm-dd hh:nn\" UTC\"", epoch) +
                           "\r\n\r\nThe Kepler data tab's \"Update element sets\" button "
                           "fetches fresh ones.",
                       "Vantorel - Stale Keplers");
    }
}

// The set against the pass: one far newer than the pass is no use for it.
void CheckElementSetAgainstPass(TDateTime epoch, TDateTime start, TPassReport& report) {
    const double behind = epoch - start;
    if (behind > kNotContemporaryDays) {
        report.Warning(TPassIssue::ElementSetNotContemporary,
                       "Location accuracy will be compromised as the pass\r\nis more than a "
                       "month behind the Kepler data!\r\n\r\n" +
                           Format("Pass is %.0f days behind:", behind) + "\r\n" +
                           FormatDateTime("\"   Kepler:  \"yyyy-mm-dd", epoch) + "\r\n" +
                           FormatDateTime("\"   Pass:     \"yyyy-mm-dd", start) + "\r\n\r\n" +
                           "Continuing ...",
                       "Vantorel - Keplers not contemporary");
    }
}

// Channels 122, 124 and 125 carry timing the decoder gets wrong (exact case, whole path).
void CheckChannel(const std::string& path, TPassReport& report) {
    if (path.find("_122.") != std::string::npos || path.find("_124.") != std::string::npos ||
        path.find("_125.") != std::string::npos) {
        report.Warning(TPassIssue::UnsuitableChannel,
                       "File: " + ExtractFileName(path) + "\r\n\r\n" +
                           "May contain misleading timing information as it's" + "\r\n" +
                           "a 122 124 or 125 file.  If possible, please use a" + "\r\n" +
                           "64, 65 or 68 file instead." + "\r\n\r\n" + "Continuing ...",
                       "Vantorel - unsuitable file");
    }
}

// What the element-set selection has to say about the per-satellite files joins the report.
class TReportNotifier final : public INotifier {
public:
    explicit TReportNotifier(TPassReport& report) : report_(report) {}
    void ShowMessageBox(const std::string& text, const std::string& caption) override {
        report_.Warning(TPassIssue::ElementSetFiles, text, caption);
    }
    void ShowMessage(const std::string& text) override {
        report_.Warning(TPassIssue::ElementSetFiles, text);
    }

private:
    TPassReport& report_;
};

// A file cut short still gives a picture, its missing rows flat; the run says so.
void ReportDecoding(const TChannelImage& image, const std::string& path, TPassReport& report) {
    if (!image.DecoderWarning.empty()) {
        report.Account("Image decoder: " + image.DecoderWarning);
    }
    if (image.RowsDecoded < image.RowsInFile) {
        const std::string rows =
            Format("%d of %d rows decoded", image.RowsDecoded, image.RowsInFile);
        report.Account("Image cut short: " + rows);
        report.Warning(
            TPassIssue::ImageCutShort,
            "File: " + ExtractFileName(path) + "\r\n\r\nThe image is cut short: " + rows +
                ".\r\nThe rows below them are not the picture.\r\n\r\n" + "Continuing ...",
            "Vantorel - image cut short");
    }
}

// The input's own element set against the Kepler folder's: the nearer to the pass serves.
// True when the given set was taken.
bool TakeGivenSetWhenNearer(TOrbit& orbit, const TGivenElementSet& given, TDateTime start,
                            std::string& failure, TPassReport& report) {
    const bool folderHasOne = orbit.Valid;
    const double folderOffset = orbit.EpochOffset;
    const double givenOffset = EpochOfLine(given.Line1) - start;
    if (folderHasOne && std::fabs(folderOffset) <= std::fabs(givenOffset)) {
        report.Account(Format("Element set: the Kepler folder's (%.2f days from the pass), "
                              "nearer than the one in ",
                              std::fabs(folderOffset)) +
                       given.Source + Format(" (%.2f days)", std::fabs(givenOffset)));
        return false;
    }
    try {
        orbit.UseElements(given.Line1, given.Line2, given.Source, start);
        failure.clear();
    } catch (const EMathError& e) {
        failure = std::string(": ") + e.what();
        return true;
    }
    report.Account("Element set: the one in " + given.Source +
                   Format(" (%.2f days from the pass)", std::fabs(givenOffset)) +
                   (folderHasOne ? Format(", nearer than the Kepler folder's (%.2f days)",
                                          std::fabs(folderOffset))
                                 : std::string(", the Kepler folder has none")));
    return true;
}

// Which lines were placed by their own times, and which by their neighbours'.
void ReportOwnTimes(const TLineTimes& times, int lines, TPassReport& report) {
    int untimed = 0;
    for (const auto& [first, last] : times.Untimed()) {
        untimed += last - first + 1;
    }
    report.Account(Format("  Line times from the input: %d of %d lines have their own",
                          lines - untimed, lines));
    if (untimed == 0) {
        return;
    }
    std::string runs;
    constexpr std::size_t kShown = 8;
    for (std::size_t i = 0; i < times.Untimed().size() && i < kShown; ++i) {
        const auto& [first, last] = times.Untimed()[i];
        runs += (i == 0 ? "" : ", ") +
                (first == last ? Format("%d", first) : Format("%d-%d", first, last));
    }
    if (times.Untimed().size() > kShown) {
        runs += Format(" and %d more", static_cast<int>(times.Untimed().size() - kShown));
    }
    report.Account(Format("  %d lines without a time (", untimed) + runs +
                   ") placed by their neighbours' times");
}

std::string ScannerLine(const TOrbit& orbit) {
    if (const auto& c = orbit.Calibration) {
        return Format("Scanner: calibrated, %.2f degrees over %d pixels, roll %.2f, pitch %.2f, "
                      "yaw %.2f degrees, clock %+.2f s",
                      c->ScanAngle, c->Pixels, c->Roll, c->Pitch, c->Yaw, c->TimeOffset);
    }
    return Format("Scanner: the model, half-angle %.2f degrees", orbit.ScanHalfAngle);
}

// The file(s) the orbit's element set came from.
std::string KeplerSource(const TOrbit& orbit) {
    std::string source = orbit.MainKeplerFile;
    if (!orbit.UpdatesKeplerFile.empty()) {
        source += (orbit.MainKeplerFile.empty() ? "" : " & ") + orbit.UpdatesKeplerFile;
    }
    return source;
}

bool IsChannel68(const std::string& path) {
    const std::string name = LowerCase(ExtractFileName(path));
    return name.find(".s_68.") != std::string::npos || name.find("_68.bmp") != std::string::npos;
}

} // namespace

// ---- line times -----------------------------------------------------------------------------

std::optional<TLineTimes> TLineTimes::FromOwnTimes(std::vector<TDateTime> own, double period) {
    std::vector<int> timed;
    for (std::size_t i = 0; i < own.size(); ++i) {
        if (std::isfinite(own[i])) {
            timed.push_back(static_cast<int>(i));
        }
    }
    if (timed.empty()) {
        return std::nullopt;
    }
    TLineTimes t;
    t.Period = period;
    const int lines = static_cast<int>(own.size());
    std::size_t next = 0; // the first timed line at or after i
    for (int i = 0; i < lines; ++i) {
        while (next < timed.size() && timed[next] < i) {
            ++next;
        }
        if (std::isfinite(own[static_cast<std::size_t>(i)])) {
            continue;
        }
        if (t.untimed_.empty() || t.untimed_.back().second != i - 1) {
            t.untimed_.push_back({i, i});
        } else {
            t.untimed_.back().second = i;
        }
        const auto at = [&own](int line) { return own[static_cast<std::size_t>(line)]; };
        TDateTime value = 0.0;
        if (next == 0) {
            value = at(timed.front()) - (timed.front() - i) * period;
        } else if (next == timed.size()) {
            value = at(timed.back()) + (i - timed.back()) * period;
        } else {
            const int a = timed[next - 1];
            const int b = timed[next];
            value = at(a) + (at(b) - at(a)) * (i - a) / (b - a);
        }
        own[static_cast<std::size_t>(i)] = value;
    }
    t.StartFrom = TStartSource::Product;
    t.times_ = std::move(own);
    t.Start = t.times_.front();
    return t;
}

// ---- the element-set sources ----------------------------------------------------------------

TPassSatellite TPassSatellite::Of(const TMeteorSatellite& satellite) {
    return {std::string(satellite.Name), std::string(satellite.CatalogueNumber),
            std::string(satellite.DisplayName)};
}

TPassSources::TPassSources() : orbit_(std::make_unique<TOrbit>()) {}

TPassSources::~TPassSources() = default;

void TPassSources::Load(const std::string& keplerPath, const TPassSatellite& satellite,
                        const std::string& tarnwickPath) {
    keplerPath_ = keplerPath;
    tarnwickPath_ = tarnwickPath;
    satellite_ = satellite;
    set_ = nullptr;
    try {
        satellites_ = std::make_unique<TSatelliteList>(keplerPath_);
        set_ = satellites_->SatelliteAt(
            satellites_->IndexOfCatalogueNumber(satellite_.CatalogueNumber));
    } catch (const std::exception&) {
        set_ = nullptr;
    }
    orbit_ = std::make_unique<TOrbit>();
    orbit_->KeplerData.TarnwickPath = tarnwickPath_;
    orbit_->SetKeplerPath(keplerPath_);
    orbit_->SetSatellite(satellite_.Name);
    ApplyCalibration();
}

void TPassSources::SetCalibrations(TScannerCalibrations calibrations, bool use) {
    calibrations_ = std::move(calibrations);
    useCalibration_ = use;
    ApplyCalibration();
}

void TPassSources::ApplyCalibration() {
    orbit_->Calibration.reset();
    const auto found = calibrations_.BySatellite.find(satellite_.CatalogueNumber);
    if (useCalibration_ && found != calibrations_.BySatellite.end()) {
        orbit_->Calibration = found->second;
    }
}

const TScannerCalibration* TPassSources::Calibration() const {
    return orbit_->Calibration ? &*orbit_->Calibration : nullptr;
}

void TPassSources::Choose(const TPassSatellite& satellite) {
    if (satellite.CatalogueNumber != satellite_.CatalogueNumber) {
        Load(keplerPath_, satellite, tarnwickPath_);
    }
}

std::string TPassSources::KeplerFolder() const {
    return satellites_ ? satellites_->Folder : keplerPath_;
}

// ---- the run --------------------------------------------------------------------------------

const TSatellite* SatelliteAndItsSet(const TPassSources& sources, TPassReport& report) {
    const TPassSatellite& satellite = sources.Satellite();
    report.Account("Satellite: " + satellite.DisplayName + " (catalogue number " +
                   satellite.CatalogueNumber + ")");
    const TSatellite* set = sources.ElementSet();
    if (set == nullptr) {
        report.Error(TPassIssue::NoElementSet,
                     "No Kepler data for " + satellite.DisplayName + " (catalogue number " +
                         satellite.CatalogueNumber + ") was found in the folder " +
                         sources.KeplerFolder() +
                         "\r\n\r\nPlease choose the folder with the Kepler data.");
    }
    return set;
}

TPassOutcome ProcessChannelImageFile(const std::string& fileName,
                                     const TChannelFileOptions& options, TPassSources& sources,
                                     TPassReport& report) {
    TPassOutcome outcome;
    report.Account("Processing: " + ExpandFileName(fileName));

    std::string path = fileName;
    if (!FileExists(path)) {
        path = options.FallbackFolder.empty() ? std::string() : options.FallbackFolder + fileName;
        if (path.empty() || !FileExists(path)) {
            return outcome; // nothing to tell beyond the account's line
        }
    }
    const TSatellite* set = SatelliteAndItsSet(sources, report);
    if (set == nullptr) {
        return outcome;
    }
    const TDateTime epoch = set->EpochDateTime();
    try {
        CheckElementSetAge(epoch, options.Now, report);
        CheckChannel(path, report);

        TChannelImage image = LoadChannelImage(path);
        ReportDecoding(image, path, report);
        const TEnhancement enhancement = image.Colour ? ColourEnhancement(options.StretchColour, report)
                                         : IsChannel68(path) ? TEnhancement::InvertAndStretch
                                                             : TEnhancement::Equalise;
        outcome.ImageFile = path;
        outcome.Unprocessed = std::make_unique<TExtBitmap>(std::move(image.Bitmap));

        // The name's start, the period, the set against the pass, then the .STAT's exact
        // start; a start the user gives takes the place of the first and the last.
        TLineTimes times;
        TNameStart named;
        if (options.Start) {
            times.Start = *options.Start;
            times.StartFrom = TStartSource::Given;
            report.Account(FormatDateTime(
                "\"Pass start as given: \"yyyy-mm-dd hh:nn:ss.zzz \"UTC (over the file name and "
                "the .STAT files)\"",
                times.Start));
        } else {
            named = PassStartsFromFileName(path, report, options.FileClockOffset);
            if (!named.Read && options.RequireTime) {
                report.Error(TPassIssue::NoPassTime,
                             ExtractFileName(path) +
                                 ": nothing gives the pass a time (its name holds no date and "
                                 "time, as YYYY_MM_DD_HH_MM_SS_CC.bmp): give it with --start "
                                 "TIME (UTC)");
                return outcome;
            }
            if (named.Read) {
                report.Account("  File clock: " +
                               (options.FileClockOffset ? "UTC" + FormatUtcOffset(named.Offset) +
                                                              ", as chosen"
                                                        : "this computer's time zone, then UTC" +
                                                              FormatUtcOffset(named.Offset)));
            }
            times.Start = named.Utc;
        }
        if (options.LinePeriodSeconds) {
            times.Period = *options.LinePeriodSeconds / kSecondsPerDay;
            times.PeriodFrom = "as given";
            report.Account(Format("Line period as given: %.7f seconds", *options.LinePeriodSeconds));
        } else {
            // The .STAT search takes the name given.
            times.PeriodFrom = ReadLinePeriod(fileName, times.Period, report)
                                   ? "from its .STAT files"
                                   : "the default";
        }
        CheckElementSetAgainstPass(epoch, times.Start, report);
        if (!options.Start) {
            times.Start = ExactStartFromStat(path, times.Start, report, named.OtherUtc);
            // A .STAT clock that agrees with the name to the millisecond is told as the name's.
            times.StartFrom = times.Start != named.Utc ? TStartSource::Stat
                              : named.Read             ? TStartSource::FileName
                                                       : TStartSource::None;
        }
        CheckStatLineCount(path, outcome.Unprocessed->Height(), times.Period, report);

        RunPass(outcome, enhancement, times, sources, report);
    } catch (const std::exception& e) {
        outcome.Result.reset();
        report.Error(TPassIssue::StageFailed, e.what());
    }
    return outcome;
}

void Enhance(TExtBitmap& picture, TEnhancement enhancement) {
    switch (enhancement) {
    case TEnhancement::Equalise:
        picture.EqualizeContrast(0, 256, true, 2.5);
        break;
    case TEnhancement::InvertAndStretch:
        picture.Invert();
        picture.StretchContrast(3.0);
        break;
    case TEnhancement::None:
        break;
    case TEnhancement::StretchEachColour:
        picture.StretchEachColour(3.0);
        break;
    }
}

TEnhancement ColourEnhancement(bool stretch, TPassReport& report) {
    report.Account(stretch ? "Picture: in colour, each colour stretched"
                           : "Picture: in colour, drawn as it is");
    return stretch ? TEnhancement::StretchEachColour : TEnhancement::None;
}

std::vector<char> LostLines(const TBitmap& image,
                            std::span<const std::pair<int, int>> untimedRuns) {
    std::vector<char> lost(static_cast<std::size_t>(image.Height()), 0);
    for (const auto& [first, last] : untimedRuns) {
        for (int y = std::max(first, 0); y <= last && y < image.Height(); ++y) {
            lost[static_cast<std::size_t>(y)] = 1;
        }
    }
    if (image.PixelFormat() != TPixelFormat::pf8bit && image.PixelFormat() != TPixelFormat::pf24bit) {
        return lost;
    }
    const int bytes = BytesPerPixel(image.PixelFormat());
    for (int y = 0; y < image.Height(); ++y) {
        const std::uint8_t* row = image.ScanLine(y);
        bool flat = true;
        for (int x = 1; x < image.Width() && flat; ++x) {
            flat = std::memcmp(row + static_cast<std::ptrdiff_t>(x) * bytes, row,
                               static_cast<std::size_t>(bytes)) == 0;
        }
        lost[static_cast<std::size_t>(y)] |= static_cast<char>(flat);
    }
    return lost;
}

void RunPass(TPassOutcome& outcome, TEnhancement enhancement, const TLineTimes& times,
             TPassSources& sources, TPassReport& report, const TGivenElementSet* given) {
    if (!outcome.Unprocessed) {
        throw std::invalid_argument("RunPass: no image to process");
    }
    const int lines = outcome.Unprocessed->Height();
    const std::string picture = ExtractFileName(outcome.ImageFile);
    if (!CheckPictureSize(outcome.Unprocessed->Width(), lines, picture, report) ||
        !CheckLineTimes(times, lines, picture, report)) {
        return;
    }
    CheckTransmitting(sources.Satellite(), times.Start, report);
    auto pass = std::make_unique<TPassResult>();
    pass->ImageFile = outcome.ImageFile;
    pass->Times = times;
    pass->Channel68 = enhancement == TEnhancement::InvertAndStretch;
    TOrbit& orbit = sources.Orbit();
    if (!BuildGroundTable(orbit, times, lines, pass->GroundTable, pass->MidAltitude,
                          pass->Northbound, report, given)) {
        return;
    }

    pass->Satellite = sources.Satellite();
    pass->ElementSet = {orbit.Elements->EpochDateTime(), KeplerSource(orbit), orbit.EpochOffset};

    report.Account(pass->Northbound
                       ? "Picture: a north-bound pass, south at the top and east on the left; "
                         "shown turned 180 degrees"
                       : "Picture: a south-bound pass, north at the top");

    TFitOptions fit;
    fit.lineCount = lines;
    fit.altitudeKm = pass->MidAltitude;
    fit.halfAngleDeg = static_cast<float>(orbit.FitHalfAngle());
    fit.format = orbit.IsMeteorM2() ? kMeteorScanFormat : kWideScanFormat;
    TFitResult fitted;
    try {
        fitted = FitMapToImage(pass->GroundTable, fit, pass->Mapping);
    } catch (const EMathError& e) {
        // The routine's words alone do not say what is wrong with which input.
        report.Error(TPassIssue::StageFailed,
                     "The map cannot be fitted to " + picture +
                         ": its ground points do not form a pass (are the line times or the "
                         "element set this picture's?): " + e.what());
        return;
    }
    pass->Edges.emplace(
        TScanLineEdges::ForFit(fit, pass->GroundTable[static_cast<size_t>(lines / 2)]));
    for (const std::string& line : fitted.account) {
        report.Account(line);
    }
    pass->Fitted = fitted.fitted;
    pass->Residuals = fitted.residuals;
    pass->ResidualFit = ResidualFigures(fitted.residuals.get());
    if (!fitted.report.empty()) {
        // The overlay is still drawn through what the fit got to.
        report.Warning(TPassIssue::FitFailed, fitted.report);
    }
    CheckFit(fitted.fitted, pass->ResidualFit.Rms, picture, report);

    // A calibrated scanner leaves nothing to shift; the model's pictures sit where the
    // decoders of its time put them.
    if (orbit.Calibration) {
        pass->LineOffset = pass->PixelOffset = 0;
    } else {
        pass->LineOffset = pass->Northbound ? kNorthboundLineOffset : kSouthboundLineOffset;
        pass->PixelOffset = pass->Northbound ? kNorthboundPixelOffset : kSouthboundPixelOffset;
    }
    pass->Scanner.Calibrated = orbit.Calibration.has_value();
    pass->Scanner.Measured = orbit.Calibration && orbit.Calibration->Measured;
    pass->Scanner.Calibration =
        !sources.UsesCalibration()    ? "calibration: not used"
        : !orbit.Calibration ? "calibration: none for this satellite: the plain scanner model (a "
                               "decoder's own scanner settings are not used: no measured relation "
                               "translates them)"
        : orbit.Calibration->Measured ? "calibration: measured on this satellite's passes"
                                      : "calibration: not measured on this satellite's passes";
    report.Account(ScannerLine(orbit) + Format("; default offsets line %d pixel %d",
                                               pass->LineOffset, pass->PixelOffset) +
                   "; " + pass->Scanner.Calibration);

    pass->Channel = std::move(*outcome.Unprocessed);
    outcome.Unprocessed.reset();
    Enhance(pass->Channel, enhancement);
    pass->LostLines = LostLines(pass->Channel, pass->Times.Untimed());
    pass->Mapping.SetMapWidth(lines);
    outcome.Result = std::move(pass);
}

bool BuildGroundTable(TOrbit& orbit, const TLineTimes& times, int lines, LocationGrid& table,
                      float& midAltitude, bool& northbound, TPassReport& report,
                      const TGivenElementSet* given) {
    // What the Kepler folder has to say about its files matters only when its set is used.
    TPassReport folderReport;
    TReportNotifier notifier(given != nullptr ? folderReport : report);
    // A set the model cannot use is invalid orbit data, with the model's reason.
    std::string failure;
    try {
        orbit.SelectForTime(times.Start, notifier);
    } catch (const EMathError& e) {
        failure = std::string(": ") + e.what();
    }
    if (given != nullptr && !TakeGivenSetWhenNearer(orbit, *given, times.Start, failure, report)) {
        for (const TReportEntry& e : folderReport.Entries()) {
            report.Warning(e.Issue, e.Text, e.Caption);
        }
    }
    report.Account(orbit.SatelliteName + " starting overlay at " +
                   FormatDateTime("yyyy-mm-dd hh:nn:ss\" UTC\"", times.Start));
    report.Account("  Kepler data from: " + KeplerSource(orbit));
    report.Account(Format("  Keplers are %.0f days offset", std::fabs(orbit.EpochOffset)));

    if (times.OwnTimes()) {
        ReportOwnTimes(times, lines, report);
    }

    midAltitude = 0.0f;
    // What the set's own text tells comes before what the model made of it.
    if (orbit.Elements && !orbit.Elements->Line1.empty() &&
        !CheckElementSetText(orbit.Elements->Line1, orbit.Elements->Line2, KeplerSource(orbit),
                             report)) {
        return false;
    }
    if (!orbit.Valid) {
        report.Error(TPassIssue::InvalidOrbit, "Invalid orbit data" + failure);
        return false;
    }
    if (!CheckElementSetNearPass(orbit.EpochOffset, orbit.Elements->EpochDateTime(), times.Start,
                                 report)) {
        return false;
    }

    table.assign(static_cast<size_t>(std::max(lines, 0)), GeoRow{});
    const int mid = lines / 2;
    // The first line that fails ends the run; lines after it do not matter.
    std::mutex failing;
    int failedLine = lines;
    std::string lineFailure;
    const TScanAngles angles = orbit.GridScanAngles();
    const auto locate = [&](long long first, long long end) {
        TScanLine scan;
        for (int i = static_cast<int>(first); i < end; ++i) {
            try {
                orbit.LocateScanLine(times.At(i), angles, scan);
            } catch (const EMathError& e) {
                const std::lock_guard<std::mutex> lock(failing);
                if (i < failedLine) {
                    failedLine = i;
                    lineFailure = e.what();
                }
                return;
            }
            GeoRow& row = table[static_cast<size_t>(i)];
            for (size_t k = 0; k < row.size(); ++k) {
                row[k] = GeoPoint{scan.Points[k].Lat, scan.Points[k].Lon};
            }
            if (i == mid) {
                midAltitude = static_cast<float>(scan.AltitudeKm);
            }
        }
    };
    // The first line alone, as the set initialises its model there; then every core takes
    // a part of the others, when propagating leaves the set as it is (near-earth sets).
    locate(0, std::min(lines, 1));
    if (failedLine == lines && lines > 1) {
        const int threads =
            orbit.Elements && !orbit.Elements->DeepSpace ? ThreadsFor(lines - 1, 256) : 1;
        ForEachPart(lines - 1, threads,
                    [&](long long first, long long end) { locate(first + 1, end + 1); });
    }
    if (failedLine < lines) {
        report.Error(TPassIssue::InvalidOrbit,
                     Format("Invalid orbit data: %s (image line %d)", lineFailure.c_str(), failedLine));
        return false;
    }
    if (lines >= 3) {
        northbound = table[static_cast<size_t>(mid + 1)][kNadirColumn].lat >
                     table[static_cast<size_t>(mid - 1)][kNadirColumn].lat;
    }
    return true;
}

bool LookUpLonLat(const LocationGrid& grid, int height, int x, int y, float& lon, float& lat,
                  const TScanLineEdges* edges) {
    // The Meteor layout: the look-up reaches a step short of a sample beyond the outer ones.
    const TScanLayout& layout = kMeteorScanLayout;
    lon = 0.0f;
    lat = 0.0f;
    if (y < 0 || y >= height || static_cast<size_t>(y) >= grid.size()) {
        return false;
    }
    if (edges != nullptr && (x < layout.FirstColumn || x > layout.LastColumn())) {
        if (x < 0 || x >= layout.Width) {
            return false;
        }
        TScanLineEdges line = *edges;
        line.SetLine(grid[static_cast<size_t>(y)]);
        GeoPoint p;
        if (!line.Locate(x, p)) {
            return false;
        }
        lon = p.lon;
        lat = p.lat;
        return true;
    }
    if (x < layout.FirstColumn - (layout.Step - 1) || x > layout.LastColumn() + (layout.Step - 1)) {
        return false;
    }
    int k = (x - layout.FirstColumn) / layout.Step;
    k = std::clamp(k, 0, kGridColumns - 2);
    const float f = static_cast<float>(x - layout.ColumnOf(k)) / static_cast<float>(layout.Step);
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

} // namespace vantorel
