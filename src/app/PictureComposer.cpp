#include "app/PictureComposer.h"

#include "imaging/Canvas.h"
#include "pass/PassPipeline.h"

#include <algorithm>

namespace vantorel {

void TPictureComposer::Load(const std::string& boundaryFiles, const std::string& stationsFile) {
    stations_.LoadFromFile(stationsFile);
    cartography_.LoadBoundaryFiles(boundaryFiles);
}

void TPictureComposer::Compose(const TPassResult& pass, TColor lineColour, int lineThickness,
                               int lineOffset, int pixelOffset, TExtBitmap& picture) {
    const TExtBitmap& channel = pass.Channel;
    // The overlay of the last composition is taken off where it lies, which only a picture
    // left as that composition made it allows (a turned one is not).
    const bool restore =
        restorable_ && !pass.Northbound && drawnMapping_ == pass.Mapping.ProjectionVersion() &&
        drawnChannel_ == channel.Bits().data() && drawnPicture_ == &picture &&
        picture.Width() == channel.Width() && picture.Height() == channel.Height() &&
        picture.PixelFormat() == TPixelFormat::pf24bit && drawnPixels_ == picture.Bits().data();
    restorable_ = false;
    TCanvas& canvas = picture.Canvas();
    if (restore) {
        canvas.DrawSpans(channel, drawn_.Spans);
    } else {
        picture.SetSizeForOverwrite(channel.Width(), channel.Height());
        canvas.Draw(0, 0, channel);
    }
    drawn_.Spans.clear();
    drawn_.Known = true;
    const TPictureArea labelArea = Graticule.LabelArea.Empty()
                                       ? TPictureArea{0, 0, picture.Width(), picture.Height()}
                                       : Graticule.LabelArea;
    std::vector<TGraticuleLabel> labels;
    if (Graticule.Shown) {
        DrawGraticule(pass, lineOffset, pixelOffset, labelArea, picture, labels);
    }
    const int scale = std::max(1, ViewScale);
    canvas.Pen.Color = lineColour;
    canvas.Pen.Width = (lineThickness + 1) * scale;
    cartography_.Mapping = &pass.Mapping;
    cartography_.Drawn = &drawn_;
    cartography_.DrawBoundaries(picture, pixelOffset, lineOffset);
    // Labels would read upside down on a turned picture.
    if (!pass.Northbound) {
        cartography_.DrawPlaceMarks(picture, pixelOffset, lineOffset, stations_.Lines(), clYellow,
                                    true, TBrushStyle::bsClear, plS, true);
    }
    cartography_.Drawn = nullptr;
    if (pass.Northbound) {
        picture.Rotate();
    }
    // After the turn, so that they read upright.
    DrawGraticuleLabels(picture, labels, Graticule.Colour, scale, pass.Northbound, labelArea,
                        &drawn_);
    restorable_ = drawn_.Known && !pass.Northbound &&
                  channel.PixelFormat() == TPixelFormat::pf8bit &&
                  picture.PixelFormat() == TPixelFormat::pf24bit;
    drawnMapping_ = pass.Mapping.ProjectionVersion();
    drawnChannel_ = channel.Bits().data();
    drawnPicture_ = &picture;
    drawnPixels_ = picture.Bits().data();
}

void TPictureComposer::DrawGraticule(const TPassResult& pass, int lineOffset, int pixelOffset,
                                     const TPictureArea& labelArea, TExtBitmap& picture,
                                     std::vector<TGraticuleLabel>& labels) {
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
    canvas.Pen.Width = std::max(1, ViewScale);
    graticule_.DrawLines(picture, pass.Mapping, pixelOffset, lineOffset, &drawn_);
    labels = graticule_.EdgeLabels(pass.Mapping, labelArea, pixelOffset, lineOffset);
}

} // namespace vantorel
