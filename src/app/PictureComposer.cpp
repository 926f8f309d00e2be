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
    picture.SetSize(pass.Channel.Width(), pass.Channel.Height());
    TCanvas& canvas = picture.Canvas();
    canvas.Draw(0, 0, pass.Channel);
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
    cartography_.DrawBoundaries(picture, pixelOffset, lineOffset);
    // Labels would read upside down on a turned picture.
    if (!pass.Northbound) {
        cartography_.DrawPlaceMarks(picture, pixelOffset, lineOffset, stations_.Lines(), clYellow,
                                    true, TBrushStyle::bsClear, plS, true);
    }
    if (pass.Northbound) {
        picture.Rotate();
    }
    // After the turn, so that they read upright.
    DrawGraticuleLabels(picture, labels, Graticule.Colour, scale, pass.Northbound, labelArea);
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
    graticule_.DrawLines(picture, pass.Mapping, pixelOffset, lineOffset);
    labels = graticule_.EdgeLabels(pass.Mapping, labelArea, pixelOffset, lineOffset);
}

} // namespace vantorel
