/* Records a host exchanges with the keyed preview: the image description and the keying
 * parameters with their colour type. Each is defined once, as a C record (PictorC.h pins
 * its layout); the C++ records TPictorD3D9PreviewImage and
 * TPictorD3D9PreviewChromaKeyingParams are the same records with the constructors the C++
 * interface has. Valid C99 and C++, without a Windows header, so that the keying kernels
 * build on any platform. */
#ifndef PICTOR_PREVIEW_RECORDS_H
#define PICTOR_PREVIEW_RECORDS_H

#if !defined(__cplusplus)
#  include <stdbool.h>
#endif

/* Key colours. Fixed at 32 bits; a value outside the three named ones is accepted and
 * keys no pixel at all. In C++ the field's type is TRemoveBackgroundColorType and the
 * PICTOR_KEY_* names are its values. */
#if defined(__cplusplus)
enum TRemoveBackgroundColorType : int {
  rbcGreen = 0,
  rbcBlue = 1,
  rbcCustom = 2,
};
#  define PICTOR_KEY_GREEN rbcGreen
#  define PICTOR_KEY_BLUE rbcBlue
#  define PICTOR_KEY_CUSTOM rbcCustom
typedef TRemoveBackgroundColorType PictorKeyColor;
#else
#  define PICTOR_KEY_GREEN 0
#  define PICTOR_KEY_BLUE 1
#  define PICTOR_KEY_CUSTOM 2
typedef int PictorKeyColor;
#endif

/* An image the host owns (TPictorD3D9PreviewImage): 4 bytes per pixel in memory order
 * blue, green, red, alpha (D3DFMT_A8R8G8B8). The record never owns Data. */
typedef struct PictorPreviewImage {
  unsigned int Width;
  unsigned int Height;
  unsigned int Stride; /* bytes from the start of one stored row to the next */
  unsigned char* Data; /* first stored row */
  bool TopDown;        /* true: the first stored row is the top of the picture */
} PictorPreviewImage;

/* Keying parameters (TPictorD3D9PreviewChromaKeyingParams). No value is range-checked
 * anywhere: out-of-range sensitivity or smoothing simply moves the thresholds. */
typedef struct PictorKeyingParams {
  float Sensitivity;        /* 0..1; higher keys less saturated and darker pixels */
  float Smoothing;          /* scales the channel-dominance threshold for green and blue */
  unsigned char Opacity;    /* alpha given to every camera pixel before keying */
  PictorKeyColor ColorType; /* PICTOR_KEY_GREEN, PICTOR_KEY_BLUE or PICTOR_KEY_CUSTOM */
  unsigned int CustomColor; /* PICTOR_KEY_CUSTOM: red bits 16-23, green 8-15, blue 0-7 */
} PictorKeyingParams;

#if defined(__cplusplus)

// The constructors are inline, so that host and library agree on the defaults without an
// import.
struct TPictorD3D9PreviewImage : PictorPreviewImage {
  TPictorD3D9PreviewImage() : PictorPreviewImage() {}
  TPictorD3D9PreviewImage(unsigned int width, unsigned int height, unsigned int stride, unsigned char* data,
                          bool topDown)
      : PictorPreviewImage{width, height, stride, data, topDown}
  {
  }
};

struct TPictorD3D9PreviewChromaKeyingParams : PictorKeyingParams {
  // The defaults are exact bit patterns (0x3EFD80A1 and 0x3F077E1C), written as
  // hexadecimal literals so that no compiler's decimal rounding can move them.
  static constexpr float kDefaultSensitivity = 0x1.fb0142p-2f;  // 0.49512199
  static constexpr float kDefaultSmoothing = 0x1.0efc38p-1f;    // 0.52926803

  TPictorD3D9PreviewChromaKeyingParams() : PictorKeyingParams{kDefaultSensitivity, kDefaultSmoothing, 255, rbcGreen, 0}
  {
  }
  TPictorD3D9PreviewChromaKeyingParams(float sensitivity, float smoothing, unsigned char opacity,
                                       TRemoveBackgroundColorType colorType, unsigned int customColor)
      : PictorKeyingParams{sensitivity, smoothing, opacity, colorType, customColor}
  {
  }
  // Copies all five fields of *other.
  explicit TPictorD3D9PreviewChromaKeyingParams(const TPictorD3D9PreviewChromaKeyingParams* other)
      : PictorKeyingParams(*other)
  {
  }
};

// The host's frame callback. width and height are those of the captured frame; pitch is
// the byte distance between rows of the composited image; pixels is its top row in
// D3DFMT_A8R8G8B8 layout, valid only during the call. The result is ignored.
typedef bool (*TPreviewImageReadyProc)(unsigned int width, unsigned int height, unsigned int pitch,
                                       unsigned char* pixels, void* userData);

#endif /* __cplusplus */

#endif /* PICTOR_PREVIEW_RECORDS_H */
