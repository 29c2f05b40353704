#include "bench/compare/scores.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace compare {
namespace {

struct Kernels {
    std::vector<double> gauss;   // smoothing across the derivative's direction
    std::vector<double> dgauss;  // derivative along it
    int half = 0;
};

Kernels GaussianKernels(double sigma) {
    constexpr double kEpsilon = 1e-2;
    const double root2pi = std::sqrt(2.0 * std::numbers::pi);
    Kernels k;
    k.half = static_cast<int>(std::ceil(sigma * std::sqrt(-2.0 * std::log(root2pi * sigma * kEpsilon))));
    double gNorm = 0;
    double dNorm = 0;
    for (int i = -k.half; i <= k.half; ++i) {
        const double x = i;
        const double g = std::exp(-x * x / (2.0 * sigma * sigma)) / (sigma * root2pi);
        const double d = -x * g / (sigma * sigma);
        k.gauss.push_back(g);
        k.dgauss.push_back(d);
        gNorm += g * g;
        dNorm += d * d;
    }
    // The 2-D kernel is the outer product, so unit norm of each factor gives unit norm of the whole.
    for (double& g : k.gauss) g /= std::sqrt(gNorm);
    for (double& d : k.dgauss) d /= std::sqrt(dNorm);
    return k;
}

// One separable pass along x (horizontal) or y, border replicated.
std::vector<double> Filter1d(const std::vector<double>& in, int width, int height, const std::vector<double>& taps,
                             bool horizontal) {
    const int half = static_cast<int>(taps.size() / 2);
    std::vector<double> out(in.size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double sum = 0;
            for (int t = -half; t <= half; ++t) {
                const int sx = horizontal ? std::clamp(x - t, 0, width - 1) : x;
                const int sy = horizontal ? y : std::clamp(y - t, 0, height - 1);
                sum += taps[static_cast<std::size_t>(t + half)] * in[static_cast<std::size_t>(sy) * width + sx];
            }
            out[static_cast<std::size_t>(y) * width + x] = sum;
        }
    }
    return out;
}

}  // namespace

Matte MatteFromPacked(const std::uint8_t* pixels, int width, int height, int pitch, ByteOrder order) {
    const int blue = order == ByteOrder::Bgra ? 0 : 2;
    Matte m;
    m.width = width;
    m.height = height;
    m.alpha.reserve(static_cast<std::size_t>(width) * height);
    m.bgr.reserve(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* px = row + 4 * x;
            m.bgr.push_back(px[blue]);
            m.bgr.push_back(px[1]);
            m.bgr.push_back(px[2 - blue]);
            m.alpha.push_back(px[3] / 255.0);
        }
    }
    return m;
}

std::vector<double> GradientMagnitude(const std::vector<double>& plane, int width, int height, double sigma) {
    const Kernels k = GaussianKernels(sigma);
    const std::vector<double> gx = Filter1d(Filter1d(plane, width, height, k.dgauss, true), width, height, k.gauss, false);
    const std::vector<double> gy = Filter1d(Filter1d(plane, width, height, k.gauss, true), width, height, k.dgauss, false);
    std::vector<double> magnitude(plane.size());
    for (std::size_t i = 0; i < plane.size(); ++i) {
        magnitude[i] = std::sqrt(gx[i] * gx[i] + gy[i] * gy[i]);
    }
    return magnitude;
}

Truth::Truth(Matte truth)
    : truth_(std::move(truth)),
      gradient_(GradientMagnitude(truth_.alpha, truth_.width, truth_.height, kGradientSigma)) {}

void Truth::CheckSize(const Matte& result) const {
    if (result.width != truth_.width || result.height != truth_.height ||
        result.alpha.size() != truth_.alpha.size() || result.bgr.size() != truth_.bgr.size()) {
        throw std::invalid_argument("matte and ground truth differ in size");
    }
}

Truth::Sad Truth::AlphaSad(const Matte& result) const {
    CheckSize(result);
    Sad sad;
    for (std::size_t i = 0; i < truth_.alpha.size(); ++i) {
        const double t = truth_.alpha[i];
        const double d = std::abs(result.alpha[i] - t);
        sad.whole += d;
        if (t > 0.0 && t < 1.0) sad.soft += d;
    }
    return sad;
}

Truth::Sad Truth::AlphaSad(const std::uint8_t* alpha, int step, int pitch) const {
    Sad sad;
    for (int y = 0; y < truth_.height; ++y) {
        const std::uint8_t* row = alpha + static_cast<std::ptrdiff_t>(y) * pitch;
        for (int x = 0; x < truth_.width; ++x) {
            const double t = truth_.alpha[static_cast<std::size_t>(y) * truth_.width + x];
            const double d = std::abs(row[static_cast<std::ptrdiff_t>(x) * step] / 255.0 - t);
            sad.whole += d;
            if (t > 0.0 && t < 1.0) sad.soft += d;
        }
    }
    return sad;
}

double Truth::ColourError(const Matte& result) const {
    CheckSize(result);
    double sum = 0;
    std::size_t pixels = 0;
    for (std::size_t i = 0; i < truth_.alpha.size(); ++i) {
        if (truth_.alpha[i] > 0.5) {
            for (int c = 0; c < 3; ++c) sum += std::abs(double{result.bgr[3 * i + c]} - double{truth_.bgr[3 * i + c]});
            ++pixels;
        }
    }
    return pixels > 0 ? sum / (3.0 * static_cast<double>(pixels)) : 0.0;
}

Scores Truth::Score(const Matte& result) const {
    CheckSize(result);
    const std::vector<double> gradient = GradientMagnitude(result.alpha, result.width, result.height, kGradientSigma);
    Scores s;
    for (std::size_t i = 0; i < truth_.alpha.size(); ++i) {
        const double t = truth_.alpha[i];
        const double diff = result.alpha[i] - t;
        const double gradDiff = gradient[i] - gradient_[i];
        const auto add = [&](RegionScores& r) {
            r.sad += std::abs(diff);
            r.mse += diff * diff;
            r.gradient += gradDiff * gradDiff;
            ++r.pixels;
        };
        add(s.whole);
        if (t <= 0.0) {
            add(s.clear);
        } else if (t >= 1.0) {
            add(s.solid);
        } else {
            add(s.soft);
            s.softBias += diff;
        }
        if (t > 0.5) ++s.colourPixels;
    }
    if (s.soft.pixels > 0) s.softBias /= static_cast<double>(s.soft.pixels);
    for (RegionScores* r : {&s.whole, &s.soft, &s.clear, &s.solid}) {
        if (r->pixels > 0) r->mse /= static_cast<double>(r->pixels);
    }
    s.colourError = ColourError(result);
    return s;
}

}  // namespace compare
