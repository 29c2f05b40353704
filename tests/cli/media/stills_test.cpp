// Still images of the usual kinds decode to the BGRA bytes they hold, alpha included.

#include "cli/media/media.h"
#include "fixtures.h"

#include <gtest/gtest.h>

#include <functional>

namespace {
using media_test::Picture;
using media_test::RawImage;
using media_test::TempDir;

struct StillCase {
    const char* name;
    const char* file;
    const char* encoder;
    // Builds the encoder's input from the picture and returns the BGRA bytes a reader must give back.
    std::function<RawImage(Picture* expected)> make;
    int tolerance;  // per channel; alpha is always exact
    int quality = 0;
};
void PrintTo(const StillCase& c, std::ostream* os) { *os << c.name; }

// Same bytes in another order: 8-bit RGBA or BGRA.
RawImage Packed(Picture* p, AVPixelFormat format, bool swap_red_blue) {
    RawImage image = media_test::AllocateImage(format, p->width, p->height);
    for (int y = 0; y < p->height; ++y)
        for (int x = 0; x < p->width; ++x) {
            const std::uint8_t* s = p->Pixel(x, y);
            std::uint8_t* d = image.planes[0].data() + y * image.linesize[0] + 4 * x;
            d[0] = swap_red_blue ? s[2] : s[0];
            d[1] = s[1];
            d[2] = swap_red_blue ? s[0] : s[2];
            d[3] = s[3];
        }
    return image;
}

RawImage Rgba16(Picture* p) {
    RawImage image = media_test::AllocateImage(AV_PIX_FMT_RGBA64BE, p->width, p->height);
    for (int y = 0; y < p->height; ++y)
        for (int x = 0; x < p->width; ++x) {
            const std::uint8_t* s = p->Pixel(x, y);
            std::uint8_t* d = image.planes[0].data() + y * image.linesize[0] + 8 * x;
            const std::uint8_t rgba[4] = {s[2], s[1], s[0], s[3]};
            // 16-bit values that are not plain multiples of 257: the reader must round, not truncate.
            for (int c = 0; c < 4; ++c) {
                const int v = std::clamp(rgba[c] * 257 + (x % 3 - 1) * 100, 0, 65535);
                d[2 * c] = static_cast<std::uint8_t>(v >> 8);
                d[2 * c + 1] = static_cast<std::uint8_t>(v & 255);
            }
        }
    return image;
}

RawImage Grey(Picture* p) {
    RawImage image = media_test::AllocateImage(AV_PIX_FMT_GRAY8, p->width, p->height);
    for (int y = 0; y < p->height; ++y)
        for (int x = 0; x < p->width; ++x) {
            std::uint8_t* px = p->Pixel(x, y);
            image.planes[0][y * image.linesize[0] + x] = px[1];
            px[0] = px[2] = px[1];  // grey is full range: 0 stays 0, 255 stays 255
            px[3] = 255;
        }
    return image;
}

RawImage Palette(Picture* p) {
    RawImage image = media_test::AllocateImage(AV_PIX_FMT_PAL8, p->width, p->height);
    auto* palette = reinterpret_cast<std::uint32_t*>(image.planes[1].data());
    for (std::uint32_t i = 0; i < 256; ++i) palette[i] = (255 - i) << 24 | (i * 3 & 255) << 16 | (i * 5 & 255) << 8 | (i * 7 & 255);
    for (int y = 0; y < p->height; ++y)
        for (int x = 0; x < p->width; ++x) {
            const std::uint8_t index = static_cast<std::uint8_t>(y * p->width + x);
            image.planes[0][y * image.linesize[0] + x] = index;
            const std::uint32_t c = palette[index];
            std::uint8_t* px = p->Pixel(x, y);
            for (int k = 0; k < 4; ++k) px[k] = static_cast<std::uint8_t>(c >> (8 * k));
        }
    return image;
}

RawImage NoAlpha(Picture* p, AVPixelFormat format) {
    for (int y = 0; y < p->height; ++y)
        for (int x = 0; x < p->width; ++x) p->Pixel(x, y)[3] = 255;
    return media_test::ConvertPicture(*p, format);
}

class Stills : public ::testing::TestWithParam<StillCase> {};

TEST_P(Stills, DecodeToTheirBgraBytes) {
    const StillCase& c = GetParam();
    TempDir dir;
    const std::string path = dir / c.file;
    Picture expected = media_test::NaturalPicture(19, 17, 3);  // 323 pixels: every palette index
    media_test::WriteStill(path, c.encoder, c.make(&expected), c.quality);

    auto source = media::Source::Open(path);
    ASSERT_EQ(source->Width(), 19);
    ASSERT_EQ(source->Height(), 17);
    EXPECT_EQ(source->FrameCount(), 1);
    Picture got(19, 17, 4);
    source->ReadFrame(0, got.bytes.data(), got.pitch);
    for (int ch = 0; ch < 3; ++ch) EXPECT_LE(media_test::MaxChannelError(expected, got, ch), c.tolerance) << "channel " << ch;
    EXPECT_EQ(media_test::MaxChannelError(expected, got, 3), 0) << "alpha";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Stills,
    ::testing::Values(
        StillCase{"tiff_rgba", "a.tiff", "tiff", [](Picture* p) { return Packed(p, AV_PIX_FMT_RGBA, true); }, 0},
        StillCase{"bmp_bgra", "a.bmp", "bmp", [](Picture* p) { return Packed(p, AV_PIX_FMT_BGRA, false); }, 0},
        // swscale brings deep colour to 8 bits by its own rounding, one step off at most; alpha is rounded here.
        StillCase{"png_rgba16", "a.png", "png", Rgba16, 1},
        StillCase{"png_grey", "g.png", "png", Grey, 0},
        StillCase{"png_palette", "p.png", "png", Palette, 0},
        StillCase{"bmp_rgb24", "b.bmp", "bmp", [](Picture* p) { return NoAlpha(p, AV_PIX_FMT_BGR24); }, 0},
        // JPEG: full-range BT.601 YUV, lossy even at the finest quantiser (measured: 7 at most).
        StillCase{"jpeg", "a.jpg", "mjpeg", [](Picture* p) { return NoAlpha(p, AV_PIX_FMT_YUVJ444P); }, 8, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
