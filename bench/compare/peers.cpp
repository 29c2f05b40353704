#include "bench/compare/peers.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace compare {
namespace {

void Check(int ret, const char* what) {
    if (ret < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(ret, text, sizeof text);
        throw PeerError(std::string(what) + ": " + text);
    }
}

struct InOutDeleter {
    void operator()(AVFilterInOut* io) const { avfilter_inout_free(&io); }
};

std::string Format(const char* fmt, double a, double b) {
    char text[160];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

}  // namespace

FilterChain::FilterChain(int width, int height, AVPixelFormat input, const std::string& chain, int threads) {
    graph_ = avfilter_graph_alloc();
    if (graph_ == nullptr) throw PeerError("avfilter_graph_alloc failed");
    try {
        graph_->nb_threads = threads;
        char args[256];
        std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1", width, height,
                      static_cast<int>(input));
        Check(avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in", args, nullptr, graph_),
              "buffer source");
        Check(avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, graph_),
              "buffer sink");
        std::unique_ptr<AVFilterInOut, InOutDeleter> outputs(avfilter_inout_alloc());
        std::unique_ptr<AVFilterInOut, InOutDeleter> inputs(avfilter_inout_alloc());
        if (!outputs || !inputs) throw PeerError("avfilter_inout_alloc failed");
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source_;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink_;
        AVFilterInOut* in = inputs.release();
        AVFilterInOut* out = outputs.release();
        const int parsed = avfilter_graph_parse_ptr(graph_, chain.c_str(), &in, &out, nullptr);
        avfilter_inout_free(&in);
        avfilter_inout_free(&out);
        Check(parsed, ("filter chain \"" + chain + "\"").c_str());
        Check(avfilter_graph_config(graph_, nullptr), "configuring the filter graph");
    } catch (...) {
        avfilter_graph_free(&graph_);
        throw;
    }
}

FilterChain::~FilterChain() { avfilter_graph_free(&graph_); }

FramePtr FilterChain::Run(FramePtr frame) {
    frame->pts = pts_++;
    AVFrame* raw = frame.release();
    const int pushed = av_buffersrc_add_frame_flags(source_, raw, 0);
    av_frame_free(&raw);  // emptied by a successful push; freed here either way
    Check(pushed, "feeding the filter graph");
    FramePtr out(av_frame_alloc());
    if (!out) throw PeerError("av_frame_alloc failed");
    Check(av_buffersink_get_frame(sink_, out.get()), "reading the filter graph");
    return out;
}

FramePtr CloneWritable(const AVFrame& src) {
    FramePtr f(av_frame_alloc());
    if (!f) throw PeerError("av_frame_alloc failed");
    f->format = src.format;
    f->width = src.width;
    f->height = src.height;
    f->color_range = src.color_range;
    f->colorspace = src.colorspace;
    Check(av_frame_get_buffer(f.get(), 0), "allocating a frame");
    Check(av_frame_copy(f.get(), &src), "copying a frame");
    return f;
}

FramePtr ConvertBgra(const std::uint8_t* bgra, int width, int height, int pitch, AVPixelFormat format) {
    FramePtr f(av_frame_alloc());
    if (!f) throw PeerError("av_frame_alloc failed");
    f->format = AV_PIX_FMT_BGRA;
    f->width = width;
    f->height = height;
    Check(av_frame_get_buffer(f.get(), 0), "allocating a frame");
    for (int y = 0; y < height; ++y) {
        std::memcpy(f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0],
                    bgra + static_cast<std::ptrdiff_t>(y) * pitch, static_cast<std::size_t>(width) * 4);
    }
    if (format == AV_PIX_FMT_BGRA) return f;
    FilterChain convert(width, height, AV_PIX_FMT_BGRA,
                        std::string("format=") + av_get_pix_fmt_name(format), 1);
    return convert.Run(std::move(f));
}

std::string ColorKeyChain(const ColorKeyParams& p) {
    return Format("colorkey=color=0x13FF08:similarity=%.4f:blend=%.4f", p.similarity, p.blend);
}

std::string ChromaKeyAlphaChain(const ChromaKeyParams& p) {
    return Format("chromakey=color=0x13FF08:similarity=%.4f:blend=%.4f", p.similarity, p.blend);
}

std::string ChromaKeyChain(const ChromaKeyParams& p) {
    return ChromaKeyAlphaChain(p) + Format(",format=rgba,despill=type=green:mix=%.4f:expand=%.4f,format=rgba", p.mix, p.expand);
}

Truth::Sad PeerAlphaSad(const Truth& truth, const AVFrame& frame) {
    switch (frame.format) {
        case AV_PIX_FMT_RGBA:
            return truth.AlphaSad(frame.data[0] + 3, 4, frame.linesize[0]);
        case AV_PIX_FMT_YUVA444P:
            return truth.AlphaSad(frame.data[3], 1, frame.linesize[3]);
        default:
            throw PeerError(std::string("no alpha to score in a ") +
                            av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame.format)) + " frame");
    }
}

Matte MatteFromRgba(const AVFrame& rgba) {
    if (rgba.format != AV_PIX_FMT_RGBA) {
        throw PeerError(std::string("expected an rgba frame, got ") +
                        av_get_pix_fmt_name(static_cast<AVPixelFormat>(rgba.format)));
    }
    return MatteFromPacked(rgba.data[0], rgba.width, rgba.height, rgba.linesize[0], ByteOrder::Rgba);
}

}  // namespace compare
