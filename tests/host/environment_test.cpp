// The host's services to plugins: frame allocation, script errors, plugin loading,
// and the in-memory source clips.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/environment.h"
#include "host/source_clip.h"

namespace {

std::string ErrorOf(const auto& call) {
    try {
        call();
    } catch (const AvisynthError& e) {
        return e.what();
    }
    return "(no error)";
}

// ---- NewVideoFrame ----

TEST(NewVideoFrame, PitchIsTheRowRoundedUpToTheAlignment) {
    struct Case {
        const char* name;
        int pixel_type, width, height, align;
        int pitch, row_size;
    };
    const Case kCases[] = {
        {"6 RGB32 pixels", VideoInfo::CS_BGR32, 6, 3, 16, 32, 24},
        {"8 RGB32 pixels, already aligned", VideoInfo::CS_BGR32, 8, 2, 16, 32, 32},
        {"1 RGB32 pixel", VideoInfo::CS_BGR32, 1, 1, 16, 16, 4},
        {"6 RGB32 pixels, alignment 64", VideoInfo::CS_BGR32, 6, 3, 64, 64, 24},
        {"7 RGB32 pixels, alignment 1", VideoInfo::CS_BGR32, 7, 2, 1, 28, 28},
        {"7 RGB32 pixels, alignment 8", VideoInfo::CS_BGR32, 7, 2, 8, 32, 28},
        {"5 RGB24 pixels", VideoInfo::CS_BGR24, 5, 4, 16, 16, 15},
        {"10 YUY2 pixels, alignment 32", VideoInfo::CS_YUY2, 10, 2, 32, 32, 20},
        {"1920 RGB32 pixels", VideoInfo::CS_BGR32, 1920, 2, 16, 7680, 7680},
    };
    host::Environment env;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const PVideoFrame f = env.NewVideoFrame(host::MakeVideoInfo(c.pixel_type, c.width, c.height, 1), c.align);
        EXPECT_EQ(f->GetPitch(), c.pitch);
        EXPECT_EQ(f->GetRowSize(), c.row_size);
        EXPECT_EQ(f->GetHeight(), c.height);
        const auto address = reinterpret_cast<std::uintptr_t>(f->GetReadPtr());
        EXPECT_EQ(address % static_cast<std::uintptr_t>(c.align < 16 ? 16 : c.align), 0u);
        // The whole buffer is there to write (ASan checks the bounds) and starts out zero.
        const std::size_t bytes = static_cast<std::size_t>(c.pitch) * c.height;
        EXPECT_EQ(std::vector<std::uint8_t>(f->GetReadPtr(), f->GetReadPtr() + bytes), std::vector<std::uint8_t>(bytes, 0));
        std::memset(f->GetWritePtr(), 0xAB, bytes);
    }
    EXPECT_EQ(env.LiveFrames(), 0);
}

TEST(NewVideoFrame, RefusesWhatItCannotMake) {
    struct Case {
        const char* name;
        int pixel_type, width, height, align;
        const char* error;
    };
    const Case kCases[] = {
        {"alignment 0", VideoInfo::CS_BGR32, 6, 3, 0, "NewVideoFrame: alignment 0 is not a power of two"},
        {"alignment 12", VideoInfo::CS_BGR32, 6, 3, 12, "NewVideoFrame: alignment 12 is not a power of two"},
        {"negative alignment", VideoInfo::CS_BGR32, 6, 3, -16, "NewVideoFrame: alignment -16 is not a power of two"},
        {"planar", VideoInfo::CS_YV12, 6, 4, 16, "NewVideoFrame: pixel type 0xA0000008 is not an interleaved format"},
        {"no width", VideoInfo::CS_BGR32, 0, 3, 16, "NewVideoFrame: cannot make a 0x3 frame"},
        {"negative height", VideoInfo::CS_BGR32, 6, -1, 16, "NewVideoFrame: cannot make a 6x-1 frame"},
        {"too large", VideoInfo::CS_BGR32, 1 << 20, 1 << 12, 16, "NewVideoFrame: a 1048576x4096 frame is too large"},
    };
    host::Environment env;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ErrorOf([&] { env.NewVideoFrame(host::MakeVideoInfo(c.pixel_type, c.width, c.height, 1), c.align); }),
                  c.error);
    }
}

TEST(NewVideoFrame, LiveFramesCountsFramesUntilTheirLastHandleGoes) {
    host::Environment env;
    PVideoFrame a = env.NewVideoFrame(host::MakeVideoInfo(VideoInfo::CS_BGR32, 4, 4, 1));
    PVideoFrame copy = a;
    const PVideoFrame b = env.NewVideoFrame(host::MakeVideoInfo(VideoInfo::CS_BGR32, 4, 4, 1));
    EXPECT_EQ(env.LiveFrames(), 2);
    a = PVideoFrame();
    EXPECT_EQ(env.LiveFrames(), 2);
    copy = PVideoFrame();
    EXPECT_EQ(env.LiveFrames(), 1);
}

// ---- ThrowError ----

TEST(ThrowError, RaisesTheFormattedMessageWhole) {
    host::Environment env;
    EXPECT_EQ(ErrorOf([&] { env.ThrowError("Filter: %s is %dx%d", "green2", 640, 480); }), "Filter: green2 is 640x480");
    EXPECT_EQ(ErrorOf([&] { env.ThrowError("%s", ""); }), "");
    const std::string longText(5000, 'x');
    EXPECT_EQ(ErrorOf([&] { env.ThrowError("Long: %s.", longText.c_str()); }), "Long: " + longText + ".");
    // Through the interface, as a plugin calls it.
    IScriptEnvironment* plugin = &env;
    EXPECT_EQ(ErrorOf([&] { plugin->ThrowError("F: %d%%", 50); }), "F: 50%");
}

TEST(SaveString, CopiesLiveAsLongAsTheEnvironment) {
    host::Environment env;
    char text[] = "abcdef";
    const char* whole = env.SaveString(text);
    const char* part = env.SaveString(text, 3);
    std::memset(text, 0, sizeof text);
    EXPECT_STREQ(whole, "abcdef");
    EXPECT_STREQ(part, "abc");
    EXPECT_EQ(env.SaveString(nullptr), nullptr);
}

// ---- LoadPlugin ----

TEST(LoadPlugin, FailuresNameTheFile) {
    host::Environment env;
    const std::string missing = "/nonexistent/libNothing.so";
    const std::string error = ErrorOf([&] { env.LoadPlugin(missing); });
    EXPECT_EQ(error.rfind("LoadPlugin: cannot load \"" + missing + "\" (", 0), 0u) << error;

    EXPECT_EQ(ErrorOf([&] { env.LoadPlugin(NO_ENTRY_LIBRARY); }),
              std::string("LoadPlugin: \"") + NO_ENTRY_LIBRARY + "\" has no AvisynthPluginInit2 entry point");
    EXPECT_TRUE(env.Functions().empty());
}

// ---- source clips ----

host::MemoryClip CountingClip(int frames, int align = 16) {
    // Frame i is filled with the byte i + 1.
    std::vector<std::vector<std::uint8_t>> data;
    for (int i = 0; i < frames; ++i) data.emplace_back(3 * 2 * 4, static_cast<std::uint8_t>(i + 1));
    return host::MemoryClip(host::MakeVideoInfo(VideoInfo::CS_BGR32, 3, 2, 99), data, align);
}

TEST(MemoryClip, RequestsAreClampedToTheFramesItHas) {
    host::Environment env;
    const PClip clip = new host::MemoryClip(CountingClip(4));
    EXPECT_EQ(clip->GetVideoInfo().num_frames, 4);
    const std::pair<int, std::uint8_t> kCases[] = {{-5, 1}, {0, 1}, {1, 2}, {3, 4}, {4, 4}, {1000, 4}};
    for (const auto& [n, fill] : kCases) {
        SCOPED_TRACE(n);
        const PVideoFrame f = clip->GetFrame(n, &env);
        for (int y = 0; y < f->GetHeight(); ++y) {
            const std::uint8_t* row = f->GetReadPtr() + y * f->GetPitch();
            EXPECT_EQ(std::vector<std::uint8_t>(row, row + 12), std::vector<std::uint8_t>(12, fill));
            EXPECT_EQ(std::vector<std::uint8_t>(row + 12, row + 16), std::vector<std::uint8_t>(4, 0));  // padding
        }
    }
}

TEST(MemoryClip, FramesUseTheClipsAlignment) {
    host::Environment env;
    EXPECT_EQ(host::MemoryClip(CountingClip(1, 64)).GetFrame(0, &env)->GetPitch(), 64);
    EXPECT_EQ(host::MemoryClip(CountingClip(1, 4)).GetFrame(0, &env)->GetPitch(), 12);
}

TEST(MemoryClip, RefusesFramesThatDoNotFitTheDescription) {
    const VideoInfo rgb32 = host::MakeVideoInfo(VideoInfo::CS_BGR32, 3, 2, 1);
    struct Case {
        const char* name;
        VideoInfo vi;
        std::vector<std::vector<std::uint8_t>> frames;
        const char* error;
    };
    const Case kCases[] = {
        {"no frames", rgb32, {}, "MemoryClip: a clip needs at least one frame"},
        {"planar", host::MakeVideoInfo(VideoInfo::CS_YV12, 4, 4, 1), {std::vector<std::uint8_t>(24)},
         "MemoryClip: frames must be of an interleaved format and not empty"},
        {"short frame", rgb32, {std::vector<std::uint8_t>(24), std::vector<std::uint8_t>(23)},
         "MemoryClip: frame 1 holds 23 bytes, 24 expected"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ErrorOf([&] { host::MemoryClip(c.vi, c.frames); }), c.error);
    }
}

TEST(SourceClip, AudioIsSilenceAndParityIsProgressive) {
    VideoInfo vi = host::MakeVideoInfo(VideoInfo::CS_BGR32, 3, 2, 1);
    vi.audio_samples_per_second = 48000;
    vi.sample_type = VideoInfo::SAMPLE_INT16;
    vi.nchannels = 2;
    host::MemoryClip clip(vi, {std::vector<std::uint8_t>(24)});
    host::Environment env;
    std::vector<std::uint8_t> buf(20, 0xEE);
    clip.GetAudio(buf.data(), 0, 4, &env);  // 4 samples of 2 channels of 2 bytes
    EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + 16), std::vector<std::uint8_t>(16, 0));
    EXPECT_EQ(std::vector<std::uint8_t>(buf.begin() + 16, buf.end()), std::vector<std::uint8_t>(4, 0xEE));
    EXPECT_FALSE(clip.GetParity(0));
}

}  // namespace
