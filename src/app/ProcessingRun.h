#pragma once

// The processing run: from one channel image to the overlaid picture, and the state the
// window's redraw, readout and export use afterwards. No widget lives here: the window
// owns one run and forwards its events to it, and vantorel-cli drives the same class.

#include "cartography/zorCartography.h"
#include "common/DateTime.h"
#include "common/Notifier.h"
#include "common/StringList.h"
#include "imaging/BMPExtImage.h"
#include "mapping/FitMap.h"
#include "mapping/MapWithWarp.h"

#include <memory>
#include <optional>
#include <string>

namespace vantorel {

class TOrbit;
class TSatellite;
class TSatelliteList;

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
    /// The satellite whose images are processed.
    static constexpr const char* kSatelliteName = "METEOR-M2";
    /// Its catalogue number; its element set drives the age checks.
    static constexpr const char* kCatalogueNumber = "40069";
    /// The scanner's half-angle (degrees) and the scan format the fit uses.
    static constexpr float kHalfAngleDeg = 55.37f;
    static constexpr std::uint8_t kScanFormat = 5;
    /// Quality of saved JPEG pictures.
    static constexpr int kJpegQuality = 92;
    /// The comment written into saved JPEG pictures.
    static constexpr const char* kJpegComment =
        "Geographic overlay drawn by Vantorel, a Corvane program";
    /// Where a file that is not found as named is looked for next.
    static constexpr const char* kDefaultFallbackFolder = "D:/Tools/Meteor/Images/";

    /// notifier: where message boxes and plain messages go; view: the window, or nullptr.
    explicit TProcessingRun(INotifier& notifier, IRunView* view = nullptr);
    ~TProcessingRun();
    TProcessingRun(const TProcessingRun&) = delete;
    TProcessingRun& operator=(const TProcessingRun&) = delete;

    /// The start-up steps a run needs: the satellite list of the Kepler folder and its
    /// catalogue-40069 set, the orbit, Stations.dat, the mapping, the cartography store
    /// (Countries.dat), and the start-up account in the diagnostics.
    /// @param keplerPath the multi-Kepler folder ("" is allowed: no list).
    /// @param version the program's version for the caption ("0.1.0.0").
    void Start(const std::string& keplerPath, const std::string& version);

    /// One processing run; messages through the notifier, the account in Diags(). Errors
    /// raised inside a stage (image reading, propagation, fit) end the run and reach the
    /// caller as exceptions carrying their text. Returns true when the picture was drawn.
    bool ProcessFile(const std::string& fileName);

    /// Fills the ground table (one row per line, latitude first) and the mid-line
    /// altitude for lines starting at `start`, and sets `northbound`. False after
    /// "Invalid orbit data".
    bool BuildGroundTable(bool& northbound, int lineCount, TDateTime start);
    /// Fits the mapping to the ground table.
    void FitToImage();
    /// Recomposes the displayed picture: the channel image, the boundaries with the
    /// chosen pen, place marks on north-to-south passes, the turn on south-to-north ones.
    void RedrawOverlay();

    /// Longitude and latitude (degrees) the readout shows for a pixel of the unturned
    /// image, interpolated in the ground table; false (both 0) outside the lines or the
    /// sampled columns.
    bool LookUpLonLat(int x, int y, float& lon, float& lat) const;
    /// The same look-up in a given ground table for a picture of `height` lines.
    static bool LookUpLonLat(const LocationGrid& grid, int height, int x, int y, float& lon,
                             float& lat);
    /// The status-bar readout for a pixel of the displayed picture ("X: ..  Lon: .."), in
    /// the unturned image's coordinates; nullopt outside the picture.
    std::optional<std::string> Readout(int pictureX, int pictureY) const;
    /// Where the overlay draws a position on the displayed picture (offsets and the turn
    /// of south-to-north passes included); false when the mapping cannot place it.
    bool PicturePosition(float lon, float lat, int& pictureX, int& pictureY) const;
    /// The overlay steps of the arrow keys and the wheel (turned with the picture on
    /// south-to-north passes); each redraws. A zero wheel delta does nothing.
    void ArrowKey(TArrowKey key, bool shift);
    void MouseWheel(int delta, bool shift);
    /// The image's name with ".geo" before its extension (".geo" before any run).
    std::string SuggestedSaveName() const;
    /// Writes the displayed picture: JPEG quality 92 for a ".jpg" name, PNG for a ".png"
    /// name, otherwise a 24-bit Windows bitmap whatever the extension. Errors of the
    /// writer are thrown.
    void SavePicture(const std::string& fileName) const;

    /// Line colour (0x00BBGGRR) and thickness item (0 thin, 1 normal, 2 thick).
    TColor LineColour = 0x00FFFF;
    int LineThickness = 1;
    /// The folder tried when a file is not found as named.
    std::string FallbackFolder = kDefaultFallbackFolder;

    // The state a run leaves.
    const std::string& ImageFile() const { return FImageFile; }
    const TExtBitmap& ChannelBitmap() const { return FChannelBitmap; }
    const TExtBitmap& DisplayBitmap() const { return FDisplayBitmap; }
    double LinePeriodDays() const { return FLinePeriod; }
    bool Northbound() const { return FNorthbound; }
    bool Channel68() const { return FChannel68; }
    const LocationGrid& GroundTable() const { return FGroundTable; }
    float MidAltitude() const { return FMidAltitude; }
    int LineOffset() const { return FLineOffset; }
    int PixelOffset() const { return FPixelOffset; }
    void SetOffsets(int lineOffset, int pixelOffset);
    const std::string& Caption() const { return FCaption; }
    const std::string& BaseCaption() const { return FBaseCaption; }
    const std::string& KeplerPath() const { return FKeplerPath; }
    /// The multi-Kepler folder as the satellite list normalised it (trailing delimiter).
    std::string KeplerFolder() const;
    /// The catalogue-40069 set, or nullptr when the Kepler folder has none.
    const TSatellite* Satellite() const { return FSatellite; }
    TStringList& Diags() { return FDiags; }
    const TStringList& Stations() const { return FStations; }
    const TCartogList& Cartography() const { return FCartography; }
    const TWarpedMapping& Mapping() const { return *FMapping; }
    TOrbit& Orbit() { return *FOrbit; }

    /// Where a data file of the program is: the program folder, else ../share/vantorel
    /// beside it (the installed layout); the first path when neither holds it.
    static std::string DataFilePath(const std::string& name);

private:
    void SetCaption(std::string caption);
    void ShowPlainImage();
    void CheckKeplerAge(TDateTime now);
    void LoadImage(const std::string& path);

    INotifier& FNotifier;
    IRunView* FView;
    IRunView FNoView;

    std::string FImageFile;
    TExtBitmap FChannelBitmap;
    TExtBitmap FDisplayBitmap;
    double FLinePeriod;
    bool FNorthbound = false;
    bool FChannel68 = false;
    LocationGrid FGroundTable;
    float FMidAltitude = 0.0f;
    std::int32_t FLineOffset = 0;
    std::int32_t FPixelOffset = 0;
    std::string FKeplerPath;
    std::unique_ptr<TSatelliteList> FSatellites;
    TSatellite* FSatellite = nullptr;
    std::string FSatelliteName;
    std::unique_ptr<TOrbit> FOrbit;
    std::unique_ptr<TWarpedMapping> FMapping;
    TCartogList FCartography;
    TStringList FStations;
    std::string FBaseCaption;
    std::string FCaption;
    TStringList FDiags;
};

} // namespace vantorel
