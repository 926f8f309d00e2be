#pragma once

// What text drawing asks of Qt Gui, as an interface the text module implements. Qt Gui
// brings 25 shared libraries with it (X11, EGL, fontconfig, FreeType, D-Bus): linked into
// the programs, loading them took about 5.5 ms of every start, before any work could run
// beside it. The module is loaded on a thread while the session's data load. Only plain
// data and standard strings cross: the module links Qt Gui and nothing of ours.

#include <cstdint>
#include <string>
#include <vector>

namespace vantorel::text {

/// A font as TFont gives it, and colours as red, green and blue.
struct TFontSpec {
    std::string Name;
    int Size = 8; ///< points at 96 pixels per inch
    bool Bold = false;
};

struct TRgb {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
};

/// A text painted on its own: Width x Height pixels as 0xAARRGGBB, row after row,
/// transparent (alpha 0) around the glyphs unless a fill was asked.
struct TPatch {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
};

class TModule {
public:
    virtual ~TModule() = default;
    /// Makes a QGuiApplication when the process has no Qt application yet ("offscreen"
    /// unless QT_QPA_PLATFORM names another platform); false when a non-GUI application
    /// already runs.
    virtual bool EnsureApplication() = 0;
    /// Whether a QGuiApplication runs.
    virtual bool HasApplication() = 0;
    /// Ends the application EnsureApplication made, if it made one.
    virtual void EndApplication() = 0;
    /// The font look-up that text makes first (the platform's font list).
    virtual void PrepareFonts() = 0;
    virtual int Width(const TFontSpec& font, const std::string& text) = 0;
    virtual int Height(const TFontSpec& font) = 0;
    /// The text with its top-left corner at the patch's, on `fill` when given; an empty
    /// patch for a text without width.
    virtual void Paint(const TFontSpec& font, TRgb ink, const TRgb* fill, const std::string& text,
                       TPatch& patch) = 0;
};

} // namespace vantorel::text

/// The module's entry: one instance for the process.
extern "C" vantorel::text::TModule* VantorelTextModule();
