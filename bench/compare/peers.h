// FFmpeg's single-capture keyers, run in process through libavfilter so that
// their timing holds the keying alone and a grid search costs no process starts.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/compare/scores.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

struct AVFilterGraph;
struct AVFilterContext;

namespace compare {

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

// A failed libavfilter or libavutil call, with the library's own text.
struct PeerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One configured filter chain from a buffer source of one size and pixel format
// to one sink. threads = the graph's slice threads (1 keeps it on one core).
class FilterChain {
public:
    FilterChain(int width, int height, AVPixelFormat input, const std::string& chain, int threads);
    ~FilterChain();
    FilterChain(const FilterChain&) = delete;
    FilterChain& operator=(const FilterChain&) = delete;

    // Pushes one frame (taken over) and returns what comes out for it.
    FramePtr Run(FramePtr frame);

private:
    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    std::int64_t pts_ = 0;
};

// A fresh, writable frame holding a copy of src: what a decoder hands a filter.
FramePtr CloneWritable(const AVFrame& src);

// green1 (BGRA) in the pixel format a peer starts from: RGBA for colorkey,
// yuva444p (BT.601, limited range: swscale's default) for chromakey.
FramePtr ConvertBgra(const std::uint8_t* bgra, int width, int height, int pitch, AVPixelFormat format);

struct ColorKeyParams {
    double similarity = 0.01;
    double blend = 0.0;
};

struct ChromaKeyParams {
    double similarity = 0.01;
    double blend = 0.0;
    double mix = 0.5;     // despill
    double expand = 0.0;  // despill
};

// Filter descriptions keyed on the green backdrop (R 19, G 255, B 8).
std::string ColorKeyChain(const ColorKeyParams& p);
std::string ChromaKeyChain(const ChromaKeyParams& p);
// chromakey alone, yuva444p out: the alpha of ChromaKeyChain without the cost of despill.
std::string ChromaKeyAlphaChain(const ChromaKeyParams& p);

// Alpha SAD of a peer's output frame, packed RGBA or planar with alpha.
Truth::Sad PeerAlphaSad(const Truth& truth, const AVFrame& frame);

// An RGBA peer output as a scored matte.
Matte MatteFromRgba(const AVFrame& rgba);

}  // namespace compare
