// The keying rule on single pixels: worked values, the alpha byte for every
// smallest difference, and the inputs that must not matter.
#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <set>

#include <gtest/gtest.h>

#include "keying/keying.h"

namespace {

using keying::Bgra;
using keying::KeyPixel;

Bgra Px(int b, int g, int r, int a = 255) {
    return Bgra{static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r),
                static_cast<std::uint8_t>(a)};
}

struct Worked {
    const char* name;
    std::array<int, 3> greens;  // green bytes of green1, green2, green3
    std::array<int, 3> reds;    // green bytes of red1, red2, red3
    std::array<int, 3> colour;  // green1's blue, green, red
    std::array<int, 4> out;     // B', G', R', A'
};

// The red captures' other bytes and the green captures' blue/red (but green1's) are
// set to values that would show if they leaked into the result.
Bgra KeyWorked(const Worked& w) {
    return KeyPixel(Px(77, w.reds[0], 33), Px(12, w.reds[1], 250), Px(201, w.reds[2], 5),
                    Px(w.colour[0], w.colour[1], w.colour[2]), Px(66, w.greens[1], 99), Px(1, w.greens[2], 254));
}

const Worked kWorked[] = {
    {"fully transparent", {255, 255, 255}, {0, 0, 0}, {90, 255, 40}, {0, 0, 0, 0}},
    {"all six agree", {120, 120, 120}, {120, 120, 120}, {10, 120, 200}, {10, 120, 200, 255}},
    {"red brighter than green", {50, 50, 50}, {90, 90, 90}, {10, 50, 200}, {10, 50, 200, 255}},
    {"half transparent, red clamped high", {200, 200, 200}, {73, 73, 73}, {100, 200, 150}, {191, 145, 255, 128}},
    {"backdrop colour through half opacity", {255, 255, 255}, {128, 128, 128}, {8, 255, 19}, {8, 255, 19, 128}},
    {"backdrop colour, difference 4", {255, 255, 255}, {251, 251, 251}, {8, 255, 19}, {8, 254, 19, 251}},
    {"backdrop colour, difference 148", {255, 255, 255}, {107, 107, 107}, {8, 255, 19}, {8, 255, 18, 106}},
    {"colour clamped low", {130, 130, 130}, {0, 0, 0}, {2, 130, 5}, {0, 0, 0, 125}},
    {"opacity from green2 and red2", {250, 180, 240}, {10, 30, 20}, {120, 250, 60}, {255, 242, 118, 105}},
    {"four pairs tie at difference 130", {200, 200, 210}, {60, 70, 70}, {60, 200, 90}, {114, 142, 163, 125}},
    {"difference 1", {101, 101, 101}, {100, 100, 100}, {100, 101, 100}, {100, 100, 100, 254}},
    {"difference 43", {143, 143, 143}, {100, 100, 100}, {100, 143, 100}, {118, 120, 116, 211}},
    {"difference 254, backdrop colour", {254, 254, 254}, {0, 0, 0}, {8, 254, 19}, {8, 0, 19, 0}},
    {"difference 254, colour clamped", {254, 254, 254}, {0, 0, 0}, {200, 254, 100}, {255, 0, 255, 0}},
    {"one red capture reads 1", {255, 255, 255}, {0, 1, 0}, {90, 255, 40}, {255, 255, 255, 0}},
};

class WorkedPixels : public testing::TestWithParam<Worked> {};

TEST_P(WorkedPixels, GiveTheirKnownBytes) {
    const Worked& w = GetParam();
    ASSERT_EQ(w.colour[1], w.greens[0]) << "green1's green byte is both colour and matte input";
    const Bgra out = KeyWorked(w);
    EXPECT_EQ((std::array<int, 4>{out.b, out.g, out.r, out.a}), w.out);
}

INSTANTIATE_TEST_SUITE_P(KeyPixel, WorkedPixels, testing::ValuesIn(kWorked), [](const auto& info) {
    std::string name = info.param.name;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
});

// A pixel whose smallest difference is d: green1 and the reds set it, the rest stay out of the way.
Bgra KeyDifference(int d, Bgra colour) {
    const int red = d >= 0 ? 0 : -d;
    const int green = d >= 0 ? d : 0;
    colour.g = static_cast<std::uint8_t>(green);
    return KeyPixel(Px(0, red, 0), Px(0, 0, 0), Px(0, red, 0), colour, Px(0, 255, 0), Px(0, green, 0));
}

TEST(KeyPixelAlpha, IsFullScaleMinusDifferenceExceptWhereRoundingFallsShort) {
    const std::set<int> oneLower{43,  59,  74,  75,  90,  91,  106, 107, 122, 123, 132, 133, 140,
                                 141, 148, 149, 156, 157, 164, 165, 172, 173, 180, 181, 188, 189,
                                 196, 197, 198, 204, 205, 206, 212, 213, 214, 220, 221, 222, 228,
                                 229, 230, 236, 237, 238, 244, 245, 246, 252, 253, 254};
    ASSERT_EQ(oneLower.size(), 50u);
    for (int d = -255; d <= 255; ++d) {
        const Bgra out = KeyDifference(d, Px(100, 0, 100));
        int expected = 0;
        if (d <= 0) {
            expected = 255;
        } else if (d < 255) {
            expected = oneLower.count(d) ? 254 - d : 255 - d;
        }
        EXPECT_EQ(out.a, expected) << "d = " << d;
    }
    const Bgra zero = KeyDifference(255, Px(100, 0, 100));
    EXPECT_EQ((std::array<int, 4>{zero.b, zero.g, zero.r, zero.a}), (std::array<int, 4>{0, 0, 0, 0}));
}

// The largest of the nine estimates, computed literally, decides the same opacity as the
// smallest difference the reference uses.
TEST(KeyPixelAlpha, MatchesTheLargestOfNineEstimates) {
    const int values[] = {0, 1, 2, 43, 100, 128, 200, 253, 254, 255};
    for (int g1 : values) {
        for (int g2 : values) {
            for (int r1 : values) {
                for (int r3 : values) {
                    const int greens[] = {g1, g2, 200};
                    const int reds[] = {r1, 90, r3};
                    double opacity = 0.0;
                    for (int g : greens) {
                        for (int r : reds) {
                            const double q = static_cast<double>(g - r) / 255.0;
                            opacity = std::max(opacity, 1.0 - q);
                        }
                    }
                    const int alpha = opacity <= 0.0 ? 0 : static_cast<int>(std::min(opacity, 1.0) * 255.0);
                    const Bgra out = KeyPixel(Px(0, r1, 0), Px(0, 90, 0), Px(0, r3, 0), Px(9, g1, 9), Px(0, g2, 0),
                                              Px(0, 200, 0));
                    ASSERT_EQ(out.a, alpha) << g1 << " " << g2 << " " << r1 << " " << r3;
                }
            }
        }
    }
}

TEST(KeyPixelInputs, AlphaBytesHaveNoEffect) {
    for (int a : {0, 1, 128, 254, 255}) {
        const Bgra out = KeyPixel(Px(5, 120, 6, a), Px(7, 120, 8, 255 - a), Px(9, 120, 1, a), Px(10, 120, 200, a),
                                  Px(3, 120, 4, a ^ 0x55), Px(2, 120, 2, a));
        EXPECT_EQ((std::array<int, 4>{out.b, out.g, out.r, out.a}), (std::array<int, 4>{10, 120, 200, 255}));
    }
}

bool Same(Bgra a, Bgra b) { return a.b == b.b && a.g == b.g && a.r == b.r && a.a == b.a; }

TEST(KeyPixelInputs, SwapsThatMustNotMatterAndOneThatMoves) {
    const Bgra r[] = {Px(1, 10, 2), Px(3, 30, 4), Px(5, 20, 6)};
    const Bgra g1 = Px(120, 250, 60), g2 = Px(7, 180, 8), g3 = Px(9, 240, 10);
    const Bgra base = KeyPixel(r[0], r[1], r[2], g1, g2, g3);
    EXPECT_TRUE(Same(base, KeyPixel(r[0], r[1], r[2], g1, g3, g2)));
    EXPECT_TRUE(Same(base, KeyPixel(r[1], r[0], r[2], g1, g2, g3)));
    EXPECT_TRUE(Same(base, KeyPixel(r[2], r[1], r[0], g1, g2, g3)));
    EXPECT_TRUE(Same(base, KeyPixel(r[0], r[2], r[1], g1, g2, g3)));
    // green1 is the colour source: swapping it moves the colour, never the alpha.
    const Bgra swapped = KeyPixel(r[0], r[1], r[2], g2, g1, g3);
    EXPECT_EQ(swapped.a, base.a);
    EXPECT_TRUE(Same(swapped, KeyPixel(r[0], r[1], r[2], g2, g3, g1)));
    EXPECT_FALSE(Same(swapped, base));
}

}  // namespace
