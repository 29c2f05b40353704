// Frames allocated and released by several threads at once, as concurrent frame
// requests do. Built to be run under ThreadSanitizer too.
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/environment.h"
#include "host/source_clip.h"

namespace {

TEST(ConcurrentAllocation, ThreadsAllocatingAndSharingFrames) {
    host::Environment env;
    const VideoInfo vi = host::MakeVideoInfo(VideoInfo::CS_BGR32, 37, 9, 1);
    constexpr int kThreads = 4;
    // A frame handed between threads: its count is changed from all of them.
    const PVideoFrame shared = env.NewVideoFrame(vi);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                PVideoFrame f = env.NewVideoFrame(vi, 16 << (i % 3));
                f->GetWritePtr()[0] = static_cast<std::uint8_t>(t);
                PVideoFrame copy = shared;
                ASSERT_EQ(copy->GetPitch(), 160);
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(env.LiveFrames(), 1);
}

}  // namespace
