#include "Cli.h"

#include "common/TextFile.h"

#include "RegistryTestSupport.h"

#include <sstream>

namespace vantorel {
namespace {

using testing::RegistryTest;

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

CliRun Settings(std::vector<std::string> args) {
    args.insert(args.begin(), "settings");
    std::ostringstream out;
    std::ostringstream err;
    const int code = cli::Main(args, out, err);
    return {code, out.str(), err.str()};
}

TEST_F(RegistryTest, SettingsCommandStoresUnderTheWindowsKeyAndShowsTheValues) {
    RunAs("vantorel-cli");
    const CliRun set = Settings({"keplerpath=/srv/keps", "LineThickness=2", "LineColour=0xff",
                                 "kepsurls=http://a/x|http://b/y", "FileClockOffset=+3"});
    EXPECT_EQ(set.code, cli::kExitOk) << set.err;
    EXPECT_EQ(set.out, "Registry file: " + UserFile() +
                           "\n"
                           "Key: HKEY_CURRENT_USER\\Software\\Corvane\\vantorel\n"
                           "  KeplerPath = \"/srv/keps\"\n"
                           "  LineThickness = 2 (0x00000002)\n"
                           "  LineColour = 255 (0x000000ff)\n"
                           "  KepsUrls = \"http://a/x|http://b/y\"\n"
                           "  Graticule = (not set)\n"
                           "  GraticuleColour = (not set)\n"
                           "  FileClockOffset = \"3\"\n"
                           "  Halvory TwoLineDataPath = \"\"\n");
    RunAs("vantorel");
    EXPECT_EQ(TRegistryInteger("LineColour", 65535).Value(), 255);

    for (const char* bad : {"LineThickness=3", "LineColour=-1", "LineColour=0x1000000",
                            "LineColour=0x", "Colour=1", "KeplerPath", "Graticule=2",
                            "FileClockOffset=15", "FileClockOffset=local"}) {
        EXPECT_EQ(Settings({bad}).code, cli::kExitUsage) << bad;
    }
    const std::string text = ReadFileBytes(UserFile()).value_or("");
    dir_.Write("HKEY_CURRENT_USER.reg", text + "oops\n");
    const CliRun broken = Settings({"LineThickness=0"});
    EXPECT_EQ(broken.code, cli::kExitFailure);
    EXPECT_NE(broken.out.find("  line 9: "), std::string::npos);
    EXPECT_NE(broken.err.find("LineThickness not stored"), std::string::npos);
    EXPECT_NE(broken.out.find("LineThickness = 2"), std::string::npos);
}

TEST_F(RegistryTest, SettingsCommandTellsAFileProblemOnceOnStandardError) {
    RunAs("vantorel-cli");
    dir_.Write("HKEY_CURRENT_USER.reg", "[HKEY_CURRENT_USER\\Software\\Corvane\\vantorel]\n"
                                        "\"LineThickness\"=dword:00000002\n");
    const CliRun first = Settings({});
    EXPECT_EQ(first.code, cli::kExitOk);
    EXPECT_NE(first.err.find("Settings: the registry file " + UserFile() +
                             " has a line that cannot be read, line 1: "),
              std::string::npos)
        << first.err;
    EXPECT_NE(first.out.find("(no values shown: none can be read from the registry file)"),
              std::string::npos)
        << first.out;
    EXPECT_EQ(first.out.find("LineThickness ="), std::string::npos) << first.out;
    EXPECT_EQ(Settings({}).err, "");
}

} // namespace
} // namespace vantorel
