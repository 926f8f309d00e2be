#include "batch/Batch.h"

#include "batch/HeadlessRun.h"
#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "imaging/Canvas.h"

#include <chrono>
#include <map>
#include <sstream>

namespace vantorel {
namespace {

// "" for an input that is not there.
std::string InputKind(const std::string& path, bool product) {
    if (!FileExists(path) && !DirectoryExists(path)) {
        return {};
    }
    return product ? "product" : "channel image";
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// The progress line: rewritten in place, cut to a terminal's width.
class TProgressLine {
public:
    TProgressLine(std::ostream& err, bool shown) : err_(err), shown_(shown) {}
    void Show(std::size_t done, std::size_t total, const std::vector<std::string>& running) {
        if (!shown_) {
            return;
        }
        std::string line = Format("[%d/%d]", static_cast<int>(done), static_cast<int>(total));
        for (const std::string& path : running) {
            line += ' ';
            line += ExtractFileName(path);
        }
        constexpr std::size_t kWidth = 79;
        if (line.size() > kWidth) {
            line = line.substr(0, kWidth - 3) + "...";
        }
        err_ << "\r\033[K" << line << std::flush;
    }
    void Clear() {
        if (shown_) {
            err_ << "\r\033[K" << std::flush;
        }
    }

private:
    std::ostream& err_;
    bool shown_;
};

} // namespace

TPassRecord RecordOfRun(const THeadlessRun& run, bool product) {
    TPassRecord record;
    record.Input = run.Input();
    record.Kind = InputKind(run.Input(), product);
    record.Facts = RunFacts(run);
    if (!run.Processed()) {
        record.Failure = !run.Errors().empty() ? run.Errors().front().Text
                                               : "the run ended before the picture was drawn";
    }
    return record;
}

TPassRecord RunJob(const TJob& job, const TBatchOptions& options, std::ostream& account,
                   std::ostream& messages) {
    const bool replace = options.Overwrite || job.Replace;
    if (!options.Projected.empty() && !replace && FileExists(options.Projected)) {
        TPassRecord refused;
        refused.Input = job.Input.Path;
        refused.Kind = InputKind(job.Input.Path, job.Input.Product);
        refused.Failure = ExistsMessage(options.Projected);
        return refused;
    }
    THeadlessRun run(options.Setup, job.Input.Path, account, messages, options.Data);
    TPassRecord record = RecordOfRun(run, job.Input.Product);
    if (!run.Processed()) {
        return record;
    }
    const std::string target =
        !job.Target.empty() ? job.Target
                            : OutputName(run.Run().ImageFile(), job.Input.Product, options.Output);
    const auto writing = std::chrono::steady_clock::now();
    try {
        for (const std::string& picture : {target, options.Projected}) {
            if (!picture.empty() && !replace && FileExists(picture)) {
                throw std::runtime_error(ExistsMessage(picture)); // came during the run
            }
        }
        try {
            account << run.Run().SavePicture(target, options.Overlay, replace) << "\n";
        } catch (const TFileExists& e) {
            throw std::runtime_error(ExistsMessage(e.Target));
        }
        record.Output = ExpandFileName(target);
        if (!options.Projected.empty()) {
            account << run.Run().SaveProjectedPicture(options.Projected, options.Crs, options.Step)
                    << "\n";
        }
        record.Status = run.Warned() ? TRunStatus::Warnings : TRunStatus::Done;
    } catch (const std::exception& e) {
        record.Status = TRunStatus::Failed;
        record.Failure = e.what();
    }
    record.WritingMilliseconds = MillisecondsSince(writing);
    return record;
}

TPassRecord ProcessJob(const TJob& job, const TBatchOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    std::ostringstream account;
    std::ostringstream messages;
    TPassRecord record = RunJob(job, options, account, messages);
    record.Messages = messages.str();
    record.TotalMilliseconds = MillisecondsSince(started);
    return record;
}

std::vector<TJob> PlanJobs(const std::vector<TBatchInput>& inputs, const TBatchOptions& options,
                           std::vector<TPassRecord>& records, bool replace) {
    records.assign(inputs.size(), TPassRecord{});
    std::vector<TJob> jobs;
    std::map<std::string, std::string> claimed; // picture -> the input that gives it
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        TJob job{i, inputs[i], PlannedOutput(inputs[i], options.Setup, options.Output), replace};
        records[i].Input = inputs[i].Path;
        records[i].Kind = InputKind(inputs[i].Path, inputs[i].Product);
        if (!inputs[i].Unusable.empty()) {
            records[i].Failure = inputs[i].Unusable;
            continue;
        }
        if (!job.Target.empty()) {
            const std::string picture = ExpandFileName(job.Target);
            const auto [first, fresh] = claimed.emplace(picture, inputs[i].Path);
            if (!fresh) {
                records[i].Failure = picture + " is the picture of " + first->second + " too";
                continue;
            }
            if (!options.Overwrite && !job.Replace && FileExists(picture)) {
                records[i].Failure = ExistsMessage(picture);
                continue;
            }
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::vector<TPassRecord> RunBatch(const std::vector<TBatchInput>& inputs,
                                  const TBatchOptions& given, std::ostream& out,
                                  std::ostream& err) {
    TBatchOptions options = given;
    if (!options.Data) {
        options.Data = LoadSessionData(TPointReading::AsAsked);
    }
    EnsureGuiApplication(); // before the workers start: they draw text
    std::vector<TPassRecord> records;
    const std::vector<TJob> jobs = PlanJobs(inputs, options, records);
    const std::size_t total = inputs.size();
    std::size_t done = 0;
    TProgressLine progress(err, options.Progress);
    const auto tell = [&](const TPassRecord& r) {
        progress.Clear();
        ++done;
        const std::string count = std::to_string(done);
        const std::string all = std::to_string(total);
        out << "[" << std::string(all.size() - count.size(), ' ') << count << "/" << all << "] "
            << ResultLine(r) << "\n"
            << std::flush;
        err << ResultDetails(r) << std::flush;
    };
    std::vector<bool> planned(inputs.size(), false);
    for (const TJob& job : jobs) {
        planned[job.Id] = true;
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!planned[i]) {
            tell(records[i]);
        }
    }
    TJobPool pool(options.Jobs, [&options](const TJob& job) { return ProcessJob(job, options); });
    for (const TJob& job : jobs) {
        pool.Submit(job);
    }
    while (pool.Outstanding() > 0) {
        progress.Show(done, total, pool.Running());
        for (TJobResult& result : pool.TakeFinished(std::chrono::milliseconds(250))) {
            records[result.Id] = std::move(result.Record);
            tell(records[result.Id]);
        }
    }
    progress.Clear();
    out << SummaryLine(records) << "\n" << std::flush;
    return records;
}

std::string ResultLine(const TPassRecord& r) {
    const std::string status = StatusName(r.Status);
    const std::string padded = status + std::string(10 - status.size(), ' ');
    if (r.Status == TRunStatus::Failed) {
        return padded + r.Input + ": " + FirstLine(r.Failure);
    }
    return padded + r.Input + " -> " + r.Output;
}

std::string ResultDetails(const TPassRecord& r) {
    if (r.Status == TRunStatus::Done) {
        return {};
    }
    std::string text = r.Messages;
    if (r.Status == TRunStatus::Failed && r.Failure.find('\n') != std::string::npos &&
        text.find(r.Failure) == std::string::npos) {
        text += r.Failure + "\n";
    }
    std::string indented;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        indented += "    " + line + "\n";
    }
    return indented;
}

std::string SummaryLine(const std::vector<TPassRecord>& records) {
    const TStatusCounts n = CountStatuses(records);
    return Format("%d inputs: %d done, %d with warnings, %d failed",
                  static_cast<int>(records.size()), n.Done, n.Warnings, n.Failed);
}

} // namespace vantorel
