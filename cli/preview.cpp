#include "cli/preview.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

namespace nolukey {
namespace {

constexpr int kCheckerSquare = 16;
constexpr Colour kCheckerLight{204, 204, 204};
constexpr Colour kCheckerDark{153, 153, 153};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// a*over + (255-a)*under, divided by 255 and rounded.
std::uint8_t Mix(std::uint8_t over, std::uint8_t under, unsigned alpha) {
    return static_cast<std::uint8_t>((over * alpha + under * (255u - alpha) + 127u) / 255u);
}

}  // namespace

std::optional<Colour> ParseColour(std::string_view text) {
    if (!text.empty() && text[0] == '#') {
        const std::string_view hex = text.substr(1);
        if (hex.size() != 3 && hex.size() != 6) {
            return std::nullopt;
        }
        int digits[6];
        for (std::size_t i = 0; i < hex.size(); ++i) {
            digits[i] = HexDigit(hex[i]);
            if (digits[i] < 0) {
                return std::nullopt;
            }
        }
        const auto component = [&](int i) {
            return static_cast<std::uint8_t>(hex.size() == 3 ? digits[i] * 17 : digits[2 * i] * 16 + digits[2 * i + 1]);
        };
        return Colour{component(2), component(1), component(0)};
    }
    std::string name(text);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    static const std::pair<const char*, Colour> kNames[] = {
        {"black", {0, 0, 0}},       {"white", {255, 255, 255}}, {"grey", {128, 128, 128}},
        {"gray", {128, 128, 128}},  {"red", {0, 0, 255}},       {"green", {0, 255, 0}},
        {"blue", {255, 0, 0}},      {"yellow", {0, 255, 255}},  {"cyan", {255, 255, 0}},
        {"magenta", {255, 0, 255}},
    };
    for (const auto& [n, colour] : kNames) {
        if (name == n) {
            return colour;
        }
    }
    return std::nullopt;
}

PreviewBackground PreviewBackground::Checkerboard() { return PreviewBackground(); }

PreviewBackground PreviewBackground::Flat(Colour colour) {
    PreviewBackground bg;
    bg.kind_ = Kind::kFlat;
    bg.flat_ = colour;
    return bg;
}

PreviewBackground PreviewBackground::Plate(std::vector<std::uint8_t> bgra, int width, int height) {
    PreviewBackground bg;
    bg.kind_ = Kind::kPlate;
    bg.plate_ = std::move(bgra);
    bg.plateWidth_ = width;
    bg.plateHeight_ = height;
    return bg;
}

Colour PreviewBackground::BackgroundAt(int x, int y) const {
    switch (kind_) {
        case Kind::kFlat:
            return flat_;
        case Kind::kPlate: {
            const std::uint8_t* p = plate_.data() + (static_cast<std::size_t>(y) * plateWidth_ + x) * 4;
            return Colour{p[0], p[1], p[2]};
        }
        case Kind::kChecker:
            break;
    }
    return ((x / kCheckerSquare + y / kCheckerSquare) % 2 == 0) ? kCheckerLight : kCheckerDark;
}

void PreviewBackground::Composite(const std::uint8_t* keyed, int keyedPitch, std::uint8_t* out, int outPitch,
                                  int width, int height) const {
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = keyed + static_cast<std::ptrdiff_t>(y) * keyedPitch;
        std::uint8_t* o = out + static_cast<std::ptrdiff_t>(y) * outPitch;
        for (int x = 0; x < width; ++x) {
            const Colour under = BackgroundAt(x, y);
            const unsigned a = in[x * 4 + 3];
            o[x * 4 + 0] = Mix(in[x * 4 + 0], under.b, a);
            o[x * 4 + 1] = Mix(in[x * 4 + 1], under.g, a);
            o[x * 4 + 2] = Mix(in[x * 4 + 2], under.r, a);
            o[x * 4 + 3] = 255;
        }
    }
}

}  // namespace nolukey
