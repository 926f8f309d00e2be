#pragma once

// The account of one pass run: diagnostics lines, and the warnings and errors the user is
// to be told of, in the order they arose. The pipeline only records them; the window
// turns them into message boxes, the command line into standard error and an exit code.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantorel {

class INotifier;
class TStringList;

/// What a warning or an error is about.
enum class TPassIssue {
    None,
    FileNotFound,              ///< the image is neither where named nor in the fallback folder
    NoElementSet,              ///< the Kepler folder has no set of the satellite
    ElementSetFiles,           ///< a per-satellite Kepler file cannot be used as it stands
    StaleElementSet,           ///< the start-up set is more than a week old
    UnsuitableChannel,         ///< a 122, 124 or 125 channel, whose timing is distrusted
    NoDateInName,              ///< the file name holds no pass date and time
    ElementSetNotContemporary, ///< the set is more than a month newer than the pass
    MissingStat,               ///< no .STAT file beside the image
    ImageCutShort,             ///< the image file ends before its last row
    TooFewLines,               ///< fewer than three lines: nothing to fit
    InvalidOrbit,              ///< no usable orbit for the pass
    FitFailed,                 ///< the map could not be fitted to the image
    StageFailed,               ///< an error inside a stage (reading, propagation, a fit's maths)
    NoColumns,                 ///< the picture is no column wide
    LineTimes,                 ///< the line times run backwards, jump, or rise at no scanner's rate
    PassTooLong,               ///< the lines span more time than any pass lasts
    NoPassTime,                ///< nothing gives the pass a time
    StatNotUsed,               ///< the matching .STAT file does not read, or its clock is far off
    StatLineCount,             ///< the .STAT file counts other lines than the picture has
    ElementSetChecksum,        ///< a line of the element set fails its checksum
    NotMeteorOrbit,            ///< the element set's orbit is not a Meteor's (decayed, edited)
    NoElementSetNearPass,      ///< the nearest element set is too far from the pass to place it
    SatelliteSilent,           ///< the satellite sent no LRPT on the pass's day
    FitResidual,               ///< the fitted map leaves far more than a pass does
    CoastsMismatch,            ///< the picture's clear coasts lie nowhere near the overlay's
    PassTimeNotFound,          ///< the picture's own coasts give it no time
};

/// What the alignment to the coasts found (see TAlignment), as the report keeps it.
struct TAlignmentFigures {
    bool Confident = false;
    double Confidence = 0.0;
    double LineOffset = 0.0; ///< the offsets it found, whether taken or not
    double PixelOffset = 0.0;
    std::string Doubt; ///< why it is not confident
    double Milliseconds = 0.0;
};

/// One line of a report.
struct TReportEntry {
    enum class TKind {
        Account, ///< a diagnostics line
        Warning, ///< the user is told, the run goes on
        Error,   ///< the user is told, the run ends
    };
    TKind Kind = TKind::Account;
    TPassIssue Issue = TPassIssue::None;
    std::string Text;
    /// The caption of a message box; empty for a plain message under the program's title.
    std::string Caption;
    /// On the account line of the alignment to the coasts: what it found.
    std::optional<TAlignmentFigures> Alignment;
};

class TPassReport {
public:
    /// Called with every entry as it is added (for an account that is shown as it grows).
    std::function<void(const TReportEntry&)> OnEntry;

    void Account(std::string line);
    /// The account line of the alignment to the coasts, with what it found.
    void Aligned(std::string line, TAlignmentFigures figures);
    void Warning(TPassIssue issue, std::string text, std::string caption = {});
    void Error(TPassIssue issue, std::string text, std::string caption = {});

    const std::vector<TReportEntry>& Entries() const { return entries_; }
    /// The diagnostics lines alone.
    std::vector<std::string> AccountLines() const;
    /// True when a warning or an error of this kind was reported.
    bool Has(TPassIssue issue) const;
    /// The issue of the error that ended the run, if one did.
    std::optional<TPassIssue> EndedBy() const;

private:
    void Add(TReportEntry entry);
    std::vector<TReportEntry> entries_;
};

/// Shows an entry as the program always has: account lines go to the diagnostics list,
/// warnings and errors to the notifier (a box when they have a caption).
void Deliver(const TReportEntry& entry, TStringList& diags, INotifier& notifier);

} // namespace vantorel
