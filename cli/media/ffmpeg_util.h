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
struct OutputDeleter {
    void operator()(AVFormatContext* c) const {
        if (c->pb) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

FramePtr NewFrame();
PacketPtr NewPacket();

// Threads for FFmpeg's codecs: 0 lets FFmpeg use every core. FFmpeg's worker pools hand work back
// through atomics in uninstrumented code, which ThreadSanitizer cannot see, so a TSan build keeps the
// codecs on the calling thread and checks our own threading only.
#if defined(__SANITIZE_THREAD__)
inline constexpr int kCodecThreads = 1;
#else
inline constexpr int kCodecThreads = 0;
#endif

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
// True when the path holds a % that is not "%%": a pattern, well formed or not.
bool HasPercentDirective(std::string_view path);

std::string LowerExtension(std::string_view path);
std::string FolderOf(const std::string& path);   // "." when the path has no folder part
std::string NameOf(const std::string& path);

// Creates a new empty file beside `target`, named ".<name>.partial-XXXXXX<ext>", with the usual
// permissions (umask applies). Returns its path; throws MediaError naming `reported` (default: target)
// when the folder cannot be written.
std::string CreateTemporaryBeside(const std::string& target, const std::string& reported = {});
// Renames tmp onto target; throws MediaError naming target.
void MoveIntoPlace(const std::string& tmp, const std::string& target);

// A file being written under a temporary name: removed when dropped, unless moved into place.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const std::string& target, const std::string& reported = {})
        : target_(target), path_(CreateTemporaryBeside(target, reported)) {}
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }
    bool open() const { return !path_.empty(); }
    void MoveIntoPlace();  // throws MediaError naming the target
private:
    std::string target_, path_;
};

// swscale matrix for a YUV picture's colour tag; untagged follows the usual SD/HD convention.
int SwsColorspace(AVColorSpace space, int width, int height);

}  // namespace media::detail
