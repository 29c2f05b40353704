// SSE2 keying pass: four pixels per step, two doubles per register. The floor of
// the x86 variants and the one a 32-bit build relies on. Without FMA every
// quotient is a true IEEE division, in the reference's order.
#include <emmintrin.h>

#include "keying/kernels.h"
#include "keying/x86/vector_run.h"

namespace keying::x86 {
namespace {

constexpr std::size_t kStep = 16;  // bytes per vector: four pixels

// One channel's recovered value, truncated; clamping is left to the saturating packs.
__m128i RecoverChannel(__m128i captured, double backdrop, __m128d opacity, __m128d transparency) {
    const __m128d t = _mm_mul_pd(transparency, _mm_set1_pd(backdrop));
    const __m128d u = _mm_sub_pd(_mm_cvtepi32_pd(captured), t);
    return _mm_cvttpd_epi32(_mm_div_pd(u, opacity));
}

struct Channels {
    __m128i b, g, r, a;  // two 32-bit results in the low half of each
};

// Two pixels: the smallest differences and green1's bytes in the low two 32-bit lanes.
Channels KeyTwo(__m128i difference, __m128i blue, __m128i green, __m128i red) {
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d q = _mm_div_pd(_mm_cvtepi32_pd(difference), _mm_set1_pd(255.0));
    // A difference of 255 (opacity 0) is zeroed by the caller; lifting it to a
    // harmless positive value keeps the division finite. 2^-9 lies below the
    // smallest real opacity (about 1/255), so no other lane is touched.
    const __m128d opacity = _mm_min_pd(_mm_max_pd(_mm_sub_pd(one, q), _mm_set1_pd(0x1p-9)), one);
    const __m128d transparency = _mm_sub_pd(one, opacity);
    return Channels{
        RecoverChannel(blue, 8.0, opacity, transparency),
        RecoverChannel(green, 255.0, opacity, transparency),
        RecoverChannel(red, 19.0, opacity, transparency),
        _mm_cvttpd_epi32(_mm_mul_pd(opacity, _mm_set1_pd(255.0))),
    };
}

// Green byte of every 32-bit lane.
__m128i GreenOf(__m128i px) { return _mm_and_si128(_mm_srli_epi32(px, 8), _mm_set1_epi32(0xFF)); }

__m128i High(__m128i v) { return _mm_unpackhi_epi64(v, v); }

__m128i KeyFour(__m128i red1, __m128i red2, __m128i red3, __m128i green1, __m128i green2, __m128i green3) {
    // Byte-wise min/max keep each byte in its place, so the green byte of the
    // result is the smallest (largest) green byte of the captures.
    const __m128i greens = _mm_min_epu8(green1, _mm_min_epu8(green2, green3));
    const __m128i reds = _mm_max_epu8(red1, _mm_max_epu8(red2, red3));
    const __m128i difference = _mm_sub_epi32(GreenOf(greens), GreenOf(reds));

    // Wholly opaque: opacity 1.0 makes every quotient exact, so green1 passes through.
    if (_mm_movemask_epi8(_mm_cmpgt_epi32(difference, _mm_setzero_si128())) == 0) {
        return _mm_or_si128(green1, _mm_set1_epi32(static_cast<int>(0xFF000000u)));
    }
    const __m128i transparent = _mm_cmpeq_epi32(difference, _mm_set1_epi32(255));
    if (_mm_movemask_epi8(transparent) == 0xFFFF) {
        return _mm_setzero_si128();
    }

    const __m128i byteMask = _mm_set1_epi32(0xFF);
    const __m128i blue = _mm_and_si128(green1, byteMask);
    const __m128i green = GreenOf(green1);
    const __m128i red = _mm_and_si128(_mm_srli_epi32(green1, 16), byteMask);
    const Channels lo = KeyTwo(difference, blue, green, red);
    const Channels hi = KeyTwo(High(difference), High(blue), High(green), High(red));

    // Signed then unsigned saturation clamps every channel to 0..255 exactly as
    // clamp-to-[0, 255.9]-then-truncate does; the unpacks interleave B, G, R, A.
    const __m128i br = _mm_packs_epi32(_mm_unpacklo_epi64(lo.b, hi.b), _mm_unpacklo_epi64(lo.r, hi.r));
    const __m128i ga = _mm_packs_epi32(_mm_unpacklo_epi64(lo.g, hi.g), _mm_unpacklo_epi64(lo.a, hi.a));
    const __m128i bg = _mm_unpacklo_epi16(br, ga);  // B0 G0 B1 G1 B2 G2 B3 G3
    const __m128i ra = _mm_unpackhi_epi16(br, ga);  // R0 A0 R1 A1 R2 A2 R3 A3
    const __m128i px = _mm_packus_epi16(_mm_unpacklo_epi32(bg, ra), _mm_unpackhi_epi32(bg, ra));
    return _mm_andnot_si128(transparent, px);
}

__m128i Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

}  // namespace

void KeyingPassSse2(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                    const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                    std::uint8_t* out, std::size_t byteCount) {
    Inputs inputs = {red1, red2, red3, green1, green2, green3};
    KeyRun<kStep>(inputs, out, byteCount, [](Inputs& in, std::size_t at, std::uint8_t* dst) {
        const __m128i px = KeyFour(Load(in[0] + at), Load(in[1] + at), Load(in[2] + at), Load(in[3] + at),
                                   Load(in[4] + at), Load(in[5] + at));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), px);
    });
}

}  // namespace keying::x86
