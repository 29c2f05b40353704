// The sample scene must be what the demo's figures assume: captures that follow the
// compositing model exactly, a foreground with every kind of coverage, and real noise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "cli/scene.h"
#include "keying/keying.h"

namespace {

using nolukey::RenderScene;
using nolukey::SceneFrame;

constexpr int kWidth = 320;
constexpr int kHeight = 180;

TEST(Scene, NoiselessCapturesFollowTheCompositingModel) {
    const SceneFrame f = RenderScene(3, kWidth, kHeight, nolukey::kNoiseNone, 7);
    const std::size_t pixels = static_cast<std::size_t>(kWidth) * kHeight;
    ASSERT_EQ(f.alpha.size(), pixels);
    for (int c = 0; c < 6; ++c) {
        const auto& backdrop = c < 3 ? nolukey::kRedBackdrop : nolukey::kGreenBackdrop;
        for (std::size_t i = 0; i < pixels; ++i) {
            for (int ch = 0; ch < 3; ++ch) {
                const double expected = f.alpha[i] * f.colour[i * 3 + ch] + (1.0 - f.alpha[i]) * backdrop[ch];
                ASSERT_NEAR(f.captures[c][i * 4 + ch], expected, 0.5 + 1e-3) << "capture " << c << " pixel " << i;
            }
            ASSERT_EQ(f.captures[c][i * 4 + 3], 255);
        }
    }
}

TEST(Scene, HasOpaqueSoftAndThinForeground) {
    const SceneFrame f = RenderScene(0, 640, 360, nolukey::kNoiseNone, 1);
    std::size_t clear = 0, opaque = 0, soft = 0;
    for (float a : f.alpha) {
        clear += a == 0.0f;
        opaque += a == 1.0f;
        soft += a > 0.0f && a < 1.0f;
    }
    const double n = static_cast<double>(f.alpha.size());
    EXPECT_GT(clear / n, 0.3);
    EXPECT_GT(opaque / n, 0.03);
    EXPECT_GT(soft / n, 0.05);
    // Hair-thin strands: somewhere a row has a pixel partly covered between two clear ones.
    int thin = 0;
    for (int y = 0; y < 360; ++y) {
        for (int x = 1; x + 1 < 640; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * 640 + x;
            thin += f.alpha[i] > 0.2f && f.alpha[i - 1] == 0.0f && f.alpha[i + 1] == 0.0f;
        }
    }
    EXPECT_GT(thin, 50);
}

TEST(Scene, IsAnimatedAndRepeatable) {
    const SceneFrame a = RenderScene(2, kWidth, kHeight, nolukey::kNoiseLight, 5);
    const SceneFrame b = RenderScene(2, kWidth, kHeight, nolukey::kNoiseLight, 5);
    const SceneFrame later = RenderScene(8, kWidth, kHeight, nolukey::kNoiseLight, 5);
    const SceneFrame otherSeed = RenderScene(2, kWidth, kHeight, nolukey::kNoiseLight, 6);
    EXPECT_EQ(a.captures, b.captures);
    EXPECT_NE(a.alpha, later.alpha);
    EXPECT_NE(a.captures[0], otherSeed.captures[0]);
    EXPECT_EQ(a.alpha, otherSeed.alpha);
}

// Each capture carries its own noise of the stated standard deviation and no bias.
TEST(Scene, NoiseHasTheRequestedSpreadAndDiffersPerCapture) {
    const SceneFrame clean = RenderScene(1, kWidth, kHeight, nolukey::kNoiseNone, 9);
    const SceneFrame noisy = RenderScene(1, kWidth, kHeight, nolukey::kNoiseHeavy, 9);
    for (int c = 0; c < 6; ++c) {
        double sum = 0, squares = 0;
        std::size_t n = 0;
        for (std::size_t i = 0; i < clean.alpha.size(); ++i) {
            // Only the red byte, and only where no clamping at 0 or 255 can bias it.
            const int reference = clean.captures[c][i * 4 + 2];
            if (reference < 30 || reference > 225) continue;
            const double d = noisy.captures[c][i * 4 + 2] - reference;
            sum += d;
            squares += d * d;
            ++n;
        }
        ASSERT_GT(n, 1000u);
        const double mean = sum / n;
        const double deviation = std::sqrt(squares / n - mean * mean);
        EXPECT_NEAR(mean, 0.0, 0.2) << "capture " << c;
        EXPECT_NEAR(deviation, nolukey::kNoiseHeavy, 0.1 * nolukey::kNoiseHeavy) << "capture " << c;
    }
    EXPECT_NE(noisy.captures[3], noisy.captures[4]);
    EXPECT_NE(noisy.captures[0], noisy.captures[1]);
}

// Without noise the keyer must find the scene's own matte: the backdrops are the ones it assumes.
TEST(Scene, NoiselessKeyRecoversTheTrueAlpha) {
    const SceneFrame f = RenderScene(4, kWidth, kHeight, nolukey::kNoiseNone, 3);
    std::vector<std::uint8_t> out(f.captures[0].size());
    keying::KeyingPass(f.captures[0].data(), f.captures[1].data(), f.captures[2].data(), f.captures[3].data(),
                       f.captures[4].data(), f.captures[5].data(), out.data(), out.size());
    double worst = 0;
    for (std::size_t i = 0; i < f.alpha.size(); ++i) {
        worst = std::max(worst, std::abs(out[i * 4 + 3] / 255.0 - f.alpha[i]));
    }
    EXPECT_LE(worst, 2.0 / 255.0);
}

}  // namespace
