// A Windows host program that loads the plugin DLL the way a host does and checks it
// end to end: entry point, registration, keyed bytes, the RGB32 error crossing the DLL
// boundary, and every clip and frame handed back. Run under Wine by `make test`; on
// Windows, run it by hand: plugin_check.exe path\to\NoluMultiColorKeying.dll
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "host/environment.h"
#include "host/source_clip.h"
#include "keying/keying.h"
#include "keying/variants.h"
#include "plugin/host_interface.h"
#include "plugin/interlocked.h"
#include "tests/plugin/test_clips.h"

// The DLL is built from the same header: its handle counts must be the system's
// interlocked calls on LONG, not the portable std::atomic_ref fallback.
static_assert(std::is_same_v<interlocked::Count, LONG>, "Windows builds must count with InterlockedIncrement");

namespace {

using namespace testclips;

constexpr const char* kFunction = "NoluMultiColorKeying";

int checks = 0;
int failures = 0;

// Counts one check; on failure prints the printf-formatted description.
[[gnu::format(printf, 2, 3)]] bool Check(bool ok, const char* fmt, ...) {
    ++checks;
    if (!ok) {
        ++failures;
        std::va_list args;
        va_start(args, fmt);
        std::printf("  FAIL: ");
        std::vprintf(fmt, args);
        std::printf("\n");
        va_end(args);
    }
    return ok;
}

std::atomic<int> clipsDestroyed{0};

// A source clip that counts its own destruction, so a reference the plugin failed to
// release (for instance one skipped while an error unwinds through the DLL) shows.
class CountedClip final : public host::MemoryClip {
public:
    using host::MemoryClip::MemoryClip;
    ~CountedClip() override { ++clipsDestroyed; }
};

keying::Bgra PixelAt(const Pixels& p, std::size_t i) { return {p[i], p[i + 1], p[i + 2], p[i + 3]}; }

void SetPixel(Pixels& p, std::size_t i, keying::Bgra px) {
    p[i] = px.b;
    p[i + 1] = px.g;
    p[i + 2] = px.r;
    p[i + 3] = px.a;
}

// Worked pixels with their known results, planted at the start of frame 0.
struct Worked {
    std::array<int, 3> greens;  // green bytes of green1, green2, green3
    std::array<int, 3> reds;    // green bytes of red1, red2, red3
    std::array<int, 3> colour;  // green1's blue, green, red
    std::array<int, 4> out;     // B', G', R', A'
};
constexpr Worked kWorked[] = {
    {{200, 200, 200}, {73, 73, 73}, {100, 200, 150}, {191, 145, 255, 128}},
    {{250, 180, 240}, {10, 30, 20}, {120, 250, 60}, {255, 242, 118, 105}},
    {{255, 255, 255}, {0, 0, 0}, {90, 255, 40}, {0, 0, 0, 0}},
    {{143, 143, 143}, {100, 100, 100}, {100, 143, 100}, {118, 120, 116, 211}},
};

keying::Bgra Px(int b, int g, int r) {
    return {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r), 77};
}

// Six scenes' worth of random frames, with the worked pixels planted in frame 0.
struct Scene {
    VideoInfo vi = Rgb32(13, 5, 2);  // odd width: rows end inside the alignment padding
    std::array<std::vector<Pixels>, 6> frames;

    Scene() {
        for (std::size_t i = 0; i < 6; ++i) frames[i] = RandomFrames(vi, vi.num_frames, static_cast<unsigned>(7 + i));
        for (std::size_t k = 0; k < std::size(kWorked); ++k) {
            const Worked& w = kWorked[k];
            for (std::size_t j = 0; j < 3; ++j) SetPixel(frames[j][0], 4 * k, Px(3, w.reds[j], 250));
            SetPixel(frames[3][0], 4 * k, Px(w.colour[0], w.colour[1], w.colour[2]));
            for (std::size_t j = 1; j < 3; ++j) SetPixel(frames[3 + j][0], 4 * k, Px(66, w.greens[j], 99));
        }
    }
    // Frame n keyed by the scalar reference, pixel by pixel.
    Pixels Expected(int n) const {
        const auto f = static_cast<std::size_t>(n);
        Pixels out(frames[0][f].size());
        for (std::size_t i = 0; i < out.size(); i += 4) {
            SetPixel(out, i,
                     keying::KeyPixel(PixelAt(frames[0][f], i), PixelAt(frames[1][f], i), PixelAt(frames[2][f], i),
                                      PixelAt(frames[3][f], i), PixelAt(frames[4][f], i), PixelAt(frames[5][f], i)));
        }
        return out;
    }
};

std::string Bytes(const Pixels& p, std::size_t i) {
    char text[20];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", p[i], p[i + 1], p[i + 2], p[i + 3]);
    return text;
}

void CheckKeyedFrames(host::Environment& env, const Scene& scene) {
    std::vector<host::Argument> args;
    // Named, in an order other than the signature's: the host must bind them by name.
    for (std::size_t i : {5, 3, 0, 4, 2, 1}) {
        args.push_back({kRoles[i], PClip(new CountedClip(scene.vi, scene.frames[i]))});
    }
    const AVSValue result = env.Invoke(kFunction, args);
    args.clear();
    if (!Check(result.IsClip(), "the function returns a clip")) return;
    const PClip clip = result.AsClip();
    Check(clip->GetVideoInfo() == scene.vi, "the keyed clip describes itself as red1");
    Check(clip->GetVersion() == 3, "the keyed clip reports interface version 3");

    for (int n = 0; n < scene.vi.num_frames; ++n) {
        const Pixels got = Visible(clip->GetFrame(n, &env));
        const Pixels want = scene.Expected(n);
        int wrong = 0;
        for (std::size_t i = 0; i < want.size(); i += 4) {
            if (i + 4 <= got.size() && std::equal(want.begin() + i, want.begin() + i + 4, got.begin() + i)) continue;
            if (++wrong <= 3) {
                std::printf("  frame %d pixel %d: got %s, KeyPixel gives %s\n", n, static_cast<int>(i / 4),
                            i + 4 <= got.size() ? Bytes(got, i).c_str() : "nothing", Bytes(want, i).c_str());
            }
        }
        Check(got.size() == want.size() && wrong == 0, "frame %d: %d pixels differ from KeyPixel", n, wrong);
        if (n == 0) {
            for (std::size_t k = 0; k < std::size(kWorked); ++k) {
                const auto& o = kWorked[k].out;
                const Pixels known = {static_cast<std::uint8_t>(o[0]), static_cast<std::uint8_t>(o[1]),
                                      static_cast<std::uint8_t>(o[2]), static_cast<std::uint8_t>(o[3])};
                Check(std::equal(known.begin(), known.end(), got.begin() + 4 * k), "worked pixel %d: got %s, known %s",
                      static_cast<int>(k), Bytes(got, 4 * k).c_str(), Bytes(known, 0).c_str());
            }
        }
    }
}

void CheckRgb32Error(host::Environment& env, const Scene& scene) {
    const VideoInfo rgb24 = host::MakeVideoInfo(VideoInfo::CS_BGR24, scene.vi.width, scene.vi.height, 1);
    std::vector<host::Argument> args;
    for (std::size_t i = 0; i < 6; ++i) {
        // green2 is RGB24: the filter is half built when it refuses it.
        PClip c = i == 4 ? PClip(new CountedClip(rgb24, {Pixels(static_cast<std::size_t>(rgb24.RowSize()) * rgb24.height)}))
                         : PClip(new CountedClip(scene.vi, {scene.frames[i][0]}));
        args.push_back({kRoles[i], c});
    }
    std::string message = "(no error)";
    try {
        env.Invoke(kFunction, args);
    } catch (const AvisynthError& e) {
        message = e.what();
    }
    Check(message == "NoluMultiColorKeying: Inputs must be RGB32",
          "a non-RGB32 input raises exactly \"NoluMultiColorKeying: Inputs must be RGB32\"; got \"%s\"", message.c_str());
}

void Run(const char* dll) {
    host::Environment env;
    std::string description;
    try {
        description = env.LoadPlugin(dll);
    } catch (const AvisynthError& e) {
        Check(false, "load the plugin: %s", e.what());
        return;
    }
    Check(description == "Nolu MultiColor Keying for AviSynth", "the entry point returns the description; got \"%s\"",
          description.c_str());
    const std::vector<host::FunctionInfo> functions = env.Functions();
    Check(functions.size() == 1 && functions[0].name == kFunction &&
              functions[0].signature == "[red1]c[red2]c[red3]c[green1]c[green2]c[green3]c",
          "the entry point registers NoluMultiColorKeying with its six-clip signature");

    const Scene scene;
    CheckKeyedFrames(env, scene);
    Check(clipsDestroyed == 6, "the keyed clip releases its six inputs: %d of 6", clipsDestroyed.load());
    CheckRgb32Error(env, scene);
    Check(clipsDestroyed == 12, "after the error every input is released: %d of 6 (the DLL's frames must unwind)",
          clipsDestroyed - 6);
    Check(env.LiveFrames() == 0, "every frame is released: %ld still live", env.LiveFrames());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s NoluMultiColorKeying.dll\n", argv[0]);
        return 2;
    }
    // The DLL's dispatcher sees the same CPU and OS, so it picks the same variant.
    const std::string_view variant = keying::VariantName(keying::ActiveVariant());
    std::printf("plugin_check: the keying pass here is the %.*s variant\n", static_cast<int>(variant.size()),
                variant.data());
    try {
        Run(argv[1]);
    } catch (const std::exception& e) {
        Check(false, "unexpected exception: %s", e.what());
    }
    std::printf("plugin_check %s: %s, %d checks, %d failed\n", argv[1], failures == 0 ? "PASS" : "FAIL", checks,
                failures);
    return failures == 0 ? 0 : 1;
}
