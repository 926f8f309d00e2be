#include "Cli.h"

#include "TempDir.h"
#include "common/Version.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vantorel::cli {
namespace {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

CliRun Call(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = Main(args, out, err);
    return {code, out.str(), err.str()};
}

TEST(Cli, HelpVersionAndUsageErrors) {
    const CliRun help = Call({"--help"});
    EXPECT_EQ(help.code, kExitOk);
    EXPECT_NE(help.out.find("timing"), std::string::npos);
    EXPECT_EQ(Call({"--version"}).out, std::string("vantorel-cli ") + kVersion + "\n");
    EXPECT_EQ(Call({}).code, kExitUsage);
    EXPECT_EQ(Call({"frobnicate"}).code, kExitUsage);
    EXPECT_EQ(Call({"help", "frobnicate"}).code, kExitUsage);
    EXPECT_EQ(Call({"timing"}).code, kExitUsage);
    EXPECT_EQ(Call({"timing", "--bogus", "x.bmp"}).code, kExitUsage);
    EXPECT_EQ(Call({"timing", "--local-offset"}).code, kExitUsage);
    EXPECT_EQ(Call({"timing", "--local-offset=abc", "x.bmp"}).code, kExitUsage);
    const CliRun commandHelp = Call({"timing", "--help"});
    EXPECT_EQ(commandHelp.code, kExitOk);
    EXPECT_NE(commandHelp.out.find("--local-offset"), std::string::npos);
}

TEST(Cli, TimingPrintsTheAccountOfEachStep) {
    testing::TempDir dir;
    const std::string image = dir.Write("2017_03_15_08_12_34_68.bmp", "");
    dir.Write("2017_03_15_08_12_34_68.stat", "10:12:35.120\n\n0.1538\n");
    const CliRun r = Call({"timing", "--local-offset=60", image});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find("Pass start from file name: 2017-03-15 07:12:34 UTC\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("1 .STAT file(s) found, line period is 0.1538000 seconds"),
              std::string::npos);
    EXPECT_NE(r.out.find("Start: 2017-03-15 07:12:35.120 UTC"), std::string::npos);
    EXPECT_TRUE(r.err.empty()) << r.err;

    const CliRun missing = Call({"timing", "--local-offset", "0", dir / "image_68.bmp"});
    EXPECT_EQ(missing.code, kExitOk);
    EXPECT_NE(missing.err.find("Vantorel: Couldn't recognise the date and time"),
              std::string::npos);
    EXPECT_NE(missing.err.find("Vantorel - missing .STAT file: File not found:"),
              std::string::npos);
}

} // namespace
} // namespace vantorel::cli
