// A pass seen zoomed out: drawn at the size it takes on the screen, its lines where they
// run at full size, while what is saved stays the full-size picture.

#include "session/PassSession.h"

#include "SamplePass.h"
#include "TempDir.h"
#include "common/Clock.h"
#include "imaging/Canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

struct ZoomedView : ::testing::Test {
    testing::ProgramFolder program;
    FixedClock clock{EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0};
    ScopedClock scopedClock{clock};
    TPassSession run;
    testing::TempDir dir;

    void Process(const std::string& image) {
        EnsureGuiApplication();
        run.Setup.Keplers = kSampleKeps;
        run.Setup.LineColour = kLine;
        run.Setup.Graticule = true;
        run.Start(LoadSessionData(), "Vantorel - V1", {});
        ASSERT_TRUE(run.ProcessFile(image, [](const TReportEntry&) {}).Finished);
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

TEST_F(ZoomedView, IsDrawnAtTheScreensSizeAndSavedAtFullSize) {
    Process(kSampleImage);
    ExpectTheScreensPictureAndTheSavedOne();
}

TEST_F(ZoomedView, OfANorthBoundPassIsTurnedAsTheFullSizeOne) {
    const std::string image = dir / "2020_09_27_08_51_40_64.bmp";
    std::filesystem::copy_file(kSampleImage, image);
    dir.Write("2020_09_27_08_51_40_64.stat", "11:51:40.000\n\n0.1538925\n");
    Process(image);
    ASSERT_TRUE(run.Pass()->Northbound);
    ExpectTheScreensPictureAndTheSavedOne();
}

} // namespace
} // namespace vantorel
