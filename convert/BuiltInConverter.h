// The built-in converter's frame kernels: one camera frame (MJPG, packed or planar YUV,
// 32-bit RGB) into 4-byte blue, green, red, alpha pixels in the row order asked for.
// JPEG goes through TurboJPEG, YUV through libyuv with the matrix and range the media
// type names (or Media Foundation's defaults). Portable: plain pointers and sizes, no
// Windows types; the Media Foundation glue is convert/MFVideoConverter_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace libyuv {
struct YuvConstants;
}

// The camera subtypes the built-in converter reads.
enum class TBuiltInInput { Unsupported, MJPG, YUY2, UYVY, NV12, I420, YV12, RGB32 };

// The YUV to RGB matrices it applies.
enum class TYuvMatrix { BT601Limited, BT601Full, BT709Limited, BT709Full, BT2020Limited, BT2020Full };

// The matrix for a type's MF_MT_YUV_MATRIX and MF_MT_VIDEO_NOMINAL_RANGE values (0 when
// the type does not carry them). Media Foundation's defaults: an unknown matrix is BT.601
// up to 576 lines and BT.709 above, an unknown range is the studio range 16-235.
TYuvMatrix ChooseYuvMatrix(uint32_t mfMatrix, uint32_t mfNominalRange, uint32_t height);
const char* YuvMatrixName(TYuvMatrix matrix);

class TBuiltInConverter {
 public:
  // inputStride: MF_MT_DEFAULT_STRIDE of the type (0 when missing: the packed row size);
  // for RGB32 a negative stride means the rows are stored bottom row first.
  TBuiltInConverter(TBuiltInInput input, uint32_t width, uint32_t height, int32_t inputStride, TYuvMatrix matrix);
  ~TBuiltInConverter();
  TBuiltInConverter(const TBuiltInConverter&) = delete;
  TBuiltInConverter& operator=(const TBuiltInConverter&) = delete;

  // False when the sizes are unusable or the JPEG decompressor could not be made;
  // Error() says why.
  bool Ready() const { return bReady; }
  // Why the last call failed (a NUL-terminated text, empty after success).
  const char* Error() const { return ErrorText; }

  // Bytes an input frame needs at least (for MJPG: 0, the frame says its own size).
  size_t InputBytes() const { return MinimumInput; }
  // True for RGB32 input already stored in the asked row order without padding: the
  // frame can be handed on as it is.
  bool PassesThrough(bool topDown) const;

  // Converts one frame of `length` bytes into `out` (width * height * 4 bytes, rows
  // width * 4 apart), top row first when topDown. False (with Error()) for a frame that
  // is too short, a JPEG that does not decode completely or has another size.
  bool Convert(const uint8_t* frame, size_t length, uint8_t* out, bool topDown);

 private:
  bool Fail(const char* format, ...);
  bool DecodeJpeg(const uint8_t* frame, size_t length, uint8_t* out, bool topDown);
  bool DecodeJpegFrame(const uint8_t* frame, size_t length, uint8_t* out, bool topDown);
  bool ConvertPacked422(const uint8_t* frame, uint8_t* out, int outStride);

  TBuiltInInput Input;
  uint32_t Width;
  uint32_t Height;
  uint32_t Stride;      // bytes between input rows (first plane)
  bool bInputBottomUp;  // RGB32 stored bottom row first
  const libyuv::YuvConstants* Constants;
  size_t MinimumInput;
  void* Decompressor;          // TurboJPEG handle, MJPG only
  std::vector<uint8_t> Strip;  // planar rows of a packed 4:2:2 strip
  bool bReady;
  char ErrorText[160];
};
