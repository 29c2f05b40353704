// The built-in sample: a synthetic foreground with known alpha and colour,
// photographed three times over a red backdrop and three times over the green one.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace nolukey {

// Standard deviation of the sensor noise, in 8-bit code values.
inline constexpr double kNoiseNone = 0.0;
inline constexpr double kNoiseLight = 1.5;
inline constexpr double kNoiseHeavy = 6.0;

// Backdrop colours as captured (blue, green, red). The red backdrop reads green 0, the
// green one is the colour the keyer takes out.
inline constexpr std::array<double, 3> kRedBackdrop = {12.0, 0.0, 205.0};
inline constexpr std::array<double, 3> kGreenBackdrop = {8.0, 255.0, 19.0};

struct SceneFrame {
    int width = 0;
    int height = 0;
    // BGRA, rows of width*4 bytes, alpha 255; in role order red1, red2, red3, green1, green2, green3.
    std::array<std::vector<std::uint8_t>, 6> captures;
    // Ground truth per pixel: opacity in 0..1 and the straight foreground colour (blue, green,
    // red in 0..255; 0 where the opacity is 0).
    std::vector<float> alpha;
    std::vector<float> colour;
};

// Renders frame frameIndex of the animation. Each capture is alpha*F + (1-alpha)*backdrop per
// channel, plus Gaussian noise of the given standard deviation (its own for every capture),
// rounded and clamped to 8 bits. Same arguments, same bytes, on every machine.
SceneFrame RenderScene(int frameIndex, int width, int height, double noiseLevel, std::uint64_t seed);

}  // namespace nolukey
