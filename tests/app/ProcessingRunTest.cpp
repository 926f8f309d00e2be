#include "app/ProcessingRun.h"

#include "FullDisk.h"
#include "SamplePass.h"
#include "TempDir.h"
#include "common/Clock.h"
#include "common/Files.h"
#include "common/Program.h"
#include "common/TextFile.h"
#include "imaging/Canvas.h"
#include "imaging/JPEG_IO.h"
#include "imaging/zorPNGImage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include <sys/stat.h>

namespace vantorel {
namespace {

using testing::ProgramFolder;
using testing::TempDir;

using testing::kSampleImage;
using testing::kSampleKeps;
using testing::kSource;

// A run as the window sets it up, with the program's data files beside a fake
// executable and the clock standing on the day after the sample pass (UTC computer).
struct Run : ::testing::Test {
    ProgramFolder program;
    FixedClock clock{EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0};
    std::unique_ptr<ScopedClock> scopedClock;
    RecordingNotifier notifier;
    std::unique_ptr<TProcessingRun> run;

    void SetUp() override {
        EnsureGuiApplication();
        scopedClock = std::make_unique<ScopedClock>(clock);
        run = std::make_unique<TProcessingRun>(notifier);
        run->Start(kSampleKeps, "1.2.3.4");
    }
    bool Logged(const std::string& line) const {
        const auto& lines = run->Diags().Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::vector<std::string> Captions() const {
        std::vector<std::string> c;
        for (const auto& e : notifier.entries) {
            c.push_back(e.isBox ? e.caption : e.text);
        }
        return c;
    }
};

TEST_F(Run, StartUpAccount) {
    const auto& d = run->Diags();
    ASSERT_GE(d.Count(), 7);
    EXPECT_EQ(d[0], "Vantorel - V1.2.3.4  starting at:  2020-Sep-28 12:00 UTC");
    EXPECT_EQ(d[1], "Kepler source:");
    EXPECT_EQ(d[2], "  Main Kepler file: ");
    EXPECT_EQ(d[3], "  Updates Kepler file: ");
    EXPECT_EQ(d[4], "  Multi-Kepler folder: " + kSampleKeps + "  (1 satellites available)");
    EXPECT_EQ(d[5], "Cartography loaded from: " + (program.folder / "Countries.dat") + " (" +
                        std::to_string(run->Cartography().Count()) + " lines)");
    EXPECT_EQ(d[6], "");
    EXPECT_NE(run->Satellite(), nullptr);
    EXPECT_GT(run->Stations().Count(), 100);
    EXPECT_EQ(run->SuggestedSaveName(), ".geo");
}

TEST_F(Run, SamplePassEndToEnd) {
    ASSERT_TRUE(run->ProcessFile(kSampleImage));
    EXPECT_TRUE(notifier.entries.empty()) << notifier.entries[0].text;
    EXPECT_TRUE(Logged("Processing: " + kSampleImage));
    EXPECT_TRUE(Logged("Pass start from file name: 2020-09-27 08:00:58 UTC"));
    EXPECT_TRUE(Logged("3 .STAT file(s) found, line period is 0.1538925 seconds"));
    EXPECT_TRUE(Logged("Actual data start: 2020-09-27 08:01:00"));
    EXPECT_TRUE(Logged("METEOR-M2 starting overlay at 2020-09-27 08:01:00 UTC"));
    EXPECT_TRUE(Logged("  Keplers are 0 days offset"));
    EXPECT_TRUE(
        Logged("Plotting " + std::to_string(run->Cartography().Count()) + " line boundaries"));
    EXPECT_FALSE(run->Northbound());
    EXPECT_FALSE(run->Channel68());
    EXPECT_EQ(run->LineOffset(), 10);
    EXPECT_EQ(run->PixelOffset(), -20);
    EXPECT_EQ(run->Caption(), "Vantorel - V1.2.3.4  \u2014  2020_09_27_08_00_58_64.bmp  \u2014  "
                              "2020-09-27 08:01 UTC, Meteor-M N2");
    EXPECT_EQ(run->DisplayBitmap().Width(), 1568);
    EXPECT_EQ(run->DisplayBitmap().Height(), 4000);
    EXPECT_EQ(run->GroundTable().size(), 4000u);
    EXPECT_NEAR(run->MidAltitude(), 830.0f, 30.0f);
    EXPECT_EQ(run->Mapping().GetMapWidth(), 4000);
    EXPECT_EQ(run->SuggestedSaveName(), kSource + "/samples/2020_09_27_08_00_58_64.geo.bmp");
}

// Land/sea class of a pixel of the unenhanced sample: sea is dark, cloud bright.
enum class Surface { Sea, Land, Cloud };
Surface Classify(std::uint8_t v) {
    return v < 60 ? Surface::Sea : v < 150 ? Surface::Land : Surface::Cloud;
}

TEST_F(Run, DrawnCoastlinesLieOnTheLandSeaEdgesOfTheSample) {
    ASSERT_TRUE(run->ProcessFile(kSampleImage));
    TBitmap image;
    image.LoadFromFile(kSampleImage);
    const int w = image.Width(), h = image.Height();
    auto at = [&](int x, int y) { return Classify(image.ScanLine(y)[x]); };
    std::vector<double> distances;
    const TCartogList& store = run->Cartography();
    // Coast points are those of one country only: a land border's points belong to both
    // countries' rings.
    std::map<std::pair<int, int>, int> owners;
    auto key = [](const BoundaryPoint& p) {
        return std::make_pair(static_cast<int>(std::lround(p.lon * 60)),
                              static_cast<int>(std::lround(p.lat * 60)));
    };
    for (int s = 0; s < store.Count(); ++s) {
        for (const BoundaryPoint& p : store[s].Points) {
            ++owners[key(p)];
        }
    }
    for (int s = 0; s < store.Count(); ++s) {
        for (const BoundaryPoint& p : store[s].Points) {
            if (owners[key(p)] != 1) {
                continue;
            }
            int x = 0, y = 0;
            if (!run->PicturePosition(p.lon, p.lat, x, y) || x < 12 || y < 12 || x >= w - 12 ||
                y >= h - 12) {
                continue;
            }
            // Land and sea close by, and no cloud in the way.
            bool land = false, sea = false, cloud = false;
            for (int dy = -8; dy <= 8; ++dy) {
                for (int dx = -8; dx <= 8; ++dx) {
                    const Surface c = at(x + dx, y + dy);
                    land |= c == Surface::Land;
                    sea |= c == Surface::Sea;
                    cloud |= c == Surface::Cloud;
                }
            }
            if (!land || !sea || cloud) {
                continue;
            }
            double best = 1e9;
            for (int dy = -8; dy <= 8; ++dy) {
                for (int dx = -8; dx <= 8; ++dx) {
                    const Surface c = at(x + dx, y + dy);
                    // A land/sea edge lies between this pixel and its right or lower one.
                    if ((c != at(x + dx + 1, y + dy) && at(x + dx + 1, y + dy) != Surface::Cloud)) {
                        best = std::min(best, std::hypot(dx + 0.5, dy));
                    }
                    if (c != at(x + dx, y + dy + 1) && at(x + dx, y + dy + 1) != Surface::Cloud) {
                        best = std::min(best, std::hypot(dx, dy + 0.5));
                    }
                }
            }
            distances.push_back(best);
            if (std::getenv("VANTOREL_COAST_DEBUG") != nullptr && best > 3.0) {
                std::printf("far %d %d %.1f %.3f %.3f\n", x, y, best, p.lon, p.lat);
            }
        }
    }
    ASSERT_GT(distances.size(), 5000u);
    std::sort(distances.begin(), distances.end());
    const double median = distances[distances.size() / 2];
    const double p99 = distances[distances.size() * 99 / 100];
    RecordProperty("coast_points", static_cast<int>(distances.size()));
    RecordProperty("median_px", std::to_string(median));
    RecordProperty("p99_px", std::to_string(p99));
    RecordProperty("max_px", std::to_string(distances.back()));
    EXPECT_LE(median, 1.0);
    EXPECT_LE(p99, 2.0);
}

TEST_F(Run, ChannelTestsAndTheFallbackFolder) {
    TempDir dir;
    // A 122 file in exact case draws the box; "_122." in another case does not.
    std::filesystem::copy_file(kSampleImage, dir / "2020_09_27_08_00_58_122.bmp");
    std::filesystem::copy_file(kSampleImage, dir / "2020_09_27_08_00_58_68.BMP");
    run->ProcessFile(dir / "2020_09_27_08_00_58_122.bmp");
    ASSERT_FALSE(notifier.entries.empty());
    EXPECT_EQ(notifier.entries[0].caption, "Vantorel - unsuitable file");
    EXPECT_EQ(notifier.entries[0].text,
              "File: 2020_09_27_08_00_58_122.bmp\r\n\r\nMay contain misleading timing information "
              "as it's\r\na 122 124 or 125 file.  If possible, please use a\r\n64, 65 or 68 file "
              "instead.\r\n\r\nContinuing ...");
    // The 68 test ignores case in the name.
    notifier.entries.clear();
    run->ProcessFile(dir / "2020_09_27_08_00_58_68.BMP");
    EXPECT_TRUE(run->Channel68());

    // Not found as named: the fallback folder is tried; the .STAT files are still looked
    // for with the name as given (here: none, so the default period).
    run->Setup().FallbackFolder = dir.Path();
    run->Diags().Clear();
    EXPECT_TRUE(run->ProcessFile("2020_09_27_08_00_58_68.BMP"));
    EXPECT_EQ(run->ImageFile(), dir / "2020_09_27_08_00_58_68.BMP");
    EXPECT_TRUE(Logged("No .STAT files found, default line period used"));
    // Missing also there: only the "Processing" line.
    run->Diags().Clear();
    EXPECT_FALSE(run->ProcessFile("absent_68.bmp"));
    EXPECT_EQ(run->Diags().Count(), 1);
}

TEST_F(Run, NameWithoutADateRunsFromTheZeroDateTime) {
    TempDir dir;
    std::filesystem::copy_file(kSampleImage, dir / "image_64.bmp");
    run->ProcessFile(dir / "image_64.bmp");
    const auto c = Captions();
    ASSERT_GE(c.size(), 3u);
    EXPECT_EQ(c[0], "Couldn't recognise the date and time from the file name");
    EXPECT_EQ(c[1], "Vantorel - Keplers not contemporary");
    EXPECT_NE(notifier.entries[1].text.find("Pass is 44101 days behind:"), std::string::npos);
    EXPECT_EQ(c[2], "Vantorel - missing .STAT file");
}

TEST_F(Run, StaleKeplersAndRunsWithoutTheSet) {
    const FixedClock later(EncodeDateTime(2020, 10, 10, 0, 0, 0), 0.0);
    ScopedClock scoped(later);
    run->ProcessFile(kSampleImage);
    ASSERT_FALSE(notifier.entries.empty());
    EXPECT_EQ(notifier.entries[0].caption, "Vantorel - Stale Keplers");
    EXPECT_EQ(notifier.entries[0].text,
              "Location accuracy may be compromised.\r\nas the Kepler data is more than a week "
              "old!\r\n\r\nKepler was: 2020-09-27 02:26 UTC\r\n\r\nThe Kepler data tab's "
              "\"Update element sets\" button fetches fresh ones.");

    TempDir empty;
    TProcessingRun bare(notifier);
    bare.Start(empty.Path(), "1");
    notifier.entries.clear();
    EXPECT_FALSE(bare.ProcessFile(kSampleImage));
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_NE(notifier.entries[0].text.find("No Kepler data for Meteor-M N2"), std::string::npos);
}

TEST_F(Run, JpegImagesAreEqualisedAtLoadAndAfterTheFit) {
    TempDir dir;
    TExtBitmap sample;
    sample.LoadFromFile(kSampleImage);
    const std::string jpeg = dir / "2020_09_27_08_00_58_64.jpg";
    ASSERT_TRUE(WriteJpegFile(sample, jpeg, 95, true, ""));
    ASSERT_TRUE(run->ProcessFile(jpeg));
    TExtBitmap expected;
    expected.SetPixelFormat(TPixelFormat::pf8bit);
    expected.EnsureGrayPalette();
    ASSERT_TRUE(ReadJpegFile(&expected, jpeg, false, 0).Complete());
    expected.EqualizeContrast(0, 256, false, 2.5);
    expected.EqualizeContrast(0, 256, true, 2.5);
    const auto a = run->ChannelBitmap().Bits();
    const auto b = expected.Bits();
    ASSERT_EQ(a.size(), b.size());
    EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin()));

    // A file that is no JPEG: one line naming the file and libjpeg's reason.
    const std::string garbage = dir.Write("2020_09_27_08_00_58_65.jpg", "not a jpeg");
    EXPECT_FALSE(run->ProcessFile(garbage));
    ASSERT_FALSE(notifier.entries.empty());
    EXPECT_EQ(notifier.entries.back().text,
              "Cannot read the JPEG file " + garbage + ": Not a JPEG file: starts with 0x6e 0x6f");
}

TEST_F(Run, ThicknessColourAndPlaceMarksOnASouthboundPass) {
    run->Setup().LineColour = RGBColor(255, 0, 0);
    run->Setup().LineThickness = 2;
    ASSERT_TRUE(run->ProcessFile(kSampleImage));
    const TBitmap& shown = run->DisplayBitmap();
    // Oslo's mark is yellow whatever the line colour.
    int x = 0, y = 0;
    ASSERT_TRUE(run->PicturePosition(10.7461f, 59.9127f, x, y));
    EXPECT_EQ(shown.PixelColor(x, y), clYellow);
    // A thick line covers three rows across a mostly horizontal stretch of border:
    // count red pixels in a column through the drawing.
    int red = 0;
    for (int yy = 0; yy < shown.Height(); ++yy) {
        red += shown.PixelColor(770, yy) == RGBColor(255, 0, 0) ? 1 : 0;
    }
    EXPECT_GT(red, 0);
}

TEST_F(Run, ArrowKeysAndWheelMoveTheOverlayOnScreen) {
    ASSERT_TRUE(run->ProcessFile(kSampleImage));
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    ASSERT_TRUE(run->PicturePosition(10.0f, 55.0f, x0, y0));
    run->ArrowKey(TArrowKey::Right, false);
    run->PicturePosition(10.0f, 55.0f, x1, y1);
    EXPECT_EQ(x1 - x0, 2);
    run->ArrowKey(TArrowKey::Up, true);
    run->PicturePosition(10.0f, 55.0f, x1, y1);
    EXPECT_EQ(y1 - y0, -8);
    run->MouseWheel(120, true);
    EXPECT_EQ(run->PixelOffset(), -20 + 2 + 5);
    run->MouseWheel(-120, false);
    EXPECT_EQ(run->LineOffset(), 10 + 8 - 5);
    const int plotting = run->Diags().Count();
    run->MouseWheel(0, false);
    EXPECT_EQ(run->Diags().Count(), plotting); // no step, no redraw
}

TEST_F(Run, SouthToNorthPassIsTurnedAndHasNoPlaceMarks) {
    // The sample image under a time half an orbit later: the satellite then climbs north.
    TempDir dir;
    run->Setup().LineColour = RGBColor(255, 0, 0); // so that yellow can only be a place mark
    const std::string image = dir / "2020_09_27_08_51_40_64.bmp";
    std::filesystem::copy_file(kSampleImage, image);
    dir.Write("2020_09_27_08_51_40_64.stat", "11:51:40.000\n\n0.1538925\n");
    ASSERT_TRUE(run->ProcessFile(image));
    ASSERT_TRUE(run->Northbound());
    EXPECT_EQ(run->LineOffset(), 6);
    EXPECT_EQ(run->PixelOffset(), -16);
    // The turn: the picture's top-left pixel is the channel image's bottom-right one.
    const TBitmap& shown = run->DisplayBitmap();
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    const GeoPoint mid = run->GroundTable()[2000][25];
    ASSERT_TRUE(run->PicturePosition(mid.lon, mid.lat, x0, y0));
    // Right arrow: the step is negated, and the picture is turned, so on screen the
    // overlay still moves right; Shift+Left adds 16 to the pixel offset.
    run->ArrowKey(TArrowKey::Right, false);
    run->PicturePosition(mid.lon, mid.lat, x1, y1);
    EXPECT_EQ(x1 - x0, 2);
    run->ArrowKey(TArrowKey::Left, true);
    EXPECT_EQ(run->PixelOffset(), -16 - 2 + 16);
    // No yellow place mark anywhere near a station on the picture.
    for (const std::string& line : run->Stations().Lines()) {
        const auto mark = ParsePlaceMarkLine(line, plS);
        int x = 0, y = 0;
        if (mark && run->PicturePosition(mark->lon, mark->lat, x, y) && x >= 0 && y >= 0 &&
            x < shown.Width() && y < shown.Height()) {
            EXPECT_NE(shown.PixelColor(x, y), clYellow) << line;
        }
    }
}

TEST_F(Run, ARunThatEndsEarlyLeavesNothingOfTheEarlierPassLive) {
    ASSERT_TRUE(run->ProcessFile(kSampleImage));
    ASSERT_TRUE(run->Readout(700, 1));
    // A 2-line picture of the same pass: shown as it is, and nothing answers for it.
    TempDir dir;
    TExtBitmap two;
    two.LoadFromFile(kSampleImage);
    two.SetHeight(2);
    two.SaveToFile(dir / "2020_09_27_09_00_00_64.bmp");
    EXPECT_FALSE(run->ProcessFile(dir / "2020_09_27_09_00_00_64.bmp"));
    EXPECT_EQ(run->Pass(), nullptr);
    EXPECT_FALSE(run->Readout(700, 1));
    EXPECT_EQ(run->DisplayBitmap().Height(), 2);
    EXPECT_EQ(run->Caption(),
              "Vantorel - V1.2.3.4  \u2014  2020_09_27_09_00_00_64.bmp  (not processed)");
    const int lines = run->Diags().Count();
    run->ArrowKey(TArrowKey::Up, false);
    EXPECT_EQ(run->Diags().Count(), lines); // no redraw of anything
    EXPECT_EQ(run->SuggestedSaveName(), ".geo");
    EXPECT_THROW(run->SavePicture(dir / "x.bmp"), std::runtime_error);
}

// The real Meteor-M N2-4 pass, when VANTOREL_REALPASSES names its folder: with the
// calibration the drawn coasts are on the picture's own, and when its times are 4 s late
// the alignment moves the overlay the 26 lines back.
TEST_F(Run, TheRealPassIsCalibratedAndARunLateIsAligned) {
    const char* folder = std::getenv("VANTOREL_REALPASSES");
    if (folder == nullptr || *folder == '\0') {
        GTEST_SKIP() << "VANTOREL_REALPASSES is not set: the real pass is not processed";
    }
    for (const char* name : {"Scanner.cal", "Boundaries.b"}) {
        std::filesystem::copy_file(kSource + "/data/" + name, program.folder / name);
    }
    const std::string pass = std::string(folder) + "/m2-4-2026-02-08/MSU-MR";
    run->Setup().Channel = "2";
    run->Start(kSampleKeps, "1");
    ASSERT_TRUE(run->ProcessFile(pass));
    EXPECT_TRUE(run->LastAlignment().Confident)
        << run->LastAlignment().Doubt << " confidence " << run->LastAlignment().Confidence;
    EXPECT_NEAR(run->LastAlignment().PixelOffset, 0.0, 1.5);
    EXPECT_NEAR(run->LastAlignment().LineOffset, 0.0, 1.5);

    // Its channels laid together by their own times find the same coasts.
    run->Setup().Composite = TCompositeChannels{"1", "2", "4"};
    ASSERT_TRUE(run->ProcessFile(pass));
    EXPECT_EQ(run->ChannelBitmap().PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_TRUE(run->LastAlignment().Confident)
        << run->LastAlignment().Doubt << " confidence " << run->LastAlignment().Confidence;
    EXPECT_NEAR(run->LastAlignment().PixelOffset, 0.0, 1.5);
    EXPECT_NEAR(run->LastAlignment().LineOffset, 0.0, 1.5);
    run->Setup().Composite.reset();

    TempDir late;
    for (const char* name : {"MSU-MR-1.png", "MSU-MR-2.png", "MSU-MR-4.png"}) {
        std::filesystem::create_symlink(pass + "/" + name, late / name);
    }
    const auto bytes = ReadFileBytes(pass + "/product.cbor");
    nlohmann::json product = nlohmann::json::from_cbor(*bytes);
    for (auto& image : product["images"]) {
        for (auto& t : image["timestamps"]) {
            if (t.get<double>() > 0) {
                t = t.get<double>() + 4.0;
            }
        }
    }
    const std::vector<std::uint8_t> shifted = nlohmann::json::to_cbor(product);
    late.Write("product.cbor", std::string(shifted.begin(), shifted.end()));
    ASSERT_TRUE(run->ProcessFile(late.Path()));
    EXPECT_TRUE(run->LastAlignment().Confident)
        << run->LastAlignment().Doubt << " confidence " << run->LastAlignment().Confidence;
    EXPECT_NEAR(run->LastAlignment().LineOffset, -4.0 / 0.1538926, 1.0);
    EXPECT_NEAR(run->LastAlignment().PixelOffset, 0.0, 1.5);
}

TEST_F(Run, SavedPicturesAndTheirNames) {
    TempDir dir;
    ASSERT_TRUE(run->ProcessFile(kSampleImage));
    run->SavePicture(dir / "out.jpeg"); // ".jpeg" is a JPEG too
    TBitmap b;
    ASSERT_TRUE(ReadJpegFile(&b, dir / "out.jpeg", true, 0).Complete());
    EXPECT_EQ(b.Width(), 1568);
    run->SavePicture(dir / "out.img"); // any other name: a Windows bitmap
    TBitmap w;
    w.LoadFromFile(dir / "out.img");
    EXPECT_EQ(w.PixelFormat(), TPixelFormat::pf24bit);
    run->SavePicture(dir / "out.JPG");
    TBitmap j;
    ASSERT_TRUE(ReadJpegFile(&j, dir / "out.JPG", true, 0).Complete());
    EXPECT_EQ(j.Height(), 4000);

    // A PNG holds exactly what is shown, overlay included.
    run->SavePicture(dir / "out.png");
    TPngImage png;
    png.LoadFromFile(dir / "out.png");
    TBitmap p;
    png.CopyToBitmap(p, 0, 0);
    const TExtBitmap& shown = run->DisplayBitmap();
    ASSERT_EQ(p.Width(), shown.Width());
    ASSERT_EQ(p.Height(), shown.Height());
    int differing = 0;
    for (int y = 0; y < p.Height(); y += 7) {
        for (int x = 0; x < p.Width(); ++x) {
            differing += p.PixelColor(x, y) != shown.PixelColor(x, y);
        }
    }
    EXPECT_EQ(differing, 0);

    // Without the overlay: the enhanced channel, whatever the format.
    run->SavePicture(dir / "plain.png", false);
    png.LoadFromFile(dir / "plain.png");
    png.CopyToBitmap(p, 0, 0);
    const TExtBitmap& channel = run->ChannelBitmap();
    differing = 0;
    for (int y = 0; y < p.Height(); y += 7) {
        for (int x = 0; x < p.Width(); ++x) {
            differing += p.PixelColor(x, y) != channel.PixelColor(x, y);
        }
    }
    EXPECT_EQ(differing, 0);
}

// On a full disk a picture is written whole or not at all, in every format: the picture
// that was there stays, and nothing of the attempt is left beside it.
TEST_F(Run, AFullDiskLeavesThePictureThatWasThere) {
    TempDir dir;
    ASSERT_TRUE(run->ProcessFile(kSampleImage));
    for (const char* name : {"out.bmp", "out.png", "out.jpg", "out.tif"}) {
        SCOPED_TRACE(name);
        const std::string target = dir.Write(name, "the picture that was there");
        {
            testing::FullDisk full(64 * 1024);
            EXPECT_THROW(run->SavePicture(target), std::exception);
        }
        EXPECT_EQ(ReadFileBytes(target), "the picture that was there");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                                std::filesystem::directory_iterator()),
                  1);
        std::filesystem::remove(target);
    }
}

// A FIFO named like an element file, or like the picture, is never waited on: the run
// goes on without it, or fails saying what it is.
TEST_F(Run, AFifoIsNeverWaitedOn) {
    TempDir dir;
    std::filesystem::create_directories(dir / "keps");
    std::filesystem::copy_file(kSampleKeps + "meteor.txt", dir / "keps/meteor.txt");
    ASSERT_EQ(::mkfifo((dir / "keps/weather.txt").c_str(), 0600), 0);
    run->Start(dir / "keps", "1");
    EXPECT_TRUE(run->ProcessFile(kSampleImage));
    ASSERT_EQ(::mkfifo((dir / "2020_09_27_08_00_58_64.bmp").c_str(), 0600), 0);
    EXPECT_FALSE(run->ProcessFile(dir / "2020_09_27_08_00_58_64.bmp"));
}

TEST_F(Run, AGreyPngChannelImageRunsLikeItsBitmap) {
    TempDir dir;
    ASSERT_TRUE(run->ProcessFile(kSampleImage));
    const std::vector<std::uint8_t> fromBmp(run->ChannelBitmap().Bits().begin(),
                                            run->ChannelBitmap().Bits().end());
    const GeoPoint fromBmpCorner = run->GroundTable().at(0).at(0);

    TBitmap sample;
    sample.LoadFromFile(kSampleImage);
    const auto rowBytes = static_cast<std::size_t>(sample.Width());
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < sample.Height(); ++y) {
        rows.insert(rows.end(), sample.ScanLine(y), sample.ScanLine(y) + rowBytes);
    }
    TPngImage png;
    png.SetPixels(sample.Width(), sample.Height(), 0, 8, std::move(rows));
    const std::string name = dir / "2020_09_27_08_00_58_64.png";
    png.SaveToFile(name);
    for (const char* channel : {"64", "65", "68"}) {
        const std::string stat = std::string("2020_09_27_08_00_58_") + channel + ".stat";
        std::filesystem::copy(kSource + "/samples/" + stat, dir / stat);
    }
    ASSERT_TRUE(run->ProcessFile(name));
    const auto bits = run->ChannelBitmap().Bits();
    ASSERT_EQ(bits.size(), fromBmp.size());
    EXPECT_TRUE(std::equal(bits.begin(), bits.end(), fromBmp.begin()));
    EXPECT_EQ(run->GroundTable().at(0).at(0).lat, fromBmpCorner.lat);
    EXPECT_EQ(run->GroundTable().at(0).at(0).lon, fromBmpCorner.lon);
}

} // namespace
} // namespace vantorel
