// nolukey end to end at 1920x1080: six lossless FFV1 inputs decoded, keyed through the host
// and the plugin, and written as FFV1, against the same pipeline with the keying replaced by
// a copy of green1, which leaves decoding and encoding alone.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli/key_job.h"
#include "cli/keyer.h"
#include "cli/media/media.h"
#include "cli/scene.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 8;

// Fetches the six input frames as the filter does, then copies green1 into a new frame.
class CopyGreen1 : public IClip {
public:
    explicit CopyGreen1(const std::array<PClip, 6>& inputs) : inputs_(inputs), vi_(inputs[0]->GetVideoInfo()) {}

    int GetVersion() override { return AVISYNTH_INTERFACE_VERSION; }
    PVideoFrame GetFrame(int n, IScriptEnvironment* env) override {
        std::array<PVideoFrame, 6> frames;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            frames[i] = inputs_[i]->GetFrame(n, env);
        }
        PVideoFrame out = env->NewVideoFrame(vi_, 16);
        const PVideoFrame& green1 = frames[3];
        for (int y = 0; y < vi_.height; ++y) {
            std::memcpy(out->GetWritePtr() + static_cast<std::ptrdiff_t>(y) * out->GetPitch(),
                        green1->GetReadPtr() + static_cast<std::ptrdiff_t>(y) * green1->GetPitch(),
                        static_cast<std::size_t>(vi_.width) * 4);
        }
        return out;
    }
    bool GetParity(int n) override { return inputs_[0]->GetParity(n); }
    void GetAudio(void*, std::int64_t, std::int64_t, IScriptEnvironment*) override {}
    void SetCacheHints(int, int) override {}
    const VideoInfo& GetVideoInfo() override { return vi_; }

private:
    std::array<PClip, 6> inputs_;
    VideoInfo vi_;
};

// The six inputs, rendered and written once per run of the benchmark program.
class Inputs {
public:
    Inputs() {
        std::string pattern = (std::filesystem::temp_directory_path() / "nolu-cli-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        dir_ = pattern;
        std::array<std::unique_ptr<media::Sink>, 6> sinks;
        for (std::size_t i = 0; i < sinks.size(); ++i) {
            paths_[i] = (dir_ / (std::string(nolukey::kRoles[i]) + ".mkv")).string();
            sinks[i] = media::Sink::Create(paths_[i], kWidth, kHeight, media::Rational{25, 1});
        }
        for (int n = 0; n < kFrames; ++n) {
            const nolukey::SceneFrame frame = nolukey::RenderScene(n, kWidth, kHeight, nolukey::kNoiseLight, 1);
            for (std::size_t i = 0; i < sinks.size(); ++i) {
                sinks[i]->WriteFrame(frame.captures[i].data(), kWidth * 4, n);
            }
        }
        for (const auto& sink : sinks) {
            sink->Finish();
        }
    }
    ~Inputs() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::array<std::string, 6>& Paths() const { return paths_; }
    std::string Output() const { return (dir_ / "keyed.mkv").string(); }

private:
    std::filesystem::path dir_;
    std::array<std::string, 6> paths_;
};

const Inputs& SharedInputs() {
    static const Inputs inputs;
    return inputs;
}

void Run(benchmark::State& state, const nolukey::ResultBuilder& build) {
    const Inputs& inputs = SharedInputs();
    nolukey::KeyJob job;
    job.inputs = inputs.Paths();
    job.outputs = {inputs.Output()};
    job.threads = static_cast<int>(state.range(0));
    job.plugin = NOLU_PLUGIN_PATH;
    for (auto _ : state) {
        nolukey::RunKey(job, build);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()) * kFrames,
                                               benchmark::Counter::kIsRate);
}

void BM_KeyEndToEnd(benchmark::State& state) { Run(state, {}); }

void BM_CopyGreen1EndToEnd(benchmark::State& state) {
    Run(state, [](IScriptEnvironment*, const std::array<PClip, 6>& inputs) { return PClip(new CopyGreen1(inputs)); });
}

}  // namespace

BENCHMARK(BM_KeyEndToEnd)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyGreen1EndToEnd)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
