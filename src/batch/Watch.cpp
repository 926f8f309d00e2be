#include "batch/Watch.h"

#include "batch/WatchState.h"
#include "common/Clock.h"
#include "common/DateTime.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/TextFile.h"
#include "imaging/Canvas.h"
#include "pass/inputs/InputKind.h"
#include "pass/inputs/SatDumpProduct.h"
#include "pass/inputs/StatTiming.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <thread>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace vantorel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Between looks at the pending inputs and the pool; short enough that a stop is prompt.
constexpr std::chrono::milliseconds kTick(200);
// Between tries to save a state that could not be written.
constexpr double kSaveRetrySeconds = 5.0;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// What says whether an input is still being written, and whether what belongs with it is
// there yet.
struct TInputFiles {
    std::string Signature; ///< names, sizes and times of its files
    std::string Missing;   ///< what has not come yet; "" when nothing
};

void AddToSignature(const fs::path& p, std::string& signature) {
    std::error_code ec;
    const auto size = fs::file_size(p, ec);
    const auto time = fs::last_write_time(p, ec).time_since_epoch().count();
    signature += p.string() + " " + std::to_string(size) + " " + std::to_string(time) + "\n";
}

TInputFiles LookAt(const TBatchInput& input) {
    TInputFiles f;
    if (!input.Product) {
        AddToSignature(input.Path, f.Signature);
        if (const auto stat = MatchingStatFile(input.Path)) {
            AddToSignature(*stat, f.Signature);
        } else {
            f.Missing = "no .STAT file";
        }
        return f;
    }
    const std::string folder =
        DirectoryExists(input.Path) ? input.Path : ExtractFilePath(input.Path);
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        // The pictures written beside a product, and hidden files (the state, temporary
        // files), are no part of it: else writing its picture would change it.
        const std::string name = it->path().filename().string();
        if (it->is_regular_file(ec) && !name.starts_with(".") &&
            name.find(".geo.") == std::string::npos) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& p : files) {
        AddToSignature(p, f.Signature);
    }
    if (InputKindOf(input.Path) == TInputKind::SatDumpPictureFolder) {
        return f; // pictures and dataset.json, no list of pictures to wait for
    }
    const auto cbor = FindSatDumpProductFile(input.Path);
    const auto bytes = cbor ? ReadFileBytes(*cbor) : std::nullopt;
    try {
        const auto data = reinterpret_cast<const std::uint8_t*>(bytes ? bytes->data() : "");
        const TSatDumpProduct product =
            ParseSatDumpProduct(std::span(data, bytes ? bytes->size() : 0), cbor.value_or(""));
        for (const TSatDumpImage& image : product.Images) {
            if (!FileExists(IncludeTrailingPathDelimiter(folder) + image.File)) {
                f.Missing = "no " + image.File;
                break;
            }
        }
    } catch (const std::exception&) {
        f.Missing = "no readable product.cbor";
    }
    return f;
}

// The kernel's notes of what changed in the watched folders: each wakes the watch for a
// scan, where otherwise it scans every PollSeconds.
class TFolderNotes {
public:
    TFolderNotes() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~TFolderNotes() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    TFolderNotes(const TFolderNotes&) = delete;
    TFolderNotes& operator=(const TFolderNotes&) = delete;

    // Entries made, removed, renamed or changed in their attributes, and the folder itself
    // going.
    void Add(const std::string& folder) {
        if (fd_ >= 0) {
            inotify_add_watch(fd_, folder.c_str(),
                              IN_ATTRIB | IN_MOVE | IN_CREATE | IN_DELETE | IN_DELETE_SELF);
        }
    }

    // True when a change came within `wait`; the notes are read, all of them.
    bool Wait(std::chrono::milliseconds wait) {
        if (fd_ < 0) {
            std::this_thread::sleep_for(wait);
            return false;
        }
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) {
            return false;
        }
        alignas(inotify_event) char notes[4096];
        while (::read(fd_, notes, sizeof notes) > 0) {
        }
        return true;
    }

private:
    int fd_;
};

class TWatcher {
public:
    TWatcher(const TWatchOptions& options, std::ostream& out, std::ostream& err)
        : options_(options), batch_(options.Batch), out_(out), err_(err),
          lock_(ExtractFilePath(ExpandFileName(options.StateFile))), state_(options.StateFile),
          pool_(options.Batch.Jobs, [this](const TJob& job) { return ProcessJob(job, batch_); }) {}

    std::vector<TPassRecord> Run(const std::atomic<bool>& stop) {
        if (!batch_.Data) { // read once for every pass of the watch, before any job
            batch_.Data = LoadSessionData();
        }
        std::string folders;
        for (const std::string& f : options_.Folders) {
            folders += (folders.empty() ? "" : ", ") + ExpandFileName(f);
        }
        out_ << "Watching " << folders << "; " << state_.Count() << " passes done before (state in "
             << ExpandFileName(state_.File()) << ")\n"
             << std::flush;
        for (const std::string& input : state_.Begun()) {
            // Killed mid-run: what it was writing goes, and the pass is done again.
            const std::string output = state_.BegunOutput(input);
            if (!output.empty()) {
                RemoveAbandonedTemporaries(output);
            }
            out_ << input << ": its last run was cut short; processing it again\n" << std::flush;
        }
        Clock::time_point lastScan{};
        Clock::time_point lastBusy = Clock::now();
        std::optional<Clock::time_point> lastDaily;
        while (!stop) {
            const Clock::time_point now = Clock::now();
            if (options_.Daily &&
                (!lastDaily || Seconds(now - *lastDaily) >= options_.DailySeconds)) {
                lastDaily = now;
                options_.Daily();
            }
            if (changed_ || Seconds(now - lastScan) >= options_.PollSeconds) {
                changed_ = false;
                lastScan = now;
                Scan(now);
            }
            SubmitReady(now);
            Take(std::chrono::milliseconds(0));
            if (unsaved_ && Seconds(now - lastSaveTry_) >= kSaveRetrySeconds) {
                SaveState();
            }
            if (!pending_.empty() || pool_.Outstanding() > 0) {
                lastBusy = now;
            } else if (options_.ExitWhenIdleSeconds &&
                       Seconds(now - lastBusy) >= *options_.ExitWhenIdleSeconds) {
                break;
            }
            WaitForEvents();
        }
        if (stop && pool_.Outstanding() > 0) {
            out_ << "Stopping after the passes in hand\n" << std::flush;
        }
        while (pool_.Outstanding() > 0) {
            Take(std::chrono::milliseconds(250));
        }
        if (unsaved_) {
            SaveState();
        }
        return records_;
    }

private:
    struct TPending {
        TBatchInput Input;
        bool Replace = false; ///< processed before (or begun): its own picture is replaced
        std::string Signature;
        Clock::time_point Seen;    ///< first found
        Clock::time_point Changed; ///< its files last changed
    };

    // New inputs become pending; inputs that went away are forgotten; new folders watched.
    void Scan(Clock::time_point now) {
        std::set<std::string> present;
        for (const std::string& folder : options_.Folders) {
            WatchFolders(folder); // first: what comes while the folder is read wakes a scan
            for (const TBatchInput& input : FindInputs(folder)) {
                const std::string key = ExpandFileName(input.Path);
                present.insert(key);
                if (submitted_.count(key) != 0 || pending_.count(key) != 0) {
                    continue;
                }
                const std::string signature = LookAt(input).Signature;
                const TInputState state = state_.StateOf(key, FilesMark(signature));
                if (state == TInputState::Done) {
                    continue;
                }
                if (state == TInputState::Changed) {
                    out_ << input.Path << ": changed since its pass; processing it again\n"
                         << std::flush;
                }
                pending_[key] = {input, state != TInputState::New, signature, now, now};
            }
        }
        std::erase_if(pending_, [&](const auto& p) { return present.count(p.first) == 0; });
    }

    void WatchFolders(const std::string& root) {
        const auto add = [&](const std::string& dir) {
            if (watched_.insert(dir).second) {
                notifications_.Add(dir);
            }
        };
        add(ExpandFileName(root));
        std::error_code ec;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                            ec);
        for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
            if (it->is_directory(ec)) {
                if (it->path().filename().string().starts_with(".")) {
                    it.disable_recursion_pending();
                    continue;
                }
                add(ExpandFileName(it->path().string()));
            }
        }
    }

    void SubmitReady(Clock::time_point now) {
        for (auto it = pending_.begin(); it != pending_.end() && pool_.IdleWorkers() > 0;) {
            TPending& p = it->second;
            const TInputFiles files = LookAt(p.Input);
            if (files.Signature != p.Signature) {
                p.Signature = files.Signature;
                p.Changed = now;
            }
            const bool settled = Seconds(now - p.Changed) >= options_.SettleSeconds;
            const bool waitedEnough = Seconds(now - p.Seen) >= options_.CompanionTimeoutSeconds;
            if (!settled || (!files.Missing.empty() && !waitedEnough)) {
                ++it;
                continue;
            }
            if (!files.Missing.empty()) {
                out_ << p.Input.Path << ": " << files.Missing
                     << Format(" after %.0f s; processing it as it is\n", Seconds(now - p.Seen))
                     << std::flush;
            }
            submitted_[it->first] = FilesMark(files.Signature);
            Submit(p);
            it = pending_.erase(it);
        }
    }

    void Submit(const TPending& pending) {
        std::vector<TPassRecord> refused;
        const std::vector<TJob> jobs =
            PlanJobs({pending.Input}, options_.Batch, refused, pending.Replace);
        if (jobs.empty()) {
            Finish(refused.front());
            return;
        }
        TJob job = jobs.front();
        // Noted before its picture can be there: after a kill the restart knows the picture
        // as this input's own, not as someone else's that must not be replaced.
        const std::string key = ExpandFileName(pending.Input.Path);
        state_.Begin(key, job.Target.empty() ? "" : ExpandFileName(job.Target), submitted_[key]);
        SaveState();
        job.Id = nextId_++;
        pool_.Submit(std::move(job));
    }

    void Take(std::chrono::milliseconds wait) {
        for (TJobResult& result : pool_.TakeFinished(wait)) {
            Finish(result.Record);
        }
    }

    void Finish(const TPassRecord& record) {
        const std::string now = IsoUtc(NowUTC());
        records_.push_back(record);
        const std::string key = ExpandFileName(record.Input);
        state_.Add(record, now, submitted_[key]);
        submitted_.erase(key);
        out_ << FormatDateTime("yyyy-mm-dd hh:nn:ss\" UTC  \"", NowUTC()) << ResultLine(record)
             << "\n"
             << std::flush;
        err_ << ResultDetails(record) << std::flush;
        SaveState();
        if (options_.OnRecord) {
            options_.OnRecord(records_);
        }
    }

    // A state that cannot be written does not end the watch: what it holds is kept and
    // written at the next try.
    void SaveState() {
        lastSaveTry_ = Clock::now();
        try {
            state_.Save();
            if (unsaved_) {
                out_ << "The watch's state is saved again in " << ExpandFileName(state_.File())
                     << "\n"
                     << std::flush;
            }
            unsaved_ = false;
        } catch (const std::exception& e) {
            if (!unsaved_) {
                err_ << "vantorel-cli: cannot save the watch's state (" << e.what()
                     << "); it is kept and tried again every " << Format("%.0f", kSaveRetrySeconds)
                     << " s\n"
                     << std::flush;
            }
            unsaved_ = true;
        }
    }

    void WaitForEvents() {
        if (notifications_.Wait(kTick)) {
            changed_ = true;
        }
    }

    const TWatchOptions& options_;
    TBatchOptions batch_; ///< options.Batch with the data the jobs share
    std::ostream& out_;
    std::ostream& err_;
    TFolderLock lock_; ///< before the state: no other watch reads or writes it meanwhile
    TWatchState state_;
    bool unsaved_ = false;
    Clock::time_point lastSaveTry_{};
    TFolderNotes notifications_;
    bool changed_ = true;
    std::map<std::string, TPending> pending_; ///< by absolute path
    /// Running now, by absolute path: their files' mark when they were taken.
    std::map<std::string, std::string> submitted_;
    std::set<std::string> watched_;
    std::vector<TPassRecord> records_;
    std::size_t nextId_ = 0;
    TJobPool pool_; ///< last: its workers end before what they use
};

} // namespace

std::vector<TPassRecord> Watch(const TWatchOptions& options, const std::atomic<bool>& stop,
                               std::ostream& out, std::ostream& err) {
    EnsureGuiApplication(); // before the workers start: they draw text
    TWatcher watcher(options, out, err);
    return watcher.Run(stop);
}

} // namespace vantorel
