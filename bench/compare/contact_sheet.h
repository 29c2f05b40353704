// Crops of several keyed frames laid out in a grid, so a reader compares them at a glance.
#pragma once

#include <cstdint>
#include <vector>

namespace compare {

class ContactSheet {
public:
    ContactSheet(int columns, int rows, int tileWidth, int tileHeight, int gap);

    // Copies the tile-sized crop at (left, top) of a BGRA frame into a tile, opaque.
    void Place(int column, int row, const std::uint8_t* bgra, int pitch, int left, int top);

    int Width() const { return width_; }
    int Height() const { return height_; }
    const std::uint8_t* Pixels() const { return pixels_.data(); }
    int Pitch() const { return width_ * 4; }

private:
    int tileWidth_, tileHeight_, gap_, width_, height_;
    std::vector<std::uint8_t> pixels_;
};

// A BGRA frame whose colour is its alpha as grey, opaque: how mattes are looked at.
std::vector<std::uint8_t> AlphaAsGrey(const std::uint8_t* bgra, int width, int height, int pitch);

}  // namespace compare
