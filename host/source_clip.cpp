#include "host/source_clip.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace host {

VideoInfo MakeVideoInfo(int pixel_type, int width, int height, int num_frames, unsigned fps_numerator,
                        unsigned fps_denominator) {
    VideoInfo vi;
    vi.width = width;
    vi.height = height;
    vi.fps_numerator = fps_numerator;
    vi.fps_denominator = fps_denominator;
    vi.num_frames = num_frames;
    vi.pixel_type = pixel_type;
    return vi;
}

PVideoFrame SourceClip::GetFrame(int n, IScriptEnvironment* env) {
    if (vi.num_frames <= 0) env->ThrowError("SourceClip: the clip has no frames");
    n = std::clamp(n, 0, vi.num_frames - 1);
    PVideoFrame frame = env->NewVideoFrame(vi, align);
    Fill(n, frame->GetWritePtr(), frame->GetPitch(), env);
    return frame;
}

void SourceClip::GetAudio(void* buf, std::int64_t, std::int64_t count, IScriptEnvironment*) {
    if (count > 0 && vi.BytesPerAudioSample() > 0) {
        std::memset(buf, 0, static_cast<std::size_t>(count) * static_cast<std::size_t>(vi.BytesPerAudioSample()));
    }
}

namespace {

VideoInfo CountFrames(VideoInfo vi, std::size_t frames) {
    vi.num_frames = static_cast<int>(frames);
    return vi;
}

}  // namespace

MemoryClip::MemoryClip(const VideoInfo& vi, std::vector<std::vector<std::uint8_t>> frames, int align)
    : SourceClip(CountFrames(vi, frames.size()), align), frames_(std::move(frames)) {
    if (frames_.empty()) throw AvisynthError("MemoryClip: a clip needs at least one frame");
    if (this->vi.RowSize() <= 0 || this->vi.height <= 0) {
        throw AvisynthError("MemoryClip: frames must be of an interleaved format and not empty");
    }
    const std::size_t expected = static_cast<std::size_t>(this->vi.RowSize()) * static_cast<std::size_t>(this->vi.height);
    for (std::size_t i = 0; i < frames_.size(); ++i) {
        if (frames_[i].size() != expected) {
            throw AvisynthError("MemoryClip: frame " + std::to_string(i) + " holds " + std::to_string(frames_[i].size()) +
                                " bytes, " + std::to_string(expected) + " expected");
        }
    }
}

void MemoryClip::Fill(int n, std::uint8_t* dst, int pitch, IScriptEnvironment*) {
    const std::size_t rowSize = static_cast<std::size_t>(vi.RowSize());
    const std::uint8_t* src = frames_[static_cast<std::size_t>(n)].data();
    for (int y = 0; y < vi.height; ++y) {
        std::memcpy(dst + static_cast<std::ptrdiff_t>(y) * pitch, src + static_cast<std::size_t>(y) * rowSize, rowSize);
    }
}

}  // namespace host
