#pragma once

// What became of one input, as the batch's summary and the JSON report give it. The
// report's fields are kept stable (its "version" says which); README.md lists them.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace vantorel {

class THeadlessRun;

/// The report's JSON, its keys in the order written.
using TJson = nlohmann::ordered_json;

/// How an input's run ended.
enum class TRunStatus {
    Done,     ///< the picture is written and nothing makes it doubtful
    Warnings, ///< the picture is written, but the run warned
    Failed,   ///< no picture
};

/// vantorel-cli's exit code for a run that ended so: 0, 3 or 1.
int ExitCode(TRunStatus status);
/// The status of a whole batch: any failure, else any warning, else done.
TRunStatus Worst(TRunStatus a, TRunStatus b);
/// "done", "warnings", "failed".
const char* StatusName(TRunStatus status);

/// The report's version; raised only when a field changes its meaning or goes.
inline constexpr int kReportVersion = 1;

struct TPassRecord {
    std::string Input; ///< as named or found
    std::string Kind;  ///< "channel image", "product" or "" when not found
    TRunStatus Status = TRunStatus::Failed;
    std::string Output;            ///< the picture written (absolute); "" for none
    std::string Failure;           ///< why no picture was written; "" when one was
    std::string Messages;          ///< what the run said on standard error
    TJson Facts = TJson::object(); ///< the run's part of the report
    double WritingMilliseconds = 0.0;
    double TotalMilliseconds = 0.0;
};

/// How many runs ended each way.
struct TStatusCounts {
    int Done = 0;
    int Warnings = 0;
    int Failed = 0;
};
TStatusCounts CountStatuses(const std::vector<TPassRecord>& records);
/// The status of them all: the worst (Failed when there are none).
TRunStatus BatchStatus(const std::vector<TPassRecord>& records);
/// The exit code of a command that ran them: that of the worst. With none, a watch that
/// saw nothing new ends clean (0); a batch with nothing to do failed (1).
int BatchExitCode(const std::vector<TPassRecord>& records, const std::string& command);

/// The run's facts: satellite, element set, pass, fit, offsets, warnings, errors, account
/// and the run's own timings.
TJson RunFacts(const THeadlessRun& run);

/// How the report's runs came about.
struct TReportContext {
    std::string Command;  ///< "process" or "watch"
    std::string Started;  ///< UTC, ISO 8601
    std::string Finished; ///< UTC, ISO 8601
    int Jobs = 1;
};

/// One input's entry in the report.
TJson RecordJson(const TPassRecord& record);
/// The whole report.
TJson ReportJson(const std::vector<TPassRecord>& records, const TReportContext& context);

/// JSON text, indented; bytes that are not UTF-8 (a file name's) become U+FFFD rather
/// than an error.
std::string JsonText(const TJson& json);

/// A date-time as the report writes it: "2020-09-27T08:01:00.000Z".
std::string IsoUtc(double dateTime);

} // namespace vantorel
