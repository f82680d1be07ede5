#include "tests/support/CompositionReference.h"

#include <algorithm>
#include <cmath>
#include <cstring>

TReferenceImage::TReferenceImage(unsigned width, unsigned height, uint32_t fill)
    : Width(width), Height(height), Pixels(size_t(width) * height * 4)
{
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) SetArgb(x, y, fill);
}

uint32_t TReferenceImage::Argb(unsigned x, unsigned y) const
{
  const uint8_t* p = Pixel(x, y);
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void TReferenceImage::SetArgb(unsigned x, unsigned y, uint32_t argb)
{
  uint8_t* p = Pixel(x, y);
  p[0] = uint8_t(argb);
  p[1] = uint8_t(argb >> 8);
  p[2] = uint8_t(argb >> 16);
  p[3] = uint8_t(argb >> 24);
}

void ReferenceLoadTexture(TReferenceImage& texture, const uint8_t* source, unsigned rows, unsigned stride)
{
  const unsigned n = std::min(texture.Height, rows);
  const size_t bytes = std::min<size_t>(size_t(texture.Width) * 4, stride);
  for (unsigned i = 0; i < n; ++i) std::memcpy(texture.Pixel(0, i), source + size_t(rows - 1 - i) * stride, bytes);
}

namespace {

// Point sampling of the pixel centre `pixel` + `offset` of a quad `quadExtent` pixels
// long over a texture `textureExtent` texels long: u = (pixel + offset + 0.5) / quad,
// texel = floor(u * texture), clamped to the edge texels.
unsigned SampleIndex(long pixel, long offset, unsigned quadExtent, unsigned textureExtent)
{
  const long long numerator = (2LL * (pixel + offset) + 1) * textureExtent;
  if (numerator < 0) return 0;
  const long long index = numerator / (2LL * quadExtent);
  return unsigned(std::min<long long>(index, textureExtent - 1));
}

uint8_t ToByte(double value)
{
  return uint8_t(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

}  // namespace

TReferenceImage ReferenceCompose(const TReferenceImage& camera, const TReferenceImage* background, unsigned quadWidth,
                                 unsigned quadHeight)
{
  TReferenceImage out(camera.Width, camera.Height, 0xFF000000u);
  const unsigned coveredWidth = std::min(quadWidth, camera.Width);
  const unsigned coveredHeight = std::min(quadHeight, camera.Height);
  for (unsigned y = 0; y < coveredHeight; ++y) {
    for (unsigned x = 0; x < coveredWidth; ++x) {
      double sum = 0.0;
      for (int dy = -3; dy <= 3; ++dy) {
        const unsigned ty = SampleIndex(y, dy, quadHeight, camera.Height);
        for (int dx = -3; dx <= 3; ++dx) {
          const unsigned tx = SampleIndex(x, dx, quadWidth, camera.Width);
          sum += camera.Pixel(tx, ty)[3] / 255.0;
        }
      }
      const uint8_t* centre =
          camera.Pixel(SampleIndex(x, 0, quadWidth, camera.Width), SampleIndex(y, 0, quadHeight, camera.Height));
      const double a = std::min(centre[3] / 255.0, sum / 49.0);

      double colour[3];
      double alpha;
      if (background && a < 1.0) {
        const uint8_t* back = background->Pixel(SampleIndex(x, 0, quadWidth, background->Width),
                                                SampleIndex(y, 0, quadHeight, background->Height));
        for (int c = 0; c < 3; ++c) colour[c] = a * (centre[c] / 255.0) + (1.0 - a) * (back[c] / 255.0);
        alpha = 1.0;
      } else {
        for (int c = 0; c < 3; ++c) colour[c] = centre[c] / 255.0;
        alpha = a;
      }

      // Source alpha / inverse source alpha over opaque black, alpha blended alike.
      uint8_t* o = out.Pixel(x, y);
      for (int c = 0; c < 3; ++c) o[c] = ToByte(colour[c] * alpha);
      o[3] = ToByte(alpha * alpha + (1.0 - alpha));
    }
  }
  return out;
}
