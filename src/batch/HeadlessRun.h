#pragma once

// One headless run of one input: a pass session of its own (nothing shared with other
// runs but the read-only session data), set up, started and run at once, with what the
// report needs kept as it happens. Runs on any thread.

#include "common/Notifier.h"
#include "session/PassSession.h"
#include "session/RunSetup.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vantorel {

/// Farther than this (days) from the pass, an element set places the overlay kilometres off.
inline constexpr double kFarElementSetDays = 7.0;

/// A warning or an error as the report gives it.
struct TRunIssue {
    std::string Type; ///< the issue's name ("MissingStat", ...)
    std::string Text; ///< the message, line breaks made plain
    std::string Caption;
};

class THeadlessRun {
public:
    /// Runs `input` (a channel image, a product, or a picture or product.cbor in one) on
    /// `data` (read now when none is given). The account goes to `out` as it grows,
    /// messages to `err` as "Caption: text".
    THeadlessRun(const TRunSetup& setup, const std::string& input, std::ostream& out,
                 std::ostream& err, std::shared_ptr<const TSessionData> data = nullptr);

    const std::string& Input() const { return input_; }
    /// The picture was drawn.
    bool Processed() const { return processed_; }
    /// The message of an error inside a stage, when one ended the run.
    const std::optional<std::string>& StageError() const { return stageError_; }
    /// The run drew its picture but warned: the picture is doubtful. The element set's
    /// age against today does not count (it says nothing of an archived pass).
    bool Warned() const { return warned_; }
    /// The offsets are the command line's.
    bool OffsetGiven() const { return offsetGiven_; }
    TPassSession& Run() { return run_; }
    const TPassSession& Run() const { return run_; }

    const std::vector<std::string>& Account() const { return account_; }
    /// What the run's alignment to the coasts found, as its report gave it; none when it
    /// did not align.
    const std::optional<TAlignmentFigures>& Alignment() const { return alignment_; }
    const std::vector<TRunIssue>& Warnings() const { return warnings_; }
    const std::vector<TRunIssue>& Errors() const { return errors_; }
    double StartMilliseconds() const { return startMs_; }
    double ProcessingMilliseconds() const { return processingMs_; }

private:
    void Note(const TReportEntry& entry);

    StreamNotifier notifier_;
    TPassSession run_;
    std::string input_;
    bool processed_ = false;
    bool warned_ = false;
    bool offsetGiven_ = false;
    std::optional<std::string> stageError_;
    std::vector<std::string> account_;
    std::optional<TAlignmentFigures> alignment_;
    std::vector<TRunIssue> warnings_;
    std::vector<TRunIssue> errors_;
    double startMs_ = 0.0;
    double processingMs_ = 0.0;
};

/// The name of an issue in the report ("MissingStat", ...).
const char* IssueName(TPassIssue issue);

} // namespace vantorel
