#pragma once

// One pass at a time, from its input to what is written: the element-set sources and an
// orbit of its own, the pipeline's run, the alignment to the coasts, the picture with its
// overlay at the offsets, and the saved and map-projected pictures. The data every pass
// reads comes from a TSessionData that sessions on other threads share. No screen: the
// window's run and the headless runs both drive one.

#include "alignment/CoastAlignment.h"
#include "common/StringList.h"
#include "imaging/BMPExtImage.h"
#include "orbit/MeteorSeries.h"
#include "pass/PassPipeline.h"
#include "session/PictureComposer.h"
#include "session/RunSetup.h"
#include "session/SessionData.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantorel {

class TPassSession {
public:
    TPassSession();
    ~TPassSession();
    TPassSession(const TPassSession&) = delete;
    TPassSession& operator=(const TPassSession&) = delete;

    /// What the runs are done with. Keplers, Satellite and Calibration take effect at Start
    /// (and ChooseSatellite); the rest at the next run or drawing.
    TRunSetup Setup;

    /// The data the passes read, the element-set sources of Setup.Keplers for the
    /// satellite, the calibrations (when Setup.Calibration) and the start-up account in
    /// the diagnostics. Nothing else works before.
    /// @param caption the program's caption, which opens the account ("Vantorel - V0.1").
    void Start(std::shared_ptr<const TSessionData> data, const std::string& caption,
               const TPassSatellite& satellite);
    /// Another satellite for the runs that follow (its set and orbit are loaded now).
    void ChooseSatellite(const TPassSatellite& satellite);
    /// Scanner calibrations in place of those of the data (tools).
    void SetCalibrations(TScannerCalibrations calibrations) {
        sources_.SetCalibrations(std::move(calibrations), Setup.Calibration);
    }
    const TPassSatellite& ChosenSatellite() const { return sources_.Satellite(); }

    /// How a run's report reaches the user.
    using TDelivery = std::function<void(const TReportEntry&)>;
    /// How one run ended.
    struct TRunEnd {
        bool Finished = false;             ///< the picture was drawn
        std::optional<TPassIssue> EndedBy; ///< the error that ended it early
        /// Ended early, yet the image was read: it is the picture, unprocessed.
        std::string UnprocessedFile;
    };
    /// One run of the pipeline on an input (see InputKindOf). The report goes to `deliver`
    /// as it grows. A finished pass becomes this session's, is aligned (Setup.Align) and
    /// drawn; after a run that ends early nothing of an earlier pass stays. `drawn` is
    /// told once the picture is there, before the warning that the coasts contradict the
    /// overlay, so that a screen shows the picture that warning is about.
    TRunEnd ProcessFile(const std::string& fileName, const TDelivery& deliver,
                        const std::function<void(const TRunEnd&)>& drawn = {});

    /// Looks for the offsets that put the shores on the picture's own edges and, when it is
    /// confident, takes them (and redraws when `redraw`). One account line says what was
    /// found: into `report` with the figures (a run's alignment), else the diagnostics.
    /// False without a pass or when the answer is not trusted.
    bool AlignToCoasts(bool redraw = true, const TAlignmentOptions& options = {},
                       TPassReport* report = nullptr);
    /// What the last alignment found.
    const TAlignment& LastAlignment() const { return lastAlignment_; }

    /// Draws the picture again from the pass with the setup's pen and the offsets.
    void Redraw();
    /// The part of the picture in view as it is shown (turned or not; empty: the whole
    /// picture) and the zoom it is shown at (screen pixels per picture pixel): below 1 the
    /// picture is drawn at the size it takes on the screen (see ZoomedSize). Returns
    /// whether the picture must be drawn again for it.
    bool SetView(const TPictureArea& shownPart, double zoom);
    /// The size of the picture as it is saved (Picture may be drawn smaller for the
    /// screen): the pass's channel image, or without a pass the unprocessed picture.
    TScreenSize FullSize() const;
    /// The grid's step in degrees as it is (or would be) drawn now.
    int GraticuleStepInUse() const;
    /// The part of the picture in view, in its rows and columns before any turn.
    TPictureArea PartInView() const;
    /// The picture as it is saved: the drawn one, drawn again at full size when it is
    /// drawn smaller for a zoomed-out view or its grid is labelled at the edges of a part
    /// in view.
    const TExtBitmap& PictureAtFullSize();

    /// Longitude and latitude (degrees) the readout shows for a pixel of the unturned
    /// image, interpolated in the ground table; false (both 0) outside the lines or the
    /// sampled columns, or without a pass.
    bool LookUpLonLat(int x, int y, float& lon, float& lat) const;
    /// A pixel of the drawn picture in the unturned image's coordinates, and the
    /// longitude and latitude (degrees) the drawn overlay, offsets included, gives it:
    /// none in the margin the offsets leave beyond the ground table. nullopt outside the
    /// picture or without a pass.
    struct TPixelGround {
        int X = 0;
        int Y = 0;
        std::optional<std::pair<float, float>> LonLat;
    };
    std::optional<TPixelGround> GroundAt(int pictureX, int pictureY) const;
    /// The readout for a pixel of the drawn picture ("X: ..  Lon: .."), in the unturned
    /// image's coordinates; nullopt outside the picture or without a pass.
    std::optional<std::string> Readout(int pictureX, int pictureY) const;
    /// Where the overlay draws a position on the drawn picture (offsets and the turn of
    /// south-to-north passes included); false when the mapping cannot place it.
    bool PicturePosition(float lon, float lat, int& pictureX, int& pictureY) const;

    /// Writes the picture (a ".tif" name makes a GeoTIFF with ground control points; with
    /// `overlay` false, of the channel image alone), whole (see WriteWhole: with `replace`
    /// false, TFileExists for a file that is there). Returns the account line.
    std::string SavePicture(const std::string& fileName, bool overlay = true, bool replace = true);
    /// Writes the pass resampled to a map grid with the overlay drawn in map space, as a
    /// GeoTIFF with a world file. Returns the account line.
    std::string SaveProjectedPicture(const std::string& fileName, const std::string& crs = {},
                                     double step = 0.0) const;

    /// The pass, or nullptr before the first finished run and after one that ended early.
    const TPassResult* Pass() const { return pass_.get(); }
    /// The satellite of the run that made the pass (a product may name its own).
    const TPassSatellite& PassSatellite() const { return passSatellite_; }
    const std::string& ImageFile() const { return imageFile_; }
    /// The drawn picture (the unprocessed image after a run that ended early), at the size
    /// it takes on the screen when the view is zoomed out.
    const TExtBitmap& Picture() const { return picture_; }
    int LineOffset() const { return lineOffset_; }
    int PixelOffset() const { return pixelOffset_; }
    void SetOffsets(int lineOffset, int pixelOffset) {
        lineOffset_ = lineOffset;
        pixelOffset_ = pixelOffset;
    }

    /// What the Kepler data holds for one satellite of the series.
    struct TSatelliteState {
        TMeteorSatellite Satellite;
        /// The epoch of its newest element set (UTC), none when the folder has no set.
        std::optional<TDateTime> NewestEpoch;
        double AgeDays = 0.0; ///< of that set, at `now`
        bool Stale = false;   ///< more than kStaleElementSetDays old
        /// The scanner calibration its passes get ("measured on a real pass", "not
        /// measured", "none", or not used at all).
        std::string Calibration;
    };
    /// Each satellite of the series, in the series' order.
    std::vector<TSatelliteState> SatelliteStates(TDateTime now) const;
    /// Older than this (days), an element set places the overlay kilometres off.
    static constexpr double kStaleElementSetDays = 7.0;

    TPassSources& Sources() { return sources_; }
    const TPassSources& Sources() const { return sources_; }
    const TSessionData& Data() const { return *data_; }
    const TCartogList& Cartography() const { return Composer().Cartography(); }
    TStringList& Diags() { return diags_; }

private:
    void Take(TPassOutcome outcome, TPassReport& report);
    /// forScreen: at the view's size, the grid's labels at the edges of the part in view;
    /// else at full size, labelled at the picture's edges.
    void Compose(TExtBitmap& picture, bool forScreen);
    /// Lays the channel image into the shown picture for the composition that follows.
    void PrepareCompose();
    /// The size the picture is drawn at for the screen; empty: full size.
    TScreenSize ScreenSize() const;

    std::shared_ptr<const TSessionData> data_;
    TPassSources sources_;
    /// Made on first use: it shares the boundaries, which may still be being read.
    TPictureComposer& Composer() const;
    mutable std::unique_ptr<TPictureComposer> composer_;
    TAlignment lastAlignment_;
    std::unique_ptr<const TPassResult> pass_;
    TPassSatellite passSatellite_;
    std::string imageFile_;
    TExtBitmap picture_;
    TExtBitmap fullSizePicture_; ///< PictureAtFullSize's, when the view is zoomed out
    std::int32_t lineOffset_ = 0;
    std::int32_t pixelOffset_ = 0;
    TPictureArea viewPart_; ///< as shown, turned or not; empty: the whole picture
    double viewZoom_ = 1.0;
    TStringList diags_;
};

} // namespace vantorel
