#pragma once

// The options process, locate and watch share: those of a run (read over the window's
// saved settings) and those of a batch (where pictures go, how many at once, the report).

#include "Cli.h"

#include "batch/Batch.h"
#include "batch/PassRecord.h"
#include "session/RunSetup.h"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace vantorel::cli {

/// Options with a value, and flags, of every run.
extern const std::vector<std::string> kRunOptions;
extern const std::vector<std::string> kRunFlags;
/// Options with a value, and flags, of a batch (process and watch).
extern const std::vector<std::string> kBatchOptions;
extern const std::vector<std::string> kBatchFlags;

/// The command line of a batch command: the run's and the batch's options and flags, and
/// the command's own.
Arguments BatchArguments(const std::vector<std::string>& args,
                         const std::vector<std::string>& valued,
                         const std::vector<std::string>& flags);

/// Makes sure text can be drawn, reads the saved settings (telling `err` what is wrong with
/// the registry files) and the run's options over them; throws UsageError.
TRunSetup ReadRunSetup(const Arguments& a, std::ostream& err);

/// The batch's options, checked (UsageError); the output folder is made when missing.
TBatchOptions ReadBatchOptions(const Arguments& a, const TRunSetup& setup, std::ostream& err);

/// "--report FILE" as given, or "" without one; "-" is standard output.
std::string ReportTarget(const Arguments& a);
/// Writes the report to `target` ("-": `out`), a file whole or not at all. False (after
/// saying why on `err`) when it cannot be written.
bool WriteReport(const std::string& target, const std::vector<TPassRecord>& records,
                 const TReportContext& context, std::ostream& out, std::ostream& err);

/// "A,B" as two whole numbers, or two numbers, for an option (UsageError when not).
std::pair<int, int> ParsePair(const std::string& text, const char* option);
std::pair<float, float> ParseRealPair(const std::string& text, const char* option);

/// The help of the run's options, and of the batch's.
extern const char* const kRunHelp;
extern const char* const kBatchHelp;

} // namespace vantorel::cli
