#pragma once
// Test fixtures for the media layer: temporary folders, BGRA test pictures and
// tagged YUV videos written straight through FFmpeg's libraries.

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace media_test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> Names() const;  // entries, sorted, hidden ones included
private:
    std::string path_;
};

// A BGRA picture with `pitch` bytes per row (rows padded with 0xEE).
struct Picture {
    int width = 0, height = 0, pitch = 0;
    std::vector<std::uint8_t> bytes;
    Picture(int w, int h, int pad = 0);
    std::uint8_t* Pixel(int x, int y) { return bytes.data() + static_cast<std::size_t>(y) * pitch + 4 * x; }
    const std::uint8_t* Pixel(int x, int y) const { return bytes.data() + static_cast<std::size_t>(y) * pitch + 4 * x; }
};

// Pseudo-random colour and alpha, different for each seed, covering all 256 alpha values
// when the picture has at least 256 pixels.
Picture NoisePicture(int w, int h, unsigned seed, int pad = 0);
// Smooth gradients with mild noise: the kind of picture a lossy codec is built for.
Picture NaturalPicture(int w, int h, unsigned seed);

// Largest absolute difference of one channel (0 blue, 1 green, 2 red, 3 alpha) over the pixels.
int MaxChannelError(const Picture& a, const Picture& b, int channel);
// True when the pixel bytes (not the row padding) are equal; on failure *where says the first mismatch.
bool SamePixels(const Picture& a, const Picture& b, std::string* where);

void WriteBytes(const std::string& path, const std::string& bytes);

struct YuvVideo {
    int width = 16, height = 8, frames = 3;
    AVPixelFormat format = AV_PIX_FMT_YUV444P;
    AVColorSpace space = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    int y = 128, u = 128, v = 128;  // every pixel of every frame
};
// Writes an FFV1 .mkv of one flat YUV colour carrying the given colour tags.
void WriteYuvVideo(const std::string& path, const YuvVideo& video);

// Encodes one picture with an FFmpeg image encoder and writes it as a file. `pixels` must already be
// in `format` (planes and palette as FFmpeg lays them out).
struct RawImage {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0, height = 0;
    std::vector<std::vector<std::uint8_t>> planes;  // rows of linesize[i] bytes
    int linesize[4] = {0, 0, 0, 0};
};
RawImage AllocateImage(AVPixelFormat format, int width, int height);
void WriteStill(const std::string& path, const char* encoder, const RawImage& image, int quality = 0);
// Converts a BGRA picture to `format` with swscale (for formats whose exact bytes the test does not need).
RawImage ConvertPicture(const Picture& picture, AVPixelFormat format);

}  // namespace media_test
