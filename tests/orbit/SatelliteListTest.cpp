#include "TempDir.h"
#include "TestData.h"

#include "common/DateTime.h"
#include "orbit/Satellite.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantorel {
namespace {


// Two Meteor-M 2 sets a day apart and a NOAA 18 set (real lines, epochs in 2024).
const std::string kMeteorOld1 =
    "1 40069U 14037A   24049.60463985  .00000316  00000+0  16527-3 0  9997";
const std::string kMeteorOld2 =
    "2 40069  98.4328  49.2175 0005597 358.3545   1.7613 14.20894590498643";
const std::string kMeteorNew1 =
    "1 40069U 14037A   24244.58341547  .00000495  00000-0  24728-3 0  9991";
const std::string kMeteorNew2 =
    "2 40069  98.4425 235.4727 0006641 131.1049 229.0703 14.21039520526338";
const std::string kNoaa1 = "1 28654U 05018A   24243.75797502  .00000533  00000-0  30732-3 0  9995";
const std::string kNoaa2 = "2 28654  98.8706 320.0940 0013856 208.0464 151.9963 14.13303826993792";

std::string Record(const std::string& name, const std::string& l1, const std::string& l2) {
    return name + "\n" + l1 + "\n" + l2 + "\n";
}

std::vector<std::string> Names(const TSatelliteList& list) {
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i) {
        names.push_back(list.Name(i));
    }
    return names;
}

TEST(SatelliteList, LoadsTheRealMultiSatelliteFile) {
    testing::TempDir dir;
    dir.Write("weather.tle", testing::ReadTestData("keps/weather-2024-08-31.txt"));
    const TSatelliteList list(dir.Path().substr(0, dir.Path().size() - 1));
    EXPECT_EQ(list.Folder, dir.Path());
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"ISS (ZARYA)", "METEOR-M 2", "METEOR-M2 2", "METEOR-M2 3",
                                        "METEOR-M2 4", "NOAA 15", "NOAA 18", "NOAA 19"}));
    const int meteor = list.IndexOfCatalogueNumber("40069");
    ASSERT_GE(meteor, 0);
    EXPECT_EQ(list.Name(meteor), "METEOR-M 2");
    const TSatellite* s = list.SatelliteAt(meteor);
    EXPECT_EQ(s->SourceFile, "weather.tle");
    EXPECT_EQ(s->Line1, kMeteorNew1);
    EXPECT_NEAR(s->EpochDateTime(), EncodeDateTime(2024, 8, 31, 14, 0, 7), 1.0 / 86400);
    EXPECT_EQ(list.IndexOf("noaa 18"), list.IndexOfCatalogueNumber("28654"));
    EXPECT_EQ(list.SatelliteAt(list.Count()), nullptr);
    EXPECT_EQ(list.SatelliteAt(-1), nullptr);
}

TEST(SatelliteList, KepsFolderKeepsTheNewestNamedSets) {
    // The folder also holds a history file without name lines and the 2017 sets in the
    // variant layout: neither displaces the named 2024 set of 40069.
    const TSatelliteList list(testing::TestDataPath("keps/"));
    EXPECT_EQ(list.Count(), 8);
    const TSatellite* s = list.SatelliteAt(list.IndexOfCatalogueNumber("40069"));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Line1, kMeteorNew1);
    EXPECT_EQ(s->SourceFile, "weather-2024-08-31.txt");
}

TEST(SatelliteList, NewestEpochWinsWithinAndAcrossFilesAndEqualEpochKeepsTheFirst) {
    testing::TempDir dir;
    // Within one file, old then new.
    const std::string within =
        dir.Write("a.txt", Record("METEOR-M 2", kMeteorOld1, kMeteorOld2) +
                               Record("METEOR-M 2", kMeteorNew1, kMeteorNew2));
    TSatelliteList list;
    list.LoadFromFile(within);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.SatelliteAt(0)->Line1, kMeteorNew1);

    // Across files: an older set read later does not replace it, whatever its name.
    list.LoadFromFile(dir.Write("b.tle", Record("Meteor old name", kMeteorOld1, kMeteorOld2)));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.SatelliteAt(0)->SourceFile, "a.txt");

    // An equal epoch keeps the set read first.
    std::string same2 = kMeteorNew2;
    same2.replace(17, 8, "111.1111");
    list.LoadFromFile(dir.Write("c.txt", Record("METEOR-M 2", kMeteorNew1, same2)));
    EXPECT_EQ(list.SatelliteAt(0)->Line2, kMeteorNew2);
    EXPECT_EQ(list.SatelliteAt(0)->SourceFile, "a.txt");

    // The folder as a whole: masks in the order *.2li, *.tle, *.txt.
    dir.Write("z.2li", Record("METEOR-M 2", kMeteorNew1, kMeteorNew2));
    const TSatelliteList folder(dir.Path());
    EXPECT_EQ(folder.SatelliteAt(0)->SourceFile, "z.2li");
}

TEST(SatelliteList, MatchesByCatalogueNumberUnderAnotherName) {
    TSatelliteList list;
    ASSERT_NE(list.AddElementSet("/x/a.txt", "METEOR-M 2", kMeteorOld1, kMeteorOld2), nullptr);
    TSatellite* kept = list.AddElementSet("/x/b.txt", "METEOR-M2", kMeteorNew1, kMeteorNew2);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(Names(list), std::vector<std::string>{"METEOR-M2"});
    EXPECT_EQ(kept->SourceFile, "b.txt");
    // An older set under a third name returns the set kept.
    EXPECT_EQ(list.AddElementSet("/x/c.txt", "M2", kMeteorOld1, kMeteorOld2), kept);
    EXPECT_EQ(list.Count(), 1);
}

TEST(SatelliteList, NewerSetUnderANameHeldByAnotherSatelliteLosesNothing) {
    TSatelliteList list;
    list.AddElementSet("a", "METEOR-M 2", kMeteorOld1, kMeteorOld2);
    list.AddElementSet("a", "NOAA 18", kNoaa1, kNoaa2);
    // A newer 40069 set named like the NOAA entry: neither set already held is lost.
    EXPECT_EQ(list.AddElementSet("b", "noaa 18", kMeteorNew1, kMeteorNew2), nullptr);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.SatelliteAt(list.IndexOfCatalogueNumber("40069"))->Line1, kMeteorOld1);
    EXPECT_EQ(list.SatelliteAt(list.IndexOf("NOAA 18"))->CatalogueNumber, "28654");
}

TEST(SatelliteList, RefusesMismatchedOrMisnumberedLines) {
    TSatelliteList list;
    std::string other2 = kMeteorOld2;
    other2.replace(2, 5, "40070");
    EXPECT_EQ(list.AddElementSet("a", "X", kMeteorOld1, other2), nullptr);
    EXPECT_EQ(list.AddElementSet("a", "X", kMeteorOld2, kMeteorOld1), nullptr);
    std::string blank1 = kMeteorOld1, blank2 = kMeteorOld2;
    blank1.replace(2, 5, "     ");
    blank2.replace(2, 5, "     ");
    EXPECT_EQ(list.AddElementSet("a", "X", blank1, blank2), nullptr);
    EXPECT_EQ(list.Count(), 0);
}

TEST(SatelliteList, ToleratesTheLayoutsFoundInTheWild) {
    testing::TempDir dir;
    const std::string iss1 =
        "1 25544U 98067A   24244.17534722  .00020571  00000+0  36268-3 0  9990";
    const std::string iss2 =
        "2 25544  51.6393 315.1524 0006264 279.3498 202.5960 15.50068098470013";
    std::string brokenLine2 = kMeteorNew2;
    brokenLine2.replace(52, 11, " 0.00000000"); // a mean motion of 0: the model fails
    const std::string text =
        "\r\n--\r\nNOAA-N\r\n" + kNoaa1.substr(0, 68) + "\r\n" + kNoaa2 + "\r\n--\r\n" +
        "meteor-m 2 with a long name beyond 24\r\n" + "short line between\r\n" + kMeteorNew1 +
        "\r\n" + "another short one\r\n" + kMeteorNew2 + "\r\n" + "BROKEN\r\n" + kMeteorNew1 +
        "\r\n" + brokenLine2 + "\r\n" + "ISS (ZARYA)\r\n" + iss1 + "\r\n" + iss2 + "\r\n";
    TSatelliteList list;
    list.LoadFromFile(dir.Write("wild.txt", text));
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"ISS (ZARYA)", "METEOR-M 2 WITH A LONG N", "NOAA 18"}));
    // The 68-character line 1 was accepted.
    EXPECT_EQ(list.SatelliteAt(list.IndexOf("NOAA 18"))->Line1, kNoaa1.substr(0, 68));
}

TEST(SatelliteList, FileWithoutNameLinesYieldsNoSets) {
    testing::TempDir dir;
    TSatelliteList list;
    list.LoadFromFile(dir.Write("history.txt", testing::ReadTestData("keps/METEOR-M2-history.txt")));
    EXPECT_EQ(list.Count(), 0);
    list.LoadFromFile(dir.Write("pairs.txt", kMeteorOld1 + "\n" + kMeteorOld2 + "\n" + kMeteorNew1 +
                                                 "\n" + kMeteorNew2 + "\n"));
    EXPECT_EQ(list.Count(), 0);
}

TEST(SatelliteList, MissingFilesAndFoldersGiveAnEmptyList) {
    testing::TempDir dir;
    TSatelliteList list;
    list.LoadFromFile(dir / "absent.txt");
    list.ReadNotes(dir / "TLEnotes.txt");
    EXPECT_EQ(list.Count(), 0);
    const TSatelliteList none(dir / "no-such-folder");
    EXPECT_EQ(none.Count(), 0);
    EXPECT_EQ(none.Folder, dir / "no-such-folder/");
    const TSatelliteList unnamed("");
    EXPECT_EQ(unnamed.Count(), 0);
    EXPECT_EQ(unnamed.Folder, "");
}

TEST(SatelliteList, NotesFileIsReadAsNotesOnly) {
    testing::TempDir dir;
    dir.Write("weather.txt", testing::ReadTestData("keps/weather-2024-08-31.txt"));
    const std::string notes =
        "; annotations\r\n"
        "40069 12.5 +3 LD=2017/03/15@08:12:34 drifted after manoeuvre ; comment\r\n"
        "28654 7 note only\r\n"
        "99999 1 not in the list\r\n"
        "33591 x -2 LD=2017/02/30@00:00 later\r\n"
        "NOAA 15 no digit first\r\n" +
        Record("MADE UP", "1 12345U 14037A   24244.58341547  .00000495  00000-0  24728-3 0  9991",
               "2 12345  98.4425 235.4727 0006641 131.1049 229.0703 14.21039520526338");
    dir.Write("TLEnotes.txt", notes);
    dir.Write("tlenotes-old.tle", Record("OTHER", kMeteorOld1, kMeteorOld2));
    const TSatelliteList list(dir.Path());
    EXPECT_EQ(list.Count(), 8);
    EXPECT_EQ(list.IndexOfCatalogueNumber("12345"), -1);

    const TSatellite* meteor = list.SatelliteAt(list.IndexOfCatalogueNumber("40069"));
    EXPECT_EQ(meteor->NoteNumber, 12.5);
    EXPECT_EQ(meteor->NoteSignedNumber, 3.0);
    ASSERT_TRUE(meteor->NoteDateTime.has_value());
    EXPECT_NEAR(*meteor->NoteDateTime, EncodeDateTime(2017, 3, 15, 8, 12, 34), 1e-9);
    EXPECT_EQ(meteor->Note, "drifted after manoeuvre");
    EXPECT_EQ(meteor->Line1, kMeteorNew1);

    const TSatellite* noaa18 = list.SatelliteAt(list.IndexOfCatalogueNumber("28654"));
    EXPECT_EQ(noaa18->NoteNumber, 7.0);
    EXPECT_FALSE(noaa18->NoteSignedNumber.has_value());
    EXPECT_EQ(noaa18->Note, "note only");

    // Values that do not convert are skipped, the rest is kept.
    const TSatellite* noaa19 = list.SatelliteAt(list.IndexOfCatalogueNumber("33591"));
    EXPECT_FALSE(noaa19->NoteNumber.has_value());
    EXPECT_EQ(noaa19->NoteSignedNumber, -2.0);
    EXPECT_FALSE(noaa19->NoteDateTime.has_value());
    EXPECT_EQ(noaa19->Note, "later");
}

TEST(SatelliteList, CatalogueLookUpTakesExactlyFiveCharacters) {
    TSatelliteList list;
    list.AddElementSet("a", "NOAA 18", kNoaa1, kNoaa2);
    EXPECT_EQ(list.IndexOfCatalogueNumber("28654"), 0);
    EXPECT_EQ(list.IndexOfCatalogueNumber("2865"), -1);
    EXPECT_EQ(list.IndexOfCatalogueNumber("028654"), -1);
    EXPECT_EQ(list.IndexOfCatalogueNumber(" 28654"), -1);
    // Numbers below 10000 are found only as written in the lines.
    std::string l1 = kNoaa1, l2 = kNoaa2;
    l1.replace(2, 5, " 7530");
    l2.replace(2, 5, " 7530");
    list.AddElementSet("a", "OSCAR 7", l1, l2);
    EXPECT_GE(list.IndexOfCatalogueNumber(" 7530"), 0);
    EXPECT_EQ(list.IndexOfCatalogueNumber("07530"), -1);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

} // namespace
} // namespace vantorel
