#include "alignment/CoastAlignment.h"
#include "alignment/ThinnedShores.h"

#include "SamplePass.h"
#include "cartography/zorCartography.h"
#include "common/Clock.h"
#include "common/Program.h"
#include "imaging/Canvas.h"
#include "pass/PassPipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace vantorel {
namespace {

using testing::kSampleImage;
using testing::kSampleKeps;
using testing::kSource;

// The sample pass, run once: its picture is drawn 20 pixels left of and 10 lines below
// where the scanner model puts it, as real decoders' pictures are, so that the overlay's
// default offsets (line 10, pixel -20) are the right ones.
struct SampleScene {
    TPassResult pass;
    TCartogList boundaries;
    std::vector<TCoastSample> shore;

    SampleScene() {
        TPassSources sources;
        TPassReport report;
        pass = std::move(*testing::RunSamplePass(sources, report).Result);
        boundaries.LoadBoundaryFiles(kSource + "/data/Countries.dat");
        TCoastLines lines(boundaries);
        shore = lines.SamplesOnImage(pass.Mapping, pass.Channel.Width(), pass.Channel.Height(), 68);
    }
};

SampleScene& Scene() {
    static SampleScene scene;
    return scene;
}

// The picture's content moved right by dx pixels and down by dy lines.
TBitmap Shifted(const TBitmap& image, int dx, int dy) {
    TBitmap out(image);
    for (int y = 0; y < image.Height(); ++y) {
        std::uint8_t* row = out.ScanLine(y);
        const int from = std::clamp(y - dy, 0, image.Height() - 1);
        const std::uint8_t* source = image.ScanLine(from);
        for (int x = 0; x < image.Width(); ++x) {
            row[x] = source[std::clamp(x - dx, 0, image.Width() - 1)];
        }
    }
    return out;
}

TEST(Alignment, FindsTheSamplesOwnShiftAndAnotherOneToAPixel) {
    const SampleScene& s = Scene();
    ASSERT_GT(s.shore.size(), 10000u);
    // Started from no offsets at all: the search finds the sample's own shift.
    const TAlignment own = AlignToCoasts(s.pass.Channel, s.shore, 0, 0);
    EXPECT_TRUE(own.Confident) << own.Doubt;
    EXPECT_NEAR(own.PixelOffset, -20.0, 1.0);
    EXPECT_NEAR(own.LineOffset, 10.0, 1.0);
    // Moved another 37 pixels right and 23 lines down: the overlay follows it.
    const TAlignment moved = AlignToCoasts(Shifted(s.pass.Channel, 37, 23), s.shore, 10, -20);
    EXPECT_TRUE(moved.Confident) << moved.Doubt;
    EXPECT_NEAR(moved.PixelOffset, -20.0 + 37.0, 1.0);
    EXPECT_NEAR(moved.LineOffset, 10.0 - 23.0, 1.0);
    EXPECT_GT(moved.Milliseconds, 0.0); // its speed is the benchmark's to judge
}

TEST(Alignment, APictureWithoutCoastsIsNeverAConfidentAnswer) {
    const SampleScene& s = Scene();
    std::mt19937 random(7);
    // All sea: dark and a little noisy.
    TBitmap sea(s.pass.Channel);
    std::uniform_int_distribution<int> noise(20, 40);
    for (int y = 0; y < sea.Height(); ++y) {
        for (int x = 0; x < sea.Width(); ++x) {
            sea.ScanLine(y)[x] = static_cast<std::uint8_t>(noise(random));
        }
    }
    // All cloud: bright cells of many sizes with sharp edges.
    TBitmap cloud(sea);
    std::uniform_int_distribution<int> size(4, 60), column(0, cloud.Width()),
        line(0, cloud.Height());
    for (int k = 0; k < 1500; ++k) {
        const int r = size(random), cx = column(random), cy = line(random);
        for (int y = std::max(cy - r, 0); y < std::min(cy + r, cloud.Height()); ++y) {
            for (int x = std::max(cx - r, 0); x < std::min(cx + r, cloud.Width()); ++x) {
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r) {
                    cloud.ScanLine(y)[x] = static_cast<std::uint8_t>(170 + (k % 80));
                }
            }
        }
    }
    for (const TBitmap* picture : {&sea, &cloud}) {
        const TAlignment a = AlignToCoasts(*picture, s.shore, 10, -20);
        EXPECT_FALSE(a.Confident) << "confidence " << a.Confidence << " (" << a.PixelRatio
                                  << ", " << a.LineRatio << ")";
        EXPECT_NE(a.Doubt.find("not confident"), std::string::npos);
    }
    // And no shore at all: nothing to align on.
    EXPECT_FALSE(AlignToCoasts(s.pass.Channel, {}, 10, -20).Confident);
}

TEST(ThinnedShores, GiveWhatThinningGivesAndOnlyForTheirOwnPoints) {
    const SampleScene& s = Scene();
    const auto plan = TCartogList::PlanBoundaryFiles(kSource + "/data/Boundaries.b");
    TCartogList whole, asked;
    whole.LoadPlanned(plan, TPointReading::Whole);
    asked.LoadPlanned(plan, TPointReading::AsAsked);
    const std::string bytes = TCoastLines(whole).ThinnedShores();
    // The build makes the same file beside the programs.
    EXPECT_TRUE(ReadFileBytes(ProgramFolder() + kThinnedShoresFile) == bytes);
    const auto samples = [&](const TCartogList& store, std::optional<TThinnedShores> file) {
        const TCoastLines lines(
            store, file ? std::make_shared<const TThinnedShores>(std::move(*file)) : nullptr);
        return lines.SamplesOnImage(s.pass.Mapping, s.pass.Channel.Width(), s.pass.Channel.Height(),
                                    68);
    };
    // A run's lazily read points find their shores filed, to the bit.
    const auto plain = samples(whole, std::nullopt);
    const auto filed = samples(asked, TThinnedShores::FromBytes(bytes));
    ASSERT_GT(plain.size(), 10000u);
    ASSERT_EQ(plain.size(), filed.size());
    EXPECT_EQ(std::memcmp(plain.data(), filed.data(), plain.size() * sizeof plain[0]), 0);
    // What is filed is what is used (every point kept draws other shores), where it keeps
    // the runs' ends, as thinning does (none kept: thinned anew).
    const auto filing = [&](bool kept) {
        std::vector<TThinnedShores::TSegment> segments;
        for (int i = 0; i < whole.Count(); ++i) {
            if (whole[i].Role == TLineRole::Shore) {
                segments.push_back(
                    {whole[i].Points, std::vector<bool>(whole[i].Points.size(), kept)});
            }
        }
        return TThinnedShores::Write(segments);
    };
    EXPECT_NE(samples(asked, TThinnedShores::FromBytes(filing(true))).size(), plain.size());
    EXPECT_EQ(samples(asked, TThinnedShores::FromBytes(filing(false))).size(), plain.size());
    // A point moved by the least step is another segment's; a file cut short is refused.
    const auto file = TThinnedShores::FromBytes(bytes);
    std::vector<TLonLat> moved;
    for (int i = 0; i < whole.Count() && moved.empty(); ++i) {
        if (whole[i].Role == TLineRole::Shore) {
            moved = whole[i].Points;
        }
    }
    ASSERT_TRUE(file->KeptOf(moved).has_value());
    moved.back().lat = std::nextafter(moved.back().lat, 90.0f);
    EXPECT_FALSE(file->KeptOf(moved).has_value());
    EXPECT_FALSE(TThinnedShores::FromBytes(bytes.substr(0, bytes.size() - 1)).has_value());
}

} // namespace
} // namespace vantorel
