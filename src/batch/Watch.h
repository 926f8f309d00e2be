#pragma once

// The watch: folders looked after until stopped. A new channel image or product folder is
// taken once it has stopped changing and what belongs with it is there (its .STAT file;
// the pictures product.cbor lists), or, when that does not come, after a timeout (said so),
// and run on the batch's pool. Notifications of the file system make it quick; a poll
// makes it sure. Runs on the thread that owns the Qt application.

#include "batch/Batch.h"
#include "batch/PassRecord.h"

#include <atomic>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vantorel {

struct TWatchOptions {
    TBatchOptions Batch;
    std::vector<std::string> Folders;
    std::string StateFile;
    /// An input unchanged this long (seconds) is taken as written.
    double SettleSeconds = 10.0;
    /// How long (seconds) to wait for a .STAT file or a product's pictures.
    double CompanionTimeoutSeconds = 300.0;
    /// Folders are looked through this often (seconds) even without a notification.
    double PollSeconds = 5.0;
    /// Ends the watch after this long (seconds) with nothing waiting or running (tests).
    std::optional<double> ExitWhenIdleSeconds;
    /// Called when the watch starts and every DailySeconds after (the element sets'
    /// update, when asked for); passes wait meanwhile.
    std::function<void()> Daily;
    double DailySeconds = 86400.0;
    /// Called after each pass with those of the session so far.
    std::function<void(const std::vector<TPassRecord>&)> OnRecord;
};

/// Watches until `stop` is set (the passes in hand are finished first) or the idle time
/// runs out. One line per pass on `out`, what a run said on `err` when it warned or
/// failed. Returns the passes of the session.
/// @throws std::runtime_error when the state file cannot be used.
std::vector<TPassRecord> Watch(const TWatchOptions& options, const std::atomic<bool>& stop,
                               std::ostream& out, std::ostream& err);

/// The name of the state file in a folder.
inline constexpr const char* kWatchStateName = ".vantorel-watch.json";

} // namespace vantorel
