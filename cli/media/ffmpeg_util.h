#pragma once
// Small pieces shared by the readers and writers: owning handles for FFmpeg objects,
// error text, pattern parsing, colour tags and temporary files.

#include "cli/media/media.h"

#include <memory>
#include <string>
#include <string_view>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace media::detail {

struct InputDeleter {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

FramePtr NewFrame();
PacketPtr NewPacket();

// Silences FFmpeg's log once per process: every failure is reported through MediaError instead.
void QuietLibraryLog();

// FFmpeg's own text for an error code.
std::string AvError(int code);
// "<file>: <what> (<library text>)"
[[noreturn]] void Fail(const std::string& file, const std::string& what, int code);
[[noreturn]] void Fail(const std::string& file, const std::string& what);

// A printf-style frame-number pattern: prefix, one %d or %0Nd, suffix ("%%" is a literal percent).
struct NumberPattern {
    std::string prefix, suffix;  // already unescaped
    int width = 0;               // minimum digits, 0 for plain %d
    std::string Format(int number) const;
};
// True and fills *out when the path holds exactly one number conversion.
bool ParseNumberPattern(std::string_view path, NumberPattern* out);

std::string LowerExtension(std::string_view path);
std::string FolderOf(const std::string& path);   // "." when the path has no folder part
std::string NameOf(const std::string& path);

// Creates a new empty file beside `target`, named ".<name>.partial-XXXXXX<ext>", with the usual
// permissions (umask applies). Returns its path; throws MediaError naming `target` when the folder
// cannot be written.
std::string CreateTemporaryBeside(const std::string& target);
// Renames tmp onto target; throws MediaError naming target.
void MoveIntoPlace(const std::string& tmp, const std::string& target);

// swscale matrix for a YUV picture's colour tag; untagged follows the usual SD/HD convention.
int SwsColorspace(AVColorSpace space, int width, int height);

}  // namespace media::detail
