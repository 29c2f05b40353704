// Keys a few pixels and prints what went in and what came out.
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "keying/keying.h"
#include "keying/variants.h"

namespace {

struct Sample {
    const char* what;
    int greens[3];
    int reds[3];
    keying::Bgra green1Colour;
};

keying::Bgra Capture(int g, int b = 0, int r = 0) {
    return keying::Bgra{static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r), 255};
}

}  // namespace

int main() {
    const Sample samples[] = {
        {"backdrop only", {255, 255, 255}, {0, 0, 0}, {90, 255, 40, 255}},
        {"opaque foreground", {120, 120, 120}, {120, 120, 120}, {10, 120, 200, 255}},
        {"half transparent", {200, 200, 200}, {73, 73, 73}, {100, 200, 150, 255}},
        {"backdrop through half opacity", {255, 255, 255}, {128, 128, 128}, {8, 255, 19, 255}},
        {"colour clamped low", {130, 130, 130}, {0, 0, 0}, {2, 130, 5, 255}},
    };
    // One run per capture, one pixel per sample, keyed in a single pass as a frame would be.
    const std::size_t count = std::size(samples);
    std::vector<keying::Bgra> runs[6];
    for (const Sample& s : samples) {
        keying::Bgra g1 = s.green1Colour;
        g1.g = static_cast<std::uint8_t>(s.greens[0]);
        runs[0].push_back(Capture(s.reds[0]));
        runs[1].push_back(Capture(s.reds[1]));
        runs[2].push_back(Capture(s.reds[2]));
        runs[3].push_back(g1);
        runs[4].push_back(Capture(s.greens[1]));
        runs[5].push_back(Capture(s.greens[2]));
    }
    std::vector<keying::Bgra> keyed(count);
    const auto bytes = [](const std::vector<keying::Bgra>& v) { return reinterpret_cast<const std::uint8_t*>(v.data()); };
    keying::KeyingPass(bytes(runs[0]), bytes(runs[1]), bytes(runs[2]), bytes(runs[3]), bytes(runs[4]), bytes(runs[5]),
                       reinterpret_cast<std::uint8_t*>(keyed.data()), count * sizeof(keying::Bgra));

    std::printf("keying variant: %s\n\n", std::string(keying::VariantName(keying::ActiveVariant())).c_str());
    std::printf("%-30s %-13s %-13s %-15s %s\n", "pixel", "greens", "reds", "green1 B,G,R", "keyed B,G,R,A");
    for (std::size_t i = 0; i < count; ++i) {
        const Sample& s = samples[i];
        const keying::Bgra g1 = runs[3][i];
        const keying::Bgra out = keyed[i];
        std::printf("%-30s %3d,%3d,%3d   %3d,%3d,%3d   %3d,%3d,%3d     %3d,%3d,%3d,%3d\n", s.what, s.greens[0],
                    s.greens[1], s.greens[2], s.reds[0], s.reds[1], s.reds[2], g1.b, g1.g, g1.r, out.b, out.g, out.r,
                    out.a);
    }
    return 0;
}
