#pragma once

// Many inputs processed on a pool of threads, each run on its own: one that fails does
// not stop the others. What each run says is kept with its record and told when it ends.

#include "batch/Inputs.h"
#include "batch/JobPool.h"
#include "batch/PassRecord.h"
#include "session/RunSetup.h"
#include "session/SessionData.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vantorel {

struct TBatchOptions {
    TRunSetup Setup;
    TOutputOptions Output;
    bool Overwrite = false;
    int Jobs = 1;
    /// A progress line on the error stream (when it is a terminal).
    bool Progress = false;
    /// The program's data every job reads: read once by the batch or the watch when none
    /// is given (a job run alone without it reads its own).
    std::shared_ptr<const TSessionData> Data;
    /// The pictures with the overlay (else the enhanced channel image alone).
    bool Overlay = true;
    /// Also the pass resampled to a map grid, as a GeoTIFF with a world file ("": none),
    /// in this coordinate system ("": longitude/latitude) and pixel size (0: about the
    /// picture's own resolution). One input's.
    std::string Projected;
    std::string Crs;
    double Step = 0.0;
};

class THeadlessRun;

/// The record of a run as it ended: its facts, and why no picture was drawn when none was.
/// The status stays Failed until the caller has written the picture.
TPassRecord RecordOfRun(const THeadlessRun& run, bool product);

/// One job start to end: its run, its picture written whole (named after the run when the
/// job names none; never over a file that is there, unless Overwrite or the job replaces
/// its own), the projected picture when asked, and what became of it. The run's account
/// and the lines of what was written go to `account`, its messages to `messages`. Runs on
/// any thread.
TPassRecord RunJob(const TJob& job, const TBatchOptions& options, std::ostream& account,
                   std::ostream& messages);
/// RunJob that prints nothing: the run's messages are in the record.
TPassRecord ProcessJob(const TJob& job, const TBatchOptions& options);

/// Plans each input's picture; an input whose picture another input of the batch gives
/// first, or which exists (without Overwrite, or `replace` for pictures that are the
/// inputs' own), is failed here, before any run. The others are jobs, numbered by their
/// place in `inputs`.
std::vector<TJob> PlanJobs(const std::vector<TBatchInput>& inputs, const TBatchOptions& options,
                           std::vector<TPassRecord>& records, bool replace = false);

/// Every input run on options.Jobs threads: each told on `out` as it ends (with what the
/// run said on `err` when it warned or failed), a progress line on `err` when asked, then
/// the summary on `out`. The records come back in the order of `inputs`.
std::vector<TPassRecord> RunBatch(const std::vector<TBatchInput>& inputs,
                                  const TBatchOptions& options, std::ostream& out,
                                  std::ostream& err);

/// "done      INPUT -> PICTURE", "warnings  INPUT -> PICTURE" or "failed    INPUT: why".
std::string ResultLine(const TPassRecord& record);
/// What the run said, indented, when it warned or failed; "" otherwise.
std::string ResultDetails(const TPassRecord& record);
/// "N inputs: a done, b with warnings, c failed".
std::string SummaryLine(const std::vector<TPassRecord>& records);

} // namespace vantorel
