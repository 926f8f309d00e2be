#include "Cli.h"
#include "CliRun.h"

#include "common/StringUtils.h"
#include "common/TextFile.h"

#include "TempDir.h"
#include "TestData.h"
#include "settings/RegistryTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vantorel {
namespace {

using testing::Cli;
using testing::CliRun;

TEST(ScanCommand, PrintsTheChosenSetAndTheGroundPointsOfEachLine) {
    const std::string keps = testing::TestDataPath("keps");
    testing::TempDir empty;
    const CliRun r = Cli({"scan", "--keplers=" + keps, "--program-folder=" + empty.Path(),
                          "--lines=0,10", "2024-08-31T09:12:00Z"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    EXPECT_EQ(lines[0],
              "Element set from " + keps + "/weather-2024-08-31.txt, epoch offset 0.20008 days");
    EXPECT_EQ(lines[1].substr(0, 20), "  1 40069U 14037A   ");
    // Line 10 is 1.538925 s after the start; 52 numbers follow the time.
    std::istringstream row(lines[5]);
    std::string number, time;
    row >> number >> time;
    EXPECT_EQ(number, "10");
    EXPECT_EQ(time, "2024-08-31T09:12:01.539");
    int fields = 0;
    double value = 0.0;
    double height = 0.0;
    while (row >> value) {
        if (fields == 0) {
            height = value;
        }
        ++fields;
    }
    EXPECT_EQ(fields, 1 + 2 * 51);
    EXPECT_NEAR(height, 830.0, 5.0);
    // The committed independent model puts sample 25 of line 0 at 104.45709 E 56.28587 N.
    EXPECT_NE(lines[4].find(" 104.45709 56.28587 "), std::string::npos) << lines[4];
}

TEST(ScanCommand, RefusesBadArgumentsAndReportsMissingSets) {
    testing::TempDir empty;
    // No sibling's folder either: the registry is an empty one.
    testing::ScopedEnvironment registry("VANTOREL_REGISTRY_DIR", empty.Path());
    ResetRegistrySettings();
    EXPECT_EQ(Cli({"scan", "2024-13-01 00:00"}).code, cli::kExitUsage);
    EXPECT_EQ(Cli({"scan", "--period=0", "2024-08-31 00:00"}).code, cli::kExitUsage);
    EXPECT_EQ(Cli({"scan", "--count=0", "2024-08-31 00:00"}).code, cli::kExitUsage);
    EXPECT_EQ(Cli({"scan", "--count=2", "--lines=1", "2024-08-31 00:00"}).code, cli::kExitUsage);
    EXPECT_EQ(Cli({"scan", "--lines=1,x", "2024-08-31 00:00"}).code, cli::kExitUsage);
    EXPECT_EQ(Cli({"scan", "--satellite=NOAA 19", "2024-08-31 00:00"}).code, cli::kExitUsage);
    // A catalogue number names the satellite, as in every command.
    const CliRun byNumber = Cli({"scan", "--program-folder=" + empty.Path(),
                                 "--keplers=" + empty.Path(), "--satellite=57166",
                                 "2024-08-31 00:00"});
    EXPECT_NE(byNumber.err.find("No element set for METEOR-M2 3 (catalogue number 57166)"),
              std::string::npos)
        << byNumber.err;
    const CliRun r = Cli({"scan", "--program-folder=" + empty.Path(), "--keplers=" + empty.Path(),
                          "2024-08-31 00:00"});
    EXPECT_EQ(r.code, cli::kExitFailure);
    EXPECT_NE(r.err.find("Folder for Kepler data: " + empty.Path() + "Keps/ was not found."),
              std::string::npos)
        << r.err;
    ResetRegistrySettings();
}

TEST(ScanCommand, LooksForTheHistoryBesideTheProgramNamedInAppPaths) {
    testing::TempDir dir;
    testing::ScopedEnvironment registry("VANTOREL_REGISTRY_DIR", dir / "registry/");
    ResetRegistrySettings();
    dir.Write("registry/HKEY_CURRENT_USER.reg",
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Corvane\\App Paths]\n\"Tarnwick\"=\"" +
                  dir.Path() + "tarnwick/tarnwick\"\n");
    dir.Write("tarnwick/Keps/METEOR-M2.txt",
              ReadFileBytes(testing::TestDataPath("keps/METEOR-M2-history.txt")).value_or(""));
    const CliRun r = Cli({"scan", "--program-folder=" + dir.Path() + "bin",
                          "--keplers=" + dir.Path() + "none", "--lines=0", "2024-08-31 09:12"});
    ResetRegistrySettings();
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("Element set from " + dir.Path() + "tarnwick/Keps/METEOR-M2.txt"), 0u)
        << r.out;
}

} // namespace
} // namespace vantorel
