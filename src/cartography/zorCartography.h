#pragma once

// The boundary-line store: country borders and coastlines from the program's native
// boundary file, or shoreline polygons in the GSHHS binary format.

#include "cartography/GeoExtent.h"
#include "common/Once.h"
#include "common/TextFile.h"
#include "imaging/Canvas.h"
#include "mapping/zorMapping.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vantorel {

class TBitmap;
class TBoundaryIndex;
class TCanvas;
class TMapping;
class TStringList;
struct TPoint;
enum class TBrushStyle;
using TColor = std::uint32_t;

/// Where a place-mark label goes relative to its mark.
enum TPlacement : int { plN = 0, plNE, plE, plSE, plS, plSW, plW, plNW };

/// One boundary point: longitude then latitude, degrees, east and north positive; the
/// mapping's own position type, so that a segment's points are projected as they lie.
using BoundaryPoint = TLonLat;

/// One usable line of the place-mark list.
struct TPlaceMarkLine {
    char symbol = '+';
    std::string label;
    float lon = 0.0f; ///< degrees east
    float lat = 0.0f; ///< degrees north
    int placement = 4;
};

/// How place marks are drawn.
struct TPlaceMarkStyle {
    TColor Colour = 0; ///< 0x00BBGGRR, of the symbol and the label
    int PenWidth = 1;
    TBrushStyle LabelBrush = TBrushStyle::bsClear; ///< solid: the canvas's brush colour
    bool Halo = false;                             ///< the label outlined in black
    /// A label placed "S" (or unknown) goes the other way across and twice as far down.
    bool Mirror = false;
};

/// Reads one place-mark line: "symbol, label, longitude, latitude[, placement]" as comma
/// text, "." as decimal separator. nullopt for a comment ("#"), fewer than 4 fields, an
/// empty symbol or a number that does not read. An unknown placement gives the default.
std::optional<TPlaceMarkLine> ParsePlaceMarkLine(const std::string& line, int defaultPlacement);

/// What a line is on the ground, where its file says: a shore (of land, a lake or an
/// island in a lake) or a border between countries. The native format does not say.
enum class TLineRole : std::uint8_t { Unknown, Shore, Border };

/// One polyline of the store.
struct TLineSegment {
    /// Bounds start at -/+2^31 so that the first point sets them.
    static constexpr float kBoundStart = 2147483648.0f;

    float North = -kBoundStart; ///< largest latitude, degrees
    float South = kBoundStart;  ///< smallest latitude, degrees
    float East = -kBoundStart;  ///< largest longitude, degrees
    float West = kBoundStart;   ///< smallest longitude, degrees
    std::int32_t Count = 0;     ///< number of points (always Points.size())
    std::uint8_t Kind = 0;      ///< segment kind: from the native file, 1 otherwise
    TLineRole Role = TLineRole::Unknown;
    std::vector<BoundaryPoint> Points;

    /// Appends a point and widens the bounds.
    void Add(float lon, float lat);
    /// Widens the bounds over Points and sets Count: as adding them one by one would.
    void WidenBounds();

private:
    void Widen(float lon, float lat);
};

/// A byte stream over a block of memory (the boundary readers' input).
class TByteStream {
public:
    explicit TByteStream(std::span<const std::uint8_t> data) : data_(data) {}
    /// Copies up to n bytes; returns how many were copied.
    size_t Read(void* out, size_t n);
    /// Moves the position by delta bytes, clamped to the stream.
    void Seek(long long delta);
    size_t Position() const { return pos_; }
    /// The whole block, whatever the position.
    std::span<const std::uint8_t> Bytes() const { return data_; }
    size_t Size() const { return data_.size(); }

private:
    std::span<const std::uint8_t> data_;
    size_t pos_ = 0;
};

/// When a GSHHS file's points are read.
enum class TPointReading {
    /// All of them as the file is loaded: for a store kept for long, which a file replaced
    /// or cut meanwhile must not reach.
    Whole,
    /// A segment's when it is first asked for, the file kept open until then: for runs
    /// that end soon (a picture shows a small part of the world).
    AsAsked,
};

/// The store of boundary segments, drawn over the image through Mapping.
class TCartogList {
public:
    static constexpr int kInitialCapacity = 1500;
    static constexpr int kCapacityStep = 5000;
    /// First four bytes of a file that adds nothing ("# -b").
    static constexpr std::uint32_t kSkippedFileTag = 0x622D2023;

    TCartogList();
    /// A store with drawings of its own that shares `source`'s segments, read-only: many
    /// threads may each draw the same boundaries, loaded once. Loading or adding into
    /// either gives that one segments of its own.
    struct TShareSegments {};
    TCartogList(const TCartogList& source, TShareSegments);
    virtual ~TCartogList();
    TCartogList(const TCartogList&) = delete;
    TCartogList& operator=(const TCartogList&) = delete;

private:
    /// One segment of a file, found by its head: where its points are.
    struct TRecord {
        size_t at = 0;      ///< of its points, in the file
        std::int32_t n = 0; ///< as the head says
        std::uint8_t kind = 0;
        TLineRole role = TLineRole::Unknown;
    };
    /// What a GSHHS record's points reach, known before they are read.
    struct TSurround {
        TGeoExtent::CellSpan around;
        bool surelyCullable = false;
    };
    /// The segments of one file.
    struct TRecords {
        enum class TFormat { None, Native, Gshhs } format = TFormat::None;
        bool swap = false;     ///< GSHHS in the other byte order
        size_t capacity = 0;   ///< entries to make room for first
        size_t headerSize = 0; ///< GSHHS, of each record
        std::vector<TRecord> list;
        /// One per record where an index gave them; empty where they are worked out.
        std::vector<TSurround> surround;
    };

public:
    /// What LoadBoundaryFiles reads, found before anything is read: the files, open, and
    /// where their segments are. Made in a few milliseconds, so that what it says is known
    /// at once while the points are read later (on another thread too).
    class TBoundaryPlan {
    public:
        /// The segments the store will hold.
        int Count() const { return count_; }
        /// The first of the file names, or "".
        std::string FirstFileName() const { return names_.empty() ? "" : names_.front(); }

    private:
        friend class TCartogList;
        struct TFile {
            std::shared_ptr<const TFileView> view;
            TRecords records;
        };
        std::vector<std::string> names_;
        std::vector<TFile> files_;
        int count_ = 0;
    };
    /// The file names of text split at '|', and their segments. A GSHHS file that
    /// `index` fits is planned from it: only the pages of the headers it checks are read
    /// before a segment is.
    static TBoundaryPlan PlanBoundaryFiles(const std::string& text,
                                           const TBoundaryIndex* index = nullptr);
    /// Empties the store and loads each file of the plan in order, a GSHHS file's points
    /// when `reading` says.
    void LoadPlanned(const TBoundaryPlan& plan, TPointReading reading = TPointReading::AsAsked);
    /// Empties the store, takes the file names from text split at '|' and loads each in
    /// order. Failures end the reading of one file silently.
    void LoadBoundaryFiles(const std::string& text);
    /// Loads one file by its first four bytes: 0 for GSHHS polygons, "# -b" for nothing,
    /// anything else for the native format. Does not empty the store itself.
    void LoadBoundaryFile(const std::string& fileName);
    /// The first of the last loaded file names, or "".
    std::string FirstFileName() const;

    /// Iteration: FirstSegment sets the cursor to 1 and returns item 0; NextSegment
    /// returns the item at the cursor and advances it. nullptr past the end.
    const TLineSegment* FirstSegment(int& cursor) const;
    const TLineSegment* NextSegment(int& cursor) const;
    /// Appends; a list that becomes exactly full grows by 5000 entries.
    void AddSegment(std::unique_ptr<TLineSegment> segment);
    /// Frees every segment, sets MaxCount to 0 and empties the list.
    virtual void Clear();

    /// Shoreline polygons (GSHHS, either byte order, 36/40/44-byte headers): levels 1, 3
    /// and 6, and lakes (level 2) of at least 100 tenths of a square kilometre.
    virtual void ReadGshhsPolygons(TByteStream& stream);
    /// Native records {int32 N, uint8 kind, N x int16 pairs of arc-minutes}; replaces the
    /// store's content.
    virtual void ReadNativeBoundaries(TByteStream& stream);

    // Drawing (through Mapping and the bitmap's canvas).

    /// Projects every segment through Mapping and draws it with the canvas pen, placed at
    /// (x + pixelOffset, y - lineOffset). Nothing without a mapping or segments. With
    /// CullSegments, segments outside the bitmap's PictureExtent are not projected.
    void DrawBoundaries(TBitmap& bitmap, int pixelOffset, int lineOffset);
    /// Draws the segments that may reach `picture` (every segment when it is null; a
    /// segment with an edge longer than kLongestCulledEdgeDegrees always).
    void DrawBoundariesOnCanvas(TCanvas& canvas, int pixelOffset, int lineOffset,
                                const TGeoExtent* picture = nullptr);
    /// The cells of the globe whose points Mapping, in its present state, can place on a
    /// bitmap of width x height pixels at these offsets, with a margin for a pen of
    /// penWidth pixels. The globe without a mapping.
    TGeoExtent PictureExtent(int width, int height, int pixelOffset, int lineOffset, int penWidth);
    /// The box of segment `index` (its points' latitudes and longitudes, the antimeridian
    /// followed along the line), worked out when its points are read.
    const TGeoBox& SegmentBox(int index) const {
        return Item(static_cast<size_t>(index)).shape.box;
    }
    /// The segments whose boxes touch a cell of `extent`, in order. Those not read yet
    /// are read on every core where the cells round their points reach it, and left
    /// unread where not.
    std::vector<int> Touching(const TGeoExtent& extent) const;
    /// A straight edge longer than this (degrees of arc) could cross the picture between
    /// two points far off it: segments with one are never culled.
    static constexpr double kLongestCulledEdgeDegrees = 0.5;
    /// Projected runs gathered to be drawn together (TCanvas::Polylines).
    struct TRunBatch {
        std::vector<TPoint> points;
        std::vector<std::pair<size_t, size_t>> lines; // first index, point count
        void DrawOn(TCanvas& canvas);
    };
    /// Adds a run of projected points, moved by `offset`, to be drawn: as one polyline of at
    /// most 16 000 points, or in pieces of 16 000 that share their end points. Undrawable
    /// kinds draw nothing.
    void FlushRun(TRunBatch& batch, std::span<const TPoint> run, std::uint8_t kind,
                  TPoint offset = {}) const;
    /// One place mark per usable line ("symbol, label, longitude, latitude[, placement]";
    /// "#" starts a comment; a line that does not read is skipped).
    void DrawPlaceMarks(TBitmap& bitmap, int pixelOffset, int lineOffset,
                        const std::vector<std::string>& lines, TColor colour, bool bold,
                        TBrushStyle labelBrushStyle, int defaultPlacement, bool halo);
    /// One marker symbol ("+", "x", "X", "*", "^", "~", ".", "o", "O") and its label.
    void DrawPlaceMark(TBitmap& bitmap, int pixelOffset, int lineOffset, const TPlaceMarkLine& mark,
                       const TPlaceMarkStyle& style);

    /// The pieces (first index, point count) a run of `count` points is drawn in.
    static std::vector<std::pair<size_t, size_t>> RunPieces(size_t count);
    /// Segment kinds that are drawn: those whose kind without its lowest bit is 0, 4 or 8.
    static bool IsDrawableKind(std::uint8_t kind);
    /// Largest number of points drawn as one polyline.
    static constexpr int kMaxPolylinePoints = 16000;
    /// Brush colour set for boundary drawing.
    static constexpr TColor kBoundaryBrushColour = 0xD0C0C0;

    int Count() const { return static_cast<int>(FStore->items.size()); }
    int Capacity() const { return FStore->capacity; }
    const TLineSegment& operator[](int index) const {
        return Item(static_cast<size_t>(index)).segment;
    }
    const std::vector<std::string>& FileNames() const { return FStore->fileNames; }

    const TMapping* Mapping = nullptr; ///< projection used for drawing; not owned
    float ViewSouth = 0.0f;
    float ViewNorth = 0.0f;
    float ViewWest = 0.0f;
    float ViewEast = 0.0f;
    std::int32_t JumpLimit = 0;  ///< pixel jump that breaks a line; 0 or less: automatic
    std::int32_t LabelScale = 1; ///< multiplier of the font size for place-mark labels
    std::int32_t MaxCount = 0;   ///< largest Count of a segment read since the last Clear
    bool ClosePolylines = true;  ///< drawing closes every segment to its first point
    /// Leave out, before projecting them, the segments that cannot reach the bitmap. The
    /// picture is the same either way; projecting every point costs far more.
    bool CullSegments = true;
    /// With CullSegments: keep the pixels the lines cover over and around the bitmap, so
    /// that a redraw which only moves the overlay (or repaints the picture) copies them
    /// instead of drawing every line again. The picture is the same either way.
    bool KeepCover = true;
    /// When set, the picture is drawn on a smaller bitmap, as the screen shows it zoomed
    /// out: the lines run where they run on the full-size picture, at the bitmap's
    /// resolution, and pens, symbols and labels keep their widths and sizes.
    TDrawScale Scale;

    /// The pixels a drawing may have changed, clipped to its bitmap.
    struct TDrawnPixels {
        std::vector<TRowSpan> Spans;
        bool Known = true; ///< false: some were drawn line by line, not told here
        /// Adds the box from (left, top) to (right, bottom), edges included, clipped to a
        /// bitmap of the given size.
        void AddBox(int left, int top, int right, int bottom, int width, int height);
    };
    /// When set, DrawBoundaries and DrawPlaceMark(s) add what they draw to it, so that a
    /// redraw can put back only those pixels.
    TDrawnPixels* Drawn = nullptr;

    /// A boundary point through the mapping: its pixel, when it could be placed.
    using ProjectedPoint = TProjectedPixel;

private:
    void SetCapacity(int capacity);
    /// The jump limit of the drawing rules for the present mapping.
    int EffectiveJumpLimit() const;
    /// Starts a new generation of traced runs when Mapping, its state, the jump limit or
    /// ClosePolylines changed since the last drawing.
    void SyncProjection(int jumpLimit);
    /// Projects the segments and keeps their runs, as the drawing rules make them, unless
    /// this generation already did. Runs do not depend on where the overlay is placed,
    /// so a redraw that only moves it costs no projection at all.
    void TraceSegments(std::span<const size_t> indices, int jumpLimit);
    void ProjectSegment(size_t index);
    /// Points [first, end) of a segment, projected to FScratch[at ...].
    struct Stretch {
        size_t segment = 0;
        size_t first = 0;
        size_t end = 0;
        size_t at = 0;
    };
    /// The stretches of a segment to project when its points go to FScratch[at ...]: the
    /// pieces that may reach FTraceCells and the segment's ends; the other points count
    /// as off the map. False when every piece may reach them (all points are projected).
    bool PlanProjection(size_t index, size_t at, std::vector<Stretch>& stretches) const;
    /// Makes the runs of this generation reach every cell of `cells` (the globe when null).
    void TraceWithin(const TGeoExtent* cells);
    bool InView(const TLineSegment& segment) const;
    /// Draws the segments that may reach `picture`, placed at `offset` (added to the
    /// mapping's pixels). plainRules: check each segment for a run the plain rules would
    /// start otherwise at this offset. Segments reaching far off are left to `far` when
    /// it is given.
    void DrawSegments(TCanvas& canvas, TPoint offset, const TGeoExtent* picture, bool plainRules,
                      std::vector<size_t>* far);
    void DrawSegment(TRunBatch& batch, size_t index, TPoint offset, bool plainRules,
                     std::vector<TPoint>& run);
    /// Draws through the cover, made again when it does not reach over the bitmap; false
    /// when the bitmap is to be drawn line by line instead.
    bool DrawFromCover(TBitmap& bitmap, int pixelOffset, int lineOffset);
    bool BuildCover(long long left, long long top, long long right, long long bottom, int penWidth);

    /// What a segment is, worked out when its points are read.
    struct SegmentShape {
        TGeoBox box;
        TGeoExtent::CellSpan cells;   // of the box
        bool cullable = true;         // no edge longer than kLongestCulledEdgeDegrees
        std::uint32_t firstPiece = 0; // in its pieces; none for a short segment
        std::uint32_t endPiece = 0;
    };
    /// What this store's drawings made of a segment.
    struct SegmentInfo {
        bool far = false;             // its runs reach kFarCoordinate
        std::uint64_t generation = 0; // of its runs; 0 none
        std::uint32_t firstRun = 0;   // in FRuns
        std::uint32_t endRun = 0;
        bool partial = false;         // its runs leave out pieces off FTraceCells
        std::uint64_t traceEpoch = 0; // of FTraceCells when its runs were made
    };
    static TBoundaryPlan::TFile PlanBoundaryFile(const std::string& fileName,
                                                 const TBoundaryIndex* index);
    friend class TBoundaryIndex;
    /// The records an index gives for these bytes, where it fits them.
    static std::optional<TRecords> RecordsOf(const TBoundaryIndex& index,
                                             std::span<const std::uint8_t> file);
    void LoadPlannedFile(const TBoundaryPlan::TFile& file, TPointReading reading);
    /// The points of a record that the file holds whole: one cut short keeps those.
    static size_t WholePoints(const TRecord& record, size_t fileBytes, size_t pointBytes) {
        return std::min<size_t>(static_cast<size_t>(record.n),
                                (fileBytes - record.at) / pointBytes);
    }
    static TRecords ScanNative(TByteStream& stream);
    static TRecords ScanGshhs(TByteStream& stream);
    /// Reads the records' points on every core and adds them in order; with the file's
    /// view, a GSHHS file's points are left to be read when first asked for.
    void ReadRecords(const TByteStream& stream, const TRecords& records,
                     const std::shared_ptr<const TFileView>& view = nullptr);
    /// Works out what a segment is; its pieces are appended to `pieces`, and the shape's
    /// first and end piece count in that list.
    static SegmentShape ShapeOf(const TLineSegment& segment,
                                std::vector<TGeoExtent::CellSpan>& pieces);
    /// One segment of the store and what is worked out of it.
    struct TItem {
        TLineSegment segment; ///< its points empty until read
        SegmentShape shape;
        std::vector<TGeoExtent::CellSpan> pieces; ///< the cells of a long segment's pieces
        /// Where the points are still to be read (GSHHS, from a file the store holds).
        const std::uint8_t* at = nullptr;
        size_t n = 0;
        bool swap = false;
        /// Cells round the points, and whether no edge can be long, known before they are
        /// read: a segment outside a picture is left unread.
        TGeoExtent::CellSpan around;
        bool surelyCullable = false;
        TOnce read;
    };
    /// A record's points, into a segment with its bounds (a native file's: n x int16
    /// pairs of arc-minutes; GSHHS: int32 pairs of millionths of a degree).
    static void ReadNativePoints(const std::uint8_t* p, size_t n, TLineSegment& segment);
    static void ReadGshhsPoints(const std::uint8_t* p, size_t n, bool swap, TLineSegment& segment);
    /// Sets what a GSHHS item's points give before they are read: cells round them and
    /// whether no edge can be long.
    static void Surround(TItem& item);
    /// Adds a segment whose shape and pieces are worked out.
    void Append(std::unique_ptr<TItem> item);
    /// Segment `index`, its points read first where they are not yet (any thread may ask).
    const TItem& Item(size_t index) const;
    /// Reads the points of these segments where not read yet, on every core.
    void ReadSegments(std::span<const size_t> indices) const;
    /// The segments, shared by the stores made to draw them.
    struct TSegmentStore {
        std::vector<std::unique_ptr<TItem>> items;
        std::vector<std::shared_ptr<const TFileView>> views; ///< points are read from
        TOnceLocks reading;                                  ///< of the items' reads
        std::vector<std::string> fileNames;
        int capacity = 0;
    };
    /// The segments to change: this store's own, copied first when they are shared.
    TSegmentStore& OwnStore();
    /// Long cullable segments are also culled by pieces of kPiecePoints edges (each
    /// piece's end point is the next one's first): a long coast mostly lies far off the
    /// picture.
    static constexpr size_t kPiecePoints = 64;
    struct Run {
        std::uint32_t first = 0; // in FRunPoints
        std::uint32_t count = 0;
    };
    std::shared_ptr<TSegmentStore> FStore;
    std::vector<SegmentInfo> FSegments;   ///< one per item once drawn
    std::vector<Run> FRuns;               ///< runs of two or more points, per segment
    std::vector<TPoint> FRunPoints;       ///< their points in the mapping's pixels
    std::vector<ProjectedPoint> FScratch; ///< projected points of the segments being traced
    const TMapping* FProjectedMapping = nullptr;
    std::uint64_t FProjectedVersion = 0;
    int FTracedJumpLimit = 0;
    bool FTracedClose = false;
    std::uint64_t FGeneration = 0;
    /// The cells the runs of this generation reach (all of them when FTraceGlobe): pieces
    /// of segments outside them are not projected.
    TGeoExtent FTraceCells;
    bool FTraceGlobe = false;
    std::uint64_t FTraceEpoch = 0; ///< grows whenever FTraceCells do
    TPictureFootprint FFootprint; ///< of the present mapping state, when projected
    bool StartsRunAt(const SegmentInfo& info, TPoint mapped) const;

    /// The pixels the lines cover, as spans of each row of a rectangle of the mapping's
    /// pixels, drawn with one pen width for one generation.
    struct Cover {
        struct Span {
            int first = 0; // columns from left
            int last = 0;
        };
        std::uint64_t generation = 0; // 0: none
        int penWidth = 0;
        std::array<float, 4> view{}; // ViewSouth, ViewNorth, ViewWest, ViewEast
        long long left = 0, top = 0, right = 0, bottom = 0;
        std::vector<std::uint32_t> rowStart; // per row, its first span; one more at the end
        std::vector<Span> spans;
        std::vector<size_t> far;       // segments drawn line by line every time
        std::vector<TPoint> runStarts; // first points of the covered runs, sorted
    };
    Cover FCover;
    std::uint64_t FCoverWanted = 0; ///< the generation drawn once already
};

} // namespace vantorel
