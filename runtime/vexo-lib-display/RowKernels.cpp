#include "vexo-lib-display/RowKernels.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VEXO_ROW_KERNELS 1
#endif

namespace vexo {
namespace core {
namespace rowkernels {

#ifdef VEXO_ROW_KERNELS

namespace {

// The default mapping as three steps that stay within 16 bits: clamp, shift, clamp.
// Below 8 bits the first clamp keeps v << left from overflowing: 256 >> left is the
// smallest value that maps to 255 anyway.
struct Mapping
{
    explicit Mapping(int bitsPerPixel)
    {
        const int bits = std::clamp(bitsPerPixel, 1, 16);
        right = _mm_cvtsi32_si128(std::max(bits - 8, 0));
        left = _mm_cvtsi32_si128(std::max(8 - bits, 0));
        limit = _mm_set1_epi16(static_cast<short>(bits < 8 ? 256 >> (8 - bits) : 0xffff));
    }
    // Eight samples to eight grays of 0..255, one per 16-bit lane.
    __m128i operator()(__m128i v) const
    {
        v = _mm_sub_epi16(v, _mm_subs_epu16(v, limit));
        v = _mm_sll_epi16(_mm_srl_epi16(v, right), left);
        return _mm_sub_epi16(v, _mm_subs_epu16(v, _mm_set1_epi16(255)));
    }
    __m128i right;
    __m128i left;
    __m128i limit;
};

inline __m128i load(const std::uint16_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void store(std::uint32_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Sixteen grays (bytes) to sixteen words 0xffGGGGGG.
inline void storeGrays(std::uint32_t* out, __m128i grays)
{
    const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xff));
    const __m128i twiceLow = _mm_unpacklo_epi8(grays, grays);
    const __m128i twiceHigh = _mm_unpackhi_epi8(grays, grays);
    const __m128i withAlphaLow = _mm_unpacklo_epi8(grays, opaque);
    const __m128i withAlphaHigh = _mm_unpackhi_epi8(grays, opaque);
    store(out, _mm_unpacklo_epi16(twiceLow, withAlphaLow));
    store(out + 4, _mm_unpackhi_epi16(twiceLow, withAlphaLow));
    store(out + 8, _mm_unpacklo_epi16(twiceHigh, withAlphaHigh));
    store(out + 12, _mm_unpackhi_epi16(twiceHigh, withAlphaHigh));
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

} // namespace

bool haveGray()
{
    return true; // part of every x86-64 CPU
}

void grayWords(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel)
{
    const Mapping map(bitsPerPixel);
    int i = 0;
    for (; i + 16 <= n; i += 16)
        storeGrays(out + i, _mm_packus_epi16(map(load(src + i)), map(load(src + i + 8))));
    for (; i < n; ++i)
        out[i] = grayWord(src[i], bitsPerPixel);
}

void grayWordsOfEven(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel)
{
    const Mapping map(bitsPerPixel);
    const __m128i evenLanes = _mm_set1_epi32(0xffff);
    // Sixteen outputs read 32 samples, up to src[2 * i + 31]: the loop goes on only while
    // sample 2 * (i + 16) is still shown, so it never reads past the last one it shows.
    int i = 0;
    for (; i + 16 < n; i += 16) {
        const std::uint16_t* s = src + 2 * i;
        // Even lanes, each gray 0..255 in a 32-bit lane: the packs cannot saturate.
        const __m128i a = _mm_and_si128(map(load(s)), evenLanes);
        const __m128i b = _mm_and_si128(map(load(s + 8)), evenLanes);
        const __m128i c = _mm_and_si128(map(load(s + 16)), evenLanes);
        const __m128i d = _mm_and_si128(map(load(s + 24)), evenLanes);
        const __m128i low = _mm_packs_epi32(a, b);
        const __m128i high = _mm_packs_epi32(c, d);
        storeGrays(out + i, _mm_packus_epi16(low, high));
    }
    for (; i < n; ++i)
        out[i] = grayWord(src[2 * i], bitsPerPixel);
}

bool haveColor()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

__attribute__((target("ssse3"))) void colorWords(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel)
{
    const Mapping map(bitsPerPixel);
    // R G B bytes of four pixels to B G R 0xff words: -1 puts a zero, the alpha goes on after.
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::uint16_t* s = src + 3 * i;
        const __m128i first = _mm_packus_epi16(map(load(s)), map(load(s + 8)));
        const __m128i last = _mm_packus_epi16(map(load(s + 16)), _mm_setzero_si128());
        store(out + i, _mm_or_si128(_mm_shuffle_epi8(first, order), opaque));
        store(out + i + 4, _mm_or_si128(_mm_shuffle_epi8(_mm_alignr_epi8(last, first, 12), order), opaque));
    }
    for (; i < n; ++i)
        out[i] = colorWord(src + 3 * i, bitsPerPixel);
}

__attribute__((target("ssse3"))) void colorWordsOfEven(std::uint32_t* out, const std::uint16_t* src, int n,
                                                       int bitsPerPixel)
{
    const Mapping map(bitsPerPixel);
    // Pixels 0, 2, 4 of eight: their R G B bytes to B G R words; pixel 6 comes from the
    // second half, moved in front of it.
    const __m128i firstThree = _mm_setr_epi8(2, 1, 0, -1, 8, 7, 6, -1, 14, 13, 12, -1, -1, -1, -1, -1);
    const __m128i fourth = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 8, 7, 6, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
    // Four outputs read eight pixels, up to src[3 * (2 * i + 7) + 2]: the loop goes on only
    // while pixel 2 * (i + 4) is still shown, so it never reads past the last one it shows.
    int i = 0;
    for (; i + 4 < n; i += 4) {
        const std::uint16_t* s = src + 6 * i;
        const __m128i first = _mm_packus_epi16(map(load(s)), map(load(s + 8)));
        const __m128i last = _mm_packus_epi16(map(load(s + 16)), _mm_setzero_si128());
        const __m128i words = _mm_or_si128(_mm_shuffle_epi8(first, firstThree),
                                           _mm_shuffle_epi8(_mm_alignr_epi8(last, first, 12), fourth));
        store(out + i, _mm_or_si128(words, opaque));
    }
    for (; i < n; ++i)
        out[i] = colorWord(src + 6 * i, bitsPerPixel);
}

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

#endif

} // namespace rowkernels
} // namespace core
} // namespace vexo
