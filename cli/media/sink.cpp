// Writing BGRA frames as PNG files, numbered PNG sequences, ProRes 4444 .mov and FFV1 .mkv.

#include "cli/media/ffmpeg_util.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace media {

Sink::~Sink() = default;

namespace {
using namespace detail;

enum class Kind { Png, PngSequence, Mov, Mkv, Unsupported };

Kind KindOf(const std::string& path) {
    const std::string ext = LowerExtension(path);
    if (ParseNumberPattern(path, nullptr)) return ext == ".png" ? Kind::PngSequence : Kind::Unsupported;
    if (HasPercentDirective(path)) return Kind::Unsupported;  // a pattern, but not one number
    if (ext == ".png") return Kind::Png;
    if (ext == ".mov") return Kind::Mov;
    if (ext == ".mkv") return Kind::Mkv;
    return Kind::Unsupported;
}

void CheckFrameArgs(const std::string& path, const std::uint8_t* bgra, int pitch, int width) {
    if (!bgra || pitch < width * 4) Fail(path, "frame rows shorter than " + std::to_string(width) + " pixels");
}

// Encodes single pictures as PNG (RGBA, 8 bits per channel).
class PngEncoder {
public:
    PngEncoder(const std::string& path, int width, int height) : path_(path), frame_(NewFrame()), packet_(NewPacket()) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
        if (!codec) Fail(path, "this FFmpeg has no PNG encoder");
        encoder_.reset(avcodec_alloc_context3(codec));
        if (!encoder_) throw std::bad_alloc();
        encoder_->width = width;
        encoder_->height = height;
        encoder_->pix_fmt = AV_PIX_FMT_RGBA;
        encoder_->time_base = {1, 25};
        // One thread: a frame-threaded encoder holds pictures back, and each picture must come out at once.
        encoder_->thread_count = 1;
        int r = avcodec_open2(encoder_.get(), codec, nullptr);
        if (r < 0) Fail(path, "cannot open the PNG encoder", r);
        frame_->format = AV_PIX_FMT_RGBA;
        frame_->width = width;
        frame_->height = height;
        r = av_frame_get_buffer(frame_.get(), 0);
        if (r < 0) Fail(path, "cannot allocate a picture", r);
    }

    // Encodes one BGRA picture and writes the PNG bytes to file.
    void Write(const std::uint8_t* bgra, int pitch, const std::string& file) {
        int r = av_frame_make_writable(frame_.get());
        if (r < 0) Fail(path_, "cannot allocate a picture", r);
        for (int y = 0; y < frame_->height; ++y) {
            const std::uint8_t* s = bgra + static_cast<std::ptrdiff_t>(y) * pitch;
            std::uint8_t* d = frame_->data[0] + static_cast<std::ptrdiff_t>(y) * frame_->linesize[0];
            for (int x = 0; x < frame_->width; ++x, s += 4, d += 4) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                d[3] = s[3];
            }
        }
        r = avcodec_send_frame(encoder_.get(), frame_.get());
        if (r >= 0) r = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (r < 0) Fail(path_, "cannot encode PNG", r);
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (!out) Fail(path_, std::string("cannot write (") + std::strerror(errno) + ")");
        const bool ok = std::fwrite(packet_->data, 1, static_cast<std::size_t>(packet_->size), out) ==
                        static_cast<std::size_t>(packet_->size);
        const int err = errno;
        av_packet_unref(packet_.get());
        if (std::fclose(out) != 0 || !ok) Fail(path_, std::string("cannot write (") + std::strerror(err) + ")");
    }

private:
    std::string path_;
    CodecPtr encoder_;
    FramePtr frame_;
    PacketPtr packet_;
};

// One picture in one .png file.
class PngSink final : public Sink {
public:
    PngSink(const std::string& path, int width, int height)
        : path_(path), width_(width), encoder_(path, width, height), temporary_(path) {}

    void WriteFrame(const std::uint8_t* bgra, int pitch, int) override {
        if (written_) Fail(path_, "a .png output holds one frame; use a numbered pattern such as out_%04d.png for more");
        CheckFrameArgs(path_, bgra, pitch, width_);
        encoder_.Write(bgra, pitch, temporary_.path());
        written_ = true;
    }

    void Finish() override {
        if (!temporary_.open()) return;
        if (!written_) Fail(path_, "no frame was written");
        temporary_.MoveIntoPlace();
    }

private:
    std::string path_;
    int width_;
    PngEncoder encoder_;
    TemporaryFile temporary_;
    bool written_ = false;
};

// One .png file per frame, named by the frame's number; each file appears complete or not at all.
class PngSequenceSink final : public Sink {
public:
    PngSequenceSink(const std::string& path, int width, int height)
        : path_(path), width_(width), encoder_(path, width, height) {
        ParseNumberPattern(path, &pattern_);
        // Fail now rather than at the first frame when the folder cannot be written.
        TemporaryFile probe(pattern_.Format(0), path);
    }

    void WriteFrame(const std::uint8_t* bgra, int pitch, int number) override {
        if (number < 0) Fail(path_, "frame number " + std::to_string(number) + " is negative");
        CheckFrameArgs(path_, bgra, pitch, width_);
        const std::string file = pattern_.Format(number);
        TemporaryFile temporary(file, path_);
        encoder_.Write(bgra, pitch, temporary.path());
        temporary.MoveIntoPlace();
    }

    void Finish() override {}

private:
    std::string path_;
    int width_;
    NumberPattern pattern_;
    PngEncoder encoder_;
};

// A video file: ProRes 4444 in QuickTime or FFV1 in Matroska, both with alpha.
class VideoSink final : public Sink {
public:
    VideoSink(const std::string& path, int width, int height, Rational rate, Kind kind)
        : path_(path), kind_(kind), temporary_(path), frame_(NewFrame()), packet_(NewPacket()) {
        const bool prores = kind == Kind::Mov;
        const AVCodec* codec = prores ? avcodec_find_encoder_by_name("prores_ks") : avcodec_find_encoder(AV_CODEC_ID_FFV1);
        if (!codec) Fail(path, std::string("this FFmpeg has no ") + (prores ? "prores_ks" : "FFV1") + " encoder");
        AVFormatContext* raw = nullptr;
        int r = avformat_alloc_output_context2(&raw, nullptr, prores ? "mov" : "matroska", temporary_.path().c_str());
        if (r < 0) Fail(path, "cannot set up the container", r);
        output_.reset(raw);

        encoder_.reset(avcodec_alloc_context3(codec));
        if (!encoder_) throw std::bad_alloc();
        AVCodecContext& e = *encoder_;
        e.width = width;
        e.height = height;
        e.time_base = {rate.den, rate.num};
        e.framerate = {rate.num, rate.den};
        // Slice threads: each picture is coded in parallel inside the call, so no picture is held by a
        // worker after it returns and output order needs no bookkeeping.
        e.thread_count = kCodecThreads;
        e.thread_type = FF_THREAD_SLICE;
        if (prores) {
            e.pix_fmt = AV_PIX_FMT_YUVA444P10LE;
            e.profile = FF_PROFILE_PRORES_4444;
            // The colour matrix written into the pixels, and the tags that tell readers which it is.
            e.colorspace = AVCOL_SPC_BT709;
            e.color_primaries = AVCOL_PRI_BT709;
            e.color_trc = AVCOL_TRC_BT709;
            e.color_range = AVCOL_RANGE_MPEG;
        } else {
            e.pix_fmt = AV_PIX_FMT_BGRA;
            // Version 3 codes slices in parallel, each with a checksum, but FFmpeg 5.1 loses pixels when a
            // slice gets very thin; small pictures need no parallel slices anyway.
            e.level = width >= 16 && height >= 16 ? 3 : 1;
            e.gop_size = 1;
            e.colorspace = AVCOL_SPC_RGB;
            e.color_range = AVCOL_RANGE_JPEG;
        }
        if (output_->oformat->flags & AVFMT_GLOBALHEADER) e.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        r = avcodec_open2(encoder_.get(), codec, nullptr);
        if (r < 0) Fail(path, std::string("cannot open the ") + codec->name + " encoder", r);

        stream_ = avformat_new_stream(output_.get(), nullptr);
        if (!stream_) throw std::bad_alloc();
        r = avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
        if (r < 0) Fail(path, "cannot set up the video stream", r);
        stream_->time_base = e.time_base;
        stream_->avg_frame_rate = e.framerate;

        r = avio_open(&output_->pb, temporary_.path().c_str(), AVIO_FLAG_WRITE);
        if (r < 0) Fail(path, "cannot write", r);
        r = avformat_write_header(output_.get(), nullptr);
        if (r < 0) Fail(path, "cannot write the file header", r);

        frame_->format = e.pix_fmt;
        frame_->width = width;
        frame_->height = height;
        frame_->colorspace = e.colorspace;
        frame_->color_range = e.color_range;
        frame_->color_primaries = e.color_primaries;
        frame_->color_trc = e.color_trc;
        r = av_frame_get_buffer(frame_.get(), 0);
        if (r < 0) Fail(path, "cannot allocate a picture", r);

        if (prores) {
            // BGR0: the alpha byte is ignored here and written into the alpha plane separately.
            sws_.reset(sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, AV_PIX_FMT_YUV444P10LE,
                                      SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP | SWS_FULL_CHR_H_INT, nullptr,
                                      nullptr, nullptr));
            if (!sws_) Fail(path, "cannot convert BGRA to ProRes's YUV");
            sws_setColorspaceDetails(sws_.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709),
                                     0, 0, 1 << 16, 1 << 16);
        }
    }

    void WriteFrame(const std::uint8_t* bgra, int pitch, int) override {
        if (!temporary_.open()) Fail(path_, "frame written after the file was finished");
        CheckFrameArgs(path_, bgra, pitch, frame_->width);
        int r = av_frame_make_writable(frame_.get());
        if (r < 0) Fail(path_, "cannot allocate a picture", r);
        if (kind_ == Kind::Mov)
            ToProRes(bgra, pitch);
        else
            av_image_copy_plane(frame_->data[0], frame_->linesize[0], bgra, pitch, frame_->width * 4, frame_->height);
        frame_->pts = next_pts_++;
        r = avcodec_send_frame(encoder_.get(), frame_.get());
        if (r < 0) Fail(path_, "cannot encode a frame", r);
        Drain();
    }

    void Finish() override {
        if (!temporary_.open()) return;
        if (next_pts_ == 0) Fail(path_, "no frame was written");
        int r = avcodec_send_frame(encoder_.get(), nullptr);
        if (r < 0) Fail(path_, "cannot finish encoding", r);
        Drain();
        r = av_write_trailer(output_.get());
        if (r < 0) Fail(path_, "cannot finish the file", r);
        r = avio_closep(&output_->pb);
        if (r < 0) Fail(path_, "cannot finish the file", r);
        temporary_.MoveIntoPlace();
    }

private:
    void ToProRes(const std::uint8_t* bgra, int pitch) {
        const std::uint8_t* src[4] = {bgra, nullptr, nullptr, nullptr};
        const int src_pitch[4] = {pitch, 0, 0, 0};
        sws_scale(sws_.get(), src, src_pitch, 0, frame_->height, frame_->data, frame_->linesize);
        // 10-bit alpha by repeating the top bits, so that the top 8 bits read back are the 8 written.
        for (int y = 0; y < frame_->height; ++y) {
            const std::uint8_t* s = bgra + static_cast<std::ptrdiff_t>(y) * pitch + 3;
            auto* a = reinterpret_cast<std::uint16_t*>(frame_->data[3] + static_cast<std::ptrdiff_t>(y) * frame_->linesize[3]);
            for (int x = 0; x < frame_->width; ++x) a[x] = static_cast<std::uint16_t>(s[4 * x] << 2 | s[4 * x] >> 6);
        }
    }

    void Drain() {
        for (;;) {
            int r = avcodec_receive_packet(encoder_.get(), packet_.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
            if (r < 0) Fail(path_, "cannot encode a frame", r);
            packet_->stream_index = stream_->index;
            // QuickTime drops the last frame of a track whose packets carry no duration.
            if (packet_->duration <= 0) packet_->duration = 1;
            av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
            r = av_interleaved_write_frame(output_.get(), packet_.get());
            if (r < 0) Fail(path_, "cannot write a frame", r);
        }
    }

    std::string path_;
    Kind kind_;
    TemporaryFile temporary_;  // declared before output_: the file is closed before it is removed
    OutputPtr output_;
    AVStream* stream_ = nullptr;
    CodecPtr encoder_;
    SwsPtr sws_;
    FramePtr frame_;
    PacketPtr packet_;
    std::int64_t next_pts_ = 0;
};

}  // namespace

bool Sink::Supports(const std::string& path) { return KindOf(path) != Kind::Unsupported; }

std::unique_ptr<Sink> Sink::Create(const std::string& path, int width, int height, Rational rate) {
    QuietLibraryLog();
    const Kind kind = KindOf(path);
    if (kind == Kind::Unsupported)
        Fail(path, "unsupported output; write .png (one frame), a numbered .png pattern such as out_%04d.png, "
                   ".mov (ProRes 4444) or .mkv (FFV1)");
    if (width <= 0 || height <= 0 || width > 32768 || height > 32768)
        Fail(path, "cannot write pictures of " + std::to_string(width) + "x" + std::to_string(height));
    if (rate.num <= 0 || rate.den <= 0)
        Fail(path, "frame rate " + std::to_string(rate.num) + "/" + std::to_string(rate.den) + " is not positive");
    switch (kind) {
        case Kind::Png: return std::make_unique<PngSink>(path, width, height);
        case Kind::PngSequence: return std::make_unique<PngSequenceSink>(path, width, height);
        default: return std::make_unique<VideoSink>(path, width, height, rate, kind);
    }
}

}  // namespace media
