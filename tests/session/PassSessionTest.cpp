// What a pass session's run tells in its report.

#include "session/PassSession.h"

#include "SamplePass.h"
#include "common/Clock.h"
#include "imaging/Canvas.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantorel {
namespace {

// The alignment's account line carries what it found, so that a report of the run needs no
// other look at the session.
TEST(PassSession, TheRunsReportCarriesTheAlignment) {
    const testing::ProgramFolder program;
    const FixedClock clock{EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0};
    const ScopedClock scoped{clock};
    EnsureGuiApplication();
    TPassSession run;
    run.Setup.Keplers = testing::kSampleKeps;
    run.Start(LoadSessionData(), "Vantorel - V1", {});
    std::vector<TReportEntry> aligned;
    ASSERT_TRUE(run.ProcessFile(testing::kSampleImage,
                                [&](const TReportEntry& e) {
                                    if (e.Alignment) {
                                        aligned.push_back(e);
                                    }
                                })
                    .Finished);
    ASSERT_EQ(aligned.size(), 1u);
    EXPECT_EQ(aligned[0].Text.rfind("Automatic alignment: offsets line 10 pixel -20", 0), 0u)
        << aligned[0].Text;
    const TAlignment& found = run.LastAlignment();
    EXPECT_TRUE(aligned[0].Alignment->Confident);
    EXPECT_EQ(aligned[0].Alignment->LineOffset, found.LineOffset);
    EXPECT_EQ(aligned[0].Alignment->PixelOffset, found.PixelOffset);
    EXPECT_EQ(aligned[0].Alignment->Confidence, found.Confidence);
    EXPECT_EQ(aligned[0].Alignment->Milliseconds, found.Milliseconds);
    // Asked for again later, the line goes to the account alone.
    const int lines = run.Diags().Count();
    run.AlignToCoasts();
    EXPECT_EQ(run.Diags().Count(), lines + 1);
}

} // namespace
} // namespace vantorel
