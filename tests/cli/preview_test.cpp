// Preview compositing and the colours --background accepts.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/preview.h"

namespace {

using nolukey::Colour;
using nolukey::ParseColour;
using nolukey::PreviewBackground;

struct ColourCase {
    const char* text;
    std::optional<std::array<int, 3>> rgb;
};

TEST(Preview, ParsesColours) {
    const ColourCase cases[] = {
        {"#336699", {{0x33, 0x66, 0x99}}}, {"#369", {{0x33, 0x66, 0x99}}}, {"#FFa500", {{255, 165, 0}}},
        {"grey", {{128, 128, 128}}},       {"White", {{255, 255, 255}}},   {"blue", {{0, 0, 255}}},
        {"#33669", std::nullopt},          {"#ggg", std::nullopt},         {"336699", std::nullopt},
        {"purple-ish", std::nullopt},      {"", std::nullopt},             {"#", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseColour(c.text);
        ASSERT_EQ(parsed.has_value(), c.rgb.has_value()) << c.text;
        if (parsed) {
            EXPECT_EQ(parsed->r, (*c.rgb)[0]) << c.text;
            EXPECT_EQ(parsed->g, (*c.rgb)[1]) << c.text;
            EXPECT_EQ(parsed->b, (*c.rgb)[2]) << c.text;
        }
    }
}

TEST(Preview, CompositesStraightColourOverTheBackground) {
    // Opaque, clear, half and a quarter covered: over a flat #204080 (blue 0x80).
    const std::vector<std::uint8_t> keyed = {10, 20, 30, 255, 10, 20, 30, 0, 200, 100, 0, 128, 0, 0, 0, 64};
    std::vector<std::uint8_t> out(16, 1);
    PreviewBackground::Flat(Colour{0x80, 0x40, 0x20}).Composite(keyed.data(), 16, out.data(), 16, 4, 1);
    const std::vector<std::uint8_t> expected = {
        10, 20, 30, 255,  // keyed colour as is
        0x80, 0x40, 0x20, 255,  // background as is
        (200 * 128 + 0x80 * 127 + 127) / 255, (100 * 128 + 0x40 * 127 + 127) / 255, (0x20 * 127 + 127) / 255, 255,
        (0x80 * 191 + 127) / 255, (0x40 * 191 + 127) / 255, (0x20 * 191 + 127) / 255, 255,
    };
    EXPECT_EQ(out, expected);
}

TEST(Preview, CheckerboardAndPlateShowThroughClearPixels) {
    constexpr int kW = 40, kH = 20;
    std::vector<std::uint8_t> clear(kW * kH * 4, 0);
    std::vector<std::uint8_t> out(kW * kH * 4);
    PreviewBackground::Checkerboard().Composite(clear.data(), kW * 4, out.data(), kW * 4, kW, kH);
    const auto blueAt = [&](int x, int y) { return out[(y * kW + x) * 4]; };
    EXPECT_EQ(blueAt(0, 0), blueAt(15, 15));
    EXPECT_NE(blueAt(0, 0), blueAt(16, 0));
    EXPECT_NE(blueAt(0, 0), blueAt(0, 16));
    EXPECT_EQ(blueAt(0, 0), blueAt(16, 16));

    std::vector<std::uint8_t> plate(kW * kH * 4);
    for (std::size_t i = 0; i < plate.size(); ++i) plate[i] = static_cast<std::uint8_t>(i * 7);
    PreviewBackground::Plate(plate, kW, kH).Composite(clear.data(), kW * 4, out.data(), kW * 4, kW, kH);
    for (std::size_t i = 0; i < plate.size(); ++i) {
        ASSERT_EQ(out[i], i % 4 == 3 ? 255 : plate[i]) << i;
    }
}

}  // namespace
