// The colour of a green (or any colour) screen, found in a camera frame: the dominant
// saturated colour along the picture's border, taken as the median of the largest
// uniform region of that colour. Works on a small copy of the latest frame that the
// frame procedure keeps (every few pixels of every few rows), so sampling costs a frame
// almost nothing and the host can ask at any time.
#pragma once

#include <cstdint>
#include <vector>

class TScreenSampler {
 public:
  // Keeps a copy of every step-th pixel of every step-th row of a B, G, R, A frame (step
  // chosen so that the copy is at most about 160 pixels wide). Rows are kept in stored
  // order: the region search does not care which way up the picture is.
  void Take(const unsigned char* pixels, unsigned int width, unsigned int height, unsigned int stride);

  // 0xRRGGBB of the screen. False when no frame was taken, or no saturated colour holds at
  // least a third of the border.
  bool Sample(unsigned int* rgb) const;

 private:
  std::vector<uint8_t> thumb_;  // R, G, B per pixel
  unsigned int width_ = 0, height_ = 0;
};
