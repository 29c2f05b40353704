// The per-instruction-set passes. Each has KeyingPass's signature and contract;
// only the dispatcher names them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace keying {

void KeyingPassScalar(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                      const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                      std::uint8_t* out, std::size_t byteCount);

#if KEYING_X86
namespace x86 {
void KeyingPassSse2(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                    const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                    std::uint8_t* out, std::size_t byteCount);
void KeyingPassAvx2(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                    const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                    std::uint8_t* out, std::size_t byteCount);
void KeyingPassAvx512(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                      const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                      std::uint8_t* out, std::size_t byteCount);
}  // namespace x86
#endif

}  // namespace keying
