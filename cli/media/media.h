#pragma once
// Media input and output for the command-line keyer: files in, BGRA frames out, and back.
// Built on FFmpeg's libraries; nothing here knows about keying or the host.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace media {

// Every failure: an exception carrying one line "<file>: <problem>" (library text included where useful).
struct MediaError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Rational {
    int num = 25, den = 1;
};

// Input: a still image (PNG, TIFF, JPEG, BMP, ... anything FFmpeg reads), a numbered image sequence
// given as a printf pattern ("shot_%04d.png"; whatever the first number is), or a video file.
// Frames are decoded to BGRA (RGB32 memory order), alpha 255 where the source has none.
// YUV sources honour their colour matrix and range tags; untagged YUV is taken as BT.709 when the
// picture is at least 1280 pixels wide or taller than 576 (the usual HD convention), otherwise as BT.601.
class Source {
public:
    static std::unique_ptr<Source> Open(const std::string& path);  // throws MediaError
    virtual ~Source();
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual int FrameCount() const = 0;      // 1 for a still image
    virtual Rational FrameRate() const = 0;  // 25/1 for stills and sequences unless known
    virtual int FirstNumber() const = 0;     // first number of a numbered sequence, else 0
    // Decodes frame n (0-based) into dst (rows of Width()*4 bytes, pitch bytes apart).
    // Thread-safe; cheapest when frames are asked in increasing order. Throws MediaError.
    virtual void ReadFrame(int n, std::uint8_t* dst, int pitch) = 0;
};

// Output chosen by the path: ".png" (one frame, RGBA), a numbered pattern "out_%04d.png" (frame i written
// as the given number), ".mov" (ProRes 4444 with exact alpha), ".mkv" (FFV1 with alpha, lossless).
// Written under a temporary name and renamed by Finish(); destroyed without Finish, nothing is left
// behind (a numbered pattern keeps the frames already written, each one complete).
class Sink {
public:
    // throws MediaError: unsupported kind, bad size or rate, or a folder that cannot be written
    static std::unique_ptr<Sink> Create(const std::string& path, int width, int height, Rational rate);
    static bool Supports(const std::string& path);  // extension/pattern check without creating anything
    virtual ~Sink();
    // Frames arrive in order. number = the frame number for numbered patterns (ignored by video/.png).
    virtual void WriteFrame(const std::uint8_t* bgra, int pitch, int number) = 0;
    virtual void Finish() = 0;  // flush, close, rename into place; throws MediaError
};

}  // namespace media
