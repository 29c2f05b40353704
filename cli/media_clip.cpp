#include "cli/media_clip.h"

#include <utility>

namespace nolukey {
namespace {

VideoInfo DescribeAsRgb32(const media::Source& source) {
    VideoInfo vi;
    vi.width = source.Width();
    vi.height = source.Height();
    const media::Rational rate = source.FrameRate();
    vi.fps_numerator = static_cast<unsigned>(rate.num);
    vi.fps_denominator = static_cast<unsigned>(rate.den);
    vi.num_frames = source.FrameCount();
    vi.pixel_type = VideoInfo::CS_BGR32;
    return vi;
}

}  // namespace

MediaClip::MediaClip(std::unique_ptr<media::Source> source)
    : host::SourceClip(DescribeAsRgb32(*source)), source_(std::move(source)) {}

void MediaClip::Fill(int n, std::uint8_t* dst, int pitch, IScriptEnvironment*) {
    // A decoding failure keeps its own "<file>: <problem>" text all the way up to main.
    source_->ReadFrame(n, dst, pitch);
}

}  // namespace nolukey
