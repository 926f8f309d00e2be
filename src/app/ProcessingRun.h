#pragma once

// The screen's side of processing: a pass session, and what the user does with its pass
// (the overlay's offsets and their keys and wheel, the readout, the caption, the part in
// view, the suggested name, saving). No widget lives here: the window owns one and
// forwards its events to it.

#include "common/Notifier.h"
#include "session/PassSession.h"

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

    /// The start-up steps: the program's data (Boundaries.b or Countries.dat, Stations.dat,
    /// Scanner.cal), the element-set sources of the Kepler folder
    /// (the satellite's set and the orbit), and the start-up account in the diagnostics.
    /// @param keplerPath the multi-Kepler folder ("" is allowed: no list).
    /// @param version the program's version for the caption ("0.1.0.0").
    /// @param satellite the satellite whose pictures are processed.
    void Start(const std::string& keplerPath, const std::string& version,
               const TPassSatellite& satellite = {});
    /// Another satellite for the runs that follow (its set and orbit are loaded now).
    void ChooseSatellite(const TPassSatellite& satellite) { FSession.ChooseSatellite(satellite); }
    /// Scanner calibrations in place of those Start read from Scanner.cal (tools).
    void SetCalibrations(TScannerCalibrations calibrations) {
        FSession.SetCalibrations(std::move(calibrations));
    }
    const TPassSatellite& ChosenSatellite() const { return FSession.ChosenSatellite(); }
    /// Each satellite's newest element set and calibration (the Kepler data tab's table).
    std::vector<TPassSession::TSatelliteState> SatelliteStates(TDateTime now) const {
        return FSession.SatelliteStates(now);
    }

    /// What the runs are done with (the window fills it from its controls).
    TRunSetup& Setup() { return FSession.Setup; }
    const TRunSetup& Setup() const { return FSession.Setup; }

    /// How a run's report reaches the user.
    using TDelivery = TPassSession::TDelivery;
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
    const TAlignment& LastAlignment() const { return FSession.LastAlignment(); }

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
    using TPixelGround = TPassSession::TPixelGround;
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

    /// The part of the picture in view, columns left .. right - 1 and rows top ..
    /// bottom - 1 of the full-size picture (as displayed, turned or not), and the zoom
    /// (screen pixels per picture pixel). The grid's step follows the part in view and its
    /// labels keep to the part's edges (never on a saved picture, which is labelled at its
    /// own edges); below 1:1 the displayed picture is drawn at the size it takes on the
    /// screen, its lines at the screen's resolution. Redraws when that changes the
    /// picture. Until it is set, the whole picture is in view at full size.
    void SetView(int left, int top, int right, int bottom, double zoom);
    /// The grid's step in degrees as it is (or would be) drawn now.
    int GraticuleStepInUse() const { return FSession.GraticuleStepInUse(); }
    /// The picture as it is saved: the displayed one, drawn again at full size when it is
    /// shown zoomed out or its grid is labelled at the edges of a part in view.
    const TExtBitmap& PictureAtFullSize() { return FSession.PictureAtFullSize(); }

    /// The pass shown, or nullptr before the first finished run and after one that ended
    /// early.
    const TPassResult* Pass() const { return FSession.Pass(); }
    const std::string& ImageFile() const { return FSession.ImageFile(); }
    const TExtBitmap& ChannelBitmap() const;
    /// The displayed picture: smaller than the full-size one when zoomed out.
    const TExtBitmap& DisplayBitmap() const { return FSession.Picture(); }
    /// The size of the picture as saved, which the displayed one shows.
    TScreenSize FullPictureSize() const { return FSession.FullSize(); }
    bool Northbound() const { return Pass() != nullptr && Pass()->Northbound; }
    bool Channel68() const { return Pass() != nullptr && Pass()->Channel68; }
    const LocationGrid& GroundTable() const;
    float MidAltitude() const { return Pass() != nullptr ? Pass()->MidAltitude : 0.0f; }
    int LineOffset() const { return FSession.LineOffset(); }
    int PixelOffset() const { return FSession.PixelOffset(); }
    void SetOffsets(int lineOffset, int pixelOffset) {
        FSession.SetOffsets(lineOffset, pixelOffset);
    }
    const std::string& Caption() const { return FCaption; }
    const std::string& BaseCaption() const { return FBaseCaption; }
    const std::string& KeplerPath() const { return FSession.Sources().KeplerPath(); }
    /// The multi-Kepler folder as the satellite list normalised it (trailing delimiter).
    std::string KeplerFolder() const { return FSession.Sources().KeplerFolder(); }
    /// The chosen satellite's set, or nullptr when the Kepler folder has none.
    const TSatellite* Satellite() const { return FSession.Sources().ElementSet(); }
    TStringList& Diags() { return FSession.Diags(); }
    const TStringList& Stations() const { return FSession.Data().Stations; }
    const TCartogList& Cartography() const { return FSession.Cartography(); }
    /// The shown pass's mapping (an unfitted one without a pass).
    const TWarpedMapping& Mapping() const;
    TOrbit& Orbit() { return FSession.Sources().Orbit(); }

private:
    void SetCaption(std::string caption);
    void Show(const TPassSession::TRunEnd& end);

    INotifier& FNotifier;
    IRunView* FView;
    IRunView FNoView;

    TPassSession FSession;
    std::string FBaseCaption;
    std::string FCaption;
    std::set<std::string> FStaleSetsShown; ///< element sets whose age box was shown
};

} // namespace vantorel
