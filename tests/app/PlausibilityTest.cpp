// Damaged and wrong inputs end doubtful (a warning) or failed (an error), never clean; the
// sample as it is, and a picture given its time, end clean.
#include "app/ProcessingRun.h"

#include "SamplePass.h"
#include "SampleProduct.h"
#include "TempDir.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "imaging/zorPNGImage.h"
#include "orbit/ElementSetCheck.h"
#include "pass/Plausibility.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace vantorel {
namespace {

using testing::kSampleImage;
using testing::kSource;
using testing::TempDir;

// The sample's first line, as its .STAT files give it (11:01:00.000 on a clock 3 h ahead).
const TDateTime kSampleStart = EncodeDateTime(2020, 9, 27, 8, 1, 0);
const std::string kLine1 =
    "1 40069U 14037A   20271.10206173 -.00000043  00000-0 -42512-6 0  9995";
const std::string kLine2 =
    "2 40069  98.4943 304.7538 0005678 359.8115   0.3056 14.20675232322649";

std::string Replaced(std::string line, const std::string& from, const std::string& to,
                     bool fixChecksum = true) {
    line.replace(line.find(from), from.size(), to);
    if (fixChecksum) {
        line[68] = static_cast<char>('0' + ElementLineChecksum(line));
    }
    return line;
}

// The sample's picture and .STAT files in dir, the .STAT files' lines as given.
std::string SampleCopy(const TempDir& dir, const std::string& stat = {},
                       const std::string& name = "2020_09_27_08_00_58_64.bmp") {
    std::filesystem::copy_file(kSampleImage, dir / name);
    for (const char* channel : {"64", "65", "68"}) {
        const std::string file = std::string("2020_09_27_08_00_58_") + channel + ".stat";
        if (stat.empty()) {
            std::filesystem::copy_file(kSource + "/samples/" + file, dir / file);
        } else {
            dir.Write(file, stat);
        }
    }
    return dir / name;
}

// The sample with a Kepler folder of one set, its lines as given.
std::string WithSet(const TempDir& dir, const std::string& line1, const std::string& line2) {
    std::filesystem::create_directories(dir / "keps");
    dir.Write("keps/meteor.txt", "METEOR-M 2\n" + line1 + "\n" + line2 + "\n");
    return SampleCopy(dir);
}

// The sample as a product whose line times come from `at` (seconds after the start).
std::string ProductTimed(const TempDir& dir, const std::function<double(int line)>& at) {
    std::vector<TDateTime> own(4000);
    for (int line = 0; line < 4000; ++line) {
        own[static_cast<std::size_t>(line)] = kSampleStart + at(line) / kSecondsPerDay;
    }
    return testing::WriteSampleProduct(dir, *TLineTimes::FromOwnTimes(own, kDefaultLinePeriodDays));
}

// The sample as a product with an element set of its own, the Kepler folder empty.
std::string ProductWithSet(const TempDir& dir, const std::string& line2) {
    std::filesystem::create_directories(dir / "keps");
    TBitmap picture;
    picture.LoadFromFile(kSampleImage);
    TLineTimes times;
    times.Start = kSampleStart;
    return testing::WriteSampleProduct(dir, picture, times, {{"1", 0, 4000}},
                                       {"METEOR-M 2", kLine1, line2});
}

// A bitmap file of 8 bits with no columns and 4000 rows.
std::string NoColumns(const TempDir& dir) {
    std::string bmp(14 + 40 + 1024, '\0');
    auto put = [&bmp](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            bmp[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put(2, static_cast<std::uint32_t>(bmp.size()), 4);
    put(10, 14 + 40 + 1024, 4);
    put(14, 40, 4);
    put(18, 0, 4);    // width
    put(22, 4000, 4); // height
    put(26, 1, 2);
    put(28, 8, 2);
    const std::string name = dir.Write("2020_09_27_08_00_58_64.bmp", bmp);
    SampleCopy(dir, {}, "unused.bmp");
    return name;
}

// A narrow PNG far taller than any pass.
std::string TallPng(const TempDir& dir) {
    TBitmap tall;
    tall.SetPixelFormat(TPixelFormat::pf8bit);
    tall.SetSize(8, 65536);
    TPngImage png;
    png.AssignBitmap(tall);
    const std::string name = dir / "2020_09_27_08_00_58_64.png";
    png.SaveToFile(name);
    return name;
}

struct Row {
    const char* name;
    std::function<std::string(const TempDir&)> input;
    std::optional<TDateTime> start;
    TPassIssue issue; ///< None: a clean run
    bool ends;        ///< an error: no picture
};

TEST(Plausibility, DamagedAndWrongInputsNeverEndClean) {
    EnsureGuiApplication();
    testing::ProgramFolder program;
    FixedClock clock(EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0);
    ScopedClock scoped(clock);
    const std::vector<Row> rows = {
        {"the sample as it is", [](const TempDir& d) { return SampleCopy(d); }, {},
         TPassIssue::None, false},
        {"a picture of no decoder's naming, given its time",
         [](const TempDir& d) { return SampleCopy(d, {}, "pass.bmp"); }, kSampleStart,
         TPassIssue::None, false},
        {"no time at all", [](const TempDir& d) { return SampleCopy(d, {}, "pass.bmp"); }, {},
         TPassIssue::NoPassTime, true},
        {"product times all equal",
         [](const TempDir& d) { return ProductTimed(d, [](int) { return 0.0; }); }, {},
         TPassIssue::LineTimes, true},
        {"product times reversed",
         [](const TempDir& d) {
             return ProductTimed(d, [](int line) { return (4000 - line) * kDefaultLinePeriodSeconds; });
         },
         {}, TPassIssue::LineTimes, true},
        {"product times zigzag",
         [](const TempDir& d) {
             return ProductTimed(d, [](int line) {
                 return (line + (line / 8 % 2 == 0 ? 0 : -16)) * kDefaultLinePeriodSeconds;
             });
         },
         {}, TPassIssue::LineTimes, true},
        {"product times 1e5 s apart",
         [](const TempDir& d) { return ProductTimed(d, [](int line) { return line / 8 * 1e5; }); },
         {}, TPassIssue::PassTooLong, true},
        {".STAT empty", [](const TempDir& d) { return SampleCopy(d, " "); }, {},
         TPassIssue::StatNotUsed, false},
        {".STAT clock garbage",
         [](const TempDir& d) { return SampleCopy(d, "xx:01:00.000\n4000 lines\n0,1538925\n"); },
         {}, TPassIssue::StatNotUsed, false},
        {".STAT period 0.11 s",
         [](const TempDir& d) { return SampleCopy(d, "11:01:00.000\n4000 lines\n0,11\n"); }, {},
         TPassIssue::LineTimes, true},
        {".STAT period 9.9 s",
         [](const TempDir& d) { return SampleCopy(d, "11:01:00.000\n4000 lines\n9,9\n"); }, {},
         TPassIssue::LineTimes, true},
        {".STAT counts other lines",
         [](const TempDir& d) { return SampleCopy(d, "11:01:00.000\n3000 lines\n0,1538925\n"); },
         {}, TPassIssue::StatLineCount, false},
        {"element set edited, checksum not",
         [](const TempDir& d) {
             return WithSet(d, kLine1, Replaced(kLine2, "98.4943", "98.4953", false));
         },
         {}, TPassIssue::ElementSetChecksum, false},
        {"element set of a decaying orbit",
         [](const TempDir& d) { return WithSet(d, kLine1, Replaced(kLine2, "14.20675232", "16.50000000")); },
         {}, TPassIssue::NotMeteorOrbit, true},
        {"a product's element set without mean motion",
         [](const TempDir& d) {
             return ProductWithSet(d, Replaced(kLine2, "14.20675232", "00.00000000"));
         },
         {}, TPassIssue::NotMeteorOrbit, true},
        {"a pass in 2100", [](const TempDir& d) { return SampleCopy(d); },
         EncodeDateTime(2100, 1, 1, 8, 1, 0), TPassIssue::NoElementSetNearPass, true},
        {"N2 in 2025, with a set of then",
         [](const TempDir& d) { return WithSet(d, Replaced(kLine1, "20271.", "25270."), kLine2); },
         EncodeDateTime(2025, 9, 27, 8, 1, 0), TPassIssue::SatelliteSilent, false},
        {"the coasts ten minutes away", [](const TempDir& d) { return SampleCopy(d); },
         kSampleStart + 600.0 / kSecondsPerDay, TPassIssue::CoastsMismatch, false},
        {"a bitmap of no columns", NoColumns, {}, TPassIssue::NoColumns, true},
        {"65536 lines", TallPng, {}, TPassIssue::PassTooLong, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string input = row.input(dir);
        RecordingNotifier notifier;
        struct TPictures final : IRunView {
            int shown = 0;
            void PictureChanged() override { ++shown; }
        } view;
        TProcessingRun run(notifier, &view);
        run.Setup().RequirePassTime = true;
        run.Setup().Start = row.start;
        run.Start(std::filesystem::exists(dir / "keps") ? dir / "keps" : testing::kSampleKeps,
                  "1.0");
        std::vector<TReportEntry> told;
        const bool finished = run.ProcessFile(input, [&](const TReportEntry& e) {
            told.push_back(e);
            // A screen shows the picture a warning about its coasts is about.
            EXPECT_TRUE(e.Issue != TPassIssue::CoastsMismatch || view.shown > 0);
        });
        EXPECT_EQ(finished, !row.ends);
        bool found = false;
        std::string said;
        for (const TReportEntry& e : told) {
            if (e.Kind == TReportEntry::TKind::Account) {
                continue;
            }
            said += e.Text + "\n";
            if (row.issue == TPassIssue::None) {
                ADD_FAILURE() << e.Text;
            }
            found |= e.Issue == row.issue &&
                     (e.Kind == TReportEntry::TKind::Error) == row.ends;
        }
        EXPECT_TRUE(found || row.issue == TPassIssue::None) << said;
    }
}

// A SatDump folder of pictures and dataset.json, no product.cbor: the first line's time
// comes from the picture's coasts, searched minutes around the dataset's time; a picture
// with no coasts to tell it fails rather than being drawn from a guess.
TEST(Plausibility, AFolderWithoutProductIsTimedByItsCoasts) {
    EnsureGuiApplication();
    testing::ProgramFolder program;
    FixedClock clock(EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0);
    ScopedClock scoped(clock);
    TempDir dir;
    std::filesystem::create_directories(dir / "pass/MSU-MR");
    // SatDump's time lies within the pass, here 200 s after its first line.
    dir.Write("pass/dataset.json",
              "{\"products\": [\"MSU-MR\"], \"satellite\": \"METEOR-M2\", \"timestamp\": " +
                  Format("%.3f", (kSampleStart - 25569.0) * kSecondsPerDay + 200.0) + "}");
    TBitmap picture;
    picture.LoadFromFile(kSampleImage);
    TPngImage png;
    png.AssignBitmap(picture);
    png.SaveToFile(dir / "pass/MSU-MR/MSU-MR-1.png");

    RecordingNotifier notifier;
    TProcessingRun run(notifier);
    run.Setup().RequirePassTime = true;
    run.Start(testing::kSampleKeps, "1.0");
    std::string said;
    ASSERT_TRUE(run.ProcessFile(dir / "pass/MSU-MR",
                                [&said](const TReportEntry& e) { said += e.Text + "\n"; }))
        << said;
    EXPECT_EQ(run.Pass()->Times.StartFrom, TStartSource::Coasts);
    EXPECT_NEAR((run.Pass()->Times.Start - kSampleStart) * kSecondsPerDay, 0.0,
                kDefaultLinePeriodSeconds);

    // Flat: nothing to find.
    for (int y = 0; y < picture.Height(); ++y) {
        std::fill_n(picture.ScanLine(y), picture.Width(), 128);
    }
    png.AssignBitmap(picture);
    png.SaveToFile(dir / "pass/MSU-MR/MSU-MR-1.png");
    EXPECT_FALSE(run.ProcessFile(dir / "pass/MSU-MR"));
    EXPECT_FALSE(run.Pass());
}

// The real N2-4 folder without product.cbor, when VANTOREL_REALPASSES names its folder:
// its dataset.json says 19:40:04, and the orbit puts N2-4 over the Great Lakes, some 1400
// lines into the picture, at 19:40-19:42; the first line's time is found a few minutes
// before, every channel's, and the pass placed there aligns on its coasts.
TEST(Plausibility, TheRealFolderWithoutProductIsTimedByItsCoasts) {
    const char* folder = std::getenv("VANTOREL_REALPASSES");
    if (folder == nullptr || *folder == '\0') {
        GTEST_SKIP() << "VANTOREL_REALPASSES is not set: the real pass is not processed";
    }
    EnsureGuiApplication();
    testing::ProgramFolder program;
    for (const char* name : {"Scanner.cal", "Boundaries.b"}) {
        std::filesystem::copy_file(kSource + "/data/" + name, program.folder / name);
    }
    for (const char* channel : {"1", "2", "3"}) {
        SCOPED_TRACE(channel);
        RecordingNotifier notifier;
        TProcessingRun run(notifier);
        run.Setup().RequirePassTime = true;
        run.Setup().Channel = channel;
        run.Start(kSource + "/tests/data/keps/2026-05-23/", "1.0");
        std::string said;
        ASSERT_TRUE(run.ProcessFile(std::string(folder) + "/m2-4-2026-05-16-no-product/MSU-MR",
                                    [&said](const TReportEntry& e) { said += e.Text + "\n"; }))
            << said;
        const TDateTime start = run.Pass()->Times.Start;
        EXPECT_GT(start, EncodeDateTime(2026, 5, 16, 19, 34, 0));
        EXPECT_LT(start, EncodeDateTime(2026, 5, 16, 19, 38, 0));
        // The Great Lakes (Lake Michigan's south end, 41.6 N 87.5 W) lie in the picture.
        int x = 0, y = 0;
        EXPECT_TRUE(run.PicturePosition(-87.5f, 41.6f, x, y));
        EXPECT_GT(y, 0);
        EXPECT_LT(y, run.DisplayBitmap().Height());
    }
}

// What the fit leaves is judged, and a fit not done says so once.
TEST(Plausibility, TheFitIsChecked) {
    TPassReport report;
    CheckFit(true, 11.0, "p.png", report);
    EXPECT_TRUE(report.Entries().empty());
    CheckFit(true, 413.0, "p.png", report);
    EXPECT_TRUE(report.Has(TPassIssue::FitResidual));
    CheckFit(false, 0.0, "p.png", report);
    CheckFit(false, 0.0, "p.png", report);
    EXPECT_EQ(report.Entries().size(), 2u);
}

} // namespace
} // namespace vantorel
