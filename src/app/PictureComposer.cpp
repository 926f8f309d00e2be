#include "app/PictureComposer.h"

#include "imaging/Canvas.h"
#include "pass/PassPipeline.h"

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
    canvas.Pen.Color = lineColour;
    canvas.Pen.Width = lineThickness + 1;
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
}

} // namespace vantorel
