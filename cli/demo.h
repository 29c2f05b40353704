// `nolukey demo`: renders the sample scene, keys it like `nolukey key` and measures the matte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "cli/matte_quality.h"

namespace nolukey {

struct DemoOptions {
    std::filesystem::path dir = "demo-out";
    int frames = 24;
    int width = 640;
    int height = 360;
    double noise = kNoiseLight;
    std::uint64_t seed = 1;
    int threads = 0;  // 0: one per core
    bool progress = false;
    std::filesystem::path plugin;
};

// Writes captures/, keyed_%04d.png, keyed.mov and preview_%04d.png under dir, prints what it
// wrote and the matte quality to out, and returns the quality.
MatteQuality RunDemo(const DemoOptions& options, std::FILE* out);

}  // namespace nolukey
