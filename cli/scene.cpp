// The sample scene, layer by layer: drifting smoke, an opaque box and ball, a tuft of
// hair-thin strands on the ball and a tinted glass pane in front, looping every 24 frames.
#include "cli/scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace nolukey {
namespace {

constexpr double kLoopFrames = 24.0;

std::uint64_t Mix(std::uint64_t x) {
    // splitmix64 finaliser: every input bit reaches every output bit.
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// Roughly Gaussian, mean 0 and standard deviation 1, from one 64-bit hash: the sum of four
// 16-bit uniforms, integer arithmetic so it is the same everywhere.
double GaussianFromHash(std::uint64_t h) {
    const double sum = static_cast<double>((h & 0xffff) + ((h >> 16) & 0xffff) + ((h >> 32) & 0xffff) + (h >> 48));
    constexpr double kMean = 4.0 * 65535.0 / 2.0;
    const double kDeviation = std::sqrt(4.0 * (65536.0 * 65536.0 - 1.0) / 12.0);
    return (sum - kMean) / kDeviation;
}

double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

// Smooth value noise in 0..1 with a fixed lattice, for the smoke's density.
double LatticeValue(int x, int y) {
    const std::uint64_t h = Mix((static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 32) ^
                                static_cast<std::uint32_t>(y) ^ 0x5eedULL);
    return static_cast<double>(h >> 11) / static_cast<double>(1ULL << 53);
}

double ValueNoise(double x, double y) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const int ix = static_cast<int>(fx);
    const int iy = static_cast<int>(fy);
    const auto smooth = [](double t) { return t * t * (3.0 - 2.0 * t); };
    const double tx = smooth(x - fx);
    const double ty = smooth(y - fy);
    const double top = LatticeValue(ix, iy) + (LatticeValue(ix + 1, iy) - LatticeValue(ix, iy)) * tx;
    const double bottom = LatticeValue(ix, iy + 1) + (LatticeValue(ix + 1, iy + 1) - LatticeValue(ix, iy + 1)) * tx;
    return top + (bottom - top) * ty;
}

// Premultiplied colour and opacity of what has been laid down so far.
struct Accumulated {
    double b = 0, g = 0, r = 0, a = 0;
    // Lays a layer of straight colour (blue, green, red) and opacity alpha over the rest.
    void Over(double alpha, double cb, double cg, double cr) {
        if (alpha <= 0.0) {
            return;
        }
        b = alpha * cb + (1.0 - alpha) * b;
        g = alpha * cg + (1.0 - alpha) * g;
        r = alpha * cr + (1.0 - alpha) * r;
        a = alpha + (1.0 - alpha) * a;
    }
};

// Coverage of a pixel by an axis-aligned box, soft over one pixel at each edge.
double BoxCoverage(double x, double y, double left, double top, double right, double bottom) {
    return Clamp01(x - left + 0.5) * Clamp01(right - x + 0.5) * Clamp01(y - top + 0.5) * Clamp01(bottom - y + 0.5);
}

struct Strand {
    double rootX, rootY, length, sway, phase, width;
    double cb, cg, cr;
};

class Scene {
public:
    Scene(int frameIndex, int width, int height) : width_(width), height_(height) {
        const double phase = 2.0 * std::numbers::pi * frameIndex / kLoopFrames;
        unit_ = height / 360.0;
        ballX_ = width * (0.5 + 0.18 * std::sin(phase));
        ballY_ = height * (0.58 + 0.05 * std::cos(phase));
        ballRadius_ = 62.0 * unit_;
        glassLeft_ = width * (0.08 + 0.06 * std::sin(phase));
        smokeX_ = width * 0.27;
        smokeY_ = height * 0.45;
        smokeRise_ = frameIndex / kLoopFrames * 1.6;
        for (int i = 0; i < kStrands; ++i) {
            const bool light = i % 4 == 1;
            strands_[i] = Strand{ballX_ + (i - (kStrands - 1) / 2.0) * 5.0 * unit_,
                                 ballY_ - ballRadius_ * 0.92,
                                 (70.0 + 9.0 * (i % 5)) * unit_,
                                 (6.0 + 2.0 * (i % 3)) * unit_,
                                 phase + i * 0.9,
                                 0.45 + 0.1 * (i % 3),
                                 light ? 150.0 : 25.0,
                                 light ? 205.0 : 45.0,
                                 light ? 235.0 : 80.0};
        }
    }

    Accumulated At(int px, int py) const {
        const double x = px + 0.5;
        const double y = py + 0.5;
        Accumulated acc;
        Smoke(x, y, acc);
        acc.Over(BoxCoverage(x, y, width_ * 0.72, height_ * 0.62, width_ * 0.9, height_ * 0.93), 120.0, 40.0, 95.0);
        Ball(x, y, acc);
        for (const Strand& s : strands_) {
            StrandOver(s, x, y, acc);
        }
        // Tinted glass: a third opaque, blue, in front of everything.
        acc.Over(0.35 * BoxCoverage(x, y, glassLeft_, height_ * 0.12, glassLeft_ + width_ * 0.3, height_ * 0.42), 215.0,
                 150.0, 60.0);
        return acc;
    }

private:
    static constexpr int kStrands = 14;

    void Smoke(double x, double y, Accumulated& acc) const {
        const double dx = (x - smokeX_) / (width_ * 0.17);
        const double dy = (y - smokeY_) / (height_ * 0.36);
        const double r2 = dx * dx + dy * dy;
        if (r2 >= 1.0) {
            return;
        }
        const double envelope = (1.0 - r2) * (1.0 - r2);
        const double sx = x / (38.0 * unit_);
        const double sy = y / (38.0 * unit_) + smokeRise_ * 4.0;
        const double density = 0.6 * ValueNoise(sx, sy) + 0.3 * ValueNoise(2.0 * sx, 2.0 * sy) +
                               0.1 * ValueNoise(4.0 * sx, 4.0 * sy);
        acc.Over(0.7 * envelope * density, 200.0, 196.0, 190.0);
    }

    void Ball(double x, double y, Accumulated& acc) const {
        const double dx = x - ballX_;
        const double dy = y - ballY_;
        const double d = std::sqrt(dx * dx + dy * dy);
        const double coverage = Clamp01(ballRadius_ - d + 0.5);
        if (coverage <= 0.0) {
            return;
        }
        // Lit from the upper left; a yellow band across the middle, whose high green the
        // colour recovery must keep.
        const double lx = (dx + 0.4 * ballRadius_) / ballRadius_;
        const double ly = (dy + 0.4 * ballRadius_) / ballRadius_;
        const double shade = 0.45 + 0.55 * Clamp01(1.0 - 0.5 * (lx * lx + ly * ly));
        if (std::abs(dy) < 9.0 * unit_) {
            acc.Over(coverage, 30.0 * shade, 215.0 * shade, 245.0 * shade);
        } else {
            acc.Over(coverage, 40.0 * shade, 105.0 * shade, 230.0 * shade);
        }
    }

    static void StrandOver(const Strand& s, double x, double y, Accumulated& acc) {
        const double along = s.rootY - y;  // distance up from the root
        if (along < 0.0 || along > s.length || std::abs(x - s.rootX) > s.sway + 2.0) {
            return;
        }
        // The strand bends more the further it gets from its root.
        const double k = 1.0 / (18.0 * s.length / 80.0);
        const double bend = along / s.length;
        const double centre = s.rootX + s.sway * bend * std::sin(along * k + s.phase);
        const double slope =
            s.sway * (std::sin(along * k + s.phase) / s.length + bend * k * std::cos(along * k + s.phase));
        const double distance = std::abs(x - centre) / std::sqrt(1.0 + slope * slope);
        // A line narrower than a pixel covers at most its width of one.
        const double coverage = std::clamp(s.width / 2.0 + 0.5 - distance, 0.0, s.width);
        acc.Over(0.95 * coverage, s.cb, s.cg, s.cr);
    }

    int width_, height_;
    double unit_;
    double ballX_, ballY_, ballRadius_;
    double glassLeft_;
    double smokeX_, smokeY_, smokeRise_;
    Strand strands_[kStrands];
};

std::uint8_t ToByte(double v) { return static_cast<std::uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); }

}  // namespace

SceneFrame RenderScene(int frameIndex, int width, int height, double noiseLevel, std::uint64_t seed) {
    SceneFrame frame;
    frame.width = width;
    frame.height = height;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (auto& capture : frame.captures) {
        capture.assign(pixels * 4, 255);
    }
    frame.alpha.assign(pixels, 0.0f);
    frame.colour.assign(pixels * 3, 0.0f);

    const Scene scene(frameIndex, width, height);
    const std::uint64_t frameKey = Mix(seed ^ Mix(static_cast<std::uint64_t>(frameIndex)));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * width + x;
            const Accumulated fg = scene.At(x, y);
            frame.alpha[i] = static_cast<float>(fg.a);
            if (fg.a > 0.0) {
                frame.colour[i * 3 + 0] = static_cast<float>(fg.b / fg.a);
                frame.colour[i * 3 + 1] = static_cast<float>(fg.g / fg.a);
                frame.colour[i * 3 + 2] = static_cast<float>(fg.r / fg.a);
            }
            const double premultiplied[3] = {fg.b, fg.g, fg.r};
            for (int c = 0; c < 6; ++c) {
                const auto& backdrop = c < 3 ? kRedBackdrop : kGreenBackdrop;
                std::uint8_t* out = frame.captures[c].data() + i * 4;
                for (int ch = 0; ch < 3; ++ch) {
                    double v = premultiplied[ch] + (1.0 - fg.a) * backdrop[ch];
                    if (noiseLevel > 0.0) {
                        const std::uint64_t key = frameKey ^ (static_cast<std::uint64_t>(i) << 5) ^
                                                  static_cast<std::uint64_t>(c * 3 + ch);
                        v += noiseLevel * GaussianFromHash(Mix(key));
                    }
                    out[ch] = ToByte(v);
                }
            }
        }
    }
    return frame;
}

}  // namespace nolukey
