#include "common/Files.h"
#include "common/Clock.h"
#include "common/Memory.h"
#include "common/Notifier.h"
#include "common/Program.h"
#include "common/StringList.h"
#include "common/TextFile.h"

#include "Sanitizer.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace vantorel {
namespace {

using testing::TempDir;
using Fields = std::vector<std::string>;

TEST(Files, PathParts) {
    EXPECT_EQ(ExtractFilePath("/a/b/x_68.bmp"), "/a/b/");
    EXPECT_EQ(ExtractFilePath("x_68.bmp"), "");
    EXPECT_EQ(ExtractFileName("/a/b/x_68.bmp"), "x_68.bmp");
    EXPECT_EQ(ExtractFileExt("/a/b.c/x_68.bmp"), ".bmp");
    EXPECT_EQ(ExtractFileExt("/a/b.c/x"), "");
    EXPECT_EQ(ChangeFileExt("/a/x_68.bmp", ".stat"), "/a/x_68.stat");
    EXPECT_EQ(ChangeFileExt("/a.d/x", ".stat"), "/a.d/x.stat");
    EXPECT_EQ(ChangeFileExt("x.s_68.bmp", ".geo.bmp"), "x.s_68.geo.bmp");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/keps"), "/keps/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/keps/"), "/keps/");
    EXPECT_EQ(ExpandFileName("/a/./b/../c.txt"), "/a/c.txt");
    EXPECT_EQ(ExpandFileName("rel.txt").front(), '/');
}

TEST(Files, FindFilesMatchesIgnoringCaseInNameOrder) {
    TempDir dir;
    dir.Write("p_64.stat", "");
    dir.Write("P_68.STAT", "");
    dir.Write("p_65.Stat", "");
    dir.Write("p_65.bmp", "");
    dir.Write("q_64.stat", "");
    std::filesystem::create_directory(dir / "p_99.stat");
    std::vector<std::string> list{"kept"};
    FindFiles(dir / "p_*.stat", list);
    EXPECT_EQ(list, (Fields{"kept", dir / "p_64.stat", dir / "p_65.Stat", dir / "P_68.STAT",
                            dir / "p_99.stat"}));
    std::vector<std::string> none;
    FindFiles(dir / "missing/*.stat", none);
    EXPECT_TRUE(none.empty());
}

TEST(Files, ExistenceAndCaseInsensitiveLookUp) {
    TempDir dir;
    const std::string file = dir.Write("A_68.STAT", "x");
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_TRUE(DirectoryExists(dir.Path()));
    EXPECT_FALSE(FileExists(""));
    EXPECT_EQ(FindFileIgnoringCase(dir / "a_68.stat"), file);
    EXPECT_EQ(FindFileIgnoringCase(file), file);
    EXPECT_FALSE(FindFileIgnoringCase(dir / "b_68.stat"));
    EXPECT_FALSE(FindFileIgnoringCase(dir / "nofolder/a_68.stat"));
}

TEST(TextFile, MissingAndUnreadableFilesAreReportedNotThrown) {
    TempDir dir;
    EXPECT_FALSE(ReadTextLines(dir / "absent.txt"));
    EXPECT_FALSE(ReadTextLines(dir.Path())); // a folder
    const std::string p = dir.Write("crlf.txt", "line 1\r\nline 2\r\n");
    EXPECT_EQ(*ReadTextLines(p), (Fields{"line 1", "line 2"}));
    TStringList list;
    EXPECT_FALSE(list.LoadFromFile(dir / "absent.txt"));
    EXPECT_TRUE(list.Empty());
    EXPECT_TRUE(list.LoadFromFile(p));
    EXPECT_EQ(list.Count(), 2);
}

// Read in one block of the file's size, or on in blocks past it: every byte, either way.
TEST(TextFile, WholeFilesAroundTheBlockSizeAndFilesWithoutASize) {
    TempDir dir;
    for (const size_t size : {size_t{0}, size_t{65535}, size_t{65536}, size_t{300001}}) {
        std::string text(size, '\0');
        for (size_t i = 0; i < size; ++i) {
            text[i] = static_cast<char>(i * 7 + i / 251);
        }
        const std::string file = dir.Write(std::to_string(size) + ".bin", text);
        EXPECT_EQ(ReadFileBytes(file), text) << size;
        const auto view = TFileView::Open(file);
        ASSERT_TRUE(view);
        EXPECT_TRUE(std::ranges::equal(view->Bytes(), text, {}, {}, [](char c) {
            return static_cast<std::uint8_t>(c);
        })) << size;
    }
    // /proc files tell no size.
    const auto status = ReadFileBytes("/proc/self/status");
    ASSERT_TRUE(status);
    EXPECT_NE(status->find("VmRSS"), std::string::npos);
    EXPECT_GT(TFileView::Open("/proc/self/status")->Bytes().size(), 0u);
}

// A FIFO named like an input is refused at once, never waited on; a file over its kind's
// cap is not read at all; a device is no file.
TEST(TextFile, NoWaitOnAFifoAndNothingOverTheCap) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "weather.txt").c_str(), 0600), 0);
    EXPECT_FALSE(ReadFileBytes(dir / "weather.txt"));
    EXPECT_FALSE(TFileView::Open(dir / "weather.txt"));
    EXPECT_FALSE(ReadTextLines(dir / "weather.txt"));
    const std::string big = dir.Write("pass.stat", std::string(kMostStatBytes + 1, '0'));
    EXPECT_FALSE(ReadFileBytes(big, kMostStatBytes));
    EXPECT_FALSE(TFileView::Open(big, kMostStatBytes));
    EXPECT_TRUE(ReadFileBytes(big));
    EXPECT_FALSE(ReadFileBytes("/dev/zero"));
}

// Whether the page that holds `at` is in memory.
bool Resident(const void* at) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    unsigned char in = 0;
    const auto start = reinterpret_cast<std::uintptr_t>(at) / page * page;
    return mincore(reinterpret_cast<void*>(start), page, &in) == 0 && (in & 1) != 0;
}

// Whether the mapping that holds `at` may be backed by huge pages.
bool MayBeHuge(const void* at) {
    const auto smaps = ReadTextLines("/proc/self/smaps");
    const auto where = reinterpret_cast<std::uintptr_t>(at);
    bool inside = false;
    for (const std::string& line : smaps.value_or(std::vector<std::string>{})) {
        unsigned long from = 0;
        unsigned long to = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2) {
            inside = from <= where && where < to;
        } else if (inside && line.rfind("THPeligible:", 0) == 0) {
            return line.find('1') != std::string::npos;
        }
    }
    return false;
}

// A large buffer is backed before it is written; after a run's heap is set up, a large
// block given back and asked for again comes from memory already backed, in huge pages
// where they pay.
TEST(Memory, LargeBuffersAreBackedAtOnceAndKept) {
    TLargeBufferAllocator<char> allocator;
    const std::size_t size = kLargeBufferBytes * 2;
    char* buffer = allocator.allocate(size);
    if (!BackLargeBuffer(buffer, size)) {
        allocator.deallocate(buffer, size);
        GTEST_SKIP() << "this kernel backs pages only as they are written";
    }
    EXPECT_TRUE(Resident(buffer + size / 2));
    allocator.deallocate(buffer, size);
    // One larger than any picture waits for its writes: its file may not fill it.
    const std::size_t huge = kMostBackedBytes + (std::size_t{1} << 20);
    char* claimed = allocator.allocate(huge);
    EXPECT_FALSE(Resident(claimed + huge / 2));
    allocator.deallocate(claimed, huge);
    if (kAddressSanitizer) {
        return; // the sanitizer's allocator is not the C library's
    }
    PrepareHeapForRun();
    const std::size_t picture = std::size_t{20} << 20;
    void* first = std::malloc(picture);
    ASSERT_NE(first, nullptr);
    std::memset(first, 1, picture);
    asm volatile("" : : "r"(first) : "memory"); // written, not left out as never read
    std::free(first);
    void* again = std::malloc(picture);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(Resident(static_cast<char*>(again) + picture / 2));
    if (HugePagesPayHere()) {
        EXPECT_TRUE(MayBeHuge(static_cast<char*>(again) + picture / 2));
    }
    std::free(again);
}

TEST(Clock, ScopedClocksNestAndRestore) {
    const FixedClock outer(42809.5, 1.0 / 24);
    const FixedClock inner(100.0, -5.0 / 24);
    {
        ScopedClock a(outer);
        EXPECT_DOUBLE_EQ(NowUTC(), 42809.5);
        {
            ScopedClock b(inner);
            EXPECT_DOUBLE_EQ(NowLocal(), 100.0 - 5.0 / 24);
        }
        EXPECT_DOUBLE_EQ(NowLocal(), 42809.5 + 1.0 / 24);
    }
    // Back on the system clock: some time after 2020.
    EXPECT_GT(NowUTC(), 43831.0);
    const OffsetClock offset(0.25);
    EXPECT_NEAR(offset.NowLocal() - offset.NowUTC(), 0.25, 1e-6);
}

TEST(Notifier, PlainLineBreaksAndRecording) {
    EXPECT_EQ(PlainLineBreaks("a\r\n\r\nb\rc"), "a\n\nb\nc");
    RecordingNotifier n;
    n.ShowMessageBox("text", "Vantorel - topic");
    n.ShowMessage("plain");
    ASSERT_EQ(n.entries.size(), 2u);
    EXPECT_TRUE(n.entries[0].isBox);
    EXPECT_EQ(n.entries[0].caption, "Vantorel - topic");
    EXPECT_FALSE(n.entries[1].isBox);
    EXPECT_EQ(n.entries[1].caption, "Vantorel");
}

} // namespace
} // namespace vantorel

namespace vantorel {
namespace {

TEST(Program, ExecutablePathCanBeSetAndRestored) {
    const std::string real = ExecutablePath();
    EXPECT_NE(real.find("test_common"), std::string::npos);
    {
        ScopedExecutablePath scoped("/opt/vantorel/bin/PELORIN");
        EXPECT_EQ(ProgramFolder(), "/opt/vantorel/bin/");
        EXPECT_EQ(ExecutableName(), "PELORIN");
    }
    EXPECT_EQ(ExecutablePath(), real);
}

} // namespace
} // namespace vantorel
