#pragma once

// The picture of a pass as it is shown and saved: the enhanced channel image with the
// boundaries drawn over it through the pass's mapping, place marks on north-to-south
// passes, and the whole turned on south-to-north ones; optionally a latitude/longitude grid
// under the boundaries.

#include "cartography/Graticule.h"
#include "cartography/zorCartography.h"
#include "common/StringList.h"
#include "imaging/BMPExtImage.h"

#include <cstdint>
#include <string>

namespace vantorel {

struct TPassResult;

/// The latitude/longitude grid as it is drawn.
struct TGraticuleStyle {
    bool Shown = false;
    int Step = 10;              ///< degrees between lines
    TColor Colour = 0x00FFE090; ///< 0x00BBGGRR
    /// Labels at the edges of this part of the picture (rows and columns before any turn);
    /// empty: of the whole picture.
    TPictureArea LabelArea;
};

/// A picture's size on the screen.
struct TScreenSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TScreenSize&) const = default;
};

/// The size a picture of width x height takes on the screen at `zoom` (screen pixels
/// per picture pixel): at least a pixel each way.
TScreenSize ZoomedSize(int width, int height, double zoom);

class TPictureComposer {
public:
    /// The grid drawn with the overlay: lines one pixel wide through the pass's mapping at
    /// the overlay's offsets, labelled at the picture's edges.
    TGraticuleStyle Graticule;
    /// Zoomed out, the size the whole picture takes on the screen, smaller than the
    /// channel image: the picture is then composed at that size, the channel image shrunk
    /// by areas and the overlay drawn on it at the screen's resolution, each line where it
    /// runs on the full-size picture (pens, place marks and labels at their own sizes).
    /// Empty (or not smaller): at full size.
    TScreenSize Screen;

    /// Draws these boundaries and place-mark lines (which must outlive it) from now on,
    /// on a store of its own that shares the boundaries' segments.
    TPictureComposer(const TCartogList& boundaries, const TStringList& stations);

    /// Recomposes `picture` from the pass's channel image with the overlay drawn in the
    /// line colour (0x00BBGGRR) and thickness item (0 thin, 1 normal, 2 thick: pen widths
    /// 1 to 3), placed at (x + pixelOffset, y - lineOffset).
    void Compose(const TPassResult& pass, TColor lineColour, int lineThickness, int lineOffset,
                 int pixelOffset, TExtBitmap& picture);

    /// Lays the pass's channel image into `picture` (turned, for a north-bound pass) as the
    /// next Compose of the pass would start it, which then draws only the overlay: so it
    /// can be done while the pass is aligned. Nothing where that Compose starts afresh
    /// anyway (zoomed out, a grid over a north-bound pass, a colour picture).
    void PrepareBase(const TPassResult& pass, TExtBitmap& picture);

    const TCartogList& Cartography() const { return cartography_; }
    const TStringList& Stations() const { return stations_; }

private:
    void DrawGraticule(const TPassResult& pass, int lineOffset, int pixelOffset,
                       const TPictureArea& labelArea, TExtBitmap& picture,
                       std::vector<TGraticuleLabel>& labels, const TDrawScale& scale = {});
    /// Grid lines, boundaries and (north to south) place marks over `drawnOn`, at full size
    /// or through `scale`; returns the grid's labels for `labelArea`, written after any turn.
    std::vector<TGraticuleLabel> DrawOverlay(const TPassResult& pass, TColor lineColour,
                                             int lineThickness, int lineOffset, int pixelOffset,
                                             const TPictureArea& labelArea, TExtBitmap& drawnOn,
                                             const TDrawScale& scale = {});
    /// Whether the full-size picture is composed upright apart and turned by parts.
    bool TurnsByParts(const TPassResult& pass, const TExtBitmap& picture) const;
    /// What the overlay is drawn on: the upright picture of a pass turned by parts, else
    /// `picture` itself (the upright one let go).
    TExtBitmap& DrawnOn(bool turnByParts, TExtBitmap& picture);
    /// Whether the picture is composed at the screen's size.
    bool Shrinks(const TBitmap& channel) const;
    /// Notes what was drawn on: the next composition of the same pass may put back only
    /// what it drew.
    void Remember(const TPassResult& pass, const TExtBitmap& picture, const TExtBitmap& drawnOn,
                  bool turnByParts);
    /// The grid's label area, the whole channel image when none is set.
    TPictureArea LabelArea(const TBitmap& channel) const;
    /// Compose at the screen's size.
    void ComposeShrunk(const TPassResult& pass, TColor lineColour, int lineThickness,
                       int lineOffset, int pixelOffset, TExtBitmap& picture);

    TCartogList cartography_;
    const TStringList& stations_;
    // What the last composition drew over the channel image, so that the next one of the
    // same pass puts back only those pixels instead of copying the whole picture again.
    TCartogList::TDrawnPixels drawn_;
    bool restorable_ = false;
    // A north-bound pass drawn upright here, then turned into the shown picture.
    TExtBitmap working_;
    bool drawnTurnByParts_ = false;
    bool baseUnturned_ = false; // working_ holds the base, the shown picture not yet
    std::uint64_t drawnMapping_ = 0;             // the pass's mapping version
    const std::uint8_t* drawnChannel_ = nullptr; // and its pixels
    const TExtBitmap* drawnPicture_ = nullptr;   // the picture drawn on
    const std::uint8_t* drawnPixels_ = nullptr;  // and its pixels
    // The channel image shrunk to the screen's size, for the mapping state it was made
    // with (a pass's channel does not change while its mapping stays).
    TExtBitmap shrunk_;
    std::uint64_t shrunkMapping_ = 0;
    const std::uint8_t* shrunkChannel_ = nullptr;
    TGraticule graticule_;
    std::uint64_t graticuleMapping_ = 0; ///< the mapping state graticule_ was built for
};

} // namespace vantorel
