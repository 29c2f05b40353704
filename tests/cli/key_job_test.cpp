// --frames parsing and the progress line.
#include <gtest/gtest.h>

#include "cli/key_job.h"
#include "cli/progress.h"

namespace {

TEST(FrameRange, ParsesOnlyWellFormedRanges) {
    struct Case {
        const char* text;
        bool ok;
        int first, last;
    } cases[] = {
        {"0:9", true, 0, 9},      {"1001:1100", true, 1001, 1100}, {"5:5", true, 5, 5},  {"9:0", false, 0, 0},
        {"-1:4", false, 0, 0},    {"1:+4", false, 0, 0},           {"1-4", false, 0, 0}, {"1:", false, 0, 0},
        {":4", false, 0, 0},      {"1:4x", false, 0, 0},           {"", false, 0, 0},    {"99999999999:1", false, 0, 0},
    };
    for (const auto& c : cases) {
        const auto range = nolukey::ParseFrameRange(c.text);
        ASSERT_EQ(range.has_value(), c.ok) << c.text;
        if (range) {
            EXPECT_EQ(range->first, c.first) << c.text;
            EXPECT_EQ(range->last, c.last) << c.text;
        }
    }
}

TEST(Progress, LineShowsFramesRateAndTimeLeft) {
    EXPECT_EQ(nolukey::Progress::Line(50, 250, 10.0), "frame 50/250  5.0 fps  0:40 left");
    EXPECT_EQ(nolukey::Progress::Line(1, 90001, 1.0), "frame 1/90001  1.0 fps  25:00:00 left");
    EXPECT_EQ(nolukey::Progress::Line(0, 10, 0.0), "frame 0/10  0.0 fps  --:-- left");
}

TEST(Progress, WritesNothingWhenDisabled) {
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    {
        nolukey::Progress progress(3, false, sink);
        progress.FrameDone();
        progress.FrameDone();
    }
    EXPECT_EQ(std::ftell(sink), 0);
    {
        nolukey::Progress progress(2, true, sink);
        progress.FrameDone();
        progress.FrameDone();
    }
    EXPECT_GT(std::ftell(sink), 0);
    std::fclose(sink);
}

}  // namespace
