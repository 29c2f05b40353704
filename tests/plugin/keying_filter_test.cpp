// The keying filter on its own, built directly from clips: its checks at
// construction, the order of its requests and releases, and what it forwards to red1.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/keying_filter.h"
#include "tests/plugin/test_clips.h"

namespace {

using namespace testclips;

PClip MakeFilter(const std::array<PClip, 6>& c, IScriptEnvironment* env) {
    return new NoluMultiColorKeying(c[0], c[1], c[2], c[3], c[4], c[5], env);
}

std::string ConstructionError(const std::array<PClip, 6>& c, IScriptEnvironment* env) {
    try {
        MakeFilter(c, env);
    } catch (const AvisynthError& e) {
        return e.what();
    }
    return "(no error)";
}

class KeyingFilterTest : public ::testing::Test {
protected:
    std::array<PClip, 6> SpyInputs(const std::array<VideoInfo, 6>& infos) {
        std::array<PClip, 6> c;
        for (std::size_t i = 0; i < 6; ++i) {
            c[i] = new SpyClip(kRoles[i], infos[i], log, static_cast<std::uint8_t>(0x10 + i));
        }
        return c;
    }
    std::array<PClip, 6> SpyInputs(const VideoInfo& vi) { return SpyInputs({vi, vi, vi, vi, vi, vi}); }

    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    SpyEnvironment env{log};
};

// ---- checks at construction ----

struct ColourSpace {
    const char* name;
    int pixel_type;
};

TEST_F(KeyingFilterTest, AnyInputNotRgb32IsRefusedWithTheOneMessage) {
    const ColourSpace kOthers[] = {{"YV12", VideoInfo::CS_YV12}, {"YUY2", VideoInfo::CS_YUY2}, {"RGB24", VideoInfo::CS_BGR24}};
    for (const ColourSpace& cs : kOthers) {
        for (std::size_t pos = 0; pos < 6; ++pos) {
            SCOPED_TRACE(std::string(cs.name) + " as " + kRoles[pos]);
            std::array<VideoInfo, 6> infos;
            infos.fill(Rgb32(8, 4));
            infos[pos].pixel_type = cs.pixel_type;
            EXPECT_EQ(ConstructionError(SpyInputs(infos), &env), "NoluMultiColorKeying: Inputs must be RGB32");
        }
    }
}

TEST_F(KeyingFilterTest, ColourSpaceIsCheckedForAllSixBeforeAnySize) {
    std::array<VideoInfo, 6> infos;
    infos.fill(Rgb32(8, 4));
    infos[1].width = 9;                           // red2 has another size...
    infos[5].pixel_type = VideoInfo::CS_YUY2;    // ...but green3 is not RGB32 at all
    EXPECT_EQ(ConstructionError(SpyInputs(infos), &env), "NoluMultiColorKeying: Inputs must be RGB32");
}

TEST_F(KeyingFilterTest, AnInputOfAnotherSizeThanRed1IsRefusedByName) {
    struct Case {
        std::size_t pos;
        int width, height;
        const char* message;
    };
    const Case kCases[] = {
        {1, 9, 4, "NoluMultiColorKeying: red2 is 9x4, but red1 is 8x4; all inputs must be the same size"},
        {2, 8, 3, "NoluMultiColorKeying: red3 is 8x3, but red1 is 8x4; all inputs must be the same size"},
        {3, 7, 4, "NoluMultiColorKeying: green1 is 7x4, but red1 is 8x4; all inputs must be the same size"},
        {4, 16, 8, "NoluMultiColorKeying: green2 is 16x8, but red1 is 8x4; all inputs must be the same size"},
        {5, 8, 5, "NoluMultiColorKeying: green3 is 8x5, but red1 is 8x4; all inputs must be the same size"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(kRoles[c.pos]);
        std::array<VideoInfo, 6> infos;
        infos.fill(Rgb32(8, 4));
        infos[c.pos].width = c.width;
        infos[c.pos].height = c.height;
        EXPECT_EQ(ConstructionError(SpyInputs(infos), &env), c.message);
    }
}

TEST_F(KeyingFilterTest, DescriptionIsRed1sInEveryField) {
    VideoInfo red1 = Rgb32(8, 4, 17);
    red1.fps_numerator = 30000;
    red1.fps_denominator = 1001;
    red1.audio_samples_per_second = 48000;
    red1.sample_type = VideoInfo::SAMPLE_FLOAT;
    red1.num_audio_samples = 123456789012LL;
    red1.nchannels = 6;
    red1.image_type = 3;
    // Frame count, rate and audio of the others are not compared, only their size.
    const VideoInfo other = Rgb32(8, 4, 5);
    const std::array<PClip, 6> inputs = SpyInputs({red1, other, other, other, other, other});
    const PClip filter = MakeFilter(inputs, &env);
    EXPECT_EQ(filter->GetVideoInfo(), red1);
    // Asked once each for the checks, and red1 once more for the copy.
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(static_cast<SpyClip*>(inputs[i].get())->info_calls.load(), i == 0 ? 2 : 1) << kRoles[i];
    }
    EXPECT_EQ(filter->GetVersion(), 3);
}

// ---- frame requests ----

TEST_F(KeyingFilterTest, FrameRequestAsksEachInputOnceInRoleOrderThenAllocatesThenReleasesInReverse) {
    const PClip filter = MakeFilter(SpyInputs(Rgb32(6, 3, 10)), &env);
    log->Take();
    for (int n : {0, 7, 42}) {
        SCOPED_TRACE(n);
        const PVideoFrame out = filter->GetFrame(n, &env);
        const std::string get = " get " + std::to_string(n);
        const std::vector<std::string> expected = {
            "red1" + get, "red2" + get, "red3" + get, "green1" + get, "green2" + get, "green3" + get,
            "alloc align 16",
            "green3 frame released", "green2 frame released", "green1 frame released",
            "red3 frame released", "red2 frame released", "red1 frame released",
        };
        EXPECT_EQ(log->Take(), expected);
        EXPECT_EQ(out->GetPitch(), 32);
        EXPECT_EQ(out->GetRowSize(), 24);
        EXPECT_EQ(out->GetHeight(), 3);
    }
}

TEST_F(KeyingFilterTest, AudioAndParityAreRed1s) {
    const PClip filter = MakeFilter(SpyInputs(Rgb32(6, 3)), &env);
    log->Take();
    std::vector<std::uint8_t> buf(64, 0xEE);
    filter->GetAudio(buf.data(), 1000, 48, &env);
    EXPECT_EQ(log->Take(), std::vector<std::string>{"red1 audio 1000 48"});
    EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + 48), std::vector<std::uint8_t>(48, 0x10));
    EXPECT_EQ(std::vector<std::uint8_t>(buf.begin() + 48, buf.end()), std::vector<std::uint8_t>(16, 0xEE));

    // red1's parity is odd n; red2's (shifted by one) is even n.
    for (int n = 0; n < 4; ++n) EXPECT_EQ(filter->GetParity(n), (n & 1) != 0) << n;
    filter->SetCacheHints(1, 100);
    EXPECT_TRUE(log->Take().empty());
}

// ---- counts ----

TEST_F(KeyingFilterTest, DroppingTheFilterReleasesGreen3FirstAndRed1Last) {
    PClip filter = MakeFilter(SpyInputs(Rgb32(6, 3)), &env);  // the filter holds the only handles
    log->Take();
    filter = PClip();
    // red1 goes last: its own member is released before the base's child, which is also red1.
    const std::vector<std::string> expected = {"green3 destroyed", "green2 destroyed", "green1 destroyed",
                                               "red3 destroyed", "red2 destroyed", "red1 destroyed"};
    EXPECT_EQ(log->Take(), expected);
}

TEST_F(KeyingFilterTest, CountsReturnWhereTheyStarted) {
    struct Case {
        const char* name;
        std::array<std::size_t, 6> which;  // which of the test's clips goes to each role
        int failing;                       // the clip made non-RGB32, or -1
    };
    const Case kCases[] = {
        {"six different clips", {0, 1, 2, 3, 4, 5}, -1},
        {"one clip for all six", {0, 0, 0, 0, 0, 0}, -1},
        {"one clip as red1, green1 and green3", {0, 1, 2, 0, 4, 0}, -1},
        {"construction fails at green2", {0, 1, 2, 3, 4, 5}, 4},
        {"construction fails at red1, shared", {0, 0, 0, 0, 0, 0}, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::array<PClip, 6> own;
        for (std::size_t i = 0; i < 6; ++i) {
            VideoInfo vi = Rgb32(6, 3, 4);
            if (static_cast<int>(i) == c.failing) vi.pixel_type = VideoInfo::CS_YV12;
            own[i] = new SpyClip("clip" + std::to_string(i), vi, log);
        }
        std::array<PClip, 6> args;
        for (std::size_t i = 0; i < 6; ++i) args[i] = own[c.which[i]];
        const long framesBefore = env.LiveFrames();
        if (c.failing < 0) {
            PClip filter = MakeFilter(args, &env);
            filter->GetFrame(2, &env);
        } else {
            EXPECT_THROW(MakeFilter(args, &env), AvisynthError);
        }
        args = {};
        EXPECT_EQ(env.LiveFrames(), framesBefore);
        log->Take();
        // Only the test's own handle is left on each clip: dropping it destroys that clip, and only it.
        for (std::size_t i = 0; i < 6; ++i) {
            own[i] = PClip();
            EXPECT_EQ(log->Take(), std::vector<std::string>{"clip" + std::to_string(i) + " destroyed"});
        }
    }
}

// ---- pixels ----

TEST_F(KeyingFilterTest, FramesAreTheKeyingPassOverTheInputsInRoleOrder) {
    const VideoInfo vi = Rgb32(7, 5, 3);
    std::array<std::vector<Pixels>, 6> frames;
    std::array<PClip, 6> clips;
    for (std::size_t i = 0; i < 6; ++i) {
        frames[i] = RandomFrames(vi, 3, static_cast<unsigned>(i + 1));
        clips[i] = new host::MemoryClip(vi, frames[i]);
    }
    const PClip filter = MakeFilter(clips, &env);
    for (int n = 0; n < 3; ++n) {
        const PVideoFrame out = filter->GetFrame(n, &env);
        const std::size_t f = static_cast<std::size_t>(n);
        EXPECT_EQ(Visible(out), Keyed({&frames[0][f], &frames[1][f], &frames[2][f], &frames[3][f], &frames[4][f],
                                       &frames[5][f]}))
            << "frame " << n;
    }
}

}  // namespace
