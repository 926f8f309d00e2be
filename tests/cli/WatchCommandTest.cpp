#include "Headless.h"

#include "SamplePass.h"
#include "batch/WatchState.h"
#include "common/Files.h"
#include "common/TextFile.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vantorel::cli {
namespace {

const std::string kStat = "2020_09_27_08_00_58_";

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Copies the sample pass's image under a channel's name into a folder, in pieces when slow.
void DropImage(const testing::TempDir& dir, const std::string& channel, bool slow = false) {
    const auto bytes = ReadFileBytes(testing::kSampleImage);
    std::ofstream f(dir / (kStat + channel + ".bmp"), std::ios::binary);
    constexpr int kPieces = 6;
    const std::size_t piece = bytes->size() / kPieces + 1;
    for (std::size_t at = 0; at < bytes->size(); at += piece) {
        f.write(bytes->data() + at,
                static_cast<std::streamsize>(std::min(piece, bytes->size() - at)));
        f.flush();
        if (slow) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    }
}

void DropStat(const testing::TempDir& dir, const std::string& channel) {
    std::filesystem::copy_file(testing::kSource + "/samples/" + kStat + channel + ".stat",
                               dir / (kStat + channel + ".stat"));
}

nlohmann::json State(const testing::TempDir& out) {
    return nlohmann::json::parse(*ReadFileBytes(out / ".vantorel-watch.json"))["passes"];
}

// Passes dropped into a watched folder, one written slowly, are each processed once, when
// whole, found through the kernel's notes (the polls are a minute apart); a restart redoes none and
// takes those that came while it was stopped, one of them without its .STAT file after the wait for
// it; SIGTERM ends the watch cleanly.
TEST_F(Headless, TheWatchProcessesEachPassOnceAcrossRestarts) {
    testing::TempDir in;
    testing::TempDir out;
    const std::vector<std::string> watch = {"watch",
                                            in.Path(),
                                            "--out-dir=" + out.Path(),
                                            "--keplers=" + kSource + "/samples/keps",
                                            "--file-clock-offset=0",
                                            "--no-align",
                                            "--jobs=2",
                                            "--settle=1",
                                            "--poll=60",
                                            "--companion-timeout=1.5"};
    auto run = [&](const std::string& idle) {
        std::vector<std::string> args = watch;
        args.push_back("--exit-when-idle=" + idle);
        return Call(args);
    };

    std::thread writer([&] {
        // Once the watch has read the folder: only the kernel's notes can tell it then.
        for (int i = 0; i < 600 && !FileExists(out / kWatchLockName); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        DropStat(in, "64");
        DropImage(in, "64");
        DropStat(in, "65");
        DropImage(in, "65", true);
    });
    const Result first = run("2");
    writer.join();
    EXPECT_EQ(first.code, kExitOk) << first.out << first.err;
    EXPECT_EQ(Count(first.out, " UTC  done      "), 2u) << first.out;
    EXPECT_EQ(State(out).size(), 2u);
    EXPECT_TRUE(FileExists(out / (kStat + "64.geo.bmp")));
    EXPECT_TRUE(FileExists(out / (kStat + "65.geo.bmp")));

    // Stopped by SIGTERM with nothing new: nothing is redone.
    std::thread stopper([] {
        // Only once the watch has taken SIGTERM over: before, it would end the test program.
        struct sigaction current {};
        for (int i = 0; i < 600 && current.sa_handler == SIG_DFL; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            sigaction(SIGTERM, nullptr, &current);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::raise(SIGTERM);
    });
    const auto started = std::chrono::steady_clock::now();
    const Result idle = run("60");
    stopper.join();
    EXPECT_EQ(idle.code, kExitOk) << idle.err;
    EXPECT_NE(idle.out.find("Stopped after 0 passes"), std::string::npos) << idle.out;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));

    // Two came while it was stopped; channel 125 without a .STAT file is taken after the wait.
    DropStat(in, "68");
    DropImage(in, "68");
    DropImage(in, "125");
    const Result later = run("2");
    EXPECT_EQ(later.code, kExitWarnings) << later.out << later.err;
    EXPECT_EQ(Count(later.out, " UTC  done      "), 1u) << later.out;
    EXPECT_EQ(Count(later.out, " UTC  warnings  "), 1u) << later.out;
    EXPECT_NE(later.out.find(kStat + "125.bmp: no .STAT file after"), std::string::npos);
    const nlohmann::json state = State(out);
    EXPECT_EQ(state.size(), 4u);
    EXPECT_EQ(state[ExpandFileName(in / (kStat + "125.bmp"))]["status"], "warnings");
}

// After a kill the pass that was running is done again, its own picture replaced and the
// killed writer's temporary file gone; a pass whose files change is done again; a second
// watch to the folder ends at once; a state that cannot be written does not end the watch.
TEST_F(Headless, TheWatchRedoesWhatChangedOrWasCutShortAndHoldsItsFolder) {
    testing::TempDir in;
    testing::TempDir out;
    const auto watch = [&](const std::string& idle) {
        return Call({"watch", in.Path(), "--out-dir=" + out.Path(),
                     "--keplers=" + kSource + "/samples/keps", "--file-clock-offset=0",
                     "--no-align", "--settle=0.2", "--poll=0.2", "--exit-when-idle=" + idle});
    };
    DropStat(in, "64");
    DropImage(in, "64");
    const std::string picture = out / (kStat + "64.geo.bmp");
    const std::string leftover = out / ("." + kStat + "64.geo.bmp.part-2147483000-0");
    out.Write(".vantorel-watch.json",
              nlohmann::json{{"version", 1},
                             {"passes",
                              {{ExpandFileName(in / (kStat + "64.bmp")),
                                {{"status", "running"}, {"output", picture}, {"files", "-"}}}}}}
                  .dump());
    out.Write(ExtractFileName(picture), "half a picture, as a kill leaves it");
    out.Write(ExtractFileName(leftover), "");
    const Result killed = watch("0.5");
    EXPECT_EQ(killed.code, kExitOk) << killed.out << killed.err;
    EXPECT_NE(killed.out.find("cut short; processing it again"), std::string::npos);
    EXPECT_EQ(Count(killed.out, " UTC  done      "), 1u) << killed.out;
    EXPECT_GT(std::filesystem::file_size(picture), 1000u);
    EXPECT_FALSE(std::filesystem::exists(leftover));

    {
        const TFolderLock other(out.Path());
        const Result second = watch("0");
        EXPECT_EQ(second.code, kExitUsage);
        EXPECT_NE(second.err.find("(process " + std::to_string(::getpid()) + ") writes to"),
                  std::string::npos)
            << second.err;
    }

    DropImage(in, "64", true); // written again: a new time, as a file that stalled and came whole
    // Once the run has begun, the state's place is taken by a folder for a while.
    const auto placed = std::filesystem::last_write_time(picture);
    std::thread blocker([&] {
        const std::string state = out / ".vantorel-watch.json";
        for (int i = 0;
             i < 400 && ReadFileBytes(state).value_or("").find("running") == std::string::npos;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::filesystem::rename(state, out / "state");
        std::filesystem::create_directory(state);
        // Until the pass's picture is in and its end has been noted (and not saved).
        for (int i = 0; i < 6000 && std::filesystem::last_write_time(picture) == placed; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        std::filesystem::remove(state);
        std::filesystem::rename(out / "state", state);
    });
    const Result changed = watch("2.5");
    blocker.join();
    EXPECT_EQ(changed.code, kExitOk) << changed.out << changed.err;
    EXPECT_EQ(Count(changed.out, " UTC  done      "), 1u) << changed.out;
    EXPECT_NE(changed.err.find("cannot save the watch's state"), std::string::npos);
    EXPECT_NE(changed.out.find("state is saved again"), std::string::npos) << changed.out;
    EXPECT_EQ(State(out)[ExpandFileName(in / (kStat + "64.bmp"))]["status"], "done");
}

// --update-keps fetches at the start as "keps update --if-older=20" does: a fresh file in
// the Kepler folder means nothing is fetched (and nothing leaves the machine).
TEST_F(Headless, TheWatchUpdatesElementSetsAtItsStart) {
    testing::TempDir in;
    testing::TempDir keps;
    std::filesystem::copy_file(kSource + "/samples/keps/meteor.txt", keps / "meteor.txt");
    const Result r = Call({"watch", in.Path(), "--keplers=" + keps.Path(), "--update-keps",
                           "--exit-when-idle=0.5", "--poll=0.2"});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(Count(r.out, "Element sets not fetched: the newest element file"), 1u) << r.out;
}

} // namespace
} // namespace vantorel::cli
