// Keying core: six captures of one scene in, one BGRA run with alpha out.
// Host-independent: it sees memory only, never a clip or a frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace keying {

// One RGB32 pixel in memory order (a little-endian 0xAARRGGBB word).
struct Bgra {
    std::uint8_t b, g, r, a;
};

// Keys one pixel position. The reference every vector variant is held to.
Bgra KeyPixel(Bgra red1, Bgra red2, Bgra red3, Bgra green1, Bgra green2, Bgra green3);

// Keys byteCount bytes (a multiple of 4) of six equally laid out runs into out,
// with the fastest variant this CPU and OS can run. Every output byte is written
// once and none is read; no input byte past byteCount is read.
void KeyingPass(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                std::uint8_t* out, std::size_t byteCount);

}  // namespace keying
