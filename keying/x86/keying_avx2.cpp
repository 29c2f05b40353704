// AVX2 + FMA keying pass: eight pixels per step, four doubles per register.
// Equal to the scalar reference byte for byte; the kernel tests sweep the whole
// input domain to prove every shortcut taken here.
#include <immintrin.h>

#include "keying/kernels.h"
#include "keying/x86/vector_run.h"

namespace keying::x86 {
namespace {

constexpr std::size_t kStep = 32;  // bytes per vector: eight pixels

const double kInvFullScale = 1.0 / 255.0;  // RN(1/255), folded exactly by the compiler

// d / 255.0 correctly rounded without a division: the product's residual is exact
// under FMA and one correction step recovers the rounded quotient for each d in
// 0..254, as the whole-domain sweep in the kernel tests confirms.
__m256d DivideByFullScale(__m256d d) {
    const __m256d inv = _mm256_set1_pd(kInvFullScale);
    const __m256d q0 = _mm256_mul_pd(d, inv);
    const __m256d residual = _mm256_fnmadd_pd(q0, _mm256_set1_pd(255.0), d);
    return _mm256_fmadd_pd(residual, inv, q0);
}

// One channel's recovered value, truncated; clamping is left to the saturating packs.
// A true division: on the machines measured it beat a reciprocal with an FMA correction.
__m128i RecoverChannel(__m128i captured, double backdrop, __m256d opacity, __m256d transparency) {
    const __m256d t = _mm256_mul_pd(transparency, _mm256_set1_pd(backdrop));
    const __m256d u = _mm256_sub_pd(_mm256_cvtepi32_pd(captured), t);
    return _mm256_cvttpd_epi32(_mm256_div_pd(u, opacity));
}

struct Channels {
    __m128i b, g, r, a;
};

// Four pixels: the smallest differences (limited to 0..254) and green1's bytes as 32-bit lanes.
Channels KeyFour(__m128i difference, __m128i blue, __m128i green, __m128i red) {
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d opacity = _mm256_sub_pd(one, DivideByFullScale(_mm256_cvtepi32_pd(difference)));
    const __m256d transparency = _mm256_sub_pd(one, opacity);
    return Channels{
        RecoverChannel(blue, 8.0, opacity, transparency),
        RecoverChannel(green, 255.0, opacity, transparency),
        RecoverChannel(red, 19.0, opacity, transparency),
        _mm256_cvttpd_epi32(_mm256_mul_pd(opacity, _mm256_set1_pd(255.0))),
    };
}

// Green byte of every 32-bit lane.
__m256i GreenOf(__m256i px) { return _mm256_and_si256(_mm256_srli_epi32(px, 8), _mm256_set1_epi32(0xFF)); }

__m256i KeyEight(__m256i red1, __m256i red2, __m256i red3, __m256i green1, __m256i green2, __m256i green3) {
    // Byte-wise min/max keep each byte in its place, so the green byte of the
    // result is the smallest (largest) green byte of the captures.
    const __m256i greens = _mm256_min_epu8(green1, _mm256_min_epu8(green2, green3));
    const __m256i reds = _mm256_max_epu8(red1, _mm256_max_epu8(red2, red3));
    const __m256i difference = _mm256_sub_epi32(GreenOf(greens), GreenOf(reds));

    // Wholly opaque: opacity 1.0 makes every quotient exact, so green1 passes through.
    if (_mm256_movemask_epi8(_mm256_cmpgt_epi32(difference, _mm256_setzero_si256())) == 0) {
        return _mm256_or_si256(green1, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
    }
    const __m256i transparent = _mm256_cmpeq_epi32(difference, _mm256_set1_epi32(255));
    if (_mm256_movemask_epi8(transparent) == -1) {
        return _mm256_setzero_si256();
    }

    // Differences of 0 or less give opacity exactly 1.0, as the reference's limit does;
    // 255 (opacity 0) becomes 254 to keep the arithmetic finite and is zeroed at the end.
    const __m256i limited = _mm256_min_epi32(_mm256_max_epi32(difference, _mm256_setzero_si256()),
                                             _mm256_set1_epi32(254));
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    const __m256i blue = _mm256_and_si256(green1, byteMask);
    const __m256i green = GreenOf(green1);
    const __m256i red = _mm256_and_si256(_mm256_srli_epi32(green1, 16), byteMask);
    const Channels lo = KeyFour(_mm256_castsi256_si128(limited), _mm256_castsi256_si128(blue),
                                _mm256_castsi256_si128(green), _mm256_castsi256_si128(red));
    const Channels hi = KeyFour(_mm256_extracti128_si256(limited, 1), _mm256_extracti128_si256(blue, 1),
                                _mm256_extracti128_si256(green, 1), _mm256_extracti128_si256(red, 1));

    // Signed then unsigned saturation clamps every channel to 0..255 exactly as
    // clamp-to-[0, 255.9]-then-truncate does; the shuffle interleaves B, G, R, A.
    const __m256i br = _mm256_packs_epi32(_mm256_set_m128i(hi.b, lo.b), _mm256_set_m128i(hi.r, lo.r));
    const __m256i ga = _mm256_packs_epi32(_mm256_set_m128i(hi.g, lo.g), _mm256_set_m128i(hi.a, lo.a));
    const __m256i planar = _mm256_packus_epi16(br, ga);
    const __m256i order = _mm256_setr_epi8(0, 8, 4, 12, 1, 9, 5, 13, 2, 10, 6, 14, 3, 11, 7, 15,  //
                                           0, 8, 4, 12, 1, 9, 5, 13, 2, 10, 6, 14, 3, 11, 7, 15);
    return _mm256_andnot_si256(transparent, _mm256_shuffle_epi8(planar, order));
}

__m256i Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

}  // namespace

void KeyingPassAvx2(const std::uint8_t* red1, const std::uint8_t* red2, const std::uint8_t* red3,
                    const std::uint8_t* green1, const std::uint8_t* green2, const std::uint8_t* green3,
                    std::uint8_t* out, std::size_t byteCount) {
    Inputs inputs = {red1, red2, red3, green1, green2, green3};
    KeyRun<kStep>(inputs, out, byteCount, [](Inputs& in, std::size_t at, std::uint8_t* dst) {
        const __m256i px = KeyEight(Load(in[0] + at), Load(in[1] + at), Load(in[2] + at), Load(in[3] + at),
                                    Load(in[4] + at), Load(in[5] + at));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), px);
    });
}

}  // namespace keying::x86
