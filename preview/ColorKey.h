// Software colour key: marks key-coloured pixels of a BGRA frame by writing alpha 0 and
// gives every other pixel the requested opacity. Works in place; colour bytes are never
// changed. Several versions of the same kernel exist side by side: RemoveKeyColor_C is the
// definition, the vector versions give byte-for-byte the same output, and RemoveKeyColor
// runs the fastest one the processor supports.
#pragma once

#include "PictorPreviewRecords.h"

// Pixels: width pixels of 4 bytes (blue, green, red, alpha) per row, height rows, rows
// stride bytes apart, first stored row first. A null pointer or an empty frame writes
// nothing.
void RemoveKeyColor(unsigned char* pixels, unsigned int width, unsigned int height,
                    unsigned int stride, float sensitivity, float smoothing,
                    unsigned char opacity, TRemoveBackgroundColorType colorType,
                    unsigned int customColor);

typedef void (*TRemoveKeyColorProc)(unsigned char* pixels, unsigned int width,
                                    unsigned int height, unsigned int stride,
                                    float sensitivity, float smoothing, unsigned char opacity,
                                    TRemoveBackgroundColorType colorType,
                                    unsigned int customColor);

void RemoveKeyColor_C(unsigned char* pixels, unsigned int width, unsigned int height,
                      unsigned int stride, float sensitivity, float smoothing,
                      unsigned char opacity, TRemoveBackgroundColorType colorType,
                      unsigned int customColor);
#if PICTOR_X86
void RemoveKeyColor_SSE2(unsigned char* pixels, unsigned int width, unsigned int height,
                         unsigned int stride, float sensitivity, float smoothing,
                         unsigned char opacity, TRemoveBackgroundColorType colorType,
                         unsigned int customColor);
void RemoveKeyColor_AVX2(unsigned char* pixels, unsigned int width, unsigned int height,
                         unsigned int stride, float sensitivity, float smoothing,
                         unsigned char opacity, TRemoveBackgroundColorType colorType,
                         unsigned int customColor);
void RemoveKeyColor_AVX512(unsigned char* pixels, unsigned int width, unsigned int height,
                           unsigned int stride, float sensitivity, float smoothing,
                           unsigned char opacity, TRemoveBackgroundColorType colorType,
                           unsigned int customColor);
#endif

// Processor levels the dispatcher knows, as bits of a feature mask.
enum : unsigned int {
  kColorKeyCpuSSE2 = 1u << 0,
  kColorKeyCpuAVX2 = 1u << 1,  // AVX2 and an operating system that saves YMM registers
  kColorKeyCpuAVX512BW = 1u << 2,  // AVX-512F and BW, and an OS that saves ZMM and mask registers
};

// What this processor offers, detected once.
unsigned int ColorKeyCpuFeatures();

// The fastest version whose features are all in `features`. RemoveKeyColor uses
// SelectRemoveKeyColor(ColorKeyCpuFeatures()); tests and benchmarks pass a reduced mask
// to force a lower level.
TRemoveKeyColorProc SelectRemoveKeyColor(unsigned int features);

// "C", "SSE2", "AVX2" or "AVX512" for a version returned by SelectRemoveKeyColor.
const char* RemoveKeyColorName(TRemoveKeyColorProc proc);
