#pragma once

// The pass pipeline: from a channel image and the time of each of its lines to the
// enhanced image, its ground table, the mapping fitted to it and the overlay's default
// offsets, with the account of every step in a report. It shows nothing itself, and hands
// a finished pass over whole: a run that ends early leaves no half of itself anywhere.

#include "common/DateTime.h"
#include "compositing/ColourComposite.h"
#include "imaging/BMPExtImage.h"
#include "mapping/FitMap.h"
#include "mapping/MapWithWarp.h"
#include "mapping/ScanLineEdges.h"
#include "orbit/MeteorSeries.h"
#include "orbit/ScannerCalibration.h"
#include "pass/PassReport.h"
#include "pass/inputs/StatTiming.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vantorel {

class TOrbit;
class TSatellite;
class TSatelliteList;

/// Where a pass's start came from.
enum class TStartSource {
    None,     ///< nothing gave one (the file name holds no date)
    FileName, ///< the date and time in the file name
    Given,    ///< the user's (--start, or the window's run options)
    Coasts,   ///< found from the picture's own coasts
    Stat,     ///< the decoder's .STAT clock, near the file name's time
    Product,  ///< the line times of a decoder's product
};

/// The time of every line of a picture: a start and a line period, both UTC days.
struct TLineTimes {
    TDateTime Start = 0.0; ///< the first line's time
    double Period = kDefaultLinePeriodDays;
    TStartSource StartFrom = TStartSource::FileName;
    /// Lines that share one time stamp of the input (a product's group), for messages.
    int LinesPerGroup = 1;
    /// Where the period came from, for messages ("its .STAT files").
    std::string PeriodFrom;

    /// Times from an input that gives each line its own (NaN for a line without one, such
    /// as the black lines of a dropout): a line without a time takes one interpolated
    /// between the nearest lines with times, or beyond them one period a line. nullopt
    /// when no line has a time.
    static std::optional<TLineTimes> FromOwnTimes(std::vector<TDateTime> own, double period);

    /// The time of a line.
    TDateTime At(int line) const {
        return times_.empty() ? Start + line * Period : times_[static_cast<std::size_t>(line)];
    }
    /// Whether the lines have times of their own (else start + line x period).
    bool OwnTimes() const { return !times_.empty(); }
    /// The lines without a time of their own, in runs of first and last line.
    const std::vector<std::pair<int, int>>& Untimed() const { return untimed_; }

private:
    std::vector<TDateTime> times_;
    std::vector<std::pair<int, int>> untimed_;
};

/// The satellite whose pictures are processed: Meteor-M N2 unless the user or the input
/// says otherwise.
struct TPassSatellite {
    /// The name the orbit knows it by; it names the per-satellite Kepler files.
    std::string Name = "METEOR-M2";
    /// Its catalogue number; its set in the Kepler folder drives the age checks.
    std::string CatalogueNumber = "40069";
    /// Its name in messages.
    std::string DisplayName = "Meteor-M N2";

    static TPassSatellite Of(const TMeteorSatellite& satellite);
};

/// The element-set sources every run draws on, loaded once at start-up.
class TPassSources {
public:
    TPassSources();
    ~TPassSources();
    TPassSources(const TPassSources&) = delete;
    TPassSources& operator=(const TPassSources&) = delete;

    /// The satellite list of the multi-Kepler folder ("" is allowed: no list) and its set
    /// of the satellite, and an orbit set up for the satellite. A folder that cannot be
    /// read leaves no set.
    /// @param tarnwickPath where the sibling tracker is installed: its "Keps/" folder may
    ///   hold the per-satellite files ("" when it is not installed).
    void Load(const std::string& keplerPath, const TPassSatellite& satellite,
              const std::string& tarnwickPath = {});
    /// Another satellite from the same folders (nothing is reloaded for the same one).
    void Choose(const TPassSatellite& satellite);
    /// The scanner calibrations to apply (by catalogue number), or none when `use` is
    /// false: the scanner model as it stands. Takes effect at once for the orbit.
    void SetCalibrations(TScannerCalibrations calibrations, bool use);
    /// The calibration in use for the satellite, or nullptr.
    const TScannerCalibration* Calibration() const;
    /// Whether calibrations are applied at all (a satellite may still have none).
    bool UsesCalibration() const { return useCalibration_; }

    const std::string& KeplerPath() const { return keplerPath_; }
    /// The multi-Kepler folder as the satellite list normalised it (trailing delimiter).
    std::string KeplerFolder() const;
    const TPassSatellite& Satellite() const { return satellite_; }
    /// The satellite's set in the multi-Kepler folder, or nullptr when it has none.
    const TSatellite* ElementSet() const { return set_; }
    /// Every satellite's newest set in the multi-Kepler folder; nullptr when it could not
    /// be read.
    const TSatelliteList* Satellites() const { return satellites_.get(); }
    TOrbit& Orbit() { return *orbit_; }
    const TOrbit& Orbit() const { return *orbit_; }

private:
    void ApplyCalibration();

    std::string keplerPath_;
    std::string tarnwickPath_;
    TScannerCalibrations calibrations_;
    bool useCalibration_ = false;
    TPassSatellite satellite_;
    std::unique_ptr<TSatelliteList> satellites_;
    const TSatellite* set_ = nullptr;
    std::unique_ptr<TOrbit> orbit_;
};

/// What a run does to its picture's contrast once the map is fitted.
enum class TEnhancement {
    Equalise,          ///< a channel image: histogram equalisation
    InvertAndStretch,  ///< an infrared channel image (channel 68): turned over, then stretched
    None,              ///< a colour picture, drawn as it is
    StretchEachColour, ///< a colour picture, each colour stretched apart
};

/// Applies an enhancement: Equalise is EqualizeContrast (0, 256, clip, 2.5);
/// InvertAndStretch is Invert then StretchContrast (3.0); StretchEachColour is
/// StretchEachColour (3.0).
void Enhance(TExtBitmap& picture, TEnhancement enhancement);
/// A colour picture's enhancement (stretched or as it is), with its account line.
TEnhancement ColourEnhancement(bool stretch, TPassReport& report);

/// What a finished run hands over.
struct TPassResult {
    std::string ImageFile; ///< the image as found (a composite: its name in the folder)
    /// The enhanced picture: a channel image in 8 bits per pixel, or a colour picture in
    /// 24 (see Colour()).
    TExtBitmap Channel;
    TLineTimes Times;         ///< when each of its lines was scanned
    bool Northbound = false;  ///< latitude grows down the image: shown turned
    bool Channel68 = false;   ///< an infrared channel-68 image (inverted when enhanced)
    LocationGrid GroundTable; ///< one row of ground points per line, latitude first
    float MidAltitude = 0.0f; ///< the satellite's height at the middle line, km
    TWarpedMapping Mapping;   ///< fitted to the image; map width = lines
    /// The scan lines carried on beyond their outer samples as the fit carried them.
    std::optional<TScanLineEdges> Edges;
    int LineOffset = 0;       ///< the overlay's default shift, lines (positive: up)
    int PixelOffset = 0;      ///< the overlay's default shift, pixels (positive: right)
    TPassSatellite Satellite; ///< the satellite of the pass (a product's own)
    /// The element set that placed the pass.
    struct TElementSetUsed {
        TDateTime Epoch = 0.0;     ///< UTC
        std::string Source;        ///< the Kepler file(s), or the product, it came from
        double DaysFromPass = 0.0; ///< its epoch minus the pass start
    } ElementSet;
    /// How the scanner was modelled.
    struct TScannerUsed {
        bool Calibrated = false; ///< a calibration of the satellite placed the pass
        bool Measured = false;   ///< ... and it was measured on the satellite's own passes
        /// What the account says of it ("calibration: ...").
        std::string Calibration;
    } Scanner;
    bool Fitted = false; ///< every step of the map fit succeeded
    /// What the fitted polynomials leave at each ground point, pixels.
    std::shared_ptr<const ResidualGrid> Residuals;
    TResidualFigures ResidualFit; ///< the figures of Residuals
    /// One per line of the picture: 1 where the line is not the picture (see LostLines).
    std::vector<char> LostLines;

    /// Whether the picture is in colour (a composite), not a channel image.
    bool Colour() const { return Channel.PixelFormat() != TPixelFormat::pf8bit; }
};

/// The lines of a picture that are not the picture: those without a time of their own
/// (a dropout's), and those of one flat value (or colour) across (black).
std::vector<char> LostLines(const TBitmap& image, std::span<const std::pair<int, int>> untimedRuns);

/// What a run leaves: the finished pass, or what there is to show of one that ended early.
struct TPassOutcome {
    std::unique_ptr<TPassResult> Result; ///< null when the run ended early
    std::string ImageFile;               ///< the image as found; "" when it was not found
    /// The image as loaded, when the run ended after loading it (shown unprocessed).
    std::unique_ptr<TExtBitmap> Unprocessed;
};

/// An element set that an input brings with it (a decoder's own): used when it lies nearer
/// the pass than the one the Kepler folder gives.
struct TGivenElementSet {
    std::string Line1;
    std::string Line2;
    std::string Source; ///< the file it came from
};

/// What a run of a channel image file needs besides the file.
struct TChannelFileOptions {
    /// Where a file that is not found as named is looked for next ("" to skip that).
    std::string FallbackFolder;
    /// Now, UTC: the element set's age is measured against it.
    TDateTime Now = 0.0;
    /// How far ahead of UTC the clock of the computer that named the file ran (days);
    /// nullopt: this computer's time zone, at the file name's date.
    std::optional<double> FileClockOffset;
    /// Stretch each colour of a colour picture (else it is drawn as it is).
    bool StretchColour = false;
    /// The pass start (UTC) and the line period (seconds) given by the user: over what the
    /// file name and the .STAT files say, so that any decoder's picture can be placed.
    std::optional<TDateTime> Start = std::nullopt;
    std::optional<double> LinePeriodSeconds = std::nullopt;
    /// End the run when nothing gives the pass a time (the window goes on, warning).
    bool RequireTime = false;
};

/// Names the run's satellite in the account and gives its set in the Kepler folder; ends
/// the run (NoElementSet, naming the folder) and gives nullptr when there is none.
const TSatellite* SatelliteAndItsSet(const TPassSources& sources, TPassReport& report);

/// A channel image with its decoder's file name and .STAT files: found (or looked for in
/// the fallback folder), its element set checked against today, read, timed, then run
/// through RunPass. Errors inside a stage end the run as a StageFailed error.
TPassOutcome ProcessChannelImageFile(const std::string& fileName,
                                     const TChannelFileOptions& options, TPassSources& sources,
                                     TPassReport& report);

/// Which picture of a SatDump product a run processes, when the path does not name one.
struct TProductOptions {
    /// The channel, by name ("" for the product's first).
    std::string Channel;
    /// Three channels laid together as red, green and blue (see ComposeByTime), each
    /// enhanced as a channel image first; instead of one channel when given.
    std::optional<TCompositeChannels> Composite;
    /// Stretch each colour of a colour picture the path names (else it is drawn as it is).
    bool StretchColour = false;
    /// The satellite the user chose, over the one the product names.
    std::optional<TPassSatellite> Satellite = std::nullopt;
    /// A folder without product.cbor: its first line's time (UTC) as the user gives it,
    /// instead of one found from the picture's coasts.
    std::optional<TDateTime> Start = std::nullopt;
};

/// A SatDump product: a product folder, its product.cbor or one picture inside it. The
/// satellite is the product's (the chosen one in `sources` is used only when the product
/// does not say), the element set the product's own unless the Kepler folder has one
/// nearer the pass, and each line is placed by its own time. A picture the product does
/// not list (a colour composite the decoder wrote beside its channels) takes the times of
/// the channels it has the lines of (see SatDumpPictureTimes). Errors inside a stage end
/// the run as a StageFailed error.
TPassOutcome ProcessSatDumpProduct(const std::string& path, const TProductOptions& options,
                                   TPassSources& sources, TPassReport& report);

/// Finds when the first line of a picture was scanned from the picture's own coasts, the
/// satellite's orbit and its line period (days), near a time the input gives (which may lie
/// anywhere in the pass); nullopt when the coasts do not tell. Tells the report what it found
/// and how sure it is.
using TStartFinder = std::function<std::optional<TDateTime>(
    const TExtBitmap& picture, TDateTime around, double period, TPassSources& sources,
    TPassReport& report)>;

/// A SatDump MSU-MR folder without product.cbor (see OpenSatDumpPictureFolder): the
/// satellite from its dataset.json (the chosen one in `options` goes over it), the lines
/// at the MSU-MR line period (its lost lines are black in place), and the first line's
/// time found by `findStart` near the dataset's time, unless `options` gives it. A picture
/// whose time cannot be found ends the run (PassTimeNotFound): no overlay drawn from a guess.
TPassOutcome ProcessSatDumpPictureFolder(const std::string& path, const TProductOptions& options,
                                         TPassSources& sources, TPassReport& report,
                                         const TStartFinder& findStart);

/// The steps after the input: the ground table from each line's time, the fit, the
/// default offsets and the enhancement. Needs at least three lines and an orbit for the
/// pass; otherwise the run ends with the image left unprocessed in the outcome.
/// @param outcome holds the image (Unprocessed) on entry; on success its Result.
void RunPass(TPassOutcome& outcome, TEnhancement enhancement, const TLineTimes& times,
             TPassSources& sources, TPassReport& report, const TGivenElementSet* given = nullptr);

/// The ground table of `lines` lines at the given times (one row per line, latitude
/// first) and the satellite's height at the middle line; false when the orbit has no set
/// for the pass (after its account). Sets `northbound` from the middle lines. A given
/// element set is taken when it lies nearer the pass than the Kepler folder's.
bool BuildGroundTable(TOrbit& orbit, const TLineTimes& times, int lines, LocationGrid& table,
                      float& midAltitude, bool& northbound, TPassReport& report,
                      const TGivenElementSet* given = nullptr);

/// The look-up behind the readout: longitude and latitude (degrees) of a pixel of the
/// unturned image, interpolated between the ground table's samples of its line (along the
/// shorter arc across the date line). Beyond the outer samples the line is carried on by
/// `edges` (as the fit carries it, so that the readout agrees with the overlay there) out
/// to the picture's sides; without them the nearest two samples are drawn on for a step.
/// False (both 0) outside the lines or beyond that reach.
bool LookUpLonLat(const LocationGrid& grid, int height, int x, int y, float& lon, float& lat,
                  const TScanLineEdges* edges = nullptr);

} // namespace vantorel
