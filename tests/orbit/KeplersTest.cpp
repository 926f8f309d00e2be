#include "orbit/Keplers.h"

#include "common/Format.h"
#include "common/Notifier.h"
#include "common/Program.h"
#include "common/TextFile.h"

#include "TempDir.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

namespace vantorel {
namespace {

using testing::TempDir;

/// A Meteor-M 2 element set with a chosen epoch (two-digit year, day of year with
/// fraction) and revolution number; both lines 69 characters.
std::pair<std::string, std::string> Set(int year, double day, int revolution = 1000) {
    return {
        Format("1 40069U 14037A   %02d%012.8f  .00000026  00000-0  32820-4 0  9992", year, day),
        Format("2 40069  98.7619 174.2145 0004879 312.5094  47.5671 14.20606131%05d4", revolution)};
}

/// A history of sets of 2024 at the given days, revolution numbers rising.
std::string History(const std::vector<double>& days) {
    std::string text;
    int revolution = 100;
    for (double day : days) {
        const auto [l1, l2] = Set(24, day, revolution++);
        text += l1 + "\r\n" + l2 + "\r\n";
    }
    return text;
}

TDateTime Day2024(double day) {
    return EncodeDate(2024, 1, 1) + day - 1.0;
}

std::vector<std::string> SharedHistory() {
    return testing::ReadTestDataLines("keps/METEOR-M2-history.txt");
}

TEST(EpochOfLine, ReadsTheTwoDigitYearAndTheDay) {
    const auto lines = SharedHistory();
    EXPECT_NEAR(EpochOfLine(lines[0]), EncodeDate(2015, 1, 1) + 118.13829858, 1e-9);
    EXPECT_DOUBLE_EQ(EpochOfLine(Set(56, 1.5).first), EncodeDate(2056, 1, 1) + 0.5);
    EXPECT_DOUBLE_EQ(EpochOfLine(Set(57, 1.5).first), EncodeDate(1957, 1, 1) + 0.5);
    EXPECT_DOUBLE_EQ(EpochOfLine(Set(0, 366.25).first), EncodeDate(2000, 12, 31) + 0.25);

    std::string line = Set(24, 10.0).first;
    EXPECT_EQ(EpochOfLine(Set(24, 10.0).second), 0.0); // a line 2
    EXPECT_EQ(EpochOfLine(" " + line), 0.0);
    EXPECT_EQ(EpochOfLine(line.substr(0, 20)), 0.0); // no day
    EXPECT_EQ(EpochOfLine("1"), 0.0);
    std::string badYear = line;
    badYear.replace(18, 2, "x4");
    EXPECT_DOUBLE_EQ(EpochOfLine(badYear), EncodeDate(2000, 1, 1) + 9.0);
    EXPECT_EQ(EpochOfLine(Set(24, 367.0).first), 0.0);
}

TEST(IsElementLine, NeedsSixtyNineCharactersAndTheLineNumberFirst) {
    const auto [l1, l2] = Set(24, 10.0);
    EXPECT_TRUE(IsElementLine(l1));
    EXPECT_TRUE(IsElementLine(l2 + "  "));
    EXPECT_FALSE(IsElementLine(" " + l1));
    EXPECT_FALSE(IsElementLine(l1 + "0"));
    EXPECT_FALSE(IsElementLine(l1.substr(0, 68)));
    std::string third = l1; // (not "3" + substr: g++ 12 -O3 warns about that falsely)
    third[0] = '3';
    EXPECT_FALSE(IsElementLine(third));
    EXPECT_FALSE(IsElementLine("METEOR-M 2"));
}

std::vector<int> Revolutions(const std::vector<std::string>& lines) {
    std::vector<int> r;
    for (size_t k = 1; k < lines.size(); k += 2) {
        r.push_back(std::stoi(lines[k].substr(63, 5)));
    }
    return r;
}

std::vector<std::string> Sets(const std::vector<int>& revolutions) {
    std::vector<std::string> lines;
    double day = 1.0;
    for (int r : revolutions) {
        const auto [l1, l2] = Set(24, day++, r);
        lines.push_back(l1);
        lines.push_back(l2);
    }
    return lines;
}

TEST(RemoveOutOfOrderSets, DropsLowerRevolutionsFromTheThirdSetOn) {
    // The first two sets are never examined; the third is the reference.
    auto lines = Sets({900, 50, 300, 200, 301, 250, 400});
    RemoveOutOfOrderSets(lines);
    EXPECT_EQ(Revolutions(lines), (std::vector<int>{900, 50, 300, 301, 400}));

    // The five-digit counter wraps after 99999.
    lines = Sets({1, 2, 99400, 99990, 10, 600, 20});
    RemoveOutOfOrderSets(lines);
    EXPECT_EQ(Revolutions(lines), (std::vector<int>{1, 2, 99400, 99990, 10, 600}));

    // Equal numbers stay; fewer than three sets are left alone.
    lines = Sets({5, 5, 5});
    RemoveOutOfOrderSets(lines);
    EXPECT_EQ(lines.size(), 6u);
    lines = Sets({9, 1});
    RemoveOutOfOrderSets(lines);
    EXPECT_EQ(lines.size(), 4u);

    // A stray line after the reference set reads as revolution 0 and goes; so does a
    // lone last line.
    lines = Sets({1, 2, 3});
    lines.insert(lines.begin() + 6, "METEOR-M 2");
    lines.push_back(lines[0]);
    RemoveOutOfOrderSets(lines);
    EXPECT_EQ(lines.size(), 6u);
}

/// A program folder in a temporary folder: <tmp>/bin/vantorel.
class KeplerFolderTest : public ::testing::Test {
protected:
    std::string Keps() const { return dir_ / "bin/Keps/"; }
    void WriteMain(const std::string& text, const std::string& name = "METEOR-M2.txt") {
        dir_.Write("bin/Keps/" + name, text);
    }
    void WriteUpdates(const std::string& text) {
        dir_.Write("bin/Keps/Updates/METEOR-M2.txt", text);
    }
    TElementSetChoice Select(TDateTime t) {
        return SelectElementSet("METEOR-M2", "", t, notifier_);
    }

    TempDir dir_;
    ScopedExecutablePath program_{dir_ / "bin/vantorel"};
    RecordingNotifier notifier_;
};

TEST_F(KeplerFolderTest, FolderIsLookedForBesideTheProgramThenAboveThenThroughTheSibling) {
    const std::string wanted =
        "Folder for Kepler data: " + dir_.Path() + "bin/Keps/ was not found.";
    auto files = FindKeplerFiles("METEOR-M2", "");
    EXPECT_FALSE(files.Success);
    EXPECT_EQ(files.Message, wanted);
    EXPECT_EQ(KeplerFolder(""), "");

    // The sibling's folder: "/source/" folders look one level up.
    const std::string tarnwick = dir_.Path() + "tarnwick/Source/tarnwick.exe";
    EXPECT_EQ(KeplerFolder(tarnwick), "");
    dir_.Write("tarnwick/Keps/METEOR-M2.txt", History({1.0, 2.0}));
    EXPECT_EQ(KeplerFolder(tarnwick), dir_.Path() + "tarnwick/Source/../Keps/");
    files = FindKeplerFiles("METEOR-M2", tarnwick);
    EXPECT_TRUE(files.Success);
    EXPECT_EQ(files.MainFile, dir_.Path() + "tarnwick/Keps/METEOR-M2.txt");
    TKeplerData data;
    EXPECT_FALSE(data.GetElements("METEOR-M2", "40069", Day2024(2), notifier_).Success);
    data.TarnwickPath = tarnwick;
    EXPECT_EQ(data.GetElements("METEOR-M2", "40069", Day2024(2), notifier_).MainFile,
              files.MainFile);

    dir_.Write("Keps/METEOR-M2.txt", History({1.0}));
    EXPECT_EQ(KeplerFolder(tarnwick), dir_.Path() + "bin/../Keps/");
    WriteMain(History({1.0, 2.0, 3.0}));
    EXPECT_EQ(KeplerFolder(tarnwick), Keps());
    files = FindKeplerFiles("METEOR-M2", tarnwick);
    EXPECT_EQ(files.Lines.size(), 6u);
}

TEST_F(KeplerFolderTest, MissingFilesNameBothCandidates) {
    dir_.Write("bin/Keps/Other.txt", "");
    const auto files = FindKeplerFiles("METEOR-M2", "");
    EXPECT_FALSE(files.Success);
    EXPECT_EQ(files.Message, "****  WARNING  ****\r\rMissing Kepler data file(s) for: METEOR-M2\r\r"
                             "I expected to find either: \r\r" +
                                 Keps() + "METEOR-M2.txt\r\ror:\r\r" + Keps() +
                                 "Updates/METEOR-M2.txt");
    EXPECT_EQ(files.MainFile, "");
    EXPECT_EQ(files.UpdatesFile, "");
    // Shown only because the multi-Kepler list has nothing either.
    TKeplerData data;
    EXPECT_FALSE(data.GetElements("METEOR-M2", "40069", Day2024(1), notifier_).Success);
    ASSERT_EQ(notifier_.entries.size(), 1u);
    EXPECT_EQ(notifier_.entries[0].text, files.Message);
}

TEST_F(KeplerFolderTest, MainAndUpdatesFilesAreJoinedAndTrimmed) {
    // Name lines and blank lines at both ends go; the updates file's lines are trimmed.
    const auto [a1, a2] = Set(24, 1.0, 100);
    const auto [b1, b2] = Set(24, 2.0, 101);
    const auto [c1, c2] = Set(24, 3.0, 102);
    WriteMain("METEOR-M 2\n" + a1 + "\n" + a2 + "  \n" + b1 + "\n" + b2 + "\n\nend\n",
              "meteor-m2.TXT");
    WriteUpdates("METEOR-M 2\n  " + c1 + "\n\t" + c2 + "\n");
    const auto files = FindKeplerFiles("METEOR-M2", "");
    ASSERT_TRUE(files.Success) << files.Message;
    EXPECT_EQ(files.MainFile, Keps() + "meteor-m2.TXT");
    EXPECT_EQ(files.UpdatesFile, Keps() + "Updates/METEOR-M2.txt");
    EXPECT_EQ(files.Lines, (std::vector<std::string>{a1, a2 + "  ", b1, b2, c1, c2}));
}

TEST_F(KeplerFolderTest, MalformedHistoriesAreRefusedWithTheirMessages) {
    // Only the updates file, with a single line: the main name is empty in the message.
    const auto [l1, l2] = Set(24, 1.0);
    WriteUpdates(l1 + "\n");
    auto files = FindKeplerFiles("METEOR-M2", "");
    EXPECT_FALSE(files.Success);
    EXPECT_EQ(files.MainFile, "");
    EXPECT_EQ(files.Message,
              "Kepler data file:  is invalid because it has less than two lines of text!");

    // A line 2 first.
    WriteMain(l2 + "\n" + l1 + "\n" + l2 + "\n");
    files = FindKeplerFiles("METEOR-M2", "");
    EXPECT_FALSE(files.Success);
    EXPECT_EQ(files.Message, "Kepler data file: " + Keps() +
                                 "METEOR-M2.txt is invalid because lines 1 and 2 do not start "
                                 "with the characters 1 and 2!  Perhaps you left the satellite "
                                 "name in the file?   Here is what was found: \r\r" +
                                 l2 + "\r" + l1);
    const auto choice = Select(Day2024(1));
    EXPECT_FALSE(choice.Success);
    EXPECT_EQ(choice.Message, files.Message);
    EXPECT_TRUE(notifier_.entries.empty());
}

TEST_F(KeplerFolderTest, NoaaFifteenSkipsAFirstSetFlaggedH) {
    auto [h1, h2] = Set(24, 1.0, 100);
    h1[16] = 'H';
    const auto [l1, l2] = Set(24, 2.0, 101);
    dir_.Write("bin/Keps/NOAA-15.txt", h1 + "\n" + h2 + "\n" + l1 + "\n" + l2 + "\n");
    EXPECT_EQ(FindKeplerFiles("noaa-15", "").Lines, (std::vector<std::string>{l1, l2}));
    dir_.Write("bin/Keps/NOAA-18.txt", h1 + "\n" + h2 + "\n" + l1 + "\n" + l2 + "\n");
    EXPECT_EQ(FindKeplerFiles("NOAA-18", "").Lines.size(), 4u);
}

TEST_F(KeplerFolderTest, OneOrTwoSetsGiveTheLastWhateverTheTime) {
    const auto [a1, a2] = Set(24, 10.0);
    const auto [b1, b2] = Set(24, 20.0, 2000);
    WriteMain(a1 + "\n" + a2 + "\n");
    auto c = Select(Day2024(100));
    ASSERT_TRUE(c.Success);
    EXPECT_EQ(c.Line1, a1);
    EXPECT_DOUBLE_EQ(c.Offset, -90.0);

    // An odd line count ignores the last line.
    WriteMain(a1 + "\n" + a2 + "\n" + b1 + "\n" + b2 + "\n" + a1 + "\n");
    c = Select(Day2024(5));
    ASSERT_TRUE(c.Success);
    EXPECT_EQ(c.Line1, b1);
    EXPECT_EQ(c.Line2, b2);
    EXPECT_DOUBLE_EQ(c.Offset, 15.0);
    EXPECT_EQ(c.MainFile, Keps() + "METEOR-M2.txt");
    EXPECT_EQ(c.UpdatesFile, "");

    // The updates file alone serves as well.
    std::filesystem::remove(Keps() + "METEOR-M2.txt");
    WriteUpdates(a1 + "\n" + a2 + "\n" + b1 + "\n" + b2 + "\n");
    c = Select(Day2024(5));
    ASSERT_TRUE(c.Success);
    EXPECT_EQ(c.Line1, b1);
    EXPECT_EQ(c.MainFile, "");
    EXPECT_EQ(c.UpdatesFile, Keps() + "Updates/METEOR-M2.txt");
}

TEST_F(KeplerFolderTest, SearchClampsWalksAndStopsWithinHalfADay) {
    WriteMain(History({0.5, 10, 20, 30, 40, 49.6, 49.9, 50, 60, 70, 80, 90, 100}));
    auto epochOf = [&](TDateTime t) {
        const auto c = Select(t);
        EXPECT_TRUE(c.Success);
        return EpochOfLine(c.Line1) - Day2024(0);
    };
    // Before the first and after the last epoch.
    EXPECT_NEAR(epochOf(Day2024(-400)), 0.5, 1e-9);
    EXPECT_NEAR(epochOf(Day2024(900)), 100, 1e-9);
    // The interpolation lands on 49.6, within two days, so the search starts four sets
    // earlier (10) and walks forward: it stops at 49.6, the first within half a day,
    // though 49.9 is nearer and 50.0 is the time itself.
    EXPECT_NEAR(epochOf(Day2024(50)), 49.6, 1e-9);
    // Far from the time: the walk goes on while the offset does not grow (ties move on).
    EXPECT_NEAR(epochOf(Day2024(25)), 30, 1e-9);
    EXPECT_NEAR(epochOf(Day2024(83)), 80, 1e-9);
    const auto c = Select(Day2024(83));
    EXPECT_NEAR(c.Offset, -3.0, 1e-9);
    EXPECT_TRUE(notifier_.entries.empty());
}

TEST_F(KeplerFolderTest, UndatableOrUnorderedHistoriesAreShownAtOnce) {
    const std::string history = History({1, 2, 3});
    auto lines = SplitLines(history);
    const std::string source = "file: " + Keps() + "METEOR-M2.txt";

    // An undatable first set is only reported when the last cannot be dated after it.
    auto first = lines;
    first[0].replace(20, 3, "ABC");
    first[4].replace(20, 3, "ABC");
    WriteMain(first[0] + "\n" + first[1] + "\n" + first[2] + "\n" + first[3] + "\n" + first[4] +
              "\n" + first[5] + "\n");
    EXPECT_FALSE(Select(Day2024(2)).Success);
    auto last = lines;
    last[4].replace(20, 3, "999");
    WriteMain(last[0] + "\n" + last[1] + "\n" + last[2] + "\n" + last[3] + "\n" + last[4] + "\n" +
              last[5] + "\n");
    WriteUpdates("\n");
    EXPECT_FALSE(Select(Day2024(2)).Success);
    WriteMain(History({5, 4, 5}));
    const auto c = Select(Day2024(2));
    EXPECT_FALSE(c.Success);
    EXPECT_EQ(c.Message, "");

    ASSERT_EQ(notifier_.entries.size(), 3u);
    EXPECT_EQ(notifier_.entries[0].text, "Could not determine the date of the first Keplers  in " +
                                             source + ".  The first two lines were seen as: \r\r" +
                                             first[0] + "\r" + first[1]);
    const std::string both =
        "files: " + Keps() + "METEOR-M2.txt and " + Keps() + "Updates/METEOR-M2.txt";
    EXPECT_EQ(notifier_.entries[1].text, "Could not determine the date of the last Keplers  in " +
                                             both + ".  The last two lines were seen as: \r\r" +
                                             last[4] + "\r" + last[5]);
    lines = SplitLines(History({5, 4, 5}));
    EXPECT_EQ(notifier_.entries[2].text,
              "The last Kepler sets in " + both +
                  " are dated earlier or the same date as the first Kepler  sets so I cannot "
                  "interpolate between them.  Please check  these file(s) carefully.  The first "
                  "date found was: 2024-January-05 00:00 and the last date found was: "
                  "2024-January-05 00:00.  The start and end of the file was seen as: \r\r" +
                  lines[0] + "\r" + lines[1] + "\r\r" + lines[4] + "\r" + lines[5]);
    EXPECT_FALSE(notifier_.entries[0].isBox);
}

TEST_F(KeplerFolderTest, RealHistoryGivesTheNearestSetOrOneWithinHalfADay) {
    const auto lines = SharedHistory();
    std::string text;
    for (const auto& l : lines) {
        text += l + "\r\n";
    }
    WriteMain(text);
    std::vector<TDateTime> epochs;
    for (size_t k = 0; k + 1 < lines.size(); k += 2) {
        epochs.push_back(EpochOfLine(lines[k]));
    }
    ASSERT_EQ(epochs.size(), 110u);
    int nearest = 0;
    int withinHalfDay = 0;
    for (TDateTime t = epochs.front() - 30.0; t < epochs.back() + 30.0; t += 3.7) {
        const auto c = Select(t);
        ASSERT_TRUE(c.Success);
        double best = 1e9;
        for (TDateTime e : epochs) {
            best = std::min(best, std::fabs(e - t));
        }
        EXPECT_NEAR(c.Offset, EpochOfLine(c.Line1) - t, 1e-12);
        if (std::fabs(std::fabs(c.Offset) - best) < 1e-9) {
            ++nearest;
        } else {
            EXPECT_LT(std::fabs(c.Offset), 0.5) << FormatDateTime("yyyy-mm-dd hh:nn", t);
            ++withinHalfDay;
        }
    }
    EXPECT_GT(nearest, 1000);
    EXPECT_TRUE(notifier_.entries.empty());
}

TEST_F(KeplerFolderTest, NearerSourceWinsAndTiesGoToTheHistory) {
    WriteMain(History({10, 20, 30}));
    const auto [m1, m2] = Set(24, 26.0);
    dir_.Write("multi/weather.txt", "METEOR-M 2\n" + m1 + "\n" + m2 + "\n");
    TKeplerData data;
    data.SetPath(dir_ / "multi");
    EXPECT_EQ(data.Path, dir_ / "multi");
    EXPECT_EQ(data.SatelliteCount(), 1);

    auto c = data.GetElements("METEOR-M2", "40069", Day2024(25.5), notifier_);
    ASSERT_TRUE(c.Success);
    EXPECT_EQ(c.Line1, m1);
    EXPECT_DOUBLE_EQ(c.Offset, 0.5);
    EXPECT_EQ(c.MainFile, "weather.txt");
    EXPECT_EQ(c.UpdatesFile, "");

    // 28.0 lies as far from 26 as from 30.
    WriteUpdates("\n");
    c = data.GetElements("METEOR-M2", "40069", Day2024(28), notifier_);
    ASSERT_TRUE(c.Success);
    EXPECT_EQ(c.Line1, Set(24, 30.0).first);
    EXPECT_EQ(c.MainFile, Keps() + "METEOR-M2.txt");
    EXPECT_EQ(c.UpdatesFile, Keps() + "Updates/METEOR-M2.txt");

    // Only the multi-Kepler set: its full path.
    c = data.GetElements("METEOR-M2 X", "40069", Day2024(28), notifier_);
    ASSERT_TRUE(c.Success);
    EXPECT_EQ(c.MainFile, dir_ / "multi/weather.txt");
    EXPECT_TRUE(notifier_.entries.empty());
    // Neither: the per-satellite message is shown.
    EXPECT_FALSE(data.GetElements("METEOR-M2 X", "99999", Day2024(28), notifier_).Success);
    ASSERT_EQ(notifier_.entries.size(), 1u);
    EXPECT_NE(notifier_.entries[0].text.find("Missing Kepler data file(s) for: METEOR-M2 X"),
              std::string::npos);
}

} // namespace
} // namespace vantorel
