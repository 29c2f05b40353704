// Scores of a keyed result against the scene's ground truth, the way the
// alpha-matting benchmark (Rhemann et al.) scores mattes, plus the colour error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace compare {

// A keyed frame reduced to what is scored: opacity 0..1 and the straight
// foreground colour (blue, green, red per pixel, 0..255), row-major.
struct Matte {
    int width = 0;
    int height = 0;
    std::vector<double> alpha;
    std::vector<float> bgr;
};

// Memory order of a packed 8-bit frame with alpha last.
enum class ByteOrder { Bgra, Rgba };

// Takes a packed frame (pitch bytes per row) apart into a Matte.
Matte MatteFromPacked(const std::uint8_t* pixels, int width, int height, int pitch, ByteOrder order);

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
    RegionScores clear;  // a_true == 0: backdrop left showing
    RegionScores solid;  // a_true == 1: holes punched into the foreground
    double softBias = 0;  // mean of (a - a_true) over the soft region: > 0 leans opaque
    double colourError = 0;       // mean |c - c_true| per channel, 0..255, where a_true > 0.5
    std::size_t colourPixels = 0;
};

// The ground truth with what every score of it needs computed once.
class Truth {
public:
    explicit Truth(Matte truth);
    const Matte& matte() const { return truth_; }
    Scores Score(const Matte& result) const;
    // The sums of |a - a_true| over the whole frame and over the semi-transparent
    // region alone: all a grid search needs, without the cost of the gradients.
    struct Sad {
        double whole = 0;
        double soft = 0;
    };
    Sad AlphaSad(const Matte& result) const;
    // The same straight from 8-bit alpha bytes: `step` bytes apart in a row (4 packed, 1 planar),
    // rows `pitch` bytes apart.
    Sad AlphaSad(const std::uint8_t* alpha, int step, int pitch) const;
    // The colour error alone (see Scores::colourError).
    double ColourError(const Matte& result) const;

private:
    void CheckSize(const Matte& result) const;
    Matte truth_;
    std::vector<double> gradient_;
};

}  // namespace compare
