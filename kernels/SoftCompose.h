// Software composition of a keyed preview frame: the same picture the Direct3D path hands
// its host, made on the CPU. The key (the frame's alpha bytes, which the colour key wrote
// with the opacity already in them) is softened over a 7 x 7 window with the edge pixels
// repeated, a = min(own alpha, window mean); then either the background shows through,
// colour = a x camera + (1 - a) x background with alpha 1, or the camera is blended over
// opaque black, colour = a x camera with alpha a x a + 1 - a.
//
// Integer arithmetic throughout, with rounding rules of its own: every version of the row
// kernels gives the same bytes, and each channel stays within 2 levels of the exact result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A picture of 4-byte pixels (blue, green, red, alpha), rows `stride` bytes apart.
// bottomUp: the first stored row is the bottom of the picture.
struct TSoftPlane {
  const unsigned char* pixels = nullptr;
  unsigned int width = 0, height = 0, stride = 0;
  bool bottomUp = false;
};

struct TSoftTarget {
  unsigned char* pixels = nullptr;  // must not overlap the camera frame
  unsigned int stride = 0;
  bool bottomUp = false;
};

struct TSoftComposeFrame {
  TSoftPlane camera;                       // the keyed frame; its alpha bytes are the key
  const TSoftPlane* background = nullptr;  // null: composed over black
  TSoftTarget target;                      // camera.width x camera.height pixels
};

// Owns the scratch rows the composition needs, kept across frames: after the first frame
// of a given width nothing is allocated. Bands of rows are independent, so several threads
// may compose one frame, each with a band index of its own.
class TSoftCompositor {
 public:
  // Row kernels of the processor's level at construction (kernels/CpuFeatures.h).
  TSoftCompositor();

  // Makes scratch for frames up to `width` pixels wide and `bands` bands composed at once.
  // Grows only. False when the memory cannot be had.
  bool Prepare(unsigned int width, unsigned int bands);

  // Composes picture rows [y0, y1) (top row 0; y1 is cut to the height) using band's
  // scratch, which Prepare must have made. The background is cut to the camera's size,
  // keeping its top-left part; where it does not reach, the background is black.
  // False, and nothing written, for a missing or undersized plane, a band without scratch.
  bool ComposeRows(const TSoftComposeFrame& frame, unsigned int y0, unsigned int y1, unsigned int band);

  // The whole frame on the calling thread (prepares band 0 as needed).
  bool Compose(const TSoftComposeFrame& frame);

  // "C", "SSE2" or "AVX2": the row kernels in use.
  const char* KernelName() const;

 private:
  struct TBandScratch {
    std::vector<uint16_t> window;  // column sums, three edge repeats each side
    std::vector<unsigned char> zeroRow;
  };
  unsigned int features_;
  unsigned int width_ = 0;
  std::vector<TBandScratch> bands_;
};
