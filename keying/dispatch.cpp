// Chooses the keying pass once per process: the most capable variant that both the
// CPU and the operating system support, falling back towards the scalar reference.
// Built without instruction-set flags so that it runs on any CPU.
#include <array>
#include <stdexcept>
#include <string>

#include "keying/kernels.h"
#include "keying/keying.h"
#include "keying/variants.h"

#if KEYING_X86
#include <cpuid.h>
#endif

namespace keying {
namespace {

#if KEYING_X86
struct CpuFeatures {
    bool sse2 = false;
    bool avx2 = false;    // AVX2 and FMA, with the OS saving ymm state
    bool avx512 = false;  // AVX-512 F, DQ, BW and VL, with the OS saving zmm and mask state
};

std::uint64_t ReadXcr0() {
    std::uint32_t eax = 0;
    std::uint32_t edx = 0;
    // Inline assembly keeps this file free of -mxsave.
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (std::uint64_t{edx} << 32) | eax;
}

CpuFeatures DetectCpu() {
    CpuFeatures f;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return f;
    }
    f.sse2 = (edx & (1u << 26)) != 0;
    const bool osxsave = (ecx & (1u << 27)) != 0;
    const bool avx = (ecx & (1u << 28)) != 0;
    const bool fma = (ecx & (1u << 12)) != 0;
    if (!osxsave || !avx) {
        return f;
    }
    const std::uint64_t xcr0 = ReadXcr0();
    const bool osYmm = (xcr0 & 0x6) == 0x6;           // SSE and AVX state
    const bool osZmm = osYmm && (xcr0 & 0xE0) == 0xE0;  // opmask, upper zmm0-15, zmm16-31
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
        return f;
    }
    const bool avx2 = (ebx & (1u << 5)) != 0;
    const bool avx512f = (ebx & (1u << 16)) != 0;
    const bool avx512dq = (ebx & (1u << 17)) != 0;
    const bool avx512bw = (ebx & (1u << 30)) != 0;
    const bool avx512vl = (ebx & (1u << 31)) != 0;
    f.avx2 = osYmm && avx2 && fma;
    f.avx512 = osZmm && f.avx2 && avx512f && avx512dq && avx512bw && avx512vl;
    return f;
}

const CpuFeatures& Cpu() {
    static const CpuFeatures features = DetectCpu();
    return features;
}
#endif

constexpr std::array kBuilt{
    Variant::Scalar,
#if KEYING_X86
    Variant::Sse2, Variant::Avx2, Variant::Avx512,
#endif
};

PassFn BuiltPass(Variant v) {
    switch (v) {
        case Variant::Scalar:
            return &KeyingPassScalar;
#if KEYING_X86
        case Variant::Sse2:
            return &x86::KeyingPassSse2;
        case Variant::Avx2:
            return &x86::KeyingPassAvx2;
        case Variant::Avx512:
            return &x86::KeyingPassAvx512;
#else
        default:
            break;
#endif
    }
    return nullptr;
}

Variant ChooseVariant() {
    Variant best = Variant::Scalar;
    for (Variant v : kBuilt) {
        if (CanRun(v)) {
            best = v;
        }
    }
    return best;
}

}  // namespace

std::string_view VariantName(Variant v) {
    switch (v) {
        case Variant::Scalar:
            return "scalar";
        case Variant::Sse2:
            return "sse2";
        case Variant::Avx2:
            return "avx2";
        case Variant::Avx512:
            return "avx512";
    }
    return "unknown";
}

std::span<const Variant> BuiltVariants() { return kBuilt; }

bool CanRun(Variant v) {
    if (BuiltPass(v) == nullptr) {
        return false;
    }
    switch (v) {
        case Variant::Scalar:
            return true;
#if KEYING_X86
        case Variant::Sse2:
            return Cpu().sse2;
        case Variant::Avx2:
            return Cpu().avx2;
        case Variant::Avx512:
            return Cpu().avx512;
#else
        default:
            return false;
#endif
    }
    return false;
}

PassFn PassFor(Variant v) {
    if (!CanRun(v)) {
        throw std::runtime_error("keying variant '" + std::string(VariantName(v)) +
                                 "' cannot run here: this build or CPU lacks it");
    }
    return BuiltPass(v);
}

Variant ActiveVariant() {
    static const Variant chosen = ChooseVariant();
    return chosen;
}

void KeyingPass(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                std::uint8_t* out, std::size_t byteCount) {
    static const PassFn pass = BuiltPass(ActiveVariant());
    pass(red1, red2, red3, green1, green2, green3, out, byteCount);
}

}  // namespace keying
