#include "cli/media_clip.h"

#include <utility>

namespace nolukey {
namespace {

VideoInfo DescribeAsRgb32(const media::Source& source) {
    const media::Rational rate = source.FrameRate();
    return host::MakeVideoInfo(VideoInfo::CS_BGR32, source.Width(), source.Height(), source.FrameCount(),
                               static_cast<unsigned>(rate.num), static_cast<unsigned>(rate.den));
}

}  // namespace

MediaClip::MediaClip(std::unique_ptr<media::Source> source)
    : host::SourceClip(DescribeAsRgb32(*source)), source_(std::move(source)) {}

void MediaClip::Fill(int n, std::uint8_t* dst, int pitch, IScriptEnvironment*) {
    // A decoding failure keeps its own "<file>: <problem>" text all the way up to main.
    source_->ReadFrame(n, dst, pitch);
}

}  // namespace nolukey
