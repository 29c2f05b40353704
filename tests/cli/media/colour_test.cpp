// YUV inputs are turned into BGRA with the matrix and range their tags name.

#include "cli/media/media.h"
#include "fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace {
using media_test::TempDir;
using media_test::YuvVideo;

struct Matrix {
    double kr, kb;
};
constexpr Matrix kBt601{0.299, 0.114}, kBt709{0.2126, 0.0722}, kBt2020{0.2627, 0.0593};

// The textbook conversion, as blue, green, red bytes.
std::array<int, 3> Expected(const YuvVideo& v, Matrix m, bool full) {
    const double y = full ? v.y / 255.0 : (v.y - 16) / 219.0;
    const double cb = (v.u - 128) / (full ? 255.0 : 224.0);
    const double cr = (v.v - 128) / (full ? 255.0 : 224.0);
    const double r = y + 2 * (1 - m.kr) * cr;
    const double b = y + 2 * (1 - m.kb) * cb;
    const double g = (y - m.kr * r - m.kb * b) / (1 - m.kr - m.kb);
    auto byte = [](double x) { return static_cast<int>(std::lround(std::clamp(x * 255, 0.0, 255.0))); };
    return {byte(b), byte(g), byte(r)};
}

int Distance(const std::array<int, 3>& a, const std::array<int, 3>& b) {
    int d = 0;
    for (int c = 0; c < 3; ++c) d = std::max(d, std::abs(a[c] - b[c]));
    return d;
}

struct ColourCase {
    const char* name;
    YuvVideo video;
    Matrix matrix;  // the one the tags (or the size, when untagged) call for
    bool full;
    Matrix other;  // a plausible wrong reading, which must give a visibly different colour
    bool other_full;
};
void PrintTo(const ColourCase& c, std::ostream* os) { *os << c.name; }

class TaggedYuv : public ::testing::TestWithParam<ColourCase> {};

TEST_P(TaggedYuv, ConvertsWithTheTaggedMatrixAndRange) {
    const ColourCase& c = GetParam();
    TempDir dir;
    const std::string path = dir / "tagged.mkv";
    media_test::WriteYuvVideo(path, c.video);
    auto source = media::Source::Open(path);
    ASSERT_EQ(source->FrameCount(), c.video.frames);

    const std::array<int, 3> want = Expected(c.video, c.matrix, c.full);
    ASSERT_GE(Distance(want, Expected(c.video, c.other, c.other_full)), 10) << "the case cannot tell the matrices apart";
    media_test::Picture picture(source->Width(), source->Height());
    for (int n = 0; n < c.video.frames; ++n) {
        source->ReadFrame(n, picture.bytes.data(), picture.pitch);
        for (int y = 0; y < picture.height; y += 3)
            for (int x = 0; x < picture.width; x += 5) {
                const std::uint8_t* px = picture.Pixel(x, y);
                const std::array<int, 3> got{px[0], px[1], px[2]};
                ASSERT_LE(Distance(got, want), 1) << "frame " << n << " pixel " << x << "," << y << ": got " << got[0] << " "
                                                  << got[1] << " " << got[2] << ", want " << want[0] << " " << want[1]
                                                  << " " << want[2];
                ASSERT_EQ(px[3], 255);
            }
    }
}

YuvVideo Video(AVPixelFormat format, AVColorSpace space, AVColorRange range, int width = 16, int height = 8) {
    YuvVideo v;
    v.format = format;
    v.space = space;
    v.range = range;
    v.width = width;
    v.height = height;
    // A colour for which every pair of readings below differs by 10 or more in some channel.
    v.y = 160;
    v.u = 130;
    v.v = 40;
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Tags, TaggedYuv,
    ::testing::Values(
        ColourCase{"bt709_444", Video(AV_PIX_FMT_YUV444P, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG), kBt709, false, kBt601, false},
        ColourCase{"bt709_420", Video(AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG), kBt709, false, kBt601, false},
        ColourCase{"bt709_full_range", Video(AV_PIX_FMT_YUV444P, AVCOL_SPC_BT709, AVCOL_RANGE_JPEG), kBt709, true, kBt709, false},
        ColourCase{"bt601", Video(AV_PIX_FMT_YUV444P, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG), kBt601, false, kBt709, false},
        ColourCase{"bt2020", Video(AV_PIX_FMT_YUV444P, AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_MPEG), kBt2020, false, kBt709, false},
        // Untagged: BT.601 for SD sizes, BT.709 from HD sizes on.
        ColourCase{"untagged_sd", Video(AV_PIX_FMT_YUV444P, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, 720, 4),
                   kBt601, false, kBt709, false},
        ColourCase{"untagged_hd", Video(AV_PIX_FMT_YUV420P, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, 1280, 4),
                   kBt709, false, kBt601, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
