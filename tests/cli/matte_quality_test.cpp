// The demo's figures: each measured over the region and in the units it claims.
#include <gtest/gtest.h>

#include <vector>

#include "cli/matte_quality.h"

namespace {

using nolukey::MatteQualityMeter;
using nolukey::SceneFrame;

// Four pixels in a row: clear, soft (alpha 0.4), soft (0.6) and opaque.
SceneFrame Truth() {
    SceneFrame t;
    t.width = 4;
    t.height = 1;
    t.alpha = {0.0f, 0.4f, 0.6f, 1.0f};
    t.colour = {0, 0, 0, 10, 20, 30, 40, 50, 60, 100, 110, 120};
    return t;
}

TEST(MatteQuality, PerfectKeyScoresZero) {
    // 0.4 and 0.6 are 102/255 and 153/255.
    const std::vector<std::uint8_t> keyed = {0, 0, 0, 0, 10, 20, 30, 102, 40, 50, 60, 153, 100, 110, 120, 255};
    MatteQualityMeter meter;
    meter.Add(keyed.data(), 16, Truth());
    const auto q = meter.Result();
    EXPECT_NEAR(q.sadThousands, 0.0, 1e-9);
    EXPECT_NEAR(q.mseAll, 0.0, 1e-12);
    EXPECT_NEAR(q.meanColourError, 0.0, 1e-9);
    EXPECT_EQ(q.semiTransparentPixels, 2);
    EXPECT_EQ(q.mostlyOpaquePixels, 2);
}

TEST(MatteQuality, ErrorsAreScaledAndRegionedAsDocumented) {
    // Alpha too high by 51/255 = 0.2 everywhere but the opaque pixel (which is 0.2 low).
    // Colour off by 6 in every channel of the pixels with true alpha above a half only.
    const std::vector<std::uint8_t> keyed = {9, 9, 9, 51, 99, 99, 99, 153, 46, 56, 66, 204, 94, 104, 114, 204};
    MatteQualityMeter meter;
    // Rows padded to a pitch of 20 bytes: the padding must not be read as pixels.
    std::vector<std::uint8_t> padded(20, 77);
    std::copy(keyed.begin(), keyed.end(), padded.begin());
    meter.Add(padded.data(), 20, Truth());
    meter.Add(padded.data(), 20, Truth());
    const auto q = meter.Result();
    EXPECT_EQ(q.frames, 2);
    EXPECT_NEAR(q.sadThousands, 4 * 0.2 / 1000.0, 1e-9);  // per frame, not summed over frames
    EXPECT_NEAR(q.mseAll, 0.04, 1e-6);  // the truth is stored as float
    EXPECT_NEAR(q.mseSemiTransparent, 0.04, 1e-6);
    EXPECT_NEAR(q.meanColourError, 6.0, 1e-6);
}

}  // namespace
