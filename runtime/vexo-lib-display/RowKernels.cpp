#include "vexo-lib-display/RowKernels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VEXO_ROW_KERNELS 1
#endif

namespace vexo {
namespace core {
namespace rowkernels {

#ifdef VEXO_ROW_KERNELS

namespace {

// The default mapping on sixteen samples, one per 16-bit lane. Three shapes, chosen once
// per row so the loops carry no branch:
// - Widen, below 8 bits: clamp, then shift left. The clamp keeps v << left within 16
//   bits: 256 >> left is the smallest value that maps to 255 anyway;
// - Keep, 8 bits: clamp to 255;
// - Narrow, above 8 bits: shift right, which leaves at most 32767.
// packable() leaves values an unsigned saturating pack turns into the exact gray (at most
// 256 or 32767 saturate to 255); grays() clamps them to 0..255 itself.
enum Shape { Widen, Keep, Narrow };

struct Mapping
{
    explicit Mapping(int bitsPerPixel)
        : bits(std::clamp(bitsPerPixel, 1, 16))
        , shape(bits < 8        ? Widen
                    : bits == 8 ? Keep
                                : Narrow)
        , shift(_mm_cvtsi32_si128(bits < 8 ? 8 - bits : bits - 8))
    {
    }
    template <int S>
    __attribute__((target("avx2"))) __m256i packable(__m256i v) const
    {
        if (S == Widen)
            return _mm256_sll_epi16(_mm256_min_epu16(v, _mm256_set1_epi16(static_cast<short>(256 >> (8 - bits)))),
                                    shift);
        if (S == Keep)
            return _mm256_min_epu16(v, _mm256_set1_epi16(255));
        return _mm256_srl_epi16(v, shift);
    }
    template <int S>
    __attribute__((target("avx2"))) __m256i grays(__m256i v) const
    {
        return S == Keep ? packable<S>(v) : _mm256_min_epu16(packable<S>(v), _mm256_set1_epi16(255));
    }
    // The mapping on eight samples, one per 32-bit lane, where v << left cannot overflow.
    __attribute__((target("avx2"))) __m256i grays32(__m256i v) const
    {
        v = shape == Widen ? _mm256_sll_epi32(v, shift) : _mm256_srl_epi32(v, shift);
        return _mm256_min_epu32(v, _mm256_set1_epi32(255));
    }
    int bits;
    int shape;
    __m128i shift;
};

// f(std::integral_constant<int, shape>) for the mapping's shape.
template <typename F>
void byShape(const Mapping& map, F f)
{
    if (map.shape == Widen)
        f(std::integral_constant<int, Widen>());
    else if (map.shape == Keep)
        f(std::integral_constant<int, Keep>());
    else
        f(std::integral_constant<int, Narrow>());
}

__attribute__((target("avx2"))) inline __m256i load(const std::uint16_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Two eight-sample loads, the first into the low half: each half then holds whole pixels.
__attribute__((target("avx2"))) inline __m256i loadHalves(const std::uint16_t* low, const std::uint16_t* high)
{
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(high), reinterpret_cast<const __m128i*>(low));
}

__attribute__((target("avx2"))) inline void store(std::uint32_t* p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// The tails shorter than a vector, one pixel at a time.
std::uint32_t grayWord(std::uint16_t v, int bitsPerPixel)
{
    const int bits = std::clamp(bitsPerPixel, 1, 16);
    const std::uint32_t c = std::min<std::uint32_t>(bits < 8 ? std::uint32_t(v) << (8 - bits) : v >> (bits - 8), 255u);
    return 0xff000000u | c << 16 | c << 8 | c;
}

// The R, G, B samples at rgb as one 0xffRRGGBB word.
std::uint32_t colorWord(const std::uint16_t* rgb, int bitsPerPixel)
{
    return (grayWord(rgb[0], bitsPerPixel) & 0xffff0000u) | (grayWord(rgb[1], bitsPerPixel) & 0x0000ff00u)
        | (grayWord(rgb[2], bitsPerPixel) & 0x000000ffu);
}

bool haveAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// Byte i of each 32-bit lane three times, then a zero the alpha is ORed into.
#define VEXO_SPREAD(a, b, c, d) a, a, a, -1, b, b, b, -1, c, c, c, -1, d, d, d, -1

template <int S>
__attribute__((target("avx2"))) void grayEven(std::uint32_t* out, const std::uint16_t* src, int n, const Mapping& map)
{
    const __m256i spread = _mm256_setr_epi8(VEXO_SPREAD(0, 4, 8, 12), VEXO_SPREAD(0, 4, 8, 12));
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    // Eight outputs read sixteen samples, up to src[2 * i + 15]: the loop goes on only while
    // sample 2 * (i + 8) is still shown, so it never reads past the last one it shows.
    int i = 0;
    for (; i + 8 < n; i += 8) {
        const __m256i grays = map.grays<S>(load(src + 2 * i));
        store(out + i, _mm256_or_si256(_mm256_shuffle_epi8(grays, spread), opaque));
    }
    for (; i < n; ++i)
        out[i] = grayWord(src[2 * i], map.bits);
}

// R G B bytes of the pixels in a half to B G R words. Pixels 0 to 3 of eight come from
// the first sixteen bytes; 4 to 7 from bytes 12 on, whose last four are 0xff (see below).
#define VEXO_BGR_OF_FOUR(a) 2, 1, 0, a, 5, 4, 3, a, 8, 7, 6, a, 11, 10, 9, a

// Sixteen pixels, eight in each half, as the bytes of their 48 samples: first holds
// samples 0 to 15 of each half's pixels, last their samples 16 to 23 and eight 0xff.
template <int S>
__attribute__((target("avx2"))) inline void colorBytes(const std::uint16_t* s, const Mapping& map, __m256i& first,
                                                       __m256i& last)
{
    const __m256i a = map.packable<S>(loadHalves(s, s + 24));
    const __m256i b = map.packable<S>(loadHalves(s + 8, s + 32));
    const __m256i c = map.packable<S>(loadHalves(s + 16, s + 40));
    first = _mm256_packus_epi16(a, b);
    last = _mm256_alignr_epi8(_mm256_packus_epi16(c, _mm256_set1_epi16(255)), first, 12);
}

template <int S>
__attribute__((target("avx2"))) void color(std::uint32_t* out, const std::uint16_t* src, int n, const Mapping& map)
{
    const __m256i firstFour = _mm256_setr_epi8(VEXO_BGR_OF_FOUR(-1), VEXO_BGR_OF_FOUR(-1));
    const __m256i lastFour = _mm256_setr_epi8(VEXO_BGR_OF_FOUR(12), VEXO_BGR_OF_FOUR(12));
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i first, last;
        colorBytes<S>(src + 3 * i, map, first, last);
        const __m256i low = _mm256_or_si256(_mm256_shuffle_epi8(first, firstFour), opaque); // 0-3 | 8-11
        const __m256i high = _mm256_shuffle_epi8(last, lastFour); // 4-7 | 12-15
        store(out + i, _mm256_permute2x128_si256(low, high, 0x20));
        store(out + i + 8, _mm256_permute2x128_si256(low, high, 0x31));
    }
    for (; i < n; ++i)
        out[i] = colorWord(src + 3 * i, map.bits);
}

template <int S>
__attribute__((target("avx2"))) void colorEven(std::uint32_t* out, const std::uint16_t* src, int n, const Mapping& map)
{
    // Pixels 0, 2, 4 of a half from the first bytes, pixel 6 from the last ones, whose
    // 0xff bytes give every alpha.
    const __m256i firstThree = _mm256_setr_epi8(2, 1, 0, -1, 8, 7, 6, -1, 14, 13, 12, -1, -1, -1, -1, -1, //
                                                2, 1, 0, -1, 8, 7, 6, -1, 14, 13, 12, -1, -1, -1, -1, -1);
    const __m256i fourth = _mm256_setr_epi8(-1, -1, -1, 12, -1, -1, -1, 12, -1, -1, -1, 12, 8, 7, 6, 12, //
                                            -1, -1, -1, 12, -1, -1, -1, 12, -1, -1, -1, 12, 8, 7, 6, 12);
    // Eight outputs read sixteen pixels, up to pixel 2 * i + 15: the loop goes on only
    // while pixel 2 * (i + 8) is still shown, so it never reads past the last one it shows.
    int i = 0;
    for (; i + 8 < n; i += 8) {
        __m256i first, last;
        colorBytes<S>(src + 6 * i, map, first, last);
        store(out + i, _mm256_or_si256(_mm256_shuffle_epi8(first, firstThree), _mm256_shuffle_epi8(last, fourth)));
    }
    for (; i < n; ++i)
        out[i] = colorWord(src + 6 * i, map.bits);
}

// Every step-th pixel, step >= 3: one eight-sample load a pixel, whose first three are its
// R, G, B. Pixel i + j goes into the low half of load j, pixel i + 4 + j into the high.
template <int S>
__attribute__((target("avx2"))) void colorSpaced(std::uint32_t* out, const std::uint16_t* src, int n, int step,
                                                 const Mapping& map)
{
    const __m256i pairLow = _mm256_setr_epi8(2, 1, 0, -1, 10, 9, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, //
                                             2, 1, 0, -1, 10, 9, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i pairHigh = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 2, 1, 0, -1, 10, 9, 8, -1, //
                                              -1, -1, -1, -1, -1, -1, -1, -1, 2, 1, 0, -1, 10, 9, 8, -1);
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    const std::size_t stride = 3 * static_cast<std::size_t>(step);
    // The load of pixel i + 7 reaches five samples past it, within the next shown pixel's:
    // the loop goes on only while pixel i + 8 is still shown.
    int i = 0;
    for (; i + 8 < n; i += 8) {
        const std::uint16_t* s = src + i * stride;
        const __m256i p0 = map.packable<S>(loadHalves(s, s + 4 * stride));
        const __m256i p1 = map.packable<S>(loadHalves(s + stride, s + 5 * stride));
        const __m256i p2 = map.packable<S>(loadHalves(s + 2 * stride, s + 6 * stride));
        const __m256i p3 = map.packable<S>(loadHalves(s + 3 * stride, s + 7 * stride));
        const __m256i first = _mm256_shuffle_epi8(_mm256_packus_epi16(p0, p1), pairLow); // i, i+1 | i+4, i+5
        const __m256i second = _mm256_shuffle_epi8(_mm256_packus_epi16(p2, p3), pairHigh); // i+2, i+3 | i+6, i+7
        store(out + i, _mm256_or_si256(_mm256_or_si256(first, second), opaque));
    }
    for (; i < n; ++i)
        out[i] = colorWord(src + i * stride, map.bits);
}

} // namespace

bool haveGray()
{
    return haveAvx2();
}

__attribute__((target("avx2"))) void grayWords(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel)
{
    const Mapping map(bitsPerPixel);
    const __m256i spread = _mm256_setr_epi8(VEXO_SPREAD(0, 4, 8, 12), VEXO_SPREAD(0, 4, 8, 12));
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i samples = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
        store(out + i, _mm256_or_si256(_mm256_shuffle_epi8(map.grays32(samples), spread), opaque));
    }
    for (; i < n; ++i)
        out[i] = grayWord(src[i], bitsPerPixel);
}

void grayWordsOfEven(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel)
{
    const Mapping map(bitsPerPixel);
    byShape(map, [&](auto shape) { grayEven<decltype(shape)::value>(out, src, n, map); });
}

bool haveColor()
{
    return haveAvx2();
}

void colorWords(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel)
{
    const Mapping map(bitsPerPixel);
    byShape(map, [&](auto shape) { color<decltype(shape)::value>(out, src, n, map); });
}

void colorWordsOfEven(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel)
{
    const Mapping map(bitsPerPixel);
    byShape(map, [&](auto shape) { colorEven<decltype(shape)::value>(out, src, n, map); });
}

void colorWordsOfStep(std::uint32_t* out, const std::uint16_t* src, int n, int step, int bitsPerPixel)
{
    const Mapping map(bitsPerPixel);
    byShape(map, [&](auto shape) { colorSpaced<decltype(shape)::value>(out, src, n, step, map); });
}

#undef VEXO_SPREAD
#undef VEXO_BGR_OF_FOUR

#else

bool haveGray()
{
    return false;
}

void grayWords(std::uint32_t*, const std::uint16_t*, int, int) { }

void grayWordsOfEven(std::uint32_t*, const std::uint16_t*, int, int) { }

bool haveColor()
{
    return false;
}

void colorWords(std::uint32_t*, const std::uint16_t*, int, int) { }

void colorWordsOfEven(std::uint32_t*, const std::uint16_t*, int, int) { }

void colorWordsOfStep(std::uint32_t*, const std::uint16_t*, int, int, int) { }

#endif

} // namespace rowkernels
} // namespace core
} // namespace vexo
