#include "Cli.h"
#include "CliRun.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace vantorel {
namespace {

const std::string kLine1 = "1 40069U 14037A   24244.58341547  .00000495  00000-0  24728-3 0  9991";
const std::string kLine2 = "2 40069  98.4425 235.4727 0006641 131.1049 229.0703 14.21039520526338";

using testing::Cli;
using testing::CliRun;

TEST(PropagateCommand, PrintsOneRowPerTimeInMinutesOrUtc) {
    // The epoch is 2024-08-31 14:00:07.1 UTC; 14:00:07.1 + 60 min is given as a date-time.
    const CliRun r = Cli({"propagate", kLine1, kLine2, "0", "-90.5", "2024-08-31T15:00:07.096Z"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_NE(line.find("Satellite 40069, epoch 2024-08-31 14:00:07"), std::string::npos) << line;
    EXPECT_NE(line.find("SGP4"), std::string::npos);
    std::getline(lines, line); // column heads
    EXPECT_NE(line.find("latitude"), std::string::npos);
    std::vector<std::vector<double>> rows;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<double> v;
        double x;
        while (fields >> x) {
            v.push_back(x);
        }
        ASSERT_EQ(v.size(), 10u) << line;
        rows.push_back(v);
    }
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_DOUBLE_EQ(rows[0][0], 0.0);
    EXPECT_DOUBLE_EQ(rows[1][0], -90.5);
    EXPECT_NEAR(rows[2][0], 60.0, 0.001);
    for (const auto& v : rows) {
        const double radius = std::sqrt(v[1] * v[1] + v[2] * v[2] + v[3] * v[3]);
        EXPECT_NEAR(radius, 6378.0 + 820.0, 40.0);
        EXPECT_NEAR(std::sqrt(v[4] * v[4] + v[5] * v[5] + v[6] * v[6]), 7.45, 0.05);
        EXPECT_LE(std::fabs(v[7]), 90.0);
        EXPECT_GE(v[8], 0.0);
        EXPECT_LT(v[8], 360.0);
        EXPECT_NEAR(v[9], 820.0, 40.0);
    }
}

TEST(PropagateCommand, ReadsTheLinesFromAFile) {
    testing::TempDir dir;
    const std::string path =
        dir.Write("keps.txt", "METEOR-M 2\r\n" + kLine1 + "\r\n" + kLine2 + "\r\n");
    const CliRun fromFile = Cli({"propagate", "--elements=" + path, "10"});
    const CliRun fromArgs = Cli({"propagate", kLine1, kLine2, "10"});
    ASSERT_EQ(fromFile.code, 0) << fromFile.err;
    EXPECT_EQ(fromFile.out, fromArgs.out);
}

TEST(PropagateCommand, RefusesBadLinesAndTimes) {
    const CliRun swapped = Cli({"propagate", kLine2, kLine1, "0"});
    EXPECT_EQ(swapped.code, cli::kExitUsage);
    EXPECT_NE(swapped.err.find("element line 1"), std::string::npos) << swapped.err;

    const CliRun shortLine = Cli({"propagate", kLine1.substr(0, 60), kLine2, "0"});
    EXPECT_EQ(shortLine.code, cli::kExitUsage);

    std::string other = kLine2;
    other.replace(2, 5, "40070");
    EXPECT_EQ(Cli({"propagate", kLine1, other, "0"}).code, cli::kExitUsage);

    const CliRun badTime = Cli({"propagate", kLine1, kLine2, "0", "yesterday"});
    EXPECT_EQ(badTime.code, cli::kExitUsage);
    EXPECT_NE(badTime.err.find("not a time: \"yesterday\""), std::string::npos);
    EXPECT_TRUE(badTime.out.empty());
    EXPECT_EQ(Cli({"propagate", kLine1, kLine2, "2024-02-30 00:00:00"}).code, cli::kExitUsage);
    EXPECT_EQ(Cli({"propagate", kLine1, kLine2}).code, cli::kExitUsage);

    // Elements the model cannot use: a failure, not a usage error.
    std::string zeroMotion = kLine2;
    zeroMotion.replace(52, 11, " 0.00000000");
    const CliRun math = Cli({"propagate", kLine1, zeroMotion, "0"});
    EXPECT_EQ(math.code, cli::kExitFailure);
    EXPECT_NE(math.err.find("division by zero"), std::string::npos) << math.err;

    const CliRun help = Cli({"propagate", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("minutes since the epoch"), std::string::npos);
}

} // namespace
} // namespace vantorel
