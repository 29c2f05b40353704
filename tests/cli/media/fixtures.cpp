#include "fixtures.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include <stdlib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace media_test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nolu-media-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> TempDir::Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Picture::Picture(int w, int h, int pad)
    : width(w), height(h), pitch(w * 4 + pad), bytes(static_cast<std::size_t>(pitch) * h, 0xEE) {}

Picture NoisePicture(int w, int h, unsigned seed, int pad) {
    Picture p(w, h, pad);
    std::mt19937 rng(seed);
    int i = static_cast<int>(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, ++i) {
            std::uint8_t* px = p.Pixel(x, y);
            px[0] = static_cast<std::uint8_t>(rng());
            px[1] = static_cast<std::uint8_t>(rng());
            px[2] = static_cast<std::uint8_t>(rng());
            px[3] = static_cast<std::uint8_t>(i * 7);  // 7 is odd: every alpha value within 256 pixels
        }
    return p;
}

Picture NaturalPicture(int w, int h, unsigned seed) {
    Picture p(w, h);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-3, 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* px = p.Pixel(x, y);
            auto clamp = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); };
            px[0] = clamp(20 + 200 * x / w + noise(rng));
            px[1] = clamp(230 - 180 * y / h + noise(rng));
            px[2] = clamp(60 + 150 * ((x + y + static_cast<int>(seed) * 5) % 64) / 64 + noise(rng));
            px[3] = static_cast<std::uint8_t>(x * 255 / (w - 1) ^ (y & 1) * 0x55);
        }
    return p;
}

int MaxChannelError(const Picture& a, const Picture& b, int channel) {
    int worst = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) worst = std::max(worst, std::abs(a.Pixel(x, y)[channel] - b.Pixel(x, y)[channel]));
    return worst;
}

bool SamePixels(const Picture& a, const Picture& b, std::string* where) {
    if (a.width != b.width || a.height != b.height) {
        *where = "sizes differ";
        return false;
    }
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            for (int c = 0; c < 4; ++c)
                if (a.Pixel(x, y)[c] != b.Pixel(x, y)[c]) {
                    *where = "pixel (" + std::to_string(x) + "," + std::to_string(y) + ") byte " + std::to_string(c) + ": " +
                             std::to_string(a.Pixel(x, y)[c]) + " vs " + std::to_string(b.Pixel(x, y)[c]);
                    return false;
                }
    return true;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {
void Check(int r, const char* what) {
    if (r < 0) throw std::runtime_error(std::string("fixture: ") + what + " failed: " + std::to_string(r));
}
}  // namespace

void WriteYuvVideo(const std::string& path, const YuvVideo& v) {
    AVFormatContext* out = nullptr;
    Check(avformat_alloc_output_context2(&out, nullptr, "matroska", path.c_str()), "output");
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    AVCodecContext* enc = avcodec_alloc_context3(codec);
    enc->width = v.width;
    enc->height = v.height;
    enc->pix_fmt = v.format;
    enc->time_base = {1, 25};
    enc->colorspace = v.space;
    enc->color_range = v.range;
    enc->thread_count = 1;
    if (out->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(enc, codec, nullptr), "encoder");
    AVStream* st = avformat_new_stream(out, nullptr);
    Check(avcodec_parameters_from_context(st->codecpar, enc), "parameters");
    st->time_base = enc->time_base;
    Check(avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE), "open");
    Check(avformat_write_header(out, nullptr), "header");
    AVFrame* frame = av_frame_alloc();
    frame->format = v.format;
    frame->width = v.width;
    frame->height = v.height;
    frame->colorspace = v.space;
    frame->color_range = v.range;
    Check(av_frame_get_buffer(frame, 0), "frame");
    AVPacket* pkt = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(enc, pkt) == 0) {
            pkt->stream_index = 0;
            av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
            Check(av_interleaved_write_frame(out, pkt), "write");
        }
    };
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(v.format);
    for (int i = 0; i < v.frames; ++i) {
        Check(av_frame_make_writable(frame), "writable");
        const int values[3] = {v.y, v.u, v.v};
        for (int plane = 0; plane < 3; ++plane) {
            const int h = plane ? AV_CEIL_RSHIFT(v.height, desc->log2_chroma_h) : v.height;
            const int w = plane ? AV_CEIL_RSHIFT(v.width, desc->log2_chroma_w) : v.width;
            for (int y = 0; y < h; ++y)
                std::fill_n(frame->data[plane] + y * frame->linesize[plane], w, static_cast<std::uint8_t>(values[plane]));
        }
        frame->pts = i;
        Check(avcodec_send_frame(enc, frame), "send");
        drain();
    }
    Check(avcodec_send_frame(enc, nullptr), "flush");
    drain();
    Check(av_write_trailer(out), "trailer");
    avio_closep(&out->pb);
    avformat_free_context(out);
    avcodec_free_context(&enc);
    av_frame_free(&frame);
    av_packet_free(&pkt);
}

RawImage AllocateImage(AVPixelFormat format, int width, int height) {
    RawImage image;
    image.format = format;
    image.width = width;
    image.height = height;
    Check(av_image_fill_linesizes(image.linesize, format, width), "linesizes");
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    for (int i = 0; i < 4 && image.linesize[i]; ++i) {
        const int rows = (i == 1 || i == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB) ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        image.planes.emplace_back(static_cast<std::size_t>(image.linesize[i]) * rows);
    }
    if (desc->flags & AV_PIX_FMT_FLAG_PAL) {
        image.planes.resize(2);
        image.planes[1].assign(1024, 0);
        image.linesize[1] = 4;
    }
    return image;
}

void WriteStill(const std::string& path, const char* encoder, const RawImage& image, int quality) {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
    if (!codec) throw std::runtime_error(std::string("fixture: no encoder ") + encoder);
    AVCodecContext* enc = avcodec_alloc_context3(codec);
    enc->width = image.width;
    enc->height = image.height;
    enc->pix_fmt = image.format;
    enc->time_base = {1, 25};
    enc->thread_count = 1;
    if (quality) {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = quality * FF_QP2LAMBDA;
    }
    Check(avcodec_open2(enc, codec, nullptr), "encoder");
    AVFrame* frame = av_frame_alloc();
    frame->format = image.format;
    frame->width = image.width;
    frame->height = image.height;
    frame->quality = enc->global_quality;
    Check(av_frame_get_buffer(frame, 0), "frame");
    const bool palette = av_pix_fmt_desc_get(image.format)->flags & AV_PIX_FMT_FLAG_PAL;
    if (palette) std::copy(image.planes[1].begin(), image.planes[1].end(), frame->data[1]);
    for (std::size_t i = 0; i < (palette ? 1 : image.planes.size()); ++i) {
        const int rows = static_cast<int>(image.planes[i].size() / image.linesize[i]);
        av_image_copy_plane(frame->data[i], frame->linesize[i], image.planes[i].data(), image.linesize[i],
                            std::min(image.linesize[i], frame->linesize[i]), rows);
    }
    AVPacket* pkt = av_packet_alloc();
    Check(avcodec_send_frame(enc, frame), "send");
    Check(avcodec_send_frame(enc, nullptr), "flush");
    Check(avcodec_receive_packet(enc, pkt), "receive");
    WriteBytes(path, std::string(reinterpret_cast<const char*>(pkt->data), static_cast<std::size_t>(pkt->size)));
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&enc);
}

RawImage ConvertPicture(const Picture& picture, AVPixelFormat format) {
    RawImage image = AllocateImage(format, picture.width, picture.height);
    SwsContext* sws = sws_getContext(picture.width, picture.height, AV_PIX_FMT_BGRA, picture.width, picture.height, format,
                                     SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
    if (!sws) throw std::runtime_error("fixture: no conversion");
    const std::uint8_t* src[4] = {picture.bytes.data(), nullptr, nullptr, nullptr};
    const int src_pitch[4] = {picture.pitch, 0, 0, 0};
    std::uint8_t* dst[4] = {};
    for (std::size_t i = 0; i < image.planes.size(); ++i) dst[i] = image.planes[i].data();
    sws_scale(sws, src, src_pitch, 0, picture.height, dst, image.linesize);
    sws_freeContext(sws);
    return image;
}

}  // namespace media_test
