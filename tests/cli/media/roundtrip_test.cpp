// Writing frames with a Sink and reading them back with a Source.

#include "cli/media/media.h"
#include "fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {
using media::Rational;
using media::Sink;
using media::Source;
using media_test::NaturalPicture;
using media_test::NoisePicture;
using media_test::Picture;
using media_test::TempDir;

Picture Read(Source& source, int n, int pad = 0) {
    Picture p(source.Width(), source.Height(), pad);
    source.ReadFrame(n, p.bytes.data(), p.pitch);
    return p;
}

void ExpectSame(const Picture& expected, const Picture& actual, const std::string& what) {
    std::string where;
    EXPECT_TRUE(media_test::SamePixels(expected, actual, &where)) << what << ": " << where;
}

// Lossless outputs give back exactly the bytes written, alpha included, whatever the row padding.
struct LosslessCase {
    const char* name;
    int width, height, frames, pad;
};
void PrintTo(const LosslessCase& c, std::ostream* os) { *os << c.name; }

class LosslessRoundTrip : public ::testing::TestWithParam<LosslessCase> {};

TEST_P(LosslessRoundTrip, PngGivesBackEveryByte) {
    const LosslessCase c = GetParam();
    TempDir dir;
    const std::string path = dir / "still.png";
    const Picture written = NoisePicture(c.width, c.height, 11, c.pad);
    auto sink = Sink::Create(path, c.width, c.height, {});
    sink->WriteFrame(written.bytes.data(), written.pitch, 0);
    sink->Finish();
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"still.png"});

    auto source = Source::Open(path);
    EXPECT_EQ(source->Width(), c.width);
    EXPECT_EQ(source->Height(), c.height);
    EXPECT_EQ(source->FrameCount(), 1);
    EXPECT_EQ(source->FirstNumber(), 0);
    ExpectSame(written, Read(*source, 0, c.pad + 8), "png");
}

TEST_P(LosslessRoundTrip, FfmpegV1MkvGivesBackEveryFrameInAnyOrder) {
    const LosslessCase c = GetParam();
    TempDir dir;
    const std::string path = dir / "clip.mkv";
    std::vector<Picture> written;
    auto sink = Sink::Create(path, c.width, c.height, {30000, 1001});
    for (int i = 0; i < c.frames; ++i) {
        written.push_back(NoisePicture(c.width, c.height, 100 + i, c.pad));
        sink->WriteFrame(written.back().bytes.data(), written.back().pitch, i);
    }
    sink->Finish();
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"clip.mkv"});

    auto source = Source::Open(path);
    ASSERT_EQ(source->FrameCount(), c.frames);
    EXPECT_EQ(source->Width(), c.width);
    EXPECT_EQ(source->Height(), c.height);
    EXPECT_EQ(source->FrameRate().num * 1001, source->FrameRate().den * 30000);
    for (int i = 0; i < c.frames; ++i) ExpectSame(written[i], Read(*source, i), "frame " + std::to_string(i));
    // Backwards and repeated requests start the file again or reuse the picture in hand.
    for (int i : {c.frames - 1, c.frames - 1, 0, c.frames / 2})
        ExpectSame(written[i], Read(*source, i, 4), "again frame " + std::to_string(i));
}

INSTANTIATE_TEST_SUITE_P(Sizes, LosslessRoundTrip,
                         ::testing::Values(LosslessCase{"one_pixel", 1, 1, 2, 0},
                                           LosslessCase{"column", 1, 40, 2, 0},
                                           LosslessCase{"row", 40, 1, 2, 4},
                                           LosslessCase{"odd", 17, 15, 3, 12},  // 255 pixels: alpha 0..254 and more
                                           LosslessCase{"odd_sliced", 33, 19, 3, 4},
                                           LosslessCase{"square", 32, 32, 5, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PngSequence, NumbersFramesFromAnyStartAndReadsThemBackInOrder) {
    TempDir dir;
    const std::string pattern = dir / "out_%04d.png";
    const int first = 7, count = 5;
    std::vector<Picture> written;
    auto sink = Sink::Create(pattern, 9, 6, {});
    for (int i = 0; i < count; ++i) {
        written.push_back(NoisePicture(9, 6, 40 + i));
        sink->WriteFrame(written.back().bytes.data(), written.back().pitch, first + i);
    }
    sink->Finish();
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"out_0007.png", "out_0008.png", "out_0009.png", "out_0010.png",
                                                     "out_0011.png"}));
    // A frame after a gap is not part of the sequence.
    std::filesystem::copy_file(dir / "out_0007.png", dir / "out_0013.png");

    auto source = Source::Open(pattern);
    EXPECT_EQ(source->FirstNumber(), first);
    ASSERT_EQ(source->FrameCount(), count);
    EXPECT_EQ(source->Width(), 9);
    EXPECT_EQ(source->Height(), 6);
    EXPECT_EQ(source->FrameRate().num, 25);
    EXPECT_EQ(source->FrameRate().den, 1);
    for (int i : {0, 1, 2, 3, 4, 2, 0}) ExpectSame(written[i], Read(*source, i), "frame " + std::to_string(i));
}

TEST(PngSequence, PlainPercentDAndNumbersBeyondThePadding) {
    TempDir dir;
    const Picture a = NoisePicture(4, 4, 1), b = NoisePicture(4, 4, 2);
    auto sink = Sink::Create(dir / "f%d.png", 4, 4, {});
    sink->WriteFrame(a.bytes.data(), a.pitch, 99);
    sink->WriteFrame(b.bytes.data(), b.pitch, 100);
    sink->Finish();
    auto source = Source::Open(dir / "f%d.png");
    EXPECT_EQ(source->FirstNumber(), 99);
    ASSERT_EQ(source->FrameCount(), 2);
    ExpectSame(b, Read(*source, 1), "f100");
}

// ProRes 4444 keeps alpha exactly (10-bit lossless alpha); colour is lossy within a measured bound.
TEST(ProResMov, AlphaExactColourCloseAndEveryFrameKept) {
    TempDir dir;
    const std::string path = dir / "clip.mov";
    const int w = 65, h = 47, frames = 4;  // odd sizes: ProRes codes 16x16 blocks
    std::vector<Picture> written;
    auto sink = Sink::Create(path, w, h, {24, 1});
    for (int i = 0; i < frames; ++i) {
        // Even frames natural pictures, odd frames noise with every alpha value.
        written.push_back(i % 2 ? NoisePicture(w, h, 7 + i) : NaturalPicture(w, h, 7 + i));
        sink->WriteFrame(written.back().bytes.data(), written.back().pitch, i);
    }
    sink->Finish();

    auto source = Source::Open(path);
    ASSERT_EQ(source->FrameCount(), frames);  // the last frame is not dropped
    EXPECT_EQ(source->FrameRate().num, 24);
    EXPECT_EQ(source->FrameRate().den, 1);
    for (int i = 0; i < frames; ++i) {
        const Picture back = Read(*source, i);
        EXPECT_EQ(media_test::MaxChannelError(written[i], back, 3), 0) << "alpha of frame " << i;
        // Measured: at most 2 per channel (8-bit RGB through 10-bit BT.709 YUV and back), the same at 1920x1080.
        for (int c = 0; c < 3; ++c)
            EXPECT_LE(media_test::MaxChannelError(written[i], back, c), 2) << "channel " << c << " of frame " << i;
    }
}

TEST(ProResMov, EveryAlphaValueSurvives) {
    TempDir dir;
    Picture ramp(256, 2);
    for (int x = 0; x < 256; ++x)
        for (int y = 0; y < 2; ++y) {
            std::uint8_t* px = ramp.Pixel(x, y);
            px[0] = px[1] = px[2] = 128;
            px[3] = static_cast<std::uint8_t>(y ? 255 - x : x);
        }
    auto sink = Sink::Create(dir / "ramp.mov", 256, 2, {});
    sink->WriteFrame(ramp.bytes.data(), ramp.pitch, 0);
    sink->Finish();
    auto source = Source::Open(dir / "ramp.mov");
    ASSERT_EQ(source->FrameCount(), 1);
    EXPECT_EQ(media_test::MaxChannelError(ramp, Read(*source, 0), 3), 0);
}

// Requests from several threads at once get the right frames (run under TSan as well).
TEST(ConcurrentReads, VideoAndSequenceServeManyThreads) {
    TempDir dir;
    const int w = 12, h = 10, frames = 6;
    std::vector<Picture> written;
    auto video = Sink::Create(dir / "clip.mkv", w, h, {});
    auto sequence = Sink::Create(dir / "s_%03d.png", w, h, {});
    for (int i = 0; i < frames; ++i) {
        written.push_back(NoisePicture(w, h, 300 + i));
        video->WriteFrame(written.back().bytes.data(), written.back().pitch, i);
        sequence->WriteFrame(written.back().bytes.data(), written.back().pitch, 1 + i);
    }
    video->Finish();
    sequence->Finish();

    for (const std::string& path : {dir / "clip.mkv", dir / "s_%03d.png"}) {
        auto source = Source::Open(path);
        std::vector<std::thread> threads;
        std::vector<int> failures(3, 0);
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&, t] {
                for (int round = 0; round < 2; ++round)
                    for (int i = 0; i < frames; ++i) {
                        const int n = (i + t) % frames;
                        std::string where;
                        if (!media_test::SamePixels(written[n], Read(*source, n), &where)) ++failures[t];
                    }
            });
        for (auto& th : threads) th.join();
        EXPECT_EQ(failures, std::vector<int>(3, 0)) << path;
    }
}

}  // namespace
