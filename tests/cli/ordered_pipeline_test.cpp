// Frames produced out of order on several threads must still be handed on in order,
// with bounded memory, and a failure on either side must stop the run and surface.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "cli/ordered_pipeline.h"

namespace {

using nolukey::RunOrdered;

// Later frames finish sooner, so an unordered writer would show it.
void Stagger(int n) { std::this_thread::sleep_for(std::chrono::microseconds((7 - n % 8) * 200)); }

TEST(OrderedPipeline, HandsOnEveryFrameInOrder) {
    for (int threads : {1, 2, 5}) {
        std::vector<int> order;
        RunOrdered(
            10, 70, threads, 6,
            [&](int n) {
                Stagger(n);
                return std::vector<int>{n};
            },
            [&](int n, std::vector<int> v) {
                EXPECT_EQ(v[0], n);
                order.push_back(n);
            });
        std::vector<int> expected;
        for (int n = 10; n <= 70; ++n) expected.push_back(n);
        EXPECT_EQ(order, expected) << threads << " threads";
    }
}

TEST(OrderedPipeline, NeverHoldsMoreThanTheWindow) {
    constexpr int kWindow = 4;
    std::atomic<int> alive{0};
    std::atomic<int> worst{0};
    struct Token {
        std::atomic<int>* alive = nullptr;
        Token() = default;
        explicit Token(std::atomic<int>* a) : alive(a) { ++*alive; }
        Token(Token&& o) noexcept : alive(o.alive) { o.alive = nullptr; }
        Token& operator=(Token&& o) noexcept {
            if (alive) --*alive;
            alive = o.alive;
            o.alive = nullptr;
            return *this;
        }
        ~Token() {
            if (alive) --*alive;
        }
    };
    RunOrdered(
        0, 99, 4, kWindow,
        [&](int) {
            Token t(&alive);
            int now = alive.load();
            int seen = worst.load();
            while (now > seen && !worst.compare_exchange_weak(seen, now)) {
            }
            return t;
        },
        [&](int, Token) {
            // A slow writer: producers must wait rather than pile frames up.
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        });
    // The window, plus the one frame the writer holds.
    EXPECT_LE(worst.load(), kWindow + 1);
    EXPECT_EQ(alive.load(), 0);
}

TEST(OrderedPipeline, ProducerFailureStopsTheRunAndIsRethrown) {
    std::atomic<int> produced{0};
    std::vector<int> consumed;
    EXPECT_THROW(RunOrdered(
                     0, 999, 3, 6,
                     [&](int n) {
                         ++produced;
                         if (n == 20) throw std::runtime_error("frame 20 failed");
                         return n;
                     },
                     [&](int n, int) { consumed.push_back(n); }),
                 std::runtime_error);
    EXPECT_LT(produced.load(), 40);
    // Nothing at or after the failed frame was handed on.
    for (int n : consumed) EXPECT_LT(n, 20);
}

TEST(OrderedPipeline, ConsumerFailureStopsTheProducers) {
    std::atomic<int> produced{0};
    try {
        RunOrdered(
            0, 999, 2, 4, [&](int n) { return ++produced, n; },
            [&](int n, int) {
                if (n == 5) throw std::runtime_error("disk full");
            });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "disk full");
    }
    EXPECT_LT(produced.load(), 5 + 4 + 2);
}

}  // namespace
