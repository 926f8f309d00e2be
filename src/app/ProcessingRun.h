#pragma once

// The screen's side of processing: the element-set sources loaded at start-up, the pass
// the pipeline last finished, and what the user does with it (the overlay's offsets and
// their keys, the readout, the caption, the suggested name, saving). No widget lives
// here: the window owns one and forwards its events to it, and vantorel-cli drives the
// same class.

#include "alignment/CoastAlignment.h"
#include "alignment/CoastLines.h"
#include "app/PictureComposer.h"
#include "common/Notifier.h"
#include "common/StringList.h"
#include "imaging/BMPExtImage.h"
#include "pass/PassPipeline.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace vantorel {

class TOrbit;
class TSatellite;

/// What a run asks of the window that shows it. Headless use needs none of it.
class IRunView {
public:
    virtual ~IRunView() = default;
    virtual void ShowImageTab() {}
    virtual void ShowKeplerTab() {}
    virtual void Maximise() {}
    /// The window caption changed (a run names its file in it).
    virtual void CaptionChanged(const std::string& /*caption*/) {}
    /// The displayed picture was recomposed.
    virtual void PictureChanged() {}
};

/// The arrow keys that move the overlay.
enum class TArrowKey { Left, Right, Up, Down };

class TProcessingRun {
public:
    /// notifier: where message boxes and plain messages go; view: the window, or nullptr.
    explicit TProcessingRun(INotifier& notifier, IRunView* view = nullptr);
    ~TProcessingRun();
    TProcessingRun(const TProcessingRun&) = delete;
    TProcessingRun& operator=(const TProcessingRun&) = delete;

    /// The start-up steps: the element-set sources of the Kepler folder (its set of
    /// catalogue number 40069 and the orbit), Stations.dat, the cartography store
    /// (Countries.dat), and the start-up account in the diagnostics.
    /// @param keplerPath the multi-Kepler folder ("" is allowed: no list).
    /// @param version the program's version for the caption ("0.1.0.0").
    /// @param satellite the satellite whose pictures are processed.
    void Start(const std::string& keplerPath, const std::string& version,
               const TPassSatellite& satellite = {});
    /// Another satellite for the runs that follow (its set and orbit are loaded now).
    void ChooseSatellite(const TPassSatellite& satellite);
    /// Scanner calibrations in place of those Start read from Scanner.cal (tools).
    void SetCalibrations(TScannerCalibrations calibrations) {
        FSources.SetCalibrations(std::move(calibrations), UseCalibration);
    }
    const TPassSatellite& ChosenSatellite() const { return FSources.Satellite(); }

    /// How a run's report reaches the user.
    using TDelivery = std::function<void(const TReportEntry&)>;
    /// One run of the pipeline on a channel image file. The report goes to the
    /// diagnostics and the notifier as it grows (or to `deliver`). The pass becomes the
    /// shown one only when the run finishes; after a run that ends early nothing of an
    /// earlier pass stays live (the image, if it was read, is shown unprocessed). Returns
    /// true when the picture was drawn.
    bool ProcessFile(const std::string& fileName);
    bool ProcessFile(const std::string& fileName, const TDelivery& deliver);

    /// Looks for the offsets that put the shores on the picture's own edges and, when it is
    /// confident, takes them as if the user had nudged the overlay there (and redraws when
    /// `redraw`). One diagnostics line says what was found. False without a pass or when
    /// the answer is not trusted (the offsets then stay).
    bool AlignToCoasts(bool redraw = true, const TAlignmentOptions& options = {});
    /// What the last alignment found (for tools and tests).
    const TAlignment& LastAlignment() const { return FLastAlignment; }

    /// Recomposes the displayed picture from the shown pass with the chosen pen and the
    /// offsets; nothing without a pass. The run's "Plotting" line is not repeated.
    void RedrawOverlay();

    /// Longitude and latitude (degrees) the readout shows for a pixel of the unturned
    /// image, interpolated in the ground table; false (both 0) outside the lines or the
    /// sampled columns, or without a pass.
    bool LookUpLonLat(int x, int y, float& lon, float& lat) const;
    /// A pixel of the displayed picture in the unturned image's coordinates, and the
    /// longitude and latitude (degrees) the drawn overlay, offsets included, gives it:
    /// none in the margin the offsets leave beyond the ground table. nullopt outside the
    /// picture or without a pass.
    struct TPixelGround {
        int X = 0;
        int Y = 0;
        std::optional<std::pair<float, float>> LonLat;
    };
    std::optional<TPixelGround> GroundAt(int pictureX, int pictureY) const;
    /// The status-bar readout for a pixel of the displayed picture ("X: ..  Lon: .."), in
    /// the unturned image's coordinates: the position the drawn overlay gives the pixel,
    /// offsets included; nullopt outside the picture or without a pass.
    std::optional<std::string> Readout(int pictureX, int pictureY) const;
    /// Where the overlay draws a position on the displayed picture (offsets and the turn
    /// of south-to-north passes included); false when the mapping cannot place it.
    bool PicturePosition(float lon, float lat, int& pictureX, int& pictureY) const;
    /// The overlay steps of the arrow keys and the wheel (turned with the picture on
    /// south-to-north passes); each redraws. A zero wheel delta, or no pass, does nothing.
    void ArrowKey(TArrowKey key, bool shift);
    void MouseWheel(int delta, bool shift);
    /// The image's name with ".geo" before its extension (".geo" before any run).
    std::string SuggestedSaveName() const;
    /// Writes the displayed picture (see WritePicture); a ".tif" name makes a GeoTIFF with
    /// ground control points from the ground table (with `overlay` false, of the channel
    /// image without the overlay). Returns what was written, for the account. Errors of
    /// the writer are thrown.
    std::string SavePicture(const std::string& fileName, bool overlay = true);
    /// Writes the pass resampled to a map grid (see ProjectPicture: `crs` "" for longitude
    /// and latitude, `step` 0 for about the picture's own resolution) with the overlay
    /// drawn in map space, as a GeoTIFF with a world file. Returns what was written.
    std::string SaveProjectedPicture(const std::string& fileName, const std::string& crs = {},
                                     double step = 0.0) const;

    /// Line colour (0x00BBGGRR) and thickness item (0 thin, 1 normal, 2 thick).
    TColor LineColour = 0x00FFFF;
    int LineThickness = 1;
    /// The folder tried when a file is not found as named; "" skips that step.
    std::string FallbackFolder;
    /// Align the overlay to the shores after every run.
    bool AlignAutomatically = true;
    /// Apply the scanner calibration of Scanner.cal (set before Start): false gives the
    /// scanner model and the default offsets as they stand.
    bool UseCalibration = true;
    /// The channel of a decoder's product that is processed when the path names none
    /// ("" for the product's first picture).
    std::string ProductChannel;
    /// Instead of one channel, three laid together as red, green and blue.
    std::optional<TCompositeChannels> ProductComposite;
    /// Stretch each colour of a colour picture read from a file (else drawn as it is).
    bool StretchColour = false;
    /// The pass start (UTC) and line period (seconds) the user gives a channel image, over
    /// its name and its .STAT files.
    std::optional<TDateTime> GivenStart;
    std::optional<double> GivenLinePeriodSeconds;
    /// End a run that nothing gives a pass time (the window warns and goes on instead).
    bool RequirePassTime = false;
    /// The chosen satellite over the one a product names.
    bool SatelliteOverProduct = false;
    /// How many whole hours ahead of UTC the clock of the computer that named the files
    /// ran; nullopt: this computer's time zone.
    std::optional<int> FileClockOffsetHours;
    /// The latitude/longitude grid: drawn or not, its colour (0x00BBGGRR) and its step in
    /// degrees (0: chosen from the part of the picture in view, see SetView).
    bool Graticule = false;
    TColor GraticuleColour = TGraticuleStyle{}.Colour;
    int GraticuleStep = 0;

    /// The part of the displayed picture in view, columns left .. right - 1 and rows
    /// top .. bottom - 1 (as displayed, turned or not), and how many picture pixels a
    /// screen pixel shows when zoomed out (1 at full size and beyond). The grid's step
    /// follows the part in view and its labels keep to the part's edges; the lines and the
    /// grid's labels are drawn `scale` times wider on the displayed picture (never on a
    /// saved one, which is labelled at its own edges). Redraws when that changes the
    /// picture. Until it is set, the whole picture is in view at full size.
    void SetView(int left, int top, int right, int bottom, int scale);
    /// The grid's step in degrees as it is (or would be) drawn now.
    int GraticuleStepInUse() const;
    /// The picture as it is saved: the displayed one, drawn again at full size when it is
    /// shown zoomed out or its grid is labelled at the edges of a part in view.
    const TExtBitmap& PictureAtFullSize();

    /// The pass shown, or nullptr before the first finished run and after one that ended
    /// early.
    const TPassResult* Pass() const { return FPass.get(); }
    const std::string& ImageFile() const { return FImageFile; }
    const TExtBitmap& ChannelBitmap() const;
    const TExtBitmap& DisplayBitmap() const { return FDisplayBitmap; }
    bool Northbound() const { return FPass && FPass->Northbound; }
    bool Channel68() const { return FPass && FPass->Channel68; }
    const LocationGrid& GroundTable() const;
    float MidAltitude() const { return FPass ? FPass->MidAltitude : 0.0f; }
    int LineOffset() const { return FLineOffset; }
    int PixelOffset() const { return FPixelOffset; }
    void SetOffsets(int lineOffset, int pixelOffset);
    const std::string& Caption() const { return FCaption; }
    const std::string& BaseCaption() const { return FBaseCaption; }
    const std::string& KeplerPath() const { return FSources.KeplerPath(); }
    /// The multi-Kepler folder as the satellite list normalised it (trailing delimiter).
    std::string KeplerFolder() const { return FSources.KeplerFolder(); }
    /// The catalogue-40069 set, or nullptr when the Kepler folder has none.
    const TSatellite* Satellite() const { return FSources.ElementSet(); }
    TStringList& Diags() { return FDiags; }
    const TStringList& Stations() const { return FComposer.Stations(); }
    const TCartogList& Cartography() const { return FComposer.Cartography(); }
    /// The shown pass's mapping (an unfitted one without a pass).
    const TWarpedMapping& Mapping() const;
    TOrbit& Orbit() { return FSources.Orbit(); }

    /// Where a data file of the program is: the program folder, else ../share/vantorel
    /// beside it (the installed layout); the first path when neither holds it.
    static std::string DataFilePath(const std::string& name);

private:
    /// The coast lines of the cartography, made when first needed.
    TCoastLines& CoastLines();
    void SetCaption(std::string caption);
    void Show(TPassOutcome outcome);
    /// forScreen: the grid's labels at the edges of the part in view, else of the picture.
    void ComposeWithView(int scale, TExtBitmap& picture, bool forScreen);
    /// The part of the picture in view, in its rows and columns before any turn.
    TPictureArea PartInView() const;

    INotifier& FNotifier;
    IRunView* FView;
    IRunView FNoView;

    TPassSources FSources;
    TPictureComposer FComposer;
    std::unique_ptr<TCoastLines> FCoastLines; ///< the shores of the composer's boundaries
    TAlignment FLastAlignment;
    std::unique_ptr<const TPassResult> FPass;
    std::string FImageFile;
    TExtBitmap FDisplayBitmap;
    std::int32_t FLineOffset = 0;
    std::int32_t FPixelOffset = 0;
    std::string FBaseCaption;
    std::string FCaption;
    TPassSatellite FPassSatellite; ///< the satellite of the run that made FPass
    TPictureArea FViewPart; ///< as displayed, turned or not; empty: the whole picture
    int FViewScale = 1;
    TExtBitmap FFullSizePicture; ///< PictureAtFullSize's, when the view is zoomed out
    TStringList FDiags;
    std::set<std::string> FStaleSetsShown; ///< element sets whose age box was shown
};

} // namespace vantorel
