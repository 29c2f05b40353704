// The walk over a run shared by the SSE2 and AVX2 passes: whole vectors in place,
// then the last few pixels through the same vector code from zero-padded copies,
// so no input byte is read and no output byte written past byteCount.
// Only those files include it: its anonymous namespace gives each of them its own
// copy, compiled with that file's instruction-set flags and never merged with another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace keying::x86 {
namespace {

// The six input runs in role order: red1, red2, red3, green1, green2, green3.
using Inputs = const std::uint8_t* const[6];

// keyVector(inputs, offset, dst) keys Step bytes of the inputs at offset into dst;
// it loads and stores unaligned.
template <std::size_t Step, class KeyVector>
void KeyRun(Inputs& inputs, std::uint8_t* out, std::size_t byteCount, KeyVector keyVector) {
    std::size_t offset = 0;
    for (; offset + Step <= byteCount; offset += Step) {
        keyVector(inputs, offset, out + offset);
    }
    const std::size_t rest = byteCount - offset;
    if (rest == 0) {
        return;
    }
    std::uint8_t copies[6][Step] = {};
    for (int i = 0; i < 6; ++i) {
        std::memcpy(copies[i], inputs[i] + offset, rest);
    }
    Inputs copied = {copies[0], copies[1], copies[2], copies[3], copies[4], copies[5]};
    std::uint8_t keyed[Step];
    keyVector(copied, 0, keyed);
    std::memcpy(out + offset, keyed, rest);
}

}  // namespace
}  // namespace keying::x86
