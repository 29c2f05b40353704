// AVX-512 keying pass: sixteen pixels per step, eight doubles per register, and
// masked loads and stores for the tail. Equal to the scalar reference byte for
// byte; the kernel tests sweep the whole input domain to prove every shortcut.
//
// GCC 12 warns inside its own AVX-512 headers about the deliberately undefined
// registers behind _mm512_undefined_*() (GCC bug 105593); the code here has none.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include "keying/kernels.h"

namespace keying::x86 {
namespace {

constexpr std::size_t kStep = 64;  // bytes per vector: sixteen pixels

const double kInvFullScale = 1.0 / 255.0;  // RN(1/255), folded exactly by the compiler

// d / 255.0 correctly rounded without a division: the product's residual is exact
// under FMA and one correction step recovers the rounded quotient for each d in
// 0..254, as the whole-domain sweep in the kernel tests confirms.
__m512d DivideByFullScale(__m512d d) {
    const __m512d inv = _mm512_set1_pd(kInvFullScale);
    const __m512d q0 = _mm512_mul_pd(d, inv);
    const __m512d residual = _mm512_fnmadd_pd(q0, _mm512_set1_pd(255.0), d);
    return _mm512_fmadd_pd(residual, inv, q0);
}

// One channel's recovered value, truncated; clamping is left to the saturating packs.
// A true division: on the machines measured it beat a reciprocal with an FMA correction.
__m256i RecoverChannel(__m256i captured, double backdrop, __m512d opacity, __m512d transparency) {
    const __m512d t = _mm512_mul_pd(transparency, _mm512_set1_pd(backdrop));
    const __m512d u = _mm512_sub_pd(_mm512_cvtepi32_pd(captured), t);
    return _mm512_cvttpd_epi32(_mm512_div_pd(u, opacity));
}

struct Channels {
    __m256i b, g, r, a;
};

// Eight pixels: the smallest differences (limited to 0..254) and green1's bytes as 32-bit lanes.
Channels KeyEight(__m256i difference, __m256i blue, __m256i green, __m256i red) {
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d opacity = _mm512_sub_pd(one, DivideByFullScale(_mm512_cvtepi32_pd(difference)));
    const __m512d transparency = _mm512_sub_pd(one, opacity);
    return Channels{
        RecoverChannel(blue, 8.0, opacity, transparency),
        RecoverChannel(green, 255.0, opacity, transparency),
        RecoverChannel(red, 19.0, opacity, transparency),
        _mm512_cvttpd_epi32(_mm512_mul_pd(opacity, _mm512_set1_pd(255.0))),
    };
}

// Green byte of every 32-bit lane.
__m512i GreenOf(__m512i px) { return _mm512_and_si512(_mm512_srli_epi32(px, 8), _mm512_set1_epi32(0xFF)); }

__m512i Join(__m256i lo, __m256i hi) { return _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1); }

__m512i KeySixteen(__m512i red1, __m512i red2, __m512i red3, __m512i green1, __m512i green2, __m512i green3) {
    // Byte-wise min/max keep each byte in its place, so the green byte of the
    // result is the smallest (largest) green byte of the captures.
    const __m512i greens = _mm512_min_epu8(green1, _mm512_min_epu8(green2, green3));
    const __m512i reds = _mm512_max_epu8(red1, _mm512_max_epu8(red2, red3));
    const __m512i difference = _mm512_sub_epi32(GreenOf(greens), GreenOf(reds));

    // Differences of 0 or less give opacity exactly 1.0, as the reference's limit does;
    // 255 (opacity 0) becomes 254 to keep the arithmetic finite, and its pixel is zeroed
    // at the end. No branch skips wholly opaque or transparent vectors: on noisy footage
    // it mispredicts more than the skipped arithmetic saves.
    const __mmask16 transparent = _mm512_cmpeq_epi32_mask(difference, _mm512_set1_epi32(255));
    const __m512i limited = _mm512_min_epi32(_mm512_max_epi32(difference, _mm512_setzero_si512()),
                                             _mm512_set1_epi32(254));
    const __m512i byteMask = _mm512_set1_epi32(0xFF);
    const __m512i blue = _mm512_and_si512(green1, byteMask);
    const __m512i green = GreenOf(green1);
    const __m512i red = _mm512_and_si512(_mm512_srli_epi32(green1, 16), byteMask);
    const Channels lo = KeyEight(_mm512_castsi512_si256(limited), _mm512_castsi512_si256(blue),
                                 _mm512_castsi512_si256(green), _mm512_castsi512_si256(red));
    const Channels hi = KeyEight(_mm512_extracti64x4_epi64(limited, 1), _mm512_extracti64x4_epi64(blue, 1),
                                 _mm512_extracti64x4_epi64(green, 1), _mm512_extracti64x4_epi64(red, 1));

    // Signed then unsigned saturation clamps every channel to 0..255 exactly as
    // clamp-to-[0, 255.9]-then-truncate does; the shuffle interleaves B, G, R, A.
    const __m512i br = _mm512_packs_epi32(Join(lo.b, hi.b), Join(lo.r, hi.r));
    const __m512i ga = _mm512_packs_epi32(Join(lo.g, hi.g), Join(lo.a, hi.a));
    const __m512i planar = _mm512_packus_epi16(br, ga);
    const __m512i order = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 8, 4, 12, 1, 9, 5, 13, 2, 10, 6, 14, 3, 11, 7, 15));
    return _mm512_maskz_mov_epi32(static_cast<__mmask16>(~transparent), _mm512_shuffle_epi8(planar, order));
}

}  // namespace

void KeyingPassAvx512(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                      const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                      std::uint8_t* out, std::size_t byteCount) {
    std::size_t offset = 0;
    for (; offset + kStep <= byteCount; offset += kStep) {
        const __m512i px = KeySixteen(_mm512_loadu_si512(red1 + offset), _mm512_loadu_si512(red2 + offset),
                                      _mm512_loadu_si512(red3 + offset), _mm512_loadu_si512(green1 + offset),
                                      _mm512_loadu_si512(green2 + offset), _mm512_loadu_si512(green3 + offset));
        _mm512_storeu_si512(out + offset, px);
    }
    const std::size_t rest = byteCount - offset;
    if (rest == 0) {
        return;
    }
    // Masked loads neither read nor fault past the run; masked-off lanes read as 0.
    const auto pixels = static_cast<__mmask16>((1u << (rest / 4)) - 1u);
    const __m512i px = KeySixteen(
        _mm512_maskz_loadu_epi32(pixels, red1 + offset), _mm512_maskz_loadu_epi32(pixels, red2 + offset),
        _mm512_maskz_loadu_epi32(pixels, red3 + offset), _mm512_maskz_loadu_epi32(pixels, green1 + offset),
        _mm512_maskz_loadu_epi32(pixels, green2 + offset), _mm512_maskz_loadu_epi32(pixels, green3 + offset));
    _mm512_mask_storeu_epi32(out + offset, pixels, px);
}

}  // namespace keying::x86
