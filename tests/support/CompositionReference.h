// A CPU model of what the preview hands its host for one frame: the texture upload
// (rows reversed, cut to the texture), the pixel program (7 x 7 alpha average with the
// edge texels repeated, background mix) and the blend over the opaque black target.
// It is the definition the Direct3D path is checked against; it is not used at run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// 4 bytes per pixel (blue, green, red, alpha), top row first, rows packed.
struct TReferenceImage {
  unsigned Width = 0;
  unsigned Height = 0;
  std::vector<uint8_t> Pixels;

  TReferenceImage() = default;
  TReferenceImage(unsigned width, unsigned height, uint32_t fill = 0);

  uint8_t* Pixel(unsigned x, unsigned y) { return &Pixels[(std::size_t(y) * Width + x) * 4]; }
  const uint8_t* Pixel(unsigned x, unsigned y) const { return &Pixels[(std::size_t(y) * Width + x) * 4]; }
  // The pixel as 0xAARRGGBB.
  uint32_t Argb(unsigned x, unsigned y) const;
  void SetArgb(unsigned x, unsigned y, uint32_t argb);
};

// The upload into a texture: source holds `rows` stored rows `stride` bytes apart, the
// first stored row being the bottom of the picture. Texture row i from the top receives
// stored row rows - 1 - i, for as many rows as both have; each row copies
// min(pitch, stride) bytes, pitch being the texture's row size. Texture rows and bytes
// the source does not reach keep what they held.
void ReferenceLoadTexture(TReferenceImage& texture, const uint8_t* source, unsigned rows, unsigned stride);

// The composited image the host receives, of the camera texture's size. The quad covers
// quadWidth x quadHeight pixels from the top-left corner and maps the whole camera
// texture (and background texture) onto them with point sampling and clamped edges;
// the rest of the target stays opaque black. background null: no background bound.
TReferenceImage ReferenceCompose(const TReferenceImage& camera, const TReferenceImage* background, unsigned quadWidth,
                                 unsigned quadHeight);
