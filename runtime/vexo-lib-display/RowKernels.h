#pragma once

#include <cstdint>

namespace vexo {
namespace core {

// Vector versions of the renderer's inner loops for the default gray mapping: a sample
// of depth b becomes the gray min(v >> (b - 8), 255), or min(v << (8 - b), 255) below 8
// bits, as the word 0xffGGGGGG (colour: 0xffRRGGBB). They give exactly what the lookup
// table gives and stand in for it only where the CPU has the instructions, which the
// functions below answer once per process. Stateless; any thread.
namespace rowkernels {

// AVX2: out[i] for src[i], i < n.
bool haveGray();
void grayWords(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel);
// AVX2: out[i] for src[2 * i], i < n (src holds at least 2 * n - 1 samples).
void grayWordsOfEven(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel);

// AVX2: out[i] for the R, G, B samples src[3 * i .. 3 * i + 2], i < n.
bool haveColor();
void colorWords(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel);
// AVX2: out[i] for the pixel src[6 * i .. 6 * i + 2], i < n.
void colorWordsOfEven(std::uint32_t* out, const std::uint16_t* src, int n, int bitsPerPixel);
// AVX2: out[i] for the pixel src[3 * step * i .. + 2], i < n, step >= 3.
void colorWordsOfStep(std::uint32_t* out, const std::uint16_t* src, int n, int step, int bitsPerPixel);

} // namespace rowkernels
} // namespace core
} // namespace vexo
