// Placeholder until the vector pass lands: forwards to the scalar reference.
#include "keying/kernels.h"

namespace keying::x86 {

void KeyingPassAvx2(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                    const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                    std::uint8_t* out, std::size_t byteCount) {
    KeyingPassScalar(red1, red2, red3, green1, green2, green3, out, byteCount);
}

}  // namespace keying::x86
