#include "Headless.h"

#include "SamplePass.h"
#include "imaging/Bitmap.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace vantorel::cli {
namespace {

TEST_F(Headless, ProcessWritesThePictureAndItsAccount) {
    testing::TempDir out;
    const Result r = Call({"process", "--keplers", kSource + "/samples/keps",
                           "--file-clock-offset=0", "--out=" + (out / "pass.bmp"),
                           kSource + "/samples/2020_09_27_08_00_58_64.bmp"});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find("Actual data start: 2020-09-27 08:01:00\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Picture written to " + (out / "pass.bmp")), std::string::npos);
    // The element set is years old today: the box goes to standard error.
    EXPECT_NE(r.err.find("Vantorel - Stale Keplers: Location accuracy may be compromised."),
              std::string::npos);
    TBitmap picture;
    picture.LoadFromFile(out / "pass.bmp");
    EXPECT_EQ(picture.Width(), 1568);
    EXPECT_EQ(picture.Height(), 4000);
    EXPECT_EQ(picture.PixelFormat(), TPixelFormat::pf24bit);

    // Again: the picture is there, so the run is refused before it starts; the report says why.
    const Result again = Call({"process", "--keplers", kSource + "/samples/keps", "--report=-",
                               "--out=" + (out / "pass.bmp"),
                               kSource + "/samples/2020_09_27_08_00_58_64.bmp"});
    EXPECT_EQ(again.code, kExitFailure);
    const nlohmann::json report = nlohmann::json::parse(again.out);
    EXPECT_EQ(report["summary"]["failed"], 1);
    EXPECT_EQ(report["passes"][0]["failure"],
              out / "pass.bmp" + " exists already (--overwrite replaces it)");
}

// The grid: the window's setting by default, or as asked; only the steps it draws.
TEST_F(Headless, TheGridIsDrawnAsTheWindowKeepsItOrAsAsked) {
    testing::TempDir out;
    auto gridPixels = [&](std::vector<std::string> choice) {
        std::vector<std::string> args{"process", "--keplers=" + kSource + "/samples/keps",
                                      "--file-clock-offset=0", "--no-align", "--overwrite",
                                      "--out=" + (out / "pass.bmp")};
        args.insert(args.end(), choice.begin(), choice.end());
        args.push_back(kSource + "/samples/2020_09_27_08_00_58_64.bmp");
        EXPECT_EQ(Call(args).code, kExitOk);
        TBitmap picture;
        picture.LoadFromFile(out / "pass.bmp");
        int n = 0;
        for (int y = 0; y < picture.Height(); ++y) {
            for (int x = 0; x < picture.Width(); ++x) {
                n += picture.PixelColor(x, y) == kDefaultGraticuleColour;
            }
        }
        return n;
    };
    EXPECT_EQ(gridPixels({}), 0);
    const int tens = gridPixels({"--graticule"});
    const int twos = gridPixels({"--graticule=2"});
    EXPECT_GT(tens, 4000); // a few lines across a 1568 x 4000 pass
    EXPECT_GT(twos, 3 * tens);
    ASSERT_EQ(Call({"settings", "Graticule=1"}).code, kExitOk);
    EXPECT_EQ(gridPixels({}), tens);
    EXPECT_EQ(gridPixels({"--no-graticule"}), 0);
    EXPECT_EQ(Call({"process", "--graticule=3", "x.bmp"}).code, kExitUsage);
}

TEST_F(Headless, ProcessRefusesWhatItCannotRun) {
    testing::TempDir dir;
    const std::string keps = "--keplers=" + kSource + "/samples/keps";
    Result r = Call({"process", keps, dir / "2020_09_27_08_00_58_64.bmp"});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_NE(r.err.find("no such file"), std::string::npos);

    const std::string text = dir.Write("2020_09_27_08_00_58_64.bmp", "not an image at all");
    r = Call({"process", keps, "--file-clock-offset=0", text});
    EXPECT_EQ(r.code, kExitFailure);

    r = Call({"process", "--keplers=" + dir.Path(), kSource + "/samples/2020_09_27_08_00_58_64.bmp"});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_NE(r.err.find("no element set for Meteor-M N2"), std::string::npos);
    // Another satellite of the series is named in what is said.
    r = Call({"process", keps, "--satellite=59051", kSource + "/samples/2020_09_27_08_00_58_64.bmp"});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_NE(r.err.find("No Kepler data for Meteor-M N2-4 (catalogue number 59051)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Call({"process", "--satellite=NOAA 19", "x.bmp"}).code, kExitUsage);

    EXPECT_EQ(Call({"process"}).code, kExitUsage);
    EXPECT_EQ(Call({"process", "--thickness=huge", "x.bmp"}).code, kExitUsage);
    EXPECT_EQ(Call({"process", "--colour=yellow", "x.bmp"}).code, kExitUsage);
    EXPECT_EQ(Call({"process", "--offset=1", "x.bmp"}).code, kExitUsage);
    EXPECT_EQ(Call({"process", "--file-clock-offset=1.5", "x.bmp"}).code, kExitUsage);
}

TEST_F(Headless, ADoubtfulPictureIsWrittenWithItsOwnExitCode) {
    // No .STAT files beside the image: the start is the file name's, to the minute.
    testing::TempDir dir;
    const std::string image = dir / "2020_09_27_08_00_58_64.bmp";
    std::filesystem::copy_file(kSource + "/samples/2020_09_27_08_00_58_64.bmp", image);
    const std::string keps = "--keplers=" + kSource + "/samples/keps";
    std::ofstream(settings->Folder() + "HKEY_CURRENT_USER.reg")
        << "not a registry file\n"; // said, not fatal
    const Result r = Call({"process", keps, "--file-clock-offset=0", image});
    EXPECT_EQ(r.code, kExitWarnings) << r.err;
    EXPECT_NE(r.err.find("Vantorel - missing .STAT file"), std::string::npos);
    EXPECT_NE(
        r.err.find("Settings: the registry file " + (settings->Folder() + "HKEY_CURRENT_USER.reg")),
        std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "2020_09_27_08_00_58_64.geo.bmp"));
    EXPECT_EQ(Call({"locate", keps, "--file-clock-offset=0", "--pixel=700,100", image}).code,
              kExitWarnings);
}

// Any decoder's picture is placed once it is given its time; without one it fails, where
// the window would place it for 1899.
TEST_F(Headless, APictureWithoutATimeFailsUnlessGivenOne) {
    testing::TempDir dir;
    const std::string image = dir / "pass.bmp";
    std::filesystem::copy_file(kSource + "/samples/2020_09_27_08_00_58_64.bmp", image);
    const std::string keps = "--keplers=" + kSource + "/samples/keps";
    const Result none = Call({"process", keps, "--no-calibration", image});
    EXPECT_EQ(none.code, kExitFailure) << none.err;
    EXPECT_NE(none.err.find("nothing gives the pass a time"), std::string::npos) << none.err;
    const Result given = Call({"process", keps, "--no-calibration", "--start=2020-09-27T08:01:00Z",
                               "--line-period=0.1538925", image});
    EXPECT_EQ(given.code, kExitOk) << given.err;
    EXPECT_EQ(Call({"process", "--start=27.09.2020", image}).code, kExitUsage);
    EXPECT_EQ(Call({"process", "--line-period=0", image}).code, kExitUsage);
}

// A coordinate system PROJ cannot read is a wrong command line, told before any picture.
TEST_F(Headless, AnUnreadableCoordinateSystemIsToldBeforeAnyPicture) {
    testing::TempDir dir;
    const Result crs =
        Call({"process", "--keplers=" + kSource + "/samples/keps", "--out", dir / "out.png",
              "--project", dir / "p.tif", "--crs=EPSG:99999999",
              kSource + "/samples/2020_09_27_08_00_58_64.bmp"});
    EXPECT_EQ(crs.code, kExitUsage) << crs.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.png"));
}

TEST_F(Headless, TheOverlayIsAlignedToTheCoastsUnlessAskedNotTo) {
    testing::TempDir dir;
    const std::string image = testing::ShiftedSampleCopy(dir, 37, 23);
    auto offsets = [&](const char* choice) {
        const Result r = Call({"locate", "--keplers=" + kSource + "/samples/keps",
                               "--file-clock-offset=0", choice, "--pixel=700,100", image});
        EXPECT_EQ(r.code, kExitOk) << r.err;
        return r.out.substr(r.out.find("Offset"));
    };
    EXPECT_EQ(offsets("--align"), "Offset line: -13   pixel: 17\n");
    EXPECT_EQ(offsets("--no-align"), "Offset line: 10   pixel: -20\n");
}

TEST_F(Headless, LocateAnswersBothWays) {
    const std::vector<std::string> base = {"locate", "--keplers=" + kSource + "/samples/keps",
                                           "--file-clock-offset=0",
                                           kSource + "/samples/2020_09_27_08_00_58_64.bmp"};
    auto with = [&](const std::string& option) {
        std::vector<std::string> a = base;
        a.push_back(option);
        return Call(a);
    };
    const Result pixel = with("--pixel=771,2000");
    ASSERT_EQ(pixel.code, kExitOk) << pixel.err;
    EXPECT_EQ(pixel.out.rfind("X: 771   Y: 2000     Lon: ", 0), 0u) << pixel.out;
    EXPECT_NE(pixel.out.find("Offset line: 10   pixel: -20"), std::string::npos);
    EXPECT_EQ(std::count(pixel.out.begin(), pixel.out.end(), '\n'), 1); // the answer alone
    EXPECT_NE(pixel.err.find("Processing: "), std::string::npos) << pixel.err; // the account

    // Oslo lies on this pass; the pixel where the overlay draws it reads back as Oslo (to
    // the readout's one decimal).
    const Result oslo = with("--lonlat=10.75,59.91");
    ASSERT_EQ(oslo.code, kExitOk) << oslo.err;
    int x = 0, y = 0;
    ASSERT_EQ(std::sscanf(oslo.out.c_str(), "Lon: %*f   Lat: %*f     X: %d   Y: %d", &x, &y), 2)
        << oslo.out;
    const Result back = with("--pixel=" + std::to_string(x) + "," + std::to_string(y));
    float lon = 0, lat = 0;
    ASSERT_EQ(std::sscanf(back.out.c_str(), "X: %*d   Y: %*d     Lon: %f   Lat: %f", &lon, &lat), 2);
    EXPECT_NEAR(lon, 10.75, 0.06);
    EXPECT_NEAR(lat, 59.91, 0.06);

    const Result grid = with("--grid");
    EXPECT_EQ(grid.code, kExitOk);
    EXPECT_EQ(std::count(grid.out.begin(), grid.out.end(), '\n'), 1 + 4000 * 51);

    EXPECT_EQ(with("--pixel=5000,5000").code, kExitFailure);
    // The margin the offsets leave has no ground: no "0, 0" for it.
    const Result margin = with("--pixel=1560,10");
    EXPECT_EQ(margin.code, kExitFailure);
    EXPECT_NE(margin.err.find("has no ground position"), std::string::npos) << margin.err;
    EXPECT_EQ(Call({"locate", base[1], base[3]}).code, kExitUsage);
}

} // namespace
} // namespace vantorel::cli
