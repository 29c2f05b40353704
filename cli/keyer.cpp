#include "cli/keyer.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/media/media.h"
#include "cli/media_clip.h"
#include "cli/ordered_pipeline.h"
#include "cli/preview.h"
#include "cli/progress.h"
#include "host/environment.h"

namespace nolukey {
namespace {

std::string SizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

bool IsSingleImage(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    if (name.find('%') != std::string::npos || name.size() < 4) {
        return false;
    }
    std::string extension = name.substr(name.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".png";
}

void CheckOutputKinds(const KeyJob& job) {
    std::vector<std::string> paths = job.outputs;
    if (!job.preview.empty()) {
        paths.push_back(job.preview);
    }
    for (const std::string& path : paths) {
        if (!media::Sink::Supports(path)) {
            throw KeyError(path +
                           ": unsupported output type (use .png, a numbered pattern such as out_%04d.png, "
                           ".mov or .mkv)");
        }
    }
}

// Sizes must agree before the plugin sees them, so the message can name the odd file out.
void CheckSizes(const KeyJob& job, const std::array<std::unique_ptr<media::Source>, 6>& sources) {
    const media::Source& reference = *sources[0];
    for (std::size_t i = 1; i < sources.size(); ++i) {
        if (sources[i]->Width() != reference.Width() || sources[i]->Height() != reference.Height()) {
            throw KeyError(job.inputs[i] + ": size " + SizeText(sources[i]->Width(), sources[i]->Height()) +
                           " differs from red1 (" + job.inputs[0] + ", " +
                           SizeText(reference.Width(), reference.Height()) + ")");
        }
    }
}

struct IndexRange {
    int first = 0;
    int last = 0;
    int numberOffset = 0;  // frame number = index + numberOffset
};

IndexRange ResolveRange(const KeyJob& job, const std::array<std::unique_ptr<media::Source>, 6>& sources) {
    const media::Source& red1 = *sources[0];
    IndexRange range;
    range.numberOffset = red1.FirstNumber();
    if (job.frames) {
        if (job.frames->first < range.numberOffset) {
            throw KeyError(job.inputs[0] + ": frame " + std::to_string(job.frames->first) +
                           " is before its first frame, " + std::to_string(range.numberOffset));
        }
        range.first = job.frames->first - range.numberOffset;
        range.last = job.frames->last - range.numberOffset;
    } else {
        range.first = 0;
        range.last = red1.FrameCount() - 1;
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const int count = sources[i]->FrameCount();
        if (count <= range.last) {
            throw KeyError(job.inputs[i] + ": has " + std::to_string(count) + (count == 1 ? " frame" : " frames") +
                           ", too few for frames " + std::to_string(range.first + range.numberOffset) + " to " +
                           std::to_string(range.last + range.numberOffset));
        }
    }
    const int frames = range.last - range.first + 1;
    for (const std::string& path : job.outputs) {
        if (frames > 1 && IsSingleImage(path)) {
            throw KeyError(path + ": a .png output holds one frame; for " + std::to_string(frames) +
                           " frames use a numbered pattern such as out_%04d.png");
        }
    }
    if (frames > 1 && !job.preview.empty() && IsSingleImage(job.preview)) {
        throw KeyError(job.preview + ": a .png preview holds one frame; for " + std::to_string(frames) +
                       " frames use a numbered pattern such as preview_%04d.png");
    }
    return range;
}

PreviewBackground LoadBackground(const std::string& background, int width, int height) {
    if (background.empty()) {
        return PreviewBackground::Checkerboard();
    }
    if (const auto colour = ParseColour(background)) {
        return PreviewBackground::Flat(*colour);
    }
    if (background.front() == '#') {
        throw KeyError(background + ": not a colour (use #rrggbb, #rgb or a name such as grey)");
    }
    const auto plate = media::Source::Open(background);
    if (plate->Width() != width || plate->Height() != height) {
        throw KeyError(background + ": background size " + SizeText(plate->Width(), plate->Height()) +
                       " differs from the inputs' " + SizeText(width, height));
    }
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    plate->ReadFrame(0, pixels.data(), width * 4);
    return PreviewBackground::Plate(std::move(pixels), width, height);
}

PClip InvokeKeying(host::Environment& env, const std::array<PClip, 6>& clips) {
    std::vector<host::Argument> args;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        args.push_back(host::Argument{kRoles[i], AVSValue(clips[i])});
    }
    return env.Invoke("NoluMultiColorKeying", args).AsClip();
}

struct KeyedFrame {
    PVideoFrame keyed;
    std::vector<std::uint8_t> preview;
};

}  // namespace

KeySummary RunKey(const KeyJob& job, const ResultBuilder& buildResult) {
    const auto start = std::chrono::steady_clock::now();
    if (job.outputs.empty()) {
        throw KeyError("no output given");
    }
    CheckOutputKinds(job);

    std::array<std::unique_ptr<media::Source>, 6> sources;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        sources[i] = media::Source::Open(job.inputs[i]);
    }
    CheckSizes(job, sources);
    const IndexRange range = ResolveRange(job, sources);
    const int width = sources[0]->Width();
    const int height = sources[0]->Height();
    const PreviewBackground background =
        job.preview.empty() ? PreviewBackground::Checkerboard() : LoadBackground(job.background, width, height);

    // The environment outlives every clip, and the clips keep the plugin library loaded.
    host::Environment env;
    env.LoadPlugin(job.plugin);
    std::array<PClip, 6> clips;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        clips[i] = new MediaClip(std::move(sources[i]));
    }
    const PClip result = buildResult ? buildResult(&env, clips) : InvokeKeying(env, clips);
    const VideoInfo& vi = result->GetVideoInfo();
    const media::Rational rate{static_cast<int>(vi.fps_numerator), static_cast<int>(vi.fps_denominator)};

    std::vector<std::unique_ptr<media::Sink>> sinks;
    for (const std::string& path : job.outputs) {
        sinks.push_back(media::Sink::Create(path, vi.width, vi.height, rate));
    }
    std::unique_ptr<media::Sink> previewSink;
    if (!job.preview.empty()) {
        previewSink = media::Sink::Create(job.preview, vi.width, vi.height, rate);
    }

    int threads = job.threads > 0 ? job.threads : static_cast<int>(std::thread::hardware_concurrency());
    threads = std::max(threads, 1);
    const int frames = range.last - range.first + 1;
    Progress progress(frames, job.progress);
    const bool withPreview = previewSink != nullptr;

    RunOrdered(
        range.first, range.last, threads, 2 * threads,
        [&](int n) {
            KeyedFrame frame{result->GetFrame(n, &env), {}};
            if (withPreview) {
                frame.preview.resize(static_cast<std::size_t>(vi.width) * vi.height * 4);
                background.Composite(frame.keyed->GetReadPtr(), frame.keyed->GetPitch(), frame.preview.data(),
                                     vi.width * 4, vi.width, vi.height);
            }
            return frame;
        },
        [&](int n, KeyedFrame frame) {
            const int number = n + range.numberOffset;
            for (const auto& sink : sinks) {
                sink->WriteFrame(frame.keyed->GetReadPtr(), frame.keyed->GetPitch(), number);
            }
            if (withPreview) {
                previewSink->WriteFrame(frame.preview.data(), vi.width * 4, number);
            }
            progress.FrameDone();
        });
    progress.Finish();

    for (const auto& sink : sinks) {
        sink->Finish();
    }
    if (previewSink) {
        previewSink->Finish();
    }

    KeySummary summary;
    summary.first = range.first + range.numberOffset;
    summary.last = range.last + range.numberOffset;
    summary.frames = frames;
    summary.threads = threads;
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return summary;
}

}  // namespace nolukey
