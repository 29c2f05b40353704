// Scores of a keyed result against the scene's ground truth, the way the
// alpha-matting benchmark (Rhemann et al.) scores mattes, plus the colour error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace compare {

// A keyed frame reduced to what is scored: opacity 0..1 and the recovered
// foreground colour (three bytes per pixel, blue, green, red), row-major.
struct Matte {
    int width = 0;
    int height = 0;
    std::vector<double> alpha;
    std::vector<std::uint8_t> bgr;
};

// Takes a BGRA frame (pitch bytes per row) apart into a Matte.
Matte MatteFromBgra(const std::uint8_t* bgra, int width, int height, int pitch);

// Gradient magnitude of a plane through first-order Gaussian derivative filters:
// the 2-D kernels Gaussian(sigma) x derivative-of-Gaussian(sigma), truncated where
// the Gaussian density drops below 0.01 (half-width 4 at sigma 1.4) and scaled to
// unit L2 norm, with the border replicated: the benchmark's own gradient routine.
std::vector<double> GradientMagnitude(const std::vector<double>& plane, int width, int height, double sigma);

inline constexpr double kGradientSigma = 1.4;

struct RegionScores {
    double sad = 0;       // sum of |a - a_true|
    double mse = 0;       // mean of (a - a_true)^2
    double gradient = 0;  // sum of (|grad a| - |grad a_true|)^2, not divided by anything
    std::size_t pixels = 0;
};

struct Scores {
    RegionScores whole;  // every pixel
    RegionScores soft;   // 0 < a_true < 1 only
    double colourError = 0;       // mean |c - c_true| per channel, 0..255, where a_true > 0.5
    std::size_t colourPixels = 0;
};

// The ground truth with what every score of it needs computed once.
class Truth {
public:
    explicit Truth(Matte truth);
    const Matte& matte() const { return truth_; }
    Scores Score(const Matte& result) const;
    // Only the alpha scores (no colour): what the grid search ranks by.
    Scores ScoreAlpha(const Matte& result) const;

private:
    Scores ScoreImpl(const Matte& result, bool withColour) const;
    Matte truth_;
    std::vector<double> gradient_;
};

}  // namespace compare
