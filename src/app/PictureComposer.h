#pragma once

// The picture of a pass as it is shown and saved: the enhanced channel image with the
// boundaries drawn over it through the pass's mapping, place marks on north-to-south
// passes, and the whole turned on south-to-north ones.

#include "cartography/zorCartography.h"
#include "common/StringList.h"
#include "imaging/BMPExtImage.h"

#include <string>

namespace vantorel {

struct TPassResult;

class TPictureComposer {
public:
    /// Loads the boundary files ("|"-separated, see TCartogList::LoadBoundaryFiles) and the
    /// place-mark lines; a file that is missing leaves its part empty.
    void Load(const std::string& boundaryFiles, const std::string& stationsFile);

    /// Recomposes `picture` from the pass's channel image with the overlay drawn in the
    /// line colour (0x00BBGGRR) and thickness item (0 thin, 1 normal, 2 thick: pen widths
    /// 1 to 3), placed at (x + pixelOffset, y - lineOffset).
    void Compose(const TPassResult& pass, TColor lineColour, int lineThickness, int lineOffset,
                 int pixelOffset, TExtBitmap& picture);

    const TCartogList& Cartography() const { return cartography_; }
    const TStringList& Stations() const { return stations_; }

private:
    TCartogList cartography_;
    TStringList stations_;
};

} // namespace vantorel
