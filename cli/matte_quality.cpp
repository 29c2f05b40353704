#include "cli/matte_quality.h"

#include <cmath>

namespace nolukey {

void MatteQualityMeter::Add(const std::uint8_t* keyed, int pitch, const SceneFrame& truth) {
    double frameSad = 0;
    for (int y = 0; y < truth.height; ++y) {
        const std::uint8_t* row = keyed + static_cast<std::ptrdiff_t>(y) * pitch;
        for (int x = 0; x < truth.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * truth.width + x;
            const double trueAlpha = truth.alpha[i];
            const double error = row[x * 4 + 3] / 255.0 - trueAlpha;
            frameSad += std::abs(error);
            squaredAll_ += error * error;
            if (trueAlpha > 0.0 && trueAlpha < 1.0) {
                squaredSemi_ += error * error;
                ++semiPixels_;
            }
            if (trueAlpha > 0.5) {
                for (int ch = 0; ch < 3; ++ch) {
                    colourError_ += std::abs(row[x * 4 + ch] - static_cast<double>(truth.colour[i * 3 + ch]));
                }
                ++opaquePixels_;
            }
        }
    }
    pixels_ += static_cast<std::int64_t>(truth.width) * truth.height;
    sad_ += frameSad;
    ++frames_;
}

MatteQuality MatteQualityMeter::Result() const {
    MatteQuality q;
    q.frames = frames_;
    q.sadThousands = frames_ ? sad_ / frames_ / 1000.0 : 0.0;
    q.mseAll = pixels_ ? squaredAll_ / static_cast<double>(pixels_) : 0.0;
    q.mseSemiTransparent = semiPixels_ ? squaredSemi_ / static_cast<double>(semiPixels_) : 0.0;
    q.semiTransparentPixels = semiPixels_;
    q.meanColourError = opaquePixels_ ? colourError_ / (3.0 * static_cast<double>(opaquePixels_)) : 0.0;
    q.mostlyOpaquePixels = opaquePixels_;
    return q;
}

}  // namespace nolukey
