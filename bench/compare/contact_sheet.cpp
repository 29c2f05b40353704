#include "bench/compare/contact_sheet.h"

#include <cstring>
#include <stdexcept>

namespace compare {

ContactSheet::ContactSheet(int columns, int rows, int tileWidth, int tileHeight, int gap)
    : tileWidth_(tileWidth),
      tileHeight_(tileHeight),
      gap_(gap),
      width_(columns * tileWidth + (columns + 1) * gap),
      height_(rows * tileHeight + (rows + 1) * gap),
      // White gutters between the tiles.
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4, 255) {}

void ContactSheet::Place(int column, int row, const std::uint8_t* bgra, int pitch, int left, int top) {
    const int x0 = gap_ + column * (tileWidth_ + gap_);
    const int y0 = gap_ + row * (tileHeight_ + gap_);
    if (x0 + tileWidth_ > width_ || y0 + tileHeight_ > height_) throw std::out_of_range("tile outside the sheet");
    for (int y = 0; y < tileHeight_; ++y) {
        std::uint8_t* dst = &pixels_[(static_cast<std::size_t>(y0 + y) * width_ + x0) * 4];
        std::memcpy(dst, bgra + static_cast<std::ptrdiff_t>(top + y) * pitch + left * 4,
                    static_cast<std::size_t>(tileWidth_) * 4);
        for (int x = 0; x < tileWidth_; ++x) dst[4 * x + 3] = 255;
    }
}

std::vector<std::uint8_t> AlphaAsGrey(const std::uint8_t* bgra, int width, int height, int pitch) {
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(width) * height * 4, 255);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t a = bgra[static_cast<std::ptrdiff_t>(y) * pitch + 4 * x + 3];
            std::uint8_t* px = &grey[(static_cast<std::size_t>(y) * width + x) * 4];
            px[0] = px[1] = px[2] = a;
        }
    }
    return grey;
}

}  // namespace compare
