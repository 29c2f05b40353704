// How close a keyed result comes to the scene's ground truth.
#pragma once

#include <cstdint>

#include "cli/scene.h"

namespace nolukey {

struct MatteQuality {
    int frames = 0;
    // Sum over a whole frame of |keyed alpha - true alpha|, alpha in 0..1, in thousands;
    // the mean over the frames.
    double sadThousands = 0;
    // Mean of (keyed alpha - true alpha)^2, alpha in 0..1: over every pixel, and over the
    // pixels whose true alpha is strictly between 0 and 1.
    double mseAll = 0;
    double mseSemiTransparent = 0;
    std::int64_t semiTransparentPixels = 0;
    // Mean |keyed - true| per colour channel in 0..255 where the true alpha is above one half.
    double meanColourError = 0;
    std::int64_t mostlyOpaquePixels = 0;
};

class MatteQualityMeter {
public:
    // keyed: BGRA rows of truth.width*4 bytes, pitch bytes apart.
    void Add(const std::uint8_t* keyed, int pitch, const SceneFrame& truth);
    MatteQuality Result() const;

private:
    int frames_ = 0;
    double sad_ = 0;
    double squaredAll_ = 0;
    std::int64_t pixels_ = 0;
    double squaredSemi_ = 0;
    std::int64_t semiPixels_ = 0;
    double colourError_ = 0;
    std::int64_t opaquePixels_ = 0;
};

}  // namespace nolukey
