// vantorel-cli watch: folders looked after until stopped, each new pass processed once.
#include "Cli.h"
#include "RunOptions.h"

#include "batch/Watch.h"
#include "batch/WatchState.h"
#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/StringUtils.h"

#include <atomic>
#include <csignal>

namespace vantorel::cli {
namespace {

std::atomic<bool> gStopAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// The first asks for a clean stop; a second, from someone who will not wait, ends the
// program as the signal always does.
extern "C" void AskToStop(int signal) {
    if (gStopAsked.exchange(true)) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

// SIGINT and SIGTERM ask the watch to stop while this lives.
class TStopSignals {
public:
    TStopSignals() {
        gStopAsked = false;
        struct sigaction action {};
        action.sa_handler = AskToStop;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previousInt_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~TStopSignals() {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
    }
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

double Seconds(const Arguments& a, const char* option, double otherwise) {
    const auto text = a.Value(option);
    if (!text) {
        return otherwise;
    }
    const auto value = ParseReal(*text);
    if (!value || *value < 0.0 || *value > 86400.0) {
        throw UsageError(std::string("--") + option + " takes seconds from 0 to 86400");
    }
    return *value;
}

int RunWatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Arguments a = BatchArguments(
        args, {"settle", "companion-timeout", "poll", "exit-when-idle"}, {"update-keps"});
    if (a.Positional().empty()) {
        throw UsageError("name the folders to watch");
    }
    for (const std::string& folder : a.Positional()) {
        if (!DirectoryExists(folder)) {
            throw UsageError("not a folder: " + folder);
        }
    }
    TWatchOptions watch;
    watch.Folders = a.Positional();
    watch.SettleSeconds = Seconds(a, "settle", watch.SettleSeconds);
    watch.CompanionTimeoutSeconds = Seconds(a, "companion-timeout", watch.CompanionTimeoutSeconds);
    watch.PollSeconds = std::max(0.1, Seconds(a, "poll", watch.PollSeconds));
    if (a.Has("exit-when-idle")) {
        watch.ExitWhenIdleSeconds = Seconds(a, "exit-when-idle", 0.0);
    }
    const TRunSetup setup = ReadRunSetup(a, err);
    watch.Batch = ReadBatchOptions(a, setup, err);
    watch.Batch.Progress = false; // a line per pass is the log
    if (a.Has("update-keps")) {
        // Once a day, as a cron line would: fetched unless a file of the last 20 hours is
        // there; a failure is logged and the watch goes on with the sets it has.
        watch.Daily = [&] {
            RunKeps({"update", "--if-older=20", "--keplers=" + setup.Keplers}, out, err);
        };
    }
    const std::string& stateFolder =
        watch.Batch.Output.OutDir.empty() ? watch.Folders.front() : watch.Batch.Output.OutDir;
    watch.StateFile = IncludeTrailingPathDelimiter(stateFolder) + kWatchStateName;

    const std::string report = ReportTarget(a);
    std::ostream& text = report == "-" ? err : out;
    const std::string started = IsoUtc(NowUTC());
    const auto context = [&] {
        return TReportContext{"watch", started, IsoUtc(NowUTC()), watch.Batch.Jobs};
    };
    if (!report.empty() && report != "-") {
        watch.OnRecord = [&](const std::vector<TPassRecord>& records) {
            WriteReport(report, records, context(), out, err);
        };
    }
    const TStopSignals signals;
    std::vector<TPassRecord> records;
    try {
        records = Watch(watch, gStopAsked, text, err);
    } catch (const EFolderLocked& e) {
        err << "vantorel-cli watch: " << e.what() << "\n";
        return kExitUsage;
    }
    const TStatusCounts n = CountStatuses(records);
    text << Format("Stopped after %d passes: %d done, %d with warnings, %d failed\n",
                   static_cast<int>(records.size()), n.Done, n.Warnings, n.Failed);
    if (!report.empty() && !WriteReport(report, records, context(), out, err)) {
        return kExitFailure;
    }
    return BatchExitCode(records, "watch");
}

} // namespace

Command WatchCommand() {
    return {
        "watch", "[options] FOLDER...",
        "process each new channel image or product in folders as it comes",
        std::string("Looks after the folders (and those below them) until SIGINT or SIGTERM,\n"
                    "which end it once the passes in hand are done (a second one at once). A\n"
                    "new channel image named with its pass time, or a new SatDump product\n"
                    "folder, is processed once it has not changed for --settle seconds and its\n"
                    ".STAT file (the pictures its product.cbor lists) is there, or when that has\n"
                    "not come after --companion-timeout seconds (it says so). Each is processed\n"
                    "once: what was done is kept in " +
                    std::string(kWatchStateName) +
                    " in the output folder (without\n"
                    "--out-dir, the first folder watched), so that a restart neither redoes a\n"
                    "pass nor skips one that came meanwhile; an existing picture fails its pass\n"
                    "unless --overwrite. A pass whose files change after it, or whose run was\n"
                    "cut short (the watch killed), is processed again and its own picture\n"
                    "replaced. One watch at a time writes to a folder: a second one says which\n"
                    "process holds it and ends (exit 2). A state that cannot be written is kept\n"
                    "and tried again. One line per pass on standard output; the report, when\n"
                    "asked for, is rewritten after every pass.\n\n"
                    "Options:\n"
                    "  --settle=SECONDS         unchanged this long, a file is whole (default 10)\n"
                    "  --companion-timeout=SECONDS  the wait for .STAT files and a product's\n"
                    "                           pictures (default 300)\n"
                    "  --poll=SECONDS           look through the folders this often besides the\n"
                    "                           file system's notifications (default 5)\n"
                    "  --exit-when-idle=SECONDS end after this long with nothing waiting or\n"
                    "                           running (default: run until stopped)\n"
                    "  --update-keps            at the start and once a day, fetch element sets\n"
                    "                           into the Kepler folder as \"keps update\n"
                    "                           --if-older=20\" does (the KepsUrls setting)\n") +
            kBatchHelp + kRunHelp +
            "\nExit codes: the worst of the passes processed (1, else 3, else 0); 1 when\n"
            "the state file cannot be used; 2 when the command line was wrong or another\n"
            "watch writes to the folder.\n",
        RunWatch};
}

} // namespace vantorel::cli
