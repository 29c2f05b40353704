// The picture a person judges a key by: the keyed frame laid over a checkerboard,
// a flat colour or a background plate.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace nolukey {

struct Colour {
    std::uint8_t b = 0, g = 0, r = 0;
};

// "#rrggbb", "#rgb" or a name (black, white, grey/gray, red, green, blue, yellow, cyan,
// magenta); nothing when the text is none of these.
std::optional<Colour> ParseColour(std::string_view text);

class PreviewBackground {
public:
    // Light and dark grey squares, the usual sign of transparency.
    static PreviewBackground Checkerboard();
    static PreviewBackground Flat(Colour colour);
    // A plate: BGRA rows of width*4 bytes (its alpha is ignored).
    static PreviewBackground Plate(std::vector<std::uint8_t> bgra, int width, int height);

    // Writes keyed (straight colour, alpha in byte 3) over the background into out, opaque.
    // Both are width x height BGRA; a plate must have that size.
    void Composite(const std::uint8_t* keyed, int keyedPitch, std::uint8_t* out, int outPitch, int width,
                   int height) const;

    int PlateWidth() const { return plateWidth_; }
    int PlateHeight() const { return plateHeight_; }

private:
    enum class Kind { kChecker, kFlat, kPlate };
    Colour BackgroundAt(int x, int y) const;

    Kind kind_ = Kind::kChecker;
    Colour flat_;
    std::vector<std::uint8_t> plate_;
    int plateWidth_ = 0;
    int plateHeight_ = 0;
};

}  // namespace nolukey
