// A 32-bit bitmap whose rows start on 64-byte boundaries, stored bottom row first: the
// preview's private copy of the host's background image, in the row order the texture
// upload reads.
#pragma once

class TQDAlignedBitmap32 {
 public:
  // Allocates Height x Stride bytes, 64-byte aligned, content not initialised. When the
  // allocation fails (or the size does not fit in 32 bits) Pixels stays null and
  // OwnsPixels false; such a bitmap is never copied into.
  TQDAlignedBitmap32(unsigned int width, unsigned int height);
  virtual ~TQDAlignedBitmap32();

  TQDAlignedBitmap32(const TQDAlignedBitmap32&) = delete;
  TQDAlignedBitmap32& operator=(const TQDAlignedBitmap32&) = delete;

  // Copies a host image (4 bytes per pixel, rows `stride` bytes apart, first stored row at
  // `data`; topDown tells whether that row is the top of the picture) so that the bitmap's
  // first row is the bottom of the picture. Copies min(width x 4, stride, Stride) bytes
  // of min(height, Height) rows. Does nothing without pixels or data.
  void CopyImage(unsigned int width, unsigned int height, unsigned int stride, const unsigned char* data, bool topDown);

  bool OwnsPixels;
  unsigned int Alignment;  // 64
  unsigned int Width;
  unsigned int Height;
  unsigned int Stride;  // Width x 4 rounded up to a multiple of Alignment
  unsigned char* Pixels;
};
