// The built plugin library as a host sees it: loaded through host::Environment,
// its function called by name with named clips, its frames compared with the
// keying core's output on the same pixels.
#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/environment.h"
#include "host/source_clip.h"
#include "tests/plugin/test_clips.h"

namespace {

using namespace testclips;

constexpr const char* kPlugin = NOLU_PLUGIN_PATH;
constexpr const char* kFunction = "NoluMultiColorKeying";

// Six clips of random pixels, one per role, each clip's frames allocated with its own alignment.
struct Scene {
    VideoInfo vi;
    std::array<std::vector<Pixels>, 6> frames;
    std::array<PClip, 6> clips;

    Scene(int width, int height, int count, const std::array<int, 6>& aligns = {16, 16, 16, 16, 16, 16})
        : vi(Rgb32(width, height, count)) {
        for (std::size_t i = 0; i < 6; ++i) {
            frames[i] = RandomFrames(vi, count, static_cast<unsigned>(100 + i));
            clips[i] = new host::MemoryClip(vi, frames[i], aligns[i]);
        }
    }
    Pixels Expected(int n) const {
        const std::size_t f = static_cast<std::size_t>(std::min(n, vi.num_frames - 1));
        return Keyed({&frames[0][f], &frames[1][f], &frames[2][f], &frames[3][f], &frames[4][f], &frames[5][f]});
    }
    // Every clip by its role name, in the order given.
    std::vector<host::Argument> Named(const std::array<std::size_t, 6>& order = {0, 1, 2, 3, 4, 5}) const {
        std::vector<host::Argument> args;
        for (std::size_t i : order) args.push_back({kRoles[i], clips[i]});
        return args;
    }
};

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override { description = env.LoadPlugin(kPlugin); }

    std::string InvokeError(const std::vector<host::Argument>& args) {
        try {
            env.Invoke(kFunction, args);
        } catch (const AvisynthError& e) {
            return e.what();
        }
        return "(no error)";
    }

    host::Environment env;
    std::string description;
};

TEST(PluginRegistration, EntryPointAddsExactlyTheOneFunction) {
    host::Environment env;
    ASSERT_TRUE(env.Functions().empty());
    EXPECT_EQ(env.LoadPlugin(kPlugin), "Nolu MultiColor Keying for AviSynth");
    const std::vector<host::FunctionInfo> functions = env.Functions();
    ASSERT_EQ(functions.size(), 1u);
    EXPECT_EQ(functions[0].name, "NoluMultiColorKeying");
    EXPECT_EQ(functions[0].signature, "[red1]c[red2]c[red3]c[green1]c[green2]c[green3]c");
    EXPECT_EQ(functions[0].user_data, nullptr);

    // Loading the same library again neither runs its entry point twice nor adds anything.
    EXPECT_EQ(env.LoadPlugin(kPlugin), "Nolu MultiColor Keying for AviSynth");
    EXPECT_EQ(env.Functions().size(), 1u);
}

TEST_F(PluginTest, NamedClipsInAnyOrderReachTheFilterInSignatureOrder) {
    const Scene scene(7, 5, 2);
    const std::array<std::size_t, 6> kOrders[] = {
        {0, 1, 2, 3, 4, 5},
        {5, 4, 3, 2, 1, 0},
        {3, 0, 4, 1, 5, 2},  // green1 first: it must still be the colour source
        {4, 5, 3, 2, 0, 1},
    };
    for (const auto& order : kOrders) {
        SCOPED_TRACE(testing::PrintToString(order));
        const PClip keyed = env.Invoke(kFunction, scene.Named(order)).AsClip();
        ASSERT_TRUE(keyed);
        EXPECT_EQ(keyed->GetVideoInfo(), scene.vi);
        for (int n = 0; n < 2; ++n) EXPECT_EQ(Visible(keyed->GetFrame(n, &env)), scene.Expected(n)) << n;
    }
    // Positional clips bind in the same order.
    std::vector<host::Argument> positional;
    for (const PClip& c : scene.clips) positional.push_back({"", c});
    EXPECT_EQ(Visible(env.Invoke(kFunction, positional).AsClip()->GetFrame(1, &env)), scene.Expected(1));
}

TEST_F(PluginTest, InputsWhosePitchDiffersFromTheOutputsAreReadRowByRow) {
    // 7 RGB32 pixels are 28 bytes a row: alignment 1 gives pitch 28, 16 and 32 give 32, 64 gives 64;
    // the output always has pitch 32.
    struct Case {
        const char* name;
        std::array<int, 6> aligns;
    };
    const Case kCases[] = {
        {"all like the output", {16, 16, 16, 16, 16, 32}},
        {"green1 wider", {16, 16, 16, 64, 16, 16}},
        {"red1 narrower", {1, 16, 16, 16, 16, 16}},
        {"all wider", {64, 64, 64, 64, 64, 64}},
        {"all narrower", {1, 1, 1, 1, 1, 1}},
        {"mixed", {1, 64, 16, 1, 32, 64}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const Scene scene(7, 5, 3, c.aligns);
        const PClip keyed = env.Invoke(kFunction, scene.Named()).AsClip();
        for (int n = 0; n < 3; ++n) {
            const PVideoFrame out = keyed->GetFrame(n, &env);
            EXPECT_EQ(out->GetPitch(), 32);
            EXPECT_EQ(Visible(out), scene.Expected(n)) << n;
        }
    }
}

TEST_F(PluginTest, RequestsPastTheEndGetTheLastFrame) {
    const Scene scene(6, 2, 3);
    const PClip keyed = env.Invoke(kFunction, scene.Named()).AsClip();
    EXPECT_EQ(Visible(keyed->GetFrame(3, &env)), scene.Expected(2));
    EXPECT_EQ(Visible(keyed->GetFrame(1000, &env)), scene.Expected(2));
}

TEST_F(PluginTest, ACallMissingAClipIsRefusedBeforeAnyClipIsTouched) {
    struct Case {
        std::vector<std::size_t> left_out;
        const char* message;
    };
    const Case kCases[] = {
        {{0}, "NoluMultiColorKeying: missing clip red1"},
        {{1}, "NoluMultiColorKeying: missing clip red2"},
        {{2}, "NoluMultiColorKeying: missing clip red3"},
        {{3}, "NoluMultiColorKeying: missing clip green1"},
        {{4}, "NoluMultiColorKeying: missing clip green2"},
        {{5}, "NoluMultiColorKeying: missing clip green3"},
        {{2, 4}, "NoluMultiColorKeying: missing clip red3"},
        {{0, 1, 2, 3, 4, 5}, "NoluMultiColorKeying: missing clip red1"},
    };
    auto log = std::make_shared<EventLog>();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.message);
        std::vector<SpyClip*> spies;
        std::vector<host::Argument> args;
        for (std::size_t i = 0; i < 6; ++i) {
            if (std::find(c.left_out.begin(), c.left_out.end(), i) != c.left_out.end()) continue;
            spies.push_back(new SpyClip(kRoles[i], Rgb32(6, 2), log));
            args.push_back({kRoles[i], PClip(spies.back())});
        }
        EXPECT_EQ(InvokeError(args), c.message);
        for (SpyClip* s : spies) EXPECT_EQ(s->info_calls.load(), 0);
        log->Take();
        args.clear();  // the test held the last handles: each clip goes exactly once
        EXPECT_EQ(log->Take().size(), spies.size());
    }
}

TEST_F(PluginTest, HostErrorsReachTheCallerUnchanged) {
    Scene scene(6, 2, 1);
    scene.clips[2] = new host::MemoryClip(host::MakeVideoInfo(VideoInfo::CS_BGR24, 6, 2, 1), {Pixels(36)});
    EXPECT_EQ(InvokeError(scene.Named()), "NoluMultiColorKeying: Inputs must be RGB32");

    scene.clips[2] = new host::MemoryClip(Rgb32(5, 2, 1), {Pixels(40)});
    EXPECT_EQ(InvokeError(scene.Named()),
              "NoluMultiColorKeying: red3 is 5x2, but red1 is 6x2; all inputs must be the same size");
}

// A source whose frame `bad` cannot be made.
class BrokenClip final : public host::SourceClip {
public:
    BrokenClip(const VideoInfo& vi, int bad) : SourceClip(vi), bad_(bad) {}

protected:
    void Fill(int n, std::uint8_t*, int, IScriptEnvironment* env) override {
        if (n == bad_) env->ThrowError("BrokenSource: frame %d is unreadable", n);
    }

private:
    int bad_;
};

TEST_F(PluginTest, AnInputsFrameErrorPassesThroughAndReleasesTheFramesTaken) {
    Scene scene(6, 2, 4);
    scene.clips[4] = new BrokenClip(scene.vi, 2);  // green2
    const PClip keyed = env.Invoke(kFunction, scene.Named()).AsClip();
    const long before = env.LiveFrames();
    try {
        keyed->GetFrame(2, &env);
        ADD_FAILURE() << "no error";
    } catch (const AvisynthError& e) {
        EXPECT_STREQ(e.what(), "BrokenSource: frame 2 is unreadable");
    }
    EXPECT_EQ(env.LiveFrames(), before);
    EXPECT_NO_THROW(keyed->GetFrame(1, &env));
}

TEST_F(PluginTest, TwoCallsGiveIndependentFilters) {
    const Scene first(6, 2, 2);
    const Scene second(6, 2, 2);
    PClip a = env.Invoke(kFunction, first.Named()).AsClip();
    const PClip b = env.Invoke(kFunction, second.Named({3, 4, 5, 0, 1, 2})).AsClip();
    ASSERT_NE(a.get(), b.get());
    EXPECT_EQ(Visible(a->GetFrame(0, &env)), first.Expected(0));
    const Pixels fromB = Visible(b->GetFrame(1, &env));
    a = PClip();
    EXPECT_EQ(Visible(b->GetFrame(1, &env)), fromB);
    EXPECT_EQ(fromB, second.Expected(1));
}

TEST_F(PluginTest, CountsReturnWhereTheyStarted) {
    auto log = std::make_shared<EventLog>();
    PClip shared = new SpyClip("shared", Rgb32(6, 2, 3), log);
    PClip other = new SpyClip("other", Rgb32(6, 2, 3), log);
    const long framesBefore = env.LiveFrames();
    {
        // One clip for five arguments, a filter built, used and dropped.
        PClip keyed = env.Invoke(kFunction, {{"red1", shared}, {"red2", shared}, {"red3", other}, {"green1", shared},
                                              {"green2", shared}, {"green3", shared}})
                          .AsClip();
        keyed->GetFrame(1, &env);
    }
    {
        // A construction that fails after taking every handle.
        PClip yv12 = new SpyClip("yv12", host::MakeVideoInfo(VideoInfo::CS_YV12, 6, 2, 3), log);
        EXPECT_THROW(env.Invoke(kFunction, {{"red1", shared}, {"red2", shared}, {"red3", shared}, {"green1", shared},
                                            {"green2", shared}, {"green3", yv12}}),
                     AvisynthError);
    }
    EXPECT_EQ(env.LiveFrames(), framesBefore);
    log->Take();
    shared = PClip();
    EXPECT_EQ(log->Take(), std::vector<std::string>{"shared destroyed"});
    other = PClip();
    EXPECT_EQ(log->Take(), std::vector<std::string>{"other destroyed"});
}

bool PluginMapped() {
    void* h = dlopen(kPlugin, RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

TEST(PluginLifetime, TheLibraryStaysLoadedWhileAClipFromItLives) {
    ASSERT_FALSE(PluginMapped());
    const Scene scene(6, 2, 2);
    PClip keyed;
    {
        host::Environment env;
        env.LoadPlugin(kPlugin);
        keyed = env.Invoke(kFunction, scene.Named()).AsClip();
    }
    ASSERT_TRUE(PluginMapped());
    host::Environment other;
    EXPECT_EQ(Visible(keyed->GetFrame(1, &other)), scene.Expected(1));
    keyed = PClip();
    EXPECT_FALSE(PluginMapped());
}

}  // namespace
