#pragma once

// The drawing surface of a TBitmap, the stand-in for the platform's GDI canvas. Lines
// and ellipses are rasterised here (no antialiasing); text goes through QPainter.

#include "imaging/Bitmap.h"

#include <cstddef>
#include <span>
#include <string>
#include <utility>

namespace vantorel {

/// A pixel position; x to the right, y downwards, (0, 0) the top-left pixel.
struct TPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

/// A picture of FullWidth x FullHeight pixels drawn on a smaller bitmap of Width x Height:
/// picture pixel (x, y) lands on the bitmap's pixel under its centre. Unset (any size 0),
/// pixels stay where they are.
struct TDrawScale {
    int FullWidth = 0;
    int FullHeight = 0;
    int Width = 0;
    int Height = 0;
    bool Scaled() const { return FullWidth > 0 && FullHeight > 0 && Width > 0 && Height > 0; }
    TPoint Apply(TPoint p) const {
        return Scaled() ? TPoint{Along(p.X, Width, FullWidth), Along(p.Y, Height, FullHeight)} : p;
    }
    /// floor((v + 0.5) * n / full), exactly.
    static int Along(long long v, long long n, long long full) {
        const long long num = (2 * v + 1) * n;
        const long long den = 2 * full;
        return static_cast<int>(num >= 0 ? num / den : -((-num + den - 1) / den));
    }
};

enum class TBrushStyle { bsSolid, bsClear };

struct TPen {
    TColor Color = clBlack;
    /// Line thickness in pixels; values below 1 draw 1 pixel wide, above 65536 that wide.
    int Width = 1;
};

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = TBrushStyle::bsSolid;
};

struct TFont {
    /// Family name; when the system lacks it, "DejaVu Sans" stands in.
    std::string Name = "Tahoma";
    /// Size in points at 96 pixels per inch (8 pt = 11 pixels em height).
    int Size = 8;
    bool Bold = false;
    TColor Color = clBlack;
};

/// Makes sure a QGuiApplication exists for text drawing: when the process has no Qt
/// application object yet, one is created (with the "offscreen" platform unless
/// QT_QPA_PLATFORM names another) and kept until exit. Throws EInvalidGraphicOperation
/// when a non-GUI QCoreApplication is already running.
void EnsureGuiApplication();
/// Ends the application EnsureGuiApplication made (nothing when it made none): a program
/// calls it before it returns from main, after its threads ended, so that Qt's per-thread
/// data goes before Qt's statics.
void EndGuiApplication();
/// Loads the text module (Qt Gui), and reads the platform's font list when a
/// QGuiApplication runs, which the first text otherwise waits for: on any thread.
/// EnsureGuiApplication reads the font list on a thread of its own when it makes the
/// application.
void PrepareFonts();

/// Canvas of one bitmap; made by TBitmap::Canvas() and valid as long as that bitmap.
/// Drawing outside the bitmap is clipped; every drawing call marks the bitmap modified.
/// Pixels First..Last (inclusive) of row Y.
struct TRowSpan {
    int Y = 0;
    int First = 0;
    int Last = -1;
};

class TCanvas {
public:
    explicit TCanvas(TBitmap& bitmap);

    TPen Pen;
    TBrush Brush;
    TFont Font;

    /// The current position that MoveTo sets and LineTo advances.
    TPoint PenPos() const { return penPos_; }

    void MoveTo(int x, int y);
    /// Draws from the current position to (x, y) with the pen, leaving the end pixel
    /// undrawn, then moves there. A pen of width w covers w pixels across the line's
    /// minor axis: w rows under a mostly horizontal line, w columns beside a mostly
    /// vertical one (offsets -(w-1)/2 .. w/2 from the 1-pixel line), and starts with a
    /// w x w square on its first pixel so that joined lines leave no notch.
    void LineTo(int x, int y);
    /// Joins consecutive points with LineTo's lines (the very last pixel is not drawn);
    /// the current position is left alone. Fewer than 2 points draw nothing.
    void Polyline(std::span<const TPoint> points);
    /// Polyline of each line (first index, point count) of `points`, on every core: the
    /// same pixels, as long as the lines' order does not matter (one pen for all).
    void Polylines(std::span<const TPoint> points,
                   std::span<const std::pair<std::size_t, std::size_t>> lines);
    /// The ellipse inscribed in the box whose corners are (x1, y1) and (x2, y2), right
    /// and bottom edge exclusive: filled with the brush unless it is clear, outlined with
    /// the pen inside the box (pen width pixels thick at the ends of the axes).
    void Ellipse(int x1, int y1, int x2, int y2);
    /// Fills the box (x1, y1)-(x2, y2), right and bottom exclusive, with the brush colour
    /// (whatever the brush style).
    void FillRect(int x1, int y1, int x2, int y2);

    /// Writes text with its top-left corner at (x, y) in the font's colour; a solid brush
    /// first fills the text's extent. Needs a QGuiApplication (EnsureGuiApplication).
    void TextOut(int x, int y, const std::string& text);
    /// Advance width of the text in pixels.
    int TextWidth(const std::string& text);
    /// Line height of the font in pixels (ascent + descent).
    int TextHeight(const std::string& text);

    /// Copies the source bitmap with its top-left pixel at (x, y), clipped, converting
    /// pixels to this bitmap's format (palette indices through the source palette; into
    /// pf8bit through the nearest entry of this bitmap's palette).
    void Draw(int x, int y, const TBitmap& source);
    /// As Draw(0, 0, source) for a source of this bitmap's size, on the given pixels only
    /// (clipped to the bitmap).
    void DrawSpans(const TBitmap& source, std::span<const TRowSpan> spans);

private:
    TBitmap& bitmap_;
    TPoint penPos_;
};

} // namespace vantorel
