// Records that a host exchanges with TPictorD3D9Preview: the image description, the
// chroma-keying parameters with their colour type, and the host's frame callback.
//
// A separately compiled host hands these records over by pointer, so their fields keep
// this exact order and these exact types with natural alignment; the static_asserts at
// the end pin the layout for every compiler that builds against this header. The
// constructors are inline so that host and library agree on the defaults without an
// import.
#pragma once

#include <cstddef>

#include "PictorConfig.h"

// Which colour the key removes. Fixed at 32 bits; a value outside the three named ones
// is accepted and keys no pixel at all.
enum TRemoveBackgroundColorType : int {
  rbcGreen = 0,
  rbcBlue = 1,
  rbcCustom = 2,
};

// An image the host owns. Pixels are 4 bytes each in memory order blue, green, red,
// alpha (D3DFMT_A8R8G8B8). The record never owns Data.
struct TPictorD3D9PreviewImage {
  unsigned int Width;
  unsigned int Height;
  unsigned int Stride;  // bytes from the start of one stored row to the next
  unsigned char* Data;  // first stored row
  bool TopDown;         // true: first stored row is the top of the picture

  TPictorD3D9PreviewImage() : Width(0), Height(0), Stride(0), Data(nullptr), TopDown(false) {}
  TPictorD3D9PreviewImage(unsigned int width, unsigned int height, unsigned int stride, unsigned char* data,
                          bool topDown)
      : Width(width), Height(height), Stride(stride), Data(data), TopDown(topDown)
  {
  }
};

// Keying parameters. No value is range-checked anywhere: out-of-range sensitivity or
// smoothing simply moves the thresholds.
struct TPictorD3D9PreviewChromaKeyingParams {
  float Sensitivity;      // 0..1; higher keys less saturated and darker pixels
  float Smoothing;        // scales the channel-dominance threshold for green and blue
  unsigned char Opacity;  // alpha given to every camera pixel before keying
  TRemoveBackgroundColorType ColorType;
  unsigned int CustomColor;  // rbcCustom: red bits 16-23, green 8-15, blue 0-7

  // The defaults are exact bit patterns (0x3EFD80A1 and 0x3F077E1C), written as
  // hexadecimal literals so that no compiler's decimal rounding can move them.
  static constexpr float kDefaultSensitivity = 0x1.fb0142p-2f;  // 0.49512199
  static constexpr float kDefaultSmoothing = 0x1.0efc38p-1f;    // 0.52926803

  TPictorD3D9PreviewChromaKeyingParams()
      : Sensitivity(kDefaultSensitivity),
        Smoothing(kDefaultSmoothing),
        Opacity(255),
        ColorType(rbcGreen),
        CustomColor(0)
  {
  }
  TPictorD3D9PreviewChromaKeyingParams(float sensitivity, float smoothing, unsigned char opacity,
                                       TRemoveBackgroundColorType colorType, unsigned int customColor)
      : Sensitivity(sensitivity), Smoothing(smoothing), Opacity(opacity), ColorType(colorType), CustomColor(customColor)
  {
  }
  // Copies all five fields of *other.
  explicit TPictorD3D9PreviewChromaKeyingParams(const TPictorD3D9PreviewChromaKeyingParams* other)
      : Sensitivity(other->Sensitivity),
        Smoothing(other->Smoothing),
        Opacity(other->Opacity),
        ColorType(other->ColorType),
        CustomColor(other->CustomColor)
  {
  }
};

// The host's frame callback. width and height are those of the captured frame; pitch is
// the byte distance between rows of the composited image; pixels is its top row in
// D3DFMT_A8R8G8B8 layout, valid only during the call. The result is ignored.
typedef bool (*TPreviewImageReadyProc)(unsigned int width, unsigned int height, unsigned int pitch,
                                       unsigned char* pixels, void* userData);

// Layout pins. They hold for 32- and 64-bit targets, MSVC and GCC alike.
static_assert(sizeof(TRemoveBackgroundColorType) == 4, "colour type is 32-bit");
static_assert(offsetof(TPictorD3D9PreviewImage, Width) == 0, "layout");
static_assert(offsetof(TPictorD3D9PreviewImage, Height) == 4, "layout");
static_assert(offsetof(TPictorD3D9PreviewImage, Stride) == 8, "layout");
static_assert(offsetof(TPictorD3D9PreviewImage, Data) == (sizeof(void*) == 8 ? 16 : 12), "layout");
static_assert(offsetof(TPictorD3D9PreviewImage, TopDown) == (sizeof(void*) == 8 ? 24 : 16), "layout");
static_assert(sizeof(TPictorD3D9PreviewImage) == (sizeof(void*) == 8 ? 32 : 20), "layout");
static_assert(alignof(TPictorD3D9PreviewImage) == alignof(void*), "layout");

static_assert(offsetof(TPictorD3D9PreviewChromaKeyingParams, Sensitivity) == 0, "layout");
static_assert(offsetof(TPictorD3D9PreviewChromaKeyingParams, Smoothing) == 4, "layout");
static_assert(offsetof(TPictorD3D9PreviewChromaKeyingParams, Opacity) == 8, "layout");
static_assert(offsetof(TPictorD3D9PreviewChromaKeyingParams, ColorType) == 12, "layout");
static_assert(offsetof(TPictorD3D9PreviewChromaKeyingParams, CustomColor) == 16, "layout");
static_assert(sizeof(TPictorD3D9PreviewChromaKeyingParams) == 20, "layout");
static_assert(alignof(TPictorD3D9PreviewChromaKeyingParams) == 4, "layout");
