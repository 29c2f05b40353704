#include "cli/demo.h"

#include <array>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/key_job.h"
#include "cli/keyer.h"
#include "cli/media/media.h"
#include "cli/ordered_pipeline.h"
#include "cli/scene.h"

namespace nolukey {
namespace {

std::string NoiseName(double noise) {
    if (noise == kNoiseNone) return "no";
    if (noise == kNoiseLight) return "light";
    if (noise == kNoiseHeavy) return "heavy";
    return "custom";
}

int ThreadCount(int requested) {
    if (requested > 0) return requested;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

// Renders every frame and writes the six captures as numbered PNG sequences; returns their patterns.
std::array<std::string, 6> WriteCaptures(const DemoOptions& options) {
    const std::filesystem::path dir = options.dir / "captures";
    std::filesystem::create_directories(dir);
    std::array<std::string, 6> patterns;
    std::array<std::unique_ptr<media::Sink>, 6> sinks;
    for (std::size_t i = 0; i < sinks.size(); ++i) {
        patterns[i] = (dir / (std::string(kRoles[i]) + "_%04d.png")).string();
        sinks[i] = media::Sink::Create(patterns[i], options.width, options.height, media::Rational{24, 1});
    }
    const int threads = ThreadCount(options.threads);
    RunOrdered(
        0, options.frames - 1, threads, 2 * threads,
        [&](int n) { return RenderScene(n, options.width, options.height, options.noise, options.seed); },
        [&](int n, SceneFrame frame) {
            for (std::size_t i = 0; i < sinks.size(); ++i) {
                sinks[i]->WriteFrame(frame.captures[i].data(), options.width * 4, n);
            }
        });
    for (const auto& sink : sinks) {
        sink->Finish();
    }
    return patterns;
}

// Reads the keyed frames back from disk, so the figures judge what was actually written.
MatteQuality Measure(const DemoOptions& options, const std::string& keyed) {
    const auto source = media::Source::Open(keyed);
    MatteQualityMeter meter;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(options.width) * options.height * 4);
    for (int n = 0; n < options.frames; ++n) {
        source->ReadFrame(n, pixels.data(), options.width * 4);
        // The truth does not depend on the noise; rendering without it is quicker.
        meter.Add(pixels.data(), options.width * 4,
                  RenderScene(n, options.width, options.height, kNoiseNone, options.seed));
    }
    return meter.Result();
}

}  // namespace

MatteQuality RunDemo(const DemoOptions& options, std::FILE* out) {
    std::filesystem::create_directories(options.dir);
    KeyJob job;
    job.inputs = WriteCaptures(options);
    const std::string keyedSequence = (options.dir / "keyed_%04d.png").string();
    const std::string keyedMovie = (options.dir / "keyed.mov").string();
    job.outputs = {keyedSequence, keyedMovie};
    job.preview = (options.dir / "preview_%04d.png").string();
    job.threads = options.threads;
    job.plugin = options.plugin;
    job.progress = options.progress;
    const KeySummary summary = RunKey(job);
    const MatteQuality q = Measure(options, keyedSequence);

    std::fprintf(out, "Rendered %d frames of %dx%d with %s sensor noise (sigma %.1f code values).\n",
                 options.frames, options.width, options.height, NoiseName(options.noise).c_str(), options.noise);
    std::fprintf(out, "  captures: %s\n", (options.dir / "captures" / "{red,green}{1,2,3}_%04d.png").c_str());
    std::fprintf(out, "  keyed:    %s and %s (%.1f fps on %d threads)\n", keyedSequence.c_str(),
                 keyedMovie.c_str(), summary.frames / summary.seconds, summary.threads);
    std::fprintf(out, "  preview:  %s\n", job.preview.c_str());
    std::fprintf(out, "Matte against the ground truth (alpha in 0..1, colour in 0..255):\n");
    std::fprintf(out, "  SAD of alpha, whole frame, mean per frame:         %.3f thousand\n", q.sadThousands);
    std::fprintf(out, "  MSE of alpha, whole frame:                         %.6f\n", q.mseAll);
    std::fprintf(out, "  MSE of alpha, where the truth is 0 < alpha < 1:    %.6f (%lld pixels)\n",
                 q.mseSemiTransparent, static_cast<long long>(q.semiTransparentPixels));
    std::fprintf(out, "  mean colour error per channel, true alpha > 0.5:   %.3f (%lld pixels)\n", q.meanColourError,
                 static_cast<long long>(q.mostlyOpaquePixels));
    return q;
}

}  // namespace nolukey
