// Keying speed per variant on whole frames, against a memory floor that moves the
// same bytes with no arithmetic. Prints Mpix/s per run and, at the end, each
// variant's time relative to the scalar reference and to the floor.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <benchmark/benchmark.h>

#include "keying/variants.h"

namespace {

constexpr int kInputs = 6;

struct Resolution {
    int width, height;
};
constexpr Resolution kResolutions[] = {{1920, 1080}, {3840, 2160}};

enum class Content { Worst, Realistic };
const char* ContentName(Content c) { return c == Content::Worst ? "worst" : "realistic"; }

// Small, fast and reproducible: frames of millions of pixels are generated per run.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : s_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Between(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<std::uint64_t>(hi - lo + 1)); }

private:
    std::uint64_t s_;
};

// Six captures of one frame (red1, red2, red3, green1, green2, green3) and the output.
struct Scene {
    std::array<std::vector<std::uint8_t>, kInputs> in;
    std::vector<std::uint8_t> out;
    std::size_t pixels = 0;

    void Set(std::size_t px, int run, int b, int g, int r) {
        std::uint8_t* p = in[run].data() + px * 4;
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
        p[3] = 255;
    }
    // One position from a smallest difference reached by the given capture pair,
    // the other captures drifting away from it by up to `spread`.
    void SetPair(std::size_t px, Rng& rng, int minGreen, int maxRed, int spread, int b, int r) {
        const int gHolder = rng.Between(0, 2);
        const int rHolder = rng.Between(0, 2);
        for (int i = 0; i < 3; ++i) {
            const int red = i == rHolder ? maxRed : std::max(0, maxRed - rng.Between(0, spread));
            const int green = i == gHolder ? minGreen : std::min(255, minGreen + rng.Between(0, spread));
            Set(px, i, rng.Between(0, 255), red, rng.Between(0, 255));
            Set(px, 3 + i, i == 0 ? b : rng.Between(0, 255), green, i == 0 ? r : rng.Between(0, 255));
        }
    }
};

// Every pixel semi-transparent: smallest differences spread over 1..254, random colours.
void FillWorst(Scene& s, const Resolution&, Rng& rng) {
    for (std::size_t px = 0; px < s.pixels; ++px) {
        const int d = rng.Between(1, 254);
        const int minGreen = rng.Between(d, 255);
        s.SetPair(px, rng, minGreen, minGreen - d, 3, rng.Between(0, 255), rng.Between(0, 255));
    }
}

// A keyed shot: an opaque figure (an ellipse over most of the frame's middle) whose
// captures agree up to sensor noise, a soft edge band where opacity ramps down, and
// the green backdrop around it, greens 250..255 against reds 0..6.
void FillRealistic(Scene& s, const Resolution& res, Rng& rng) {
    const double cx = res.width * 0.5, cy = res.height * 0.55;
    const double ax = res.width * 0.30, ay = res.height * 0.45;
    const double band = res.height * 0.02;  // edge width in pixels
    for (int y = 0; y < res.height; ++y) {
        for (int x = 0; x < res.width; ++x) {
            const std::size_t px = static_cast<std::size_t>(y) * res.width + x;
            const double dx = (x - cx) / ax, dy = (y - cy) / ay;
            // Distance outside the ellipse's rim, in pixels, roughly.
            const double outside = (std::sqrt(dx * dx + dy * dy) - 1.0) * std::min(ax, ay);
            if (outside <= 0.0) {
                // Foreground: shading across the figure, each capture with +-1 of noise.
                const int g = 60 + (x * 120) / res.width + (y * 40) / res.height;
                const int b = 40 + (y * 100) / res.height, r = 150 - (x * 60) / res.width;
                for (int i = 0; i < kInputs; ++i) {
                    s.Set(px, i, rng.Between(0, 255), g + rng.Between(-1, 1), rng.Between(0, 255));
                }
                s.Set(px, 3, b + rng.Between(-1, 1), s.in[3][px * 4 + 1], r + rng.Between(-1, 1));
            } else if (outside < band) {
                // Soft edge: the difference ramps from foreground to backdrop.
                const int d = std::clamp(static_cast<int>(250.0 * outside / band) + rng.Between(-2, 2), 1, 250);
                const int minGreen = rng.Between(std::max(d, 120), 255);
                s.SetPair(px, rng, minGreen, minGreen - d, 2, rng.Between(0, 120), rng.Between(0, 160));
            } else {
                // Backdrop with sensor noise.
                for (int i = 0; i < 3; ++i) {
                    s.Set(px, i, rng.Between(0, 255), rng.Between(0, 6), rng.Between(0, 255));
                    s.Set(px, 3 + i, rng.Between(4, 12), rng.Between(250, 255), rng.Between(15, 23));
                }
            }
        }
    }
}

// Scenes are built on first use and kept: repetitions of different kernels are
// interleaved, and rebuilding a 3840x2160 scene takes longer than timing it.
const Scene& SceneFor(const Resolution& res, Content content) {
    static std::map<std::tuple<int, int, Content>, std::unique_ptr<Scene>> scenes;
    auto& scene = scenes[{res.width, res.height, content}];
    if (!scene) {
        scene = std::make_unique<Scene>();
        scene->pixels = static_cast<std::size_t>(res.width) * res.height;
        for (auto& run : scene->in) {
            run.assign(scene->pixels * 4, 0);
        }
        scene->out.assign(scene->pixels * 4, 0);
        Rng rng(0x5EED + static_cast<std::uint64_t>(content));
        (content == Content::Worst ? FillWorst : FillRealistic)(*scene, res, rng);
    }
    return *scene;
}

// Reads all six runs and writes the output, nothing else: the memory traffic of a pass.
void MemoryFloor(const std::uint8_t* __restrict r1, const std::uint8_t* __restrict r2,
                 const std::uint8_t* __restrict r3, const std::uint8_t* __restrict g1,
                 const std::uint8_t* __restrict g2, const std::uint8_t* __restrict g3, std::uint8_t* __restrict out,
                 std::size_t byteCount) {
    for (std::size_t i = 0; i < byteCount; ++i) {
        out[i] = static_cast<std::uint8_t>(r1[i] | r2[i] | r3[i] | g1[i] | g2[i] | g3[i]);
    }
}

void RunPass(benchmark::State& state, keying::PassFn pass, Resolution res, Content content) {
    auto& scene = const_cast<Scene&>(SceneFor(res, content));
    const std::size_t bytes = scene.pixels * 4;
    for (auto _ : state) {
        pass(scene.in[0].data(), scene.in[1].data(), scene.in[2].data(), scene.in[3].data(), scene.in[4].data(),
             scene.in[5].data(), scene.out.data(), bytes);
        benchmark::DoNotOptimize(scene.out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(scene.pixels));
    state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(scene.pixels) * 1e-6 *
                                                      static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}

// Console output of each kernel's median and spread (cv) over the repetitions; the
// fastest repetition's CPU time per frame is kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.error_occurred) {
                shown.push_back(run);
            } else if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                // CPU time: on a shared machine it leaves out the time others hold the core.
                const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
                auto& best = seconds_[run.run_name.function_name];  // fastest repetition
                best = best == 0.0 ? seconds : std::min(best, seconds);
            } else if (run.aggregate_name == "median" || run.aggregate_name == "cv") {
                shown.push_back(run);
            }
        }
        if (!shown.empty()) {
            ConsoleReporter::ReportRuns(shown);
        }
    }

    void PrintRatios() const {
        std::printf("\nFastest repetition, CPU time per frame, against the scalar reference and the memory floor:\n");
        std::printf("%-10s %-10s %-8s %10s %10s %10s %10s\n", "frame", "content", "kernel", "ms/frame", "Mpix/s",
                    "x scalar", "x floor");
        for (const Resolution& res : kResolutions) {
            for (Content content : {Content::Worst, Content::Realistic}) {
                const std::string prefix =
                    std::to_string(res.width) + "x" + std::to_string(res.height) + "/" + ContentName(content) + "/";
                const double scalar = Seconds(prefix + "scalar");
                const double floor = Seconds(prefix + "floor");
                const double mpix = static_cast<double>(res.width) * res.height * 1e-6;
                std::vector<std::string> kernels{"floor"};
                for (keying::Variant v : keying::BuiltVariants()) {
                    kernels.emplace_back(keying::VariantName(v));
                }
                for (const std::string& kernel : kernels) {
                    const double seconds = Seconds(prefix + kernel);
                    if (seconds == 0.0) {
                        continue;
                    }
                    std::printf("%-10s %-10s %-8s %10.3f %10.1f %9.2fx %9.2fx\n",
                                prefix.substr(0, prefix.find('/')).c_str(), ContentName(content), kernel.c_str(),
                                seconds * 1e3, mpix / seconds, scalar > 0 ? scalar / seconds : 0.0,
                                floor > 0 ? seconds / floor : 0.0);
                }
            }
        }
        std::printf("x scalar: speed-up over the scalar reference; x floor: time over the memory floor's.\n");
    }

private:
    double Seconds(const std::string& name) const {
        const auto it = seconds_.find(name);
        return it == seconds_.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> seconds_;
};

// Three short repetitions of each; the ratios use each kernel's fastest, the one
// least disturbed by whatever else the machine runs.
void Configure(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->MinTime(0.2)->Repetitions(3);
}

}  // namespace

int main(int argc, char** argv) {
    // Repetitions of different kernels run interleaved in random order unless the
    // command line says otherwise, so a busy spell on the machine hits all alike.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    if (std::none_of(args.begin(), args.end(),
                     [](const char* a) { return std::string(a).rfind("--benchmark_enable_random_interleaving", 0) == 0; })) {
        args.insert(args.begin() + 1, interleave.data());
    }
    argc = static_cast<int>(args.size());
    argv = args.data();
    for (const Resolution& res : kResolutions) {
        for (Content content : {Content::Worst, Content::Realistic}) {
            const std::string prefix =
                std::to_string(res.width) + "x" + std::to_string(res.height) + "/" + ContentName(content) + "/";
            Configure(benchmark::RegisterBenchmark((prefix + "floor").c_str(), RunPass, &MemoryFloor, res, content));
            for (keying::Variant v : keying::BuiltVariants()) {
                if (keying::CanRun(v)) {
                    Configure(benchmark::RegisterBenchmark((prefix + std::string(keying::VariantName(v))).c_str(),
                                                           RunPass, keying::PassFor(v), res, content));
                }
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
