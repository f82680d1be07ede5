// The built-in converter's frame kernels (see BuiltInConverter.h).
#include "convert/BuiltInConverter.h"

#include <libyuv.h>
#include <turbojpeg.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Packed 4:2:2 frames are split into planes and converted this many rows at a time, so
// that the planar rows stay in the cache between the two steps.
constexpr uint32_t kStripRows = 16;

// Media Foundation's MFVideoTransferMatrix and MFNominalRange values.
constexpr uint32_t kMatrixBT709 = 1;
constexpr uint32_t kMatrixBT601 = 2;
constexpr uint32_t kMatrixSMPTE240M = 3;
constexpr uint32_t kMatrixBT2020_10 = 4;
constexpr uint32_t kMatrixBT2020_12 = 5;
constexpr uint32_t kRange0_255 = 1;

const libyuv::YuvConstants* ConstantsOf(TYuvMatrix matrix)
{
  switch (matrix) {
    case TYuvMatrix::BT601Full:
      return &libyuv::kYuvJPEGConstants;
    case TYuvMatrix::BT709Limited:
      return &libyuv::kYuvH709Constants;
    case TYuvMatrix::BT709Full:
      return &libyuv::kYuvF709Constants;
    case TYuvMatrix::BT2020Limited:
      return &libyuv::kYuv2020Constants;
    case TYuvMatrix::BT2020Full:
      return &libyuv::kYuvV2020Constants;
    case TYuvMatrix::BT601Limited:
      break;
  }
  return &libyuv::kYuvI601Constants;
}

// A JPEG whose entropy data is complete ends with the end-of-image marker; cameras may
// pad the frame with zero bytes after it.
bool EndsWithEndOfImage(const uint8_t* frame, size_t length)
{
  while (length > 2 && frame[length - 1] == 0) --length;
  return length >= 2 && frame[length - 2] == 0xFF && frame[length - 1] == 0xD9;
}

}  // namespace

TYuvMatrix ChooseYuvMatrix(uint32_t mfMatrix, uint32_t mfNominalRange, uint32_t height)
{
  const bool full = mfNominalRange == kRange0_255;
  switch (mfMatrix) {
    case kMatrixBT601:
      return full ? TYuvMatrix::BT601Full : TYuvMatrix::BT601Limited;
    case kMatrixBT709:
    case kMatrixSMPTE240M:  // nearly BT.709; libyuv has no matrix of its own for it
      return full ? TYuvMatrix::BT709Full : TYuvMatrix::BT709Limited;
    case kMatrixBT2020_10:
    case kMatrixBT2020_12:
      return full ? TYuvMatrix::BT2020Full : TYuvMatrix::BT2020Limited;
    default:
      if (height > 576) return full ? TYuvMatrix::BT709Full : TYuvMatrix::BT709Limited;
      return full ? TYuvMatrix::BT601Full : TYuvMatrix::BT601Limited;
  }
}

const char* YuvMatrixName(TYuvMatrix matrix)
{
  switch (matrix) {
    case TYuvMatrix::BT601Limited:
      return "BT.601 16-235";
    case TYuvMatrix::BT601Full:
      return "BT.601 0-255";
    case TYuvMatrix::BT709Limited:
      return "BT.709 16-235";
    case TYuvMatrix::BT709Full:
      return "BT.709 0-255";
    case TYuvMatrix::BT2020Limited:
      return "BT.2020 16-235";
    case TYuvMatrix::BT2020Full:
      return "BT.2020 0-255";
  }
  return "?";
}

TBuiltInConverter::TBuiltInConverter(TBuiltInInput input, uint32_t width, uint32_t height, int32_t inputStride,
                                     TYuvMatrix matrix)
    : Input(input),
      Width(width),
      Height(height),
      Stride(0),
      bInputBottomUp(input == TBuiltInInput::RGB32 && inputStride < 0),
      Constants(ConstantsOf(matrix)),
      MinimumInput(0),
      Decompressor(nullptr),
      bReady(false),
      ErrorText()
{
  // libyuv takes int sizes and strides; a frame beyond that is no camera's.
  if (width == 0 || height == 0 || width > 16384 || height > 16384) {
    Fail("unusable frame size %ux%u", width, height);
    return;
  }
  const uint32_t given = inputStride < 0 ? 0u - static_cast<uint32_t>(inputStride) : static_cast<uint32_t>(inputStride);
  uint32_t packedRow = width;
  switch (input) {
    case TBuiltInInput::MJPG:
      Decompressor = tjInitDecompress();
      if (!Decompressor) {
        Fail("unable to create a JPEG decompressor: %s", tjGetErrorStr2(nullptr));
        return;
      }
      bReady = true;
      return;
    case TBuiltInInput::YUY2:
    case TBuiltInInput::UYVY:
      packedRow = (width + 1) / 2 * 4;
      break;
    case TBuiltInInput::RGB32:
      packedRow = width * 4;
      break;
    case TBuiltInInput::NV12:
    case TBuiltInInput::I420:
    case TBuiltInInput::YV12:
      break;
    case TBuiltInInput::Unsupported:
      Fail("unsupported subtype");
      return;
  }
  Stride = given ? given : packedRow;
  if (Stride < packedRow || Stride > 4 * 16384) {
    Fail("stride %d does not fit a row of %u pixels", static_cast<int>(inputStride), width);
    return;
  }
  const size_t luma = static_cast<size_t>(Stride) * height;
  const size_t chromaRows = (height + 1) / 2;
  switch (input) {
    case TBuiltInInput::NV12:
      // A chroma row holds whole U,V pairs: for an odd width one byte more than the width,
      // so with rows `width` apart the last row ends a byte past stride x chroma rows.
      MinimumInput = luma + static_cast<size_t>(Stride) * (chromaRows - 1) + (width + 1) / 2 * 2;
      break;
    case TBuiltInInput::I420:
    case TBuiltInInput::YV12:
      MinimumInput = luma + 2 * static_cast<size_t>((Stride + 1) / 2) * chromaRows;
      break;
    default:
      MinimumInput = luma;
      break;
  }
  if (input == TBuiltInInput::YUY2 || input == TBuiltInInput::UYVY) {
    const size_t halfWidth = (width + 1) / 2;
    Strip.resize((width + 2 * halfWidth) * kStripRows);
  }
  bReady = true;
}

TBuiltInConverter::~TBuiltInConverter()
{
  if (Decompressor) tjDestroy(Decompressor);
}

bool TBuiltInConverter::Fail(const char* format, ...)
{
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(ErrorText, sizeof ErrorText, format, arguments);
  va_end(arguments);
  return false;
}

bool TBuiltInConverter::PassesThrough(bool topDown) const
{
  // The host reads rows width x 4 bytes apart: padded rows are repacked by the copy.
  return Input == TBuiltInInput::RGB32 && bInputBottomUp == !topDown && Stride == Width * 4;
}

bool TBuiltInConverter::Convert(const uint8_t* frame, size_t length, uint8_t* out, bool topDown)
{
  ErrorText[0] = '\0';
  if (!bReady) return Fail("converter not ready");
  if (!frame || !out) return Fail("no frame");
  if (Input == TBuiltInInput::MJPG) return DecodeJpeg(frame, length, out, topDown);
  if (length < MinimumInput)
    return Fail("frame of %zu bytes is shorter than the %zu of the format", length, MinimumInput);

  // Bottom-up output: start at the last row and step backwards.
  const int w = static_cast<int>(Width);
  const int h = static_cast<int>(Height);
  const int rowBytes = w * 4;
  const int outStride = topDown ? rowBytes : -rowBytes;
  uint8_t* const outTop = topDown ? out : out + static_cast<size_t>(h - 1) * rowBytes;
  const int stride = static_cast<int>(Stride);
  const int chromaStride = (stride + 1) / 2;
  const uint8_t* const chroma = frame + static_cast<size_t>(Stride) * Height;
  const size_t chromaPlane = static_cast<size_t>(chromaStride) * ((Height + 1) / 2);

  int result = 0;
  switch (Input) {
    case TBuiltInInput::YUY2:
    case TBuiltInInput::UYVY:
      return ConvertPacked422(frame, outTop, outStride);
    case TBuiltInInput::NV12:
      result = libyuv::NV12ToARGBMatrix(frame, stride, chroma, stride, outTop, outStride, Constants, w, h);
      break;
    case TBuiltInInput::I420:
      result = libyuv::I420ToARGBMatrix(frame, stride, chroma, chromaStride, chroma + chromaPlane, chromaStride, outTop,
                                        outStride, Constants, w, h);
      break;
    case TBuiltInInput::YV12:  // V plane before U
      result = libyuv::I420ToARGBMatrix(frame, stride, chroma + chromaPlane, chromaStride, chroma, chromaStride, outTop,
                                        outStride, Constants, w, h);
      break;
    case TBuiltInInput::RGB32: {
      const uint8_t* sourceTop = bInputBottomUp ? frame + static_cast<size_t>(h - 1) * Stride : frame;
      result = libyuv::ARGBCopy(sourceTop, bInputBottomUp ? -stride : stride, outTop, outStride, w, h);
      break;
    }
    default:
      return Fail("unsupported subtype");
  }
  return result == 0 ? true : Fail("conversion failed (%d)", result);
}

// libyuv converts packed 4:2:2 to RGB with the BT.601 studio matrix only: split each
// strip into planes, then convert the planes with the matrix of the type.
bool TBuiltInConverter::ConvertPacked422(const uint8_t* frame, uint8_t* outTop, int outStride)
{
  const int w = static_cast<int>(Width);
  const int halfWidth = (w + 1) / 2;
  uint8_t* const y = Strip.data();
  uint8_t* const u = y + static_cast<size_t>(w) * kStripRows;
  uint8_t* const v = u + static_cast<size_t>(halfWidth) * kStripRows;
  for (uint32_t row = 0; row < Height; row += kStripRows) {
    const int rows = static_cast<int>(Height - row < kStripRows ? Height - row : kStripRows);
    const uint8_t* source = frame + static_cast<size_t>(row) * Stride;
    const int split =
        Input == TBuiltInInput::YUY2
            ? libyuv::YUY2ToI422(source, static_cast<int>(Stride), y, w, u, halfWidth, v, halfWidth, w, rows)
            : libyuv::UYVYToI422(source, static_cast<int>(Stride), y, w, u, halfWidth, v, halfWidth, w, rows);
    if (split != 0) return Fail("conversion failed (%d)", split);
    const int converted =
        libyuv::I422ToARGBMatrix(y, w, u, halfWidth, v, halfWidth, outTop + static_cast<ptrdiff_t>(row) * outStride,
                                 outStride, Constants, w, rows);
    if (converted != 0) return Fail("conversion failed (%d)", converted);
  }
  return true;
}

bool TBuiltInConverter::DecodeJpeg(const uint8_t* frame, size_t length, uint8_t* out, bool topDown)
{
  if (DecodeJpegFrame(frame, length, out, topDown)) return true;
  // A decompressor that stopped inside a frame can keep part of it (a half-read table)
  // and refuse the next good frame: start the next one with a fresh decompressor.
  tjDestroy(Decompressor);
  Decompressor = tjInitDecompress();
  if (!Decompressor) {
    bReady = false;
    std::snprintf(ErrorText + std::strlen(ErrorText), sizeof ErrorText - std::strlen(ErrorText),
                  "; no JPEG decompressor for the next frame");
  }
  return false;
}

bool TBuiltInConverter::DecodeJpegFrame(const uint8_t* frame, size_t length, uint8_t* out, bool topDown)
{
  if (length == 0 || length > 0x7FFFFFFFu) return Fail("JPEG frame of %zu bytes", length);
  const unsigned long size = static_cast<unsigned long>(length);
  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colourspace = 0;
  if (tjDecompressHeader3(Decompressor, frame, size, &width, &height, &subsampling, &colourspace) != 0)
    return Fail("JPEG header: %s", tjGetErrorStr2(Decompressor));
  if (width <= 0 || height <= 0 || static_cast<uint32_t>(width) != Width || static_cast<uint32_t>(height) != Height)
    return Fail("JPEG frame of %dx%d in a %ux%u format", width, height, Width, Height);
  // BGRX: the byte order of the delivered pixels, with 0xFF in the fourth byte.
  const int flags = topDown ? 0 : TJFLAG_BOTTOMUP;
  if (tjDecompress2(Decompressor, frame, size, out, width, width * 4, height, TJPF_BGRX, flags) == 0) return true;
  // A warning leaves a whole picture unless the data ran out (a truncated frame, whose
  // missing rows the decoder fills with grey); a complete frame with, for example,
  // stray bytes before a marker is still delivered.
  if (tjGetErrorCode(Decompressor) == TJERR_WARNING && EndsWithEndOfImage(frame, length)) return true;
  return Fail("JPEG data: %s", tjGetErrorStr2(Decompressor));
}
