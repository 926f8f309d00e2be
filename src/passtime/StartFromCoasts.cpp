// The first line's time from the picture's coasts.
//
// Moving the start along the orbit moves the whole ground track along the picture, so one
// long track covering every start the search allows, fitted once, serves all of them: the
// picture is a window of it, and the alignment's line offset is where the window begins.
// The alignment then runs again on the pass as placed, and its line offset, a fraction of
// a line, is the fine step.
#include "passtime/StartFromCoasts.h"

#include "alignment/CoastAlignment.h"
#include "calibration/CoastMatches.h"
#include "common/Format.h"

#include <chrono>
#include <cmath>

namespace vantorel {
namespace {

// Drawn coasts this far beyond the picture can still be moved onto it by the search.
constexpr int kShoreMargin = 48;
// A search judged by its own other starts stands out at a lower height than one judged by
// the shore placed at random: its other starts include near misses. The search only puts
// forward a start: it is taken when the pass placed there aligns where it was placed.
constexpr double kWideMinConfidence = 3.0;
// The pass placed at the start the search found is aligned as a whole: it must stand out of
// chance this far and move no more than three of the search's steps. That alone is no test
// (the search chose the start for its score, and a start 20 minutes off still scores 7 on
// a real pass), so its tiles are matched each on its own: a right start puts the coasts
// right all over the picture, and a wrong one nowhere (on that pass: 3-7 tiles within 3
// lines against none).
constexpr double kFineMinConfidence = 5.5;
constexpr double kAgreeingLines = 12.0;
constexpr int kTileSearchLines = 40;
constexpr int kTileSearchPixels = 24;
constexpr double kTileAgreeingLines = 3.0;
constexpr int kMinAgreeingTiles = 2;
// A track of starts laid out as one picture is kept as long as a pass may be, so that its
// fit is a pass's; the starts are searched a stretch at a time, the stretches overlapping
// so that no start is searched only at a stretch's edge.
constexpr double kLongestTrackSeconds = 20.0 * 60.0;
constexpr int kShortestStretch = 400;
constexpr int kStretchOverlap = 32;

// The pass over `lines` lines from `start`, without the picture's contrast touched.
std::unique_ptr<TPassResult> Placed(const TExtBitmap& picture, int lines, TDateTime start,
                                    double period, TPassSources& sources, std::string& failure) {
    TPassOutcome outcome;
    outcome.ImageFile = "the track";
    outcome.Unprocessed = std::make_unique<TExtBitmap>();
    if (lines == picture.Height()) {
        *outcome.Unprocessed = picture;
    } else {
        outcome.Unprocessed->SetPixelFormat(TPixelFormat::pf8bit);
        outcome.Unprocessed->SetSize(picture.Width(), lines);
    }
    TLineTimes times;
    times.Start = start;
    times.Period = period;
    TPassReport scratch;
    RunPass(outcome, TEnhancement::None, times, sources, scratch);
    if (!outcome.Result) {
        const auto& entries = scratch.Entries();
        failure = entries.empty() ? std::string("the orbit gives no track") : entries.back().Text;
    }
    return std::move(outcome.Result);
}

} // namespace

TStartFound FindStartFromCoasts(const TExtBitmap& picture, TDateTime around, double period,
                                TPassSources& sources, const TCoastLines& coasts,
                                TPassReport& report, const TStartSearchOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    TStartFound out;
    const int lines = picture.Height();
    const double margin = options.MarginSeconds / kSecondsPerDay;
    const TDateTime earliest = around - lines * period - margin;
    const TDateTime latest = around + margin;
    const int span = static_cast<int>(std::ceil((latest - earliest) / period));
    const std::vector<char> lost = LostLines(picture, {});
    const TAlignmentPicture prepared(picture, lost);

    // Coarse: every start of the span, a stretch of starts at a time, each stretch one
    // track no longer than a pass may be.
    const int longest = static_cast<int>(kLongestTrackSeconds / (period * kSecondsPerDay));
    const int stretch = std::max(longest - lines, kShortestStretch);
    std::string failure;
    TAlignment coarse;
    double coarseStart = 0.0; // the best stretch's first start, in lines from the earliest
    for (int first = 0; first < span; first += stretch - kStretchOverlap) {
        const int starts = std::min(stretch, span - first);
        const auto track = Placed(picture, starts + lines, earliest + first * period, period,
                                  sources, failure);
        if (!track) {
            out.Doubt = failure;
            report.Account("Pass start from the picture's coasts: none found: the orbit gives "
                           "no track for the search: " + failure);
            return out;
        }
        const std::vector<TCoastSample> shore =
            coasts.SamplesOnImage(track->Mapping, picture.Width(), starts + lines, kShoreMargin);
        TAlignmentOptions wide;
        const int centre = starts / 2;
        wide.SearchLines = centre + 8; // the stretch's ends inside the search, not at its edge
        wide.ChanceFromSearch = true;
        wide.MinConfidence = kWideMinConfidence;
        // As many shore points a picture's length as a plain alignment scores.
        wide.CoarseSamples = static_cast<int>(static_cast<long long>(wide.CoarseSamples) *
                                              (starts + lines) / std::max(lines, 1));
        TAlignment found = AlignToCoasts(prepared, shore, centre + track->LineOffset,
                                         track->PixelOffset, wide);
        found.LineOffset -= track->LineOffset;
        if (first == 0 || found.Confident > coarse.Confident ||
            (found.Confident == coarse.Confident && found.Confidence > coarse.Confidence)) {
            coarse = found;
            coarseStart = first;
        }
        if (first + starts >= span) {
            break;
        }
    }
    out.CoarseConfidence = coarse.Confidence;
    const std::string searched =
        FormatDateTime("\"searched \"yyyy-mm-dd hh:nn:ss", earliest) +
        FormatDateTime("\" to \"hh:nn:ss", latest) + Format(" (%d starts a line apart)", span);
    const std::string coarseFigures =
        Format("confidence %.1f, peak ratio %.2f, %d of %d shore points on edges",
               coarse.Confidence, coarse.PeakRatio, coarse.Support, coarse.ShorePoints);
    auto none = [&](const std::string& why) {
        out.Doubt = why;
        report.Account("Pass start from the picture's coasts: none found, " + searched + ": " +
                       why);
        return out;
    };
    if (!coarse.Confident) {
        return none(coarse.Doubt + " (" + coarseFigures + ")");
    }
    const TDateTime candidate = earliest + (coarseStart + coarse.LineOffset) * period;

    // Fine: the pass placed there must align where it was placed, as a plain run would.
    const auto placed = Placed(picture, lines, candidate, period, sources, failure);
    if (!placed) {
        return none(failure);
    }
    const TAlignmentOptions plain;
    const std::vector<TCoastSample> own =
        coasts.SamplesOnImage(placed->Mapping, picture.Width(), lines, plain.SearchLines + 8);
    const TAlignment fine =
        AlignToCoasts(prepared, own, placed->LineOffset, placed->PixelOffset, plain);
    const double moved = fine.LineOffset - placed->LineOffset;
    // Tile by tile: a start that is right puts the coasts right all over the picture.
    int agreeing = 0;
    int disagreeing = 0;
    for (const TTileMatch& m :
         MatchCoastsInTiles(prepared, own, {}, static_cast<int>(std::lround(fine.LineOffset)),
                            placed->PixelOffset, kTileSearchLines, kTileSearchPixels)) {
        if (m.LineKnown) {
            // A tile's shift is down the picture; the alignment's offset moves the overlay up.
            const bool agrees = std::fabs(m.LineShift + fine.LineOffset) <= kTileAgreeingLines;
            (agrees ? agreeing : disagreeing) += 1;
        }
    }
    const std::string fineFigures =
        Format("then aligned: confidence %.1f, line offset %+.1f; tiles agreeing %d, "
               "disagreeing %d",
               fine.Confidence, moved, agreeing, disagreeing);
    if (fine.Confidence < kFineMinConfidence || fine.Support < plain.MinSupport ||
        std::fabs(moved) > kAgreeingLines || fine.PixelOnly || agreeing < kMinAgreeingTiles ||
        agreeing < 2 * disagreeing) {
        return none(FormatDateTime("\"the line-by-line search found \"hh:nn:ss.zzz (", candidate) +
                   coarseFigures + "), but the pass placed there does not align there (" +
                   fineFigures + ")");
    }
    out.Found = true;
    out.Start = candidate + moved * period;
    out.Confidence = fine.Confidence;
    out.UncertaintySeconds = (fine.Confident ? 0.5 : 2.0) * period * kSecondsPerDay;
    const std::string fineNote = "; " + fineFigures;
    const double after = (around - out.Start) * kSecondsPerDay;
    report.Account(
        FormatDateTime("\"Pass start from the picture's coasts: \"yyyy-mm-dd hh:nn:ss.zzz \"UTC\"",
                       out.Start) +
        Format(", +- %.1f s (", out.UncertaintySeconds) + searched +
        ": " + coarseFigures + fineNote +
        Format("); the time given lies %.1f s (%.0f lines) after it; %.0f ms", after,
               after / (period * kSecondsPerDay),
               std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                         started)
                   .count()));
    return out;
}

} // namespace vantorel
