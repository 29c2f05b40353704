// The comparison's scores on mattes whose answers are known by hand.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "bench/compare/scores.h"

namespace {

using compare::Matte;
using compare::Truth;

Matte Make(int width, int height, std::vector<double> alpha, std::vector<float> bgr = {}) {
    if (bgr.empty()) bgr.assign(alpha.size() * 3, 100);
    return Matte{width, height, std::move(alpha), std::move(bgr)};
}

// A soft edge with opaque, transparent and semi-transparent pixels.
Matte SoftEdge(int width, int height) {
    std::vector<double> alpha;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) alpha.push_back(std::clamp((x - 4 + 0.3 * y) / 8.0, 0.0, 1.0));
    }
    return Make(width, height, std::move(alpha));
}

TEST(CompareScores, IdenticalMattesScoreZeroEverywhere) {
    const Matte m = SoftEdge(24, 12);
    const compare::Scores s = Truth(m).Score(m);
    EXPECT_EQ(s.whole.sad, 0.0);
    EXPECT_EQ(s.whole.mse, 0.0);
    EXPECT_EQ(s.whole.gradient, 0.0);
    EXPECT_EQ(s.soft.sad + s.soft.mse + s.soft.gradient, 0.0);
    EXPECT_GT(s.soft.pixels, 0u);
    EXPECT_EQ(s.whole.pixels, 24u * 12u);
    EXPECT_EQ(s.colourError, 0.0);
}

// Four pixels: transparent, soft 0.25, soft 0.75, opaque; each result pixel off by a known amount.
TEST(CompareScores, KnownMattesGiveHandComputedScores) {
    const Matte truth = Make(4, 1, {0.0, 0.25, 0.75, 1.0}, {0, 0, 0, 0, 0, 0, 10, 20, 30, 200, 200, 200});
    const Matte result = Make(4, 1, {0.5, 0.25, 1.0, 0.9}, {9, 9, 9, 255, 255, 255, 13, 20, 24, 200, 197, 200});
    const compare::Scores s = Truth(truth).Score(result);
    EXPECT_DOUBLE_EQ(s.whole.sad, 0.5 + 0.0 + 0.25 + 0.1);
    EXPECT_DOUBLE_EQ(s.whole.mse, (0.25 + 0.0625 + 0.01) / 4);
    EXPECT_EQ(s.soft.pixels, 2u);
    EXPECT_DOUBLE_EQ(s.soft.sad, 0.25);
    EXPECT_DOUBLE_EQ(s.soft.mse, 0.0625 / 2);
    EXPECT_DOUBLE_EQ(s.softBias, 0.25 / 2);
    EXPECT_DOUBLE_EQ(s.clear.sad, 0.5);
    EXPECT_DOUBLE_EQ(s.solid.sad, 0.1);
    // Colour counts only where the truth is over one half: |3|+|0|+|6| and |0|+|3|+|0| over 6 channels.
    EXPECT_EQ(s.colourPixels, 2u);
    EXPECT_DOUBLE_EQ(s.colourError, 12.0 / 6);
    const Truth::Sad sad = Truth(truth).AlphaSad(result);
    EXPECT_DOUBLE_EQ(sad.whole, s.whole.sad);
    EXPECT_DOUBLE_EQ(sad.soft, s.soft.sad);
    // From the alpha bytes of packed pixels: 0.5 and 0.9 are not bytes, so 128 and 230 stand in.
    const std::uint8_t packed[] = {0, 0, 0, 128, 0, 0, 0, 64, 0, 0, 0, 255, 0, 0, 0, 230};
    const Truth::Sad bytes = Truth(truth).AlphaSad(packed + 3, 4, sizeof packed);
    EXPECT_NEAR(bytes.whole, 128 / 255.0 + std::abs(64 / 255.0 - 0.25) + 0.25 + (1 - 230 / 255.0), 1e-12);
    EXPECT_NEAR(bytes.soft, std::abs(64 / 255.0 - 0.25) + 0.25, 1e-12);
}

// The benchmark's unit-norm Gaussian-derivative filters: a flat plane has no gradient, even at the
// border (replicated, not zero-padded), and a ramp of slope 0.01 per pixel reads 0.01 x 9.68383...
TEST(CompareScores, GradientMatchesTheBenchmarkFilters) {
    constexpr int kW = 32;
    constexpr int kH = 16;
    const std::vector<double> flat(kW * kH, 0.7);
    for (double g : compare::GradientMagnitude(flat, kW, kH, compare::kGradientSigma)) EXPECT_NEAR(g, 0.0, 1e-12);

    for (const bool alongX : {true, false}) {
        std::vector<double> ramp;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) ramp.push_back(0.01 * (alongX ? x : y));
        }
        const std::vector<double> g = compare::GradientMagnitude(ramp, kW, kH, compare::kGradientSigma);
        EXPECT_NEAR(g[8 * kW + 8], 0.0968383083881640, 1e-12) << (alongX ? "along x" : "along y");
    }
}

}  // namespace
