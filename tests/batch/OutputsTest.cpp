#include "batch/Inputs.h"
#include "batch/WatchState.h"
#include "common/Files.h"

#include "TempDir.h"
#include "common/TextFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace vantorel {
namespace {

std::size_t FilesIn(const testing::TempDir& dir) {
    const auto entries = std::filesystem::directory_iterator(dir.Path());
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// A picture goes in whole or not at all, and never over one that is there unless asked;
// nothing of the attempt is left beside it.
TEST(PlacePicture, NeverReplacesUnaskedAndLeavesNothingBehind) {
    testing::TempDir dir;
    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSize(4, 3);
    const std::string target = dir.Write("pass.geo.png", "someone else's picture");
    try {
        PlacePicture(picture, target, false);
        FAIL() << "an existing picture was replaced";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), ExistsMessage(target));
    }
    EXPECT_EQ(ReadFileBytes(target), "someone else's picture");
    EXPECT_EQ(FilesIn(dir), 1u);

    PlacePicture(picture, target, true);
    EXPECT_EQ(ReadFileBytes(target)->substr(1, 3), "PNG");
    PlacePicture(picture, dir / "new.geo.bmp", false);
    EXPECT_EQ(ReadFileBytes(dir / "new.geo.bmp")->substr(0, 2), "BM");
    EXPECT_EQ(FilesIn(dir), 2u);
    EXPECT_THROW(PlacePicture(picture, dir / "no-such-folder/x.bmp", false), std::exception);
}

// A report or a state goes through a link to the file it names, and never over something
// that is not a regular file (a device, a FIFO, a folder).
TEST(ReplaceFileContents, WritesThroughALinkAndRefusesWhatIsNoFile) {
    testing::TempDir dir;
    const std::string file = dir.Write("report.json", "old");
    std::filesystem::create_symlink(file, dir / "link.json");
    ReplaceFileContents(dir / "link.json", "new");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.json"));
    EXPECT_EQ(ReadFileBytes(file), "new");
    ASSERT_EQ(::mkfifo((dir / "fifo.json").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder.json");
    for (const char* other : {"fifo.json", "folder.json"}) {
        try {
            ReplaceFileContents(dir / other, "x");
            ADD_FAILURE() << other << " was replaced";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("is not a regular file"), std::string::npos);
        }
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.json"));
    EXPECT_EQ(FilesIn(dir), 4u);
}

// The watch's state file: read back as written, with whether an input's files changed and
// which runs never ended; one it did not write is refused untouched.
TEST(WatchState, KeepsWhatWasDoneAndRefusesAStrangeFile) {
    testing::TempDir dir;
    const std::string file = dir / ".vantorel-watch.json";
    {
        TWatchState state(file);
        TPassRecord record;
        record.Input = dir / "sub/../pass.bmp";
        record.Status = TRunStatus::Warnings;
        state.Add(record, "2020-09-27T08:10:00.000Z", "mark");
        state.Begin(dir / "killed.bmp", dir / "killed.geo.bmp", "its mark");
        state.Save();
    }
    const TWatchState again(file);
    EXPECT_EQ(again.Count(), 2u);
    EXPECT_EQ(again.StateOf(dir / "pass.bmp", "mark"), TInputState::Done);
    EXPECT_EQ(again.StateOf(dir / "pass.bmp", "another"), TInputState::Changed);
    EXPECT_EQ(again.StateOf(dir / "other.bmp", "mark"), TInputState::New);
    EXPECT_EQ(again.StateOf(dir / "killed.bmp", "its mark"), TInputState::Begun);
    EXPECT_EQ(again.BegunOutput(dir / "killed.bmp"), dir / "killed.geo.bmp");

    dir.Write(".vantorel-watch.json", "{\"passes\": []}");
    EXPECT_THROW(TWatchState{file}, std::runtime_error);
    EXPECT_EQ(ReadFileBytes(file), "{\"passes\": []}");
}

// One watch to a folder: a second lock names the process that holds the first, and the
// folder is free again when it goes. Temporary files of ended writers go, a live one's stay.
TEST(WatchState, OneWatchToAFolderAndNothingLeftOfAKilledOne) {
    testing::TempDir dir;
    {
        const TFolderLock first(dir.Path());
        try {
            const TFolderLock second(dir.Path());
            ADD_FAILURE() << "a second lock was given";
        } catch (const EFolderLocked& e) {
            EXPECT_NE(std::string(e.what()).find("(process " + std::to_string(::getpid()) + ")"),
                      std::string::npos)
                << e.what();
        }
    }
    EXPECT_NO_THROW(TFolderLock{dir.Path()});

    dir.Write(".p.geo.bmp.part-2147483000-0", "killed");
    const std::string live = dir.Write(".p.geo.bmp.part-" + std::to_string(::getpid()) + "-1", "");
    EXPECT_EQ(RemoveAbandonedTemporaries(dir / "p.geo.bmp"), 1);
    EXPECT_TRUE(FileExists(live));
    EXPECT_EQ(FilesIn(dir), 2u); // the live one and the lock
}

} // namespace
} // namespace vantorel
