// Reading stills, numbered sequences and video files into BGRA frames.

#include "cli/media/ffmpeg_util.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

extern "C" {
#include <libavutil/dict.h>
}

namespace media {

Source::~Source() = default;

namespace {
using namespace detail;

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Turns decoded pictures of any pixel format into BGRA, honouring YUV colour tags and carrying alpha
// exactly. One converter serves one reader at a time.
class BgraConverter {
public:
    void Convert(const AVFrame& f, std::uint8_t* dst, int pitch, const std::string& file) {
        const auto fmt = static_cast<AVPixelFormat>(f.format);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(fmt);
        if (!desc) Fail(file, "decoded to an unknown pixel format");
        SwsContext* c = sws_getCachedContext(sws_.release(), f.width, f.height, fmt, f.width, f.height,
                                             AV_PIX_FMT_BGRA, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                             nullptr, nullptr, nullptr);
        sws_.reset(c);
        if (!c) Fail(file, std::string("cannot convert pixel format ") + desc->name + " to BGRA");

        const bool yuv = !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BAYER)) &&
                         desc->nb_components >= 3;
        if (yuv) {
            const int space = SwsColorspace(f.colorspace, f.width, f.height);
            const int full = (f.color_range == AVCOL_RANGE_JPEG || std::strncmp(desc->name, "yuvj", 4) == 0) ? 1 : 0;
            const Key key{fmt, f.width, f.height, space, full};
            if (!(key == key_)) {
                sws_setColorspaceDetails(c, sws_getCoefficients(space), full, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                         0, 1 << 16, 1 << 16);
                key_ = key;
            }
        } else {
            key_ = Key{};
        }

        std::uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
        int pitches[4] = {pitch, 0, 0, 0};
        const int rows = sws_scale(c, f.data, f.linesize, 0, f.height, planes, pitches);
        if (rows != f.height) Fail(file, "could not convert a picture to BGRA", rows < 0 ? rows : AVERROR_BUG);
        FixAlpha(f, *desc, dst, pitch);
    }

private:
    struct Key {
        AVPixelFormat fmt = AV_PIX_FMT_NONE;
        int width = 0, height = 0, space = -1, full = -1;
        bool operator==(const Key&) const = default;
    };

    // swscale does not always keep alpha bit for bit, so alpha is written here from the source:
    // 8-bit alpha copied, deeper alpha rounded to 8 bits, 255 where there is none. Palettes carry
    // their alpha through swscale's lookup, which is exact.
    void FixAlpha(const AVFrame& f, const AVPixFmtDescriptor& desc, std::uint8_t* dst, int pitch) {
        if (desc.flags & AV_PIX_FMT_FLAG_PAL) return;
        if (!(desc.flags & AV_PIX_FMT_FLAG_ALPHA)) {
            for (int y = 0; y < f.height; ++y) {
                std::uint8_t* row = dst + static_cast<std::ptrdiff_t>(y) * pitch;
                for (int x = 0; x < f.width; ++x) row[4 * x + 3] = 255;
            }
            return;
        }
        const int c = desc.nb_components - 1;
        const AVComponentDescriptor& a = desc.comp[c];
        if (a.depth == 8 && a.shift == 0 && !(desc.flags & AV_PIX_FMT_FLAG_BITSTREAM)) {
            for (int y = 0; y < f.height; ++y) {
                const std::uint8_t* src = f.data[a.plane] + static_cast<std::ptrdiff_t>(y) * f.linesize[a.plane] + a.offset;
                std::uint8_t* row = dst + static_cast<std::ptrdiff_t>(y) * pitch;
                for (int x = 0; x < f.width; ++x) row[4 * x + 3] = src[static_cast<std::ptrdiff_t>(x) * a.step];
            }
            return;
        }
        const std::uint32_t max = (1u << a.depth) - 1;
        line_.resize(static_cast<std::size_t>(f.width));
        const std::uint8_t* data[4] = {f.data[0], f.data[1], f.data[2], f.data[3]};
        for (int y = 0; y < f.height; ++y) {
            av_read_image_line2(line_.data(), data, f.linesize, &desc, 0, y, c, f.width, 0, 4);
            std::uint8_t* row = dst + static_cast<std::ptrdiff_t>(y) * pitch;
            for (int x = 0; x < f.width; ++x) row[4 * x + 3] = static_cast<std::uint8_t>((line_[x] * 255u + max / 2) / max);
        }
    }

    SwsPtr sws_;
    Key key_;
    std::vector<std::uint32_t> line_;
};

// One pass over a media file: its container, its best video stream and that stream's decoder.
class Decoder {
public:
    explicit Decoder(const std::string& path) : path_(path), packet_(NewPacket()) {
        if (IsFolder(path)) Fail(path, "is a folder, not an image or video file");
        AVDictionary* options = nullptr;
        // A still's name is taken as it stands, even with a % in it.
        av_dict_set(&options, "pattern_type", "none", 0);
        AVFormatContext* raw = nullptr;
        int r = avformat_open_input(&raw, path.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (r == AVERROR_INVALIDDATA) Fail(path, "not an image or video file that can be read", r);
        if (r < 0) Fail(path, "cannot open", r);
        input_.reset(raw);
        r = avformat_find_stream_info(raw, nullptr);
        if (r < 0) Fail(path, "cannot read the stream information", r);
        const AVCodec* codec = nullptr;
        index_ = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (index_ == AVERROR_STREAM_NOT_FOUND) Fail(path, "holds no picture or video stream");
        if (index_ < 0 || !codec) Fail(path, "no decoder for its video format", index_ < 0 ? index_ : AVERROR_DECODER_NOT_FOUND);
        for (unsigned i = 0; i < raw->nb_streams; ++i)
            if (static_cast<int>(i) != index_) raw->streams[i]->discard = AVDISCARD_ALL;

        decoder_.reset(avcodec_alloc_context3(codec));
        if (!decoder_) throw std::bad_alloc();
        r = avcodec_parameters_to_context(decoder_.get(), Stream()->codecpar);
        if (r < 0) Fail(path, "cannot set up the decoder", r);
        // Slice threads only: frames come out at once, with no reordering delay between threads.
        decoder_->thread_count = kCodecThreads;
        decoder_->thread_type = FF_THREAD_SLICE;
        r = avcodec_open2(decoder_.get(), codec, nullptr);
        if (r < 0) Fail(path, std::string("cannot open the ") + codec->name + " decoder", r);
    }

    AVStream* Stream() const { return input_->streams[index_]; }

    // Decodes the next picture into out; false at the end of the stream.
    bool Next(AVFrame* out) {
        for (;;) {
            int r = avcodec_receive_frame(decoder_.get(), out);
            if (r == 0) {
                ++decoded_;
                return true;
            }
            if (r == AVERROR_EOF) return false;
            if (r != AVERROR(EAGAIN)) FailDecoding(r);
            r = av_read_frame(input_.get(), packet_.get());
            if (r == AVERROR_EOF) {
                avcodec_send_packet(decoder_.get(), nullptr);
                continue;
            }
            if (r < 0) Fail(path_, "cannot read", r);
            if (packet_->stream_index == index_) r = avcodec_send_packet(decoder_.get(), packet_.get());
            av_packet_unref(packet_.get());
            if (r < 0 && r != AVERROR(EAGAIN)) FailDecoding(r);
        }
    }

    // Reads the whole file once, counting the video stream's packets (one picture each).
    std::int64_t CountPackets() {
        std::int64_t count = 0;
        int r;
        while ((r = av_read_frame(input_.get(), packet_.get())) >= 0) {
            if (packet_->stream_index == index_ && !(packet_->flags & AV_PKT_FLAG_DISCARD)) ++count;
            av_packet_unref(packet_.get());
        }
        if (r != AVERROR_EOF) Fail(path_, "cannot read", r);
        return count;
    }

private:
    [[noreturn]] void FailDecoding(int code) {
        if (decoded_ == 0) Fail(path_, "not an image or video file that can be read", code);
        Fail(path_, "cannot decode the picture after frame " + std::to_string(decoded_ - 1), code);
    }

    std::string path_;
    std::int64_t decoded_ = 0;
    InputPtr input_;
    CodecPtr decoder_;
    PacketPtr packet_;
    int index_ = -1;
};

void CheckRequest(const std::string& file, int n, int count, const std::uint8_t* dst, int pitch, int width) {
    if (n < 0 || n >= count)
        Fail(file, "frame " + std::to_string(n) + " asked, the input has frames 0.." + std::to_string(count - 1));
    if (!dst || pitch < width * 4) Fail(file, "destination buffer too small for a row of " + std::to_string(width) + " pixels");
}

void CheckSize(const std::string& file, const AVFrame& f, int width, int height) {
    if (f.width != width || f.height != height)
        Fail(file, "picture is " + std::to_string(f.width) + "x" + std::to_string(f.height) + ", the input's first is " +
                       std::to_string(width) + "x" + std::to_string(height));
}

Rational RateOf(const AVStream& st) {
    for (AVRational r : {st.avg_frame_rate, st.r_frame_rate})
        if (r.num > 0 && r.den > 0) return {r.num, r.den};
    return {};
}

// A still image or a video file: one decoder kept at its position so that increasing requests
// decode each picture once; a request behind the position starts the file again.
class StreamSource final : public Source {
public:
    explicit StreamSource(const std::string& path) : path_(path), frame_(NewFrame()) {
        decoder_ = std::make_unique<Decoder>(path);
        const AVStream& st = *decoder_->Stream();
        rate_ = RateOf(st);
        std::int64_t count = st.nb_frames > 0 ? st.nb_frames : Decoder(path).CountPackets();
        if (!decoder_->Next(frame_.get())) Fail(path, "holds no picture");
        current_ = 0;
        width_ = frame_->width;
        height_ = frame_->height;
        if (width_ <= 0 || height_ <= 0) Fail(path, "holds a picture without a size");
        count_ = static_cast<int>(std::clamp<std::int64_t>(count, 1, INT_MAX));
    }

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    int FrameCount() const override { return count_; }
    Rational FrameRate() const override { return rate_; }
    int FirstNumber() const override { return 0; }

    void ReadFrame(int n, std::uint8_t* dst, int pitch) override {
        std::lock_guard lock(mutex_);
        CheckRequest(path_, n, count_, dst, pitch, width_);
        if (n < current_) {
            decoder_ = std::make_unique<Decoder>(path_);
            current_ = -1;
        }
        while (current_ < n) {
            if (!decoder_->Next(frame_.get()))
                Fail(path_, "ends after " + std::to_string(current_ + 1) + " frames, frame " + std::to_string(n) +
                                " cannot be read");
            ++current_;
        }
        CheckSize(path_, *frame_, width_, height_);
        converter_.Convert(*frame_, dst, pitch, path_);
    }

private:
    std::string path_;
    std::mutex mutex_;
    std::unique_ptr<Decoder> decoder_;
    FramePtr frame_;  // the picture numbered current_
    int current_ = -1;
    BgraConverter converter_;
    int width_ = 0, height_ = 0, count_ = 0;
    Rational rate_;
};

// The numbers present for a pattern, found by listing the folder that holds the files.
std::set<int> NumbersPresent(const NumberPattern& p) {
    std::set<int> numbers;
    const std::size_t slash = p.prefix.find_last_of('/');
    const std::string folder_part = slash == std::string::npos ? std::string() : p.prefix.substr(0, slash + 1);
    const std::string name_prefix = p.prefix.substr(folder_part.size());
    if (p.suffix.find('/') != std::string::npos) {
        // The number names a folder: look the files up one by one.
        for (int n = 0; n <= 99999; ++n)
            if (IsFile(p.Format(n))) numbers.insert(n);
        return numbers;
    }
    DIR* dir = ::opendir(folder_part.empty() ? "." : folder_part.c_str());
    if (!dir) return numbers;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() <= name_prefix.size() + p.suffix.size()) continue;
        if (name.compare(0, name_prefix.size(), name_prefix) != 0) continue;
        if (name.compare(name.size() - p.suffix.size(), p.suffix.size(), p.suffix) != 0) continue;
        const std::string digits = name.substr(name_prefix.size(), name.size() - name_prefix.size() - p.suffix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        const int n = std::stoi(digits);
        if (p.Format(n) == folder_part + name) numbers.insert(n);
    }
    ::closedir(dir);
    return numbers;
}

// A numbered image sequence: every frame is its own file, so requests need no shared decoder and
// run concurrently.
class SequenceSource final : public Source {
public:
    SequenceSource(const std::string& path, NumberPattern pattern, const std::set<int>& numbers)
        : path_(path), pattern_(std::move(pattern)) {
        first_ = *numbers.begin();
        count_ = 0;
        while (count_ < INT_MAX - first_ && numbers.count(first_ + count_)) ++count_;
        const std::string file = pattern_.Format(first_);
        Decoder decoder(file);
        FramePtr frame = NewFrame();
        if (!decoder.Next(frame.get())) Fail(file, "holds no picture");
        width_ = frame->width;
        height_ = frame->height;
        if (width_ <= 0 || height_ <= 0) Fail(file, "holds a picture without a size");
    }

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    int FrameCount() const override { return count_; }
    Rational FrameRate() const override { return {}; }
    int FirstNumber() const override { return first_; }

    void ReadFrame(int n, std::uint8_t* dst, int pitch) override {
        CheckRequest(path_, n, count_, dst, pitch, width_);
        const std::string file = pattern_.Format(first_ + n);
        Decoder decoder(file);
        FramePtr frame = NewFrame();
        if (!decoder.Next(frame.get())) Fail(file, "holds no picture");
        CheckSize(file, *frame, width_, height_);
        BgraConverter().Convert(*frame, dst, pitch, file);
    }

private:
    std::string path_;
    NumberPattern pattern_;
    int first_ = 0, count_ = 0, width_ = 0, height_ = 0;
};

}  // namespace

std::unique_ptr<Source> Source::Open(const std::string& path) {
    QuietLibraryLog();
    NumberPattern pattern;
    if (ParseNumberPattern(path, &pattern)) {
        const std::set<int> numbers = NumbersPresent(pattern);
        if (!numbers.empty()) return std::make_unique<SequenceSource>(path, std::move(pattern), numbers);
        // A file whose name merely contains something like %d is still a file.
        if (!IsFile(path)) Fail(path, "no file matches this numbered pattern");
    }
    return std::make_unique<StreamSource>(path);
}

}  // namespace media
