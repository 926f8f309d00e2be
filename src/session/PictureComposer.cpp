#include "session/PictureComposer.h"

#include "common/Parallel.h"
#include "imaging/Canvas.h"
#include "imaging/Shrink.h"
#include "pass/PassPipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace vantorel {

TScreenSize ZoomedSize(int width, int height, double zoom) {
    const auto zoomed = [zoom](int pixels) {
        return static_cast<int>(std::clamp<double>(std::lround(pixels * zoom), 1.0, 1 << 30));
    };
    return {zoomed(width), zoomed(height)};
}

TPictureComposer::TPictureComposer(const TCartogList& boundaries, const TStringList& stations)
    : cartography_(boundaries, TCartogList::TShareSegments{}), stations_(stations) {}

namespace {

// Pixel (x, y) of `from` into (width - 1 - x, height - 1 - y) of `to`, for the rows and
// columns the spans give (clipped to the bitmap); both of one size and 24-bit.
void TurnSpans(const TBitmap& from, TBitmap& to, std::span<const TRowSpan> spans) {
    const int width = from.Width();
    const int height = from.Height();
    for (const TRowSpan& span : spans) {
        const int first = std::max(span.First, 0);
        const int last = std::min(span.Last, width - 1);
        if (span.Y < 0 || span.Y >= height || first > last) {
            continue;
        }
        const std::uint8_t* src = from.ScanLine(span.Y);
        std::uint8_t* dst = to.ScanLine(height - 1 - span.Y);
        for (int x = first; x <= last; ++x) {
            std::memcpy(dst + 3 * static_cast<std::ptrdiff_t>(width - 1 - x),
                        src + 3 * static_cast<std::ptrdiff_t>(x), 3);
        }
    }
}

// `to` made the 24-bit `from` turned half a turn: every row's span, on every core.
void TurnWhole(const TBitmap& from, TBitmap& to) {
    const int height = from.Height();
    to.SetSizeForOverwrite(from.Width(), height);
    ForEachPart(height, ThreadsFor(height, 256), [&](long long first, long long end) {
        std::vector<TRowSpan> rows;
        for (auto y = static_cast<int>(first); y < end; ++y) {
            rows.push_back({y, 0, from.Width() - 1});
        }
        TurnSpans(from, to, rows);
    });
}

} // namespace

void TPictureComposer::Compose(const TPassResult& pass, TColor lineColour, int lineThickness,
                               int lineOffset, int pixelOffset, TExtBitmap& picture) {
    const TExtBitmap& channel = pass.Channel;
    if (Shrinks(channel)) {
        ComposeShrunk(pass, lineColour, lineThickness, lineOffset, pixelOffset, picture);
        return;
    }
    const bool turnByParts = TurnsByParts(pass, picture);
    TExtBitmap& drawnOn = DrawnOn(turnByParts, picture);
    // The overlay of the last composition is taken off where it lies, which only a picture
    // left as that composition made it allows (one turned whole is not).
    const bool restore =
        restorable_ && (!pass.Northbound || turnByParts) && drawnTurnByParts_ == turnByParts &&
        drawnMapping_ == pass.Mapping.ProjectionVersion() &&
        drawnChannel_ == channel.Bits().data() && drawnPicture_ == &picture &&
        drawnPixels_ == picture.Bits().data() && picture.Width() == channel.Width() &&
        picture.Height() == channel.Height() && picture.PixelFormat() == TPixelFormat::pf24bit &&
        drawnOn.Width() == channel.Width() && drawnOn.Height() == channel.Height();
    restorable_ = false;
    TCanvas& canvas = drawnOn.Canvas();
    std::vector<TRowSpan> taken; // what was put back, to be turned over too
    if (restore) {
        canvas.DrawSpans(channel, drawn_.Spans);
        if (turnByParts) {
            taken = std::move(drawn_.Spans);
        }
    } else {
        drawnOn.SetSizeForOverwrite(channel.Width(), channel.Height());
        canvas.Draw(0, 0, channel);
    }
    drawn_.Spans.clear();
    drawn_.Known = true;
    const TPictureArea labelArea = LabelArea(channel);
    const std::vector<TGraticuleLabel> labels =
        DrawOverlay(pass, lineColour, lineThickness, lineOffset, pixelOffset, labelArea, drawnOn);
    // Turned by its spans only where the shown picture holds the last composition turned
    // and this one told all it drew (an overlay drawn line by line tells nothing).
    if (turnByParts && restore && drawn_.Known && !baseUnturned_) {
        TurnSpans(working_, picture, taken);
        TurnSpans(working_, picture, drawn_.Spans);
        picture.SetModified(true);
    } else if (turnByParts) {
        TurnWhole(working_, picture);
        picture.SetModified(true);
    } else if (pass.Northbound) {
        picture.Rotate();
    }
    // After the turn, so that they read upright.
    DrawGraticuleLabels(picture, labels, Graticule.Colour, pass.Northbound, labelArea, &drawn_);
    baseUnturned_ = false;
    Remember(pass, picture, drawnOn, turnByParts);
}

bool TPictureComposer::Shrinks(const TBitmap& channel) const {
    return Screen.Width > 0 && Screen.Height > 0 &&
           (Screen.Width < channel.Width() || Screen.Height < channel.Height());
}

bool TPictureComposer::TurnsByParts(const TPassResult& pass, const TExtBitmap& picture) const {
    // A north-bound pass is drawn upright in a picture of its own and shown turned, so
    // that a redraw puts back and draws only what changed there, then turns just those
    // pixels into the shown picture. The grid's labels are drawn on the turned picture:
    // with the grid shown it is composed whole and turned.
    return pass.Northbound && !Graticule.Shown && picture.PixelFormat() == TPixelFormat::pf24bit;
}

TExtBitmap& TPictureComposer::DrawnOn(bool turnByParts, TExtBitmap& picture) {
    if (turnByParts) {
        working_.SetPixelFormat(TPixelFormat::pf24bit);
        return working_;
    }
    if (working_.Height() != 0) {
        working_ = TExtBitmap(); // its 23 MB are not needed now
    }
    return picture;
}

void TPictureComposer::Remember(const TPassResult& pass, const TExtBitmap& picture,
                                const TExtBitmap& drawnOn, bool turnByParts) {
    const TExtBitmap& channel = pass.Channel;
    restorable_ = drawn_.Known && (!pass.Northbound || turnByParts) &&
                  channel.PixelFormat() == TPixelFormat::pf8bit &&
                  drawnOn.PixelFormat() == TPixelFormat::pf24bit;
    drawnTurnByParts_ = turnByParts;
    drawnMapping_ = pass.Mapping.ProjectionVersion();
    drawnChannel_ = channel.Bits().data();
    drawnPicture_ = &picture;
    drawnPixels_ = picture.Bits().data();
}

void TPictureComposer::PrepareBase(const TPassResult& pass, TExtBitmap& picture) {
    const TExtBitmap& channel = pass.Channel;
    const bool turnByParts = TurnsByParts(pass, picture);
    if (Shrinks(channel) || (pass.Northbound && !turnByParts) ||
        channel.PixelFormat() != TPixelFormat::pf8bit ||
        picture.PixelFormat() != TPixelFormat::pf24bit) {
        return;
    }
    TExtBitmap& drawnOn = DrawnOn(turnByParts, picture);
    drawnOn.SetSizeForOverwrite(channel.Width(), channel.Height());
    drawnOn.Canvas().Draw(0, 0, channel);
    // The turn is left to the composition, which turns the whole picture after its first
    // drawing of a pass anyway (that one is drawn line by line).
    picture.SetSizeForOverwrite(channel.Width(), channel.Height());
    baseUnturned_ = turnByParts;
    // As a composition that drew no overlay leaves it.
    drawn_.Spans.clear();
    drawn_.Known = true;
    Remember(pass, picture, drawnOn, turnByParts);
}

void TPictureComposer::ComposeShrunk(const TPassResult& pass, TColor lineColour, int lineThickness,
                                     int lineOffset, int pixelOffset, TExtBitmap& picture) {
    const TExtBitmap& channel = pass.Channel;
    const int width = std::min(Screen.Width, channel.Width());
    const int height = std::min(Screen.Height, channel.Height());
    if (shrunk_.Width() != width || shrunk_.Height() != height ||
        shrunkMapping_ != pass.Mapping.ProjectionVersion() ||
        shrunkChannel_ != channel.Bits().data()) {
        shrunk_.SetPixelFormat(TPixelFormat::pf24bit);
        shrunk_.SetSizeForOverwrite(width, height);
        if (!ShrinkByAreas(channel, shrunk_)) {
            shrunk_.Canvas().Draw(0, 0, channel); // a shrink it cannot make: its top left
        }
        shrunkMapping_ = pass.Mapping.ProjectionVersion();
        shrunkChannel_ = channel.Bits().data();
    }
    // Small enough to be composed whole every time.
    restorable_ = false;
    if (working_.Height() != 0) {
        working_ = TExtBitmap();
    }
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSizeForOverwrite(width, height);
    TCanvas& canvas = picture.Canvas();
    canvas.Draw(0, 0, shrunk_);
    const TPictureArea labelArea = LabelArea(channel);
    std::vector<TGraticuleLabel> labels =
        DrawOverlay(pass, lineColour, lineThickness, lineOffset, pixelOffset, labelArea, picture,
                    {channel.Width(), channel.Height(), width, height});
    if (pass.Northbound) {
        picture.Rotate();
    }
    // The labels where their crossings lie on the screen, the area's edges too.
    for (TGraticuleLabel& label : labels) {
        const bool sideways = label.Edge == TGraticuleLabel::TEdge::Left ||
                              label.Edge == TGraticuleLabel::TEdge::Right;
        label.Position = sideways ? TDrawScale::Along(label.Position, height, channel.Height())
                                  : TDrawScale::Along(label.Position, width, channel.Width());
    }
    const auto edge = [](long long at, long long n, long long full) {
        return static_cast<int>((at * n + full / 2) / full);
    };
    const TPictureArea screenArea{edge(labelArea.Left, width, channel.Width()),
                                  edge(labelArea.Top, height, channel.Height()),
                                  edge(labelArea.Right, width, channel.Width()),
                                  edge(labelArea.Bottom, height, channel.Height())};
    DrawGraticuleLabels(picture, labels, Graticule.Colour, pass.Northbound, screenArea);
    picture.SetModified(true);
}

TPictureArea TPictureComposer::LabelArea(const TBitmap& channel) const {
    return Graticule.LabelArea.Empty() ? TPictureArea{0, 0, channel.Width(), channel.Height()}
                                       : Graticule.LabelArea;
}

std::vector<TGraticuleLabel>
TPictureComposer::DrawOverlay(const TPassResult& pass, TColor lineColour, int lineThickness,
                              int lineOffset, int pixelOffset, const TPictureArea& labelArea,
                              TExtBitmap& drawnOn, const TDrawScale& scale) {
    std::vector<TGraticuleLabel> labels;
    if (Graticule.Shown) {
        DrawGraticule(pass, lineOffset, pixelOffset, labelArea, drawnOn, labels, scale);
    }
    TCanvas& canvas = drawnOn.Canvas();
    canvas.Pen.Color = lineColour;
    canvas.Pen.Width = lineThickness + 1;
    cartography_.Mapping = &pass.Mapping;
    // Drawn smaller, the picture is composed whole every time: nothing to put back.
    cartography_.Drawn = scale.Scaled() ? nullptr : &drawn_;
    cartography_.Scale = scale;
    cartography_.DrawBoundaries(drawnOn, pixelOffset, lineOffset);
    // Labels would read upside down on a turned picture.
    if (!pass.Northbound) {
        cartography_.DrawPlaceMarks(drawnOn, pixelOffset, lineOffset, stations_.Lines(), clYellow,
                                    true, TBrushStyle::bsClear, plS, true);
    }
    cartography_.Drawn = nullptr;
    cartography_.Scale = {};
    return labels;
}

void TPictureComposer::DrawGraticule(const TPassResult& pass, int lineOffset, int pixelOffset,
                                     const TPictureArea& labelArea, TExtBitmap& picture,
                                     std::vector<TGraticuleLabel>& labels,
                                     const TDrawScale& scale) {
    // Over the whole pass, whatever part of it is in view, so that scrolling finds lines
    // everywhere; built again for another pass or step.
    if (graticuleMapping_ != pass.Mapping.ProjectionVersion() ||
        graticule_.Step() != Graticule.Step) {
        graticule_.Build(Graticule.Step, GroundBox(pass.GroundTable, kMeteorScanLayout, 0,
                                                   static_cast<int>(pass.GroundTable.size()), 0,
                                                   kMeteorScanLayout.Width));
        graticuleMapping_ = pass.Mapping.ProjectionVersion();
    }
    TCanvas& canvas = picture.Canvas();
    canvas.Pen.Color = Graticule.Colour;
    canvas.Pen.Width = 1;
    graticule_.DrawLines(picture, pass.Mapping, pixelOffset, lineOffset,
                         scale.Scaled() ? nullptr : &drawn_, scale);
    labels = graticule_.EdgeLabels(pass.Mapping, labelArea, pixelOffset, lineOffset);
}

} // namespace vantorel
