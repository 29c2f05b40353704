// Several threads asking the loaded plugin's clip for frames at once, as a host's
// worker threads do. Built to be run under ThreadSanitizer too.
#include <array>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/environment.h"
#include "host/source_clip.h"
#include "tests/plugin/test_clips.h"

namespace {

using namespace testclips;

TEST(ConcurrentFrames, ThreadsRequestingAtOnceGetIdenticalFrames) {
    constexpr int kFrames = 8;
    constexpr int kThreads = 4;
    const VideoInfo vi = Rgb32(33, 17, kFrames);

    // green2 with another pitch, so threads also share the row-by-row path.
    for (int green2Align : {16, 64}) {
        SCOPED_TRACE(green2Align);
        host::Environment env;
        env.LoadPlugin(NOLU_PLUGIN_PATH);
        std::array<std::vector<Pixels>, 6> frames;
        std::vector<host::Argument> args;
        for (std::size_t i = 0; i < 6; ++i) {
            frames[i] = RandomFrames(vi, kFrames, static_cast<unsigned>(7 + i));
            args.push_back({kRoles[i], new host::MemoryClip(vi, frames[i], i == 4 ? green2Align : 16)});
        }
        const PClip keyed = env.Invoke("NoluMultiColorKeying", args).AsClip();

        std::vector<std::vector<Pixels>> seen(kThreads, std::vector<Pixels>(kFrames));
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                // Each thread walks the frames from its own starting point, twice.
                for (int k = 0; k < 2 * kFrames; ++k) {
                    const int n = (t * 3 + k) % kFrames;
                    seen[t][n] = Visible(keyed->GetFrame(n, &env));
                }
            });
        }
        for (std::thread& th : threads) th.join();

        for (int n = 0; n < kFrames; ++n) {
            const std::size_t f = static_cast<std::size_t>(n);
            const Pixels expected =
                Keyed({&frames[0][f], &frames[1][f], &frames[2][f], &frames[3][f], &frames[4][f], &frames[5][f]});
            for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t][n], expected) << "thread " << t << " frame " << n;
        }
        EXPECT_EQ(env.LiveFrames(), 0);
    }
}

}  // namespace
