#pragma once

// The program's bitmap: the platform bitmap with a tolerant BMP reader and the image
// operations of the processing run (grey palette, contrast, inversion, 180-degree turn).

#include "imaging/Bitmap.h"
#include "imaging/zorHistogram.h"

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace vantorel {

class TExtBitmap : public TBitmap {
public:
    TExtBitmap();

    /// Tolerant BMP reading. When the stream is at position 0 and longer than 54 bytes,
    /// two known faults of channel-image writers are repaired first: a file declaring
    /// 200 or 224 colours (used and important) while carrying a full 256-entry palette
    /// loses the surplus entries, and an 8-bit 2080-pixel-wide file gets its image-size
    /// field set to width x height. Should reading fail, the whole stream minus its last
    /// 2 bytes is read once more; the error of that attempt (EInvalidGraphic) reaches the
    /// caller and the bitmap is unchanged.
    void LoadFromStream(std::istream& stream) override;
    /// The same, for a whole file held in memory.
    void LoadFromBytes(std::span<const std::uint8_t> file) override;
    /// A 24-bit bitmap drops its palette first; then the platform's BMP writing.
    void SaveToFile(const std::string& fileName) override;

    /// Gives an 8-bit bitmap that has a palette the 256-level grey ramp (marked modified
    /// only when the palette changes). Other bitmaps are left alone.
    void EnsureGrayPalette();

    /// Makes any bitmap 8 bits per pixel under the 256-level grey ramp, each pixel
    /// becoming the grey level of its own colour (0.299 R + 0.587 G + 0.114 B, so a grey
    /// palette entry keeps its level). Palette images of any depth and palette size, and
    /// 16-, 24- and 32-bit images, all come out with values that the contrast operations
    /// can spread over 0..255. An index beyond the palette is black; an 8-bit bitmap
    /// without a palette is taken as already grey. Marked modified when anything changes.
    void ToGreyLevels();
    /// Whether the pixels carry colour: a 16-, 24- or 32-bit bitmap with a pixel whose red,
    /// green and blue differ. An 8-bit bitmap is a channel image whatever its palette.
    bool IsColour() const;

    /// The 256-entry lookup table of EqualizeContrast. Bins 0..lower (when lower > 0)
    /// and upper..255 (when upper < 255) are left out; with `clip`, each bin is capped at
    /// total x limit / 256. Returns false, leaving `table` alone, when upper - 10 < lower,
    /// the bitmap is not 8-bit or has no pixels, or the sampled rows count nothing.
    bool BuildEqualizationTable(int lower, int upper, bool clip, double limit,
                                std::array<std::uint8_t, 256>& table);
    /// Histogram equalisation of an 8-bit bitmap from about ten sampled rows, with a
    /// 3-tap smoothed table. Returns true when the pixels were changed.
    bool EqualizeContrast(int lower, int upper, bool clip, double limit);
    /// Maps the 0.5 and 99.5 percentiles of an 8-bit bitmap (at least 2 rows) to 0 and
    /// up to 255 with a gain of at most maximumGain; nothing happens when they are 8 or
    /// fewer levels apart.
    void StretchContrast(double maximumGain);
    /// StretchContrast on each colour of a 24-bit bitmap apart, each from its own
    /// percentiles; a colour whose percentiles are 8 or fewer levels apart is left as it
    /// is. Other formats are left alone.
    void StretchEachColour(double maximumGain);
    /// Every pixel byte b of an 8-bit or 24-bit bitmap becomes 255 - b.
    void Invert();
    /// Turns an 8-bit or 24-bit bitmap by 180 degrees (mirror about both axes); bitmaps
    /// of fewer than 3 rows are left alone. Throws EInvalidGraphicOperation for other
    /// formats, leaving the bitmap unchanged.
    void Rotate();

    /// The histogram the last contrast operation filled (256 bins).
    const TzorHistogram& Histogram() const { return histogram_; }

private:
    /// Counts the sampled rows' bytes at `first`, `first` + step, ... (step bytes a pixel).
    void SampleRows(int first = 0, int step = 1);
    /// The stretch table from the histogram the sampled rows fill; false when the
    /// percentiles are 8 or fewer levels apart.
    bool BuildStretchTable(int first, int step, double maximumGain,
                           std::array<std::uint8_t, 256>& table);

    TzorHistogram histogram_{256};
};

} // namespace vantorel
