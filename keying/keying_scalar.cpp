// The keying rule, one pixel at a time, in the order its arithmetic is defined.
// Every double operation rounds on its own (the build forbids contraction), and
// values become bytes by clamping, then truncating: the output bytes depend on both.
#include <algorithm>
#include <cstring>

#include "keying/kernels.h"
#include "keying/keying.h"

namespace keying {
namespace {

constexpr double kFullScale = 255.0;
constexpr double kOne = 1.0;
constexpr double kZero = 0.0;
constexpr double kColourCeiling = 255.9;
// The green backdrop colour, per channel.
constexpr double kBackdropBlue = 8.0;
constexpr double kBackdropGreen = 255.0;
constexpr double kBackdropRed = 19.0;

// The value F with opacity * F + transparency * backdrop == captured, clamped and truncated.
std::uint8_t RecoverChannel(std::uint8_t captured, double backdrop, double opacity, double transparency) {
    const double t = transparency * backdrop;
    const double u = static_cast<double>(captured) - t;
    double v = u / opacity;
    if (v <= kZero) {
        v = kZero;
    } else if (v >= kColourCeiling) {
        v = kColourCeiling;
    }
    return static_cast<std::uint8_t>(static_cast<int>(v));
}

}  // namespace

Bgra KeyPixel(Bgra red1, Bgra red2, Bgra red3, Bgra green1, Bgra green2, Bgra green3) {
    // Each of the nine green-minus-red estimates is the same decreasing function of its
    // difference, so the largest estimate is the one of the smallest difference.
    const int smallestDifference =
        std::min({int{green1.g}, int{green2.g}, int{green3.g}}) - std::max({int{red1.g}, int{red2.g}, int{red3.g}});
    const double q = static_cast<double>(smallestDifference) / kFullScale;
    double opacity = kOne - q;
    if (!(opacity > kZero)) {
        return Bgra{0, 0, 0, 0};
    }
    if (opacity >= kOne) {
        opacity = kOne;
    }
    const double transparency = kOne - opacity;
    return Bgra{
        RecoverChannel(green1.b, kBackdropBlue, opacity, transparency),
        RecoverChannel(green1.g, kBackdropGreen, opacity, transparency),
        RecoverChannel(green1.r, kBackdropRed, opacity, transparency),
        static_cast<std::uint8_t>(static_cast<int>(opacity * kFullScale)),
    };
}

void KeyingPassScalar(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                      const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                      std::uint8_t* out, std::size_t byteCount) {
    const auto load = [](const std::uint8_t* p) {
        Bgra px;
        std::memcpy(&px, p, sizeof px);
        return px;
    };
    for (std::size_t offset = 0; offset < byteCount; offset += 4) {
        const Bgra px = KeyPixel(load(red1 + offset), load(red2 + offset), load(red3 + offset),
                                 load(green1 + offset), load(green2 + offset), load(green3 + offset));
        std::memcpy(out + offset, &px, sizeof px);
    }
}

}  // namespace keying
