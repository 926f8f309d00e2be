// The picture of a pass as the session composes it: the grid where the mapping puts it,
// redraws and a picture laid while its pass is aligned that give what a composition afresh
// gives, and the view zoomed out, drawn at the size it takes on the screen while what is
// saved stays the full-size picture.

#include "session/PassSession.h"

#include "SamplePass.h"
#include "TempDir.h"
#include "common/Clock.h"
#include "imaging/Canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

namespace vantorel {
namespace {

using testing::kSampleImage;
using testing::kSampleKeps;

constexpr TColor kLine = RGBColor(255, 0, 0); // not the place marks' yellow

std::vector<std::uint8_t> Pixels(const TBitmap& b) {
    return {b.Bits().begin(), b.Bits().end()};
}

// Every line pixel of `screen` covers line pixels of `full` (within a pen's reach; or the
// place marks written over them there, at their own size on either picture; at the edges
// a line may lie just off the full-size picture); and lines there are, on a fiftieth of
// the screen's pixels at least.
void ExpectTheFullSizeLines(const TBitmap& screen, const TBitmap& full) {
    const int w = screen.Width(), h = screen.Height();
    int drawn = 0, misplaced = 0;
    for (int y = 1; y + 1 < h; ++y) {
        for (int x = 1; x + 1 < w; ++x) {
            if (screen.PixelColor(x, y) != kLine) {
                continue;
            }
            ++drawn;
            bool found = false;
            const int top = std::max(0, (y - 1) * full.Height() / h);
            const int bottom = std::min(full.Height(), (y + 2) * full.Height() / h);
            const int left = std::max(0, (x - 1) * full.Width() / w);
            const int right = std::min(full.Width(), (x + 2) * full.Width() / w);
            for (int fy = top; fy < bottom && !found; ++fy) {
                for (int fx = left; fx < right && !found; ++fx) {
                    const TColor c = full.PixelColor(fx, fy);
                    found = c == kLine || c == clYellow;
                }
            }
            misplaced += !found;
        }
    }
    EXPECT_GT(drawn, w * h / 50);
    EXPECT_EQ(misplaced, 0);
}

struct Composition : ::testing::Test {
    testing::ProgramFolder program;
    FixedClock clock{EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0};
    ScopedClock scopedClock{clock};
    testing::TempDir dir;
    std::shared_ptr<const TSessionData> data;
    TPassSession run;

    void SetUp() override {
        EnsureGuiApplication();
        data = LoadSessionData();
        Start(run);
    }
    void Start(TPassSession& session) {
        session.Setup.Keplers = kSampleKeps;
        session.Start(data, "Vantorel - V1", {});
    }
    static bool Process(TPassSession& session, const std::string& image) {
        return session.ProcessFile(image, [](const TReportEntry&) {}).Finished;
    }
    // The sample under a time half an orbit later: the satellite then climbs north.
    std::string NorthboundSample() {
        const std::string image = dir / "2020_09_27_08_51_40_64.bmp";
        std::filesystem::copy_file(kSampleImage, image);
        dir.Write("2020_09_27_08_51_40_64.stat", "11:51:40.000\n\n0.1538925\n");
        return image;
    }
    void ExpectTheScreensPictureAndTheSavedOne() {
        const std::vector<std::uint8_t> full = Pixels(run.Picture());
        const TExtBitmap fullPicture = run.Picture();
        ASSERT_TRUE(run.SetView({}, 0.1));
        run.Redraw();
        EXPECT_EQ(run.Picture().Width(), 157);
        EXPECT_EQ(run.Picture().Height(), 400);
        EXPECT_EQ(run.FullSize(), (TScreenSize{1568, 4000}));
        ExpectTheFullSizeLines(run.Picture(), fullPicture);
        EXPECT_EQ(Pixels(run.PictureAtFullSize()), full);
        // A nudge moves the screen's lines by what it moves them at full size.
        run.SetOffsets(run.LineOffset() - 20, run.PixelOffset());
        run.Redraw();
        const TExtBitmap nudged = run.Picture();
        ASSERT_TRUE(run.SetView({}, 1.0));
        run.Redraw();
        ExpectTheFullSizeLines(nudged, run.Picture());
        run.SetOffsets(run.LineOffset() + 20, run.PixelOffset());
        run.Redraw();
        EXPECT_EQ(Pixels(run.Picture()), full);
    }
};

// The grid on the sample, where the mapping and the offsets put it: every point of the
// 50th parallel has a pixel of the grid's colour within a pixel of it (or a boundary drawn
// over it). Magenta never occurs in the grey picture, so without the grid none is found.
TEST_F(Composition, TheGridsParallelLiesWhereTheMappingPutsIt) {
    constexpr TColor kGrid = 0x00FF00FF;
    run.Setup.GraticuleColour = kGrid;
    run.Setup.GraticuleStep = 5;
    run.Setup.Graticule = true;
    ASSERT_TRUE(Process(run, kSampleImage));
    ASSERT_FALSE(run.Pass()->Northbound);
    const TExtBitmap& shown = run.Picture();
    auto near = [&](int x, int y, TColor colour) {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                if (shown.PixelColor(x + dx, y + dy) == colour) {
                    return true;
                }
            }
        }
        return false;
    };
    int checked = 0, missed = 0;
    for (float lon = -40.0f; lon <= 60.0f; lon += 0.05f) {
        int x = 0, y = 0;
        if (!run.Pass()->Mapping.LatLonToImage(x, y, lon, 50.0f)) {
            continue;
        }
        x += run.PixelOffset();
        y -= run.LineOffset();
        if (x < 1 || y < 1 || x >= shown.Width() - 1 || y >= shown.Height() - 1) {
            continue;
        }
        ++checked;
        missed += !near(x, y, kGrid) && !near(x, y, run.Setup.LineColour);
    }
    EXPECT_GT(checked, 500);
    EXPECT_EQ(missed, 0);

    // Seen in part, the grid is labelled at the part's edges; saved, at the picture's.
    auto gridAtLeftOfPart = [&](const TBitmap& picture) {
        int n = 0;
        for (int y = 1000; y < 1600; ++y) {
            for (int x = 400; x < 440; ++x) {
                n += picture.PixelColor(x, y) == kGrid;
            }
        }
        return n;
    };
    const int unlabelled = gridAtLeftOfPart(shown);
    ASSERT_TRUE(run.SetView({400, 1000, 1000, 1600}, 1.0));
    run.Redraw();
    EXPECT_GT(gridAtLeftOfPart(shown), unlabelled + 20);
    EXPECT_EQ(gridAtLeftOfPart(run.PictureAtFullSize()), unlabelled);

    run.Setup.Graticule = false;
    run.Redraw();
    int magenta = 0;
    for (int y = 0; y < shown.Height(); y += 2) {
        for (int x = 0; x < shown.Width(); ++x) {
            magenta += shown.PixelColor(x, y) == kGrid;
        }
    }
    EXPECT_EQ(magenta, 0);
}

// Redraws take only the last overlay off again, grid and its labels included, also the grid
// just hidden, and on a north-bound pass only the changed pixels are turned: the picture
// stays the one a composition afresh, at the same place and with the same pen, makes.
TEST_F(Composition, ARedrawIsThePictureComposedAfresh) {
    for (const std::string& image : {kSampleImage, NorthboundSample()}) {
        ASSERT_TRUE(Process(run, image));
        for (const bool grid : {true, false, false}) {
            SCOPED_TRACE(image + (grid ? " with the grid" : " without it"));
            run.Setup.Graticule = grid;
            const auto nudge = [&](int lines, int pixels) {
                run.SetOffsets(run.LineOffset() + lines, run.PixelOffset() + pixels);
                run.Redraw();
            };
            nudge(0, 2);
            nudge(-8, 0);
            run.Setup.LineThickness = 2;
            nudge(0, -2);
            run.Setup.LineColour = RGBColor(255, 0, 0);
            nudge(5, 0);
            nudge(1, 0);

            TPassSession fresh;
            Start(fresh);
            ASSERT_TRUE(Process(fresh, image));
            fresh.SetOffsets(run.LineOffset(), run.PixelOffset());
            fresh.Setup.LineThickness = 2;
            fresh.Setup.LineColour = RGBColor(255, 0, 0);
            fresh.Setup.Graticule = grid;
            fresh.Redraw();
            EXPECT_EQ(Pixels(run.Picture()), Pixels(fresh.Picture()));
        }
    }
}

// The channel image is laid into the picture while the pass is aligned; the overlay drawn
// on it then gives the picture a composition afresh gives, turned or not.
TEST_F(Composition, APassAlignedWhileItsPictureIsLaidIsComposedAsAfresh) {
    for (const std::string& image : {kSampleImage, NorthboundSample()}) {
        SCOPED_TRACE(image);
        ASSERT_TRUE(Process(run, image));
        TPassSession plain;
        Start(plain);
        plain.Setup.Align = false;
        ASSERT_TRUE(Process(plain, image));
        plain.SetOffsets(run.LineOffset(), run.PixelOffset());
        plain.Redraw();
        EXPECT_EQ(Pixels(run.Picture()), Pixels(plain.Picture()));
    }
}

TEST_F(Composition, ZoomedOutIsDrawnAtTheScreensSizeAndSavedAtFullSize) {
    run.Setup.LineColour = kLine;
    run.Setup.Graticule = true;
    ASSERT_TRUE(Process(run, kSampleImage));
    ExpectTheScreensPictureAndTheSavedOne();
}

TEST_F(Composition, ZoomedOutANorthBoundPassIsTurnedAsTheFullSizeOne) {
    run.Setup.LineColour = kLine;
    run.Setup.Graticule = true;
    ASSERT_TRUE(Process(run, NorthboundSample()));
    ASSERT_TRUE(run.Pass()->Northbound);
    ExpectTheScreensPictureAndTheSavedOne();
}

} // namespace
} // namespace vantorel
