// The pixel work around the person segmentation model, portable (no windows.h):
// - TFrameShrinker: the camera frame averaged down to the model's input, three float
//   planes (red, green, blue; 0..1);
// - TLowResMatte: the model's person probability smoothed over time, and the coefficients
//   of a guided filter whose guide is the brightness of that same input (He and Sun's fast
//   guided filter: the coefficients are computed at the model's size and applied at the
//   frame's, so edges follow the frame, not a blurred blob);
// - TMatteTable: those coefficients brought to the frame's width once per mask, and
//   ApplyMatte, which writes every frame's alpha from them and the frame's own brightness,
//   the way the colour key writes it (0 replaced, opacity kept).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Averages a frame down: each output pixel is the mean of the frame area it covers. Owns
// its tables and accumulator row, kept while the sizes stay the same.
class TFrameShrinker {
 public:
  // Row kernels of the processor's level (kernels/CpuFeatures.h: tests and benchmarks force
  // a lower one with its mask).
  TFrameShrinker();

  // pixels: width x height pixels of 4 bytes (blue, green, red, alpha), rows stride bytes
  // apart; bottomUp: the first stored row is the picture's bottom. planes: 3 x outWidth x
  // outHeight floats, red then green then blue, top row first. False, and nothing
  // written, for an empty or null frame or output, or when memory cannot be had.
  bool Shrink(const uint8_t* pixels, unsigned int width, unsigned int height, unsigned int stride, bool bottomUp,
              unsigned int outWidth, unsigned int outHeight, float* planes);

  const char* KernelName() const;

 private:
  struct TSpan {
    unsigned int first, count;  // source rows or columns
    size_t weights;             // index of the first weight
  };
  bool Prepare(unsigned int width, unsigned int height, unsigned int outWidth, unsigned int outHeight);

  unsigned int features_;
  unsigned int width_ = 0, height_ = 0, outWidth_ = 0, outHeight_ = 0;
  std::vector<TSpan> rows_, columns_;
  std::vector<float> rowWeights_, columnWeights_;
  std::vector<float> sums_;  // one accumulated row, 4 floats a pixel
};

struct TMatteSettings {
  // A model's edges are off by a pixel or two of its own: windows of 9 x 9 model pixels
  // reach the picture's edge from there and snap the matte to it.
  unsigned int radius = 4;  // guided filter window radius, in model pixels
  float epsilon = 0.002f;   // regularisation: larger follows the guide's edges less
  // Over time: a fresh mask enters the smoothed one with the larger of newWeight and
  // motionGain x its change, so grain is averaged away while movement is followed at once.
  float newWeight = 0.6f;  // share of a fresh mask in the smoothed one (1: no smoothing)
  float motionGain = 2.0f;
};

// The model-sized half of the matte, on the segmentation thread.
class TLowResMatte {
 public:
  // planes: the model's input (TFrameShrinker's output); probability: the model's output,
  // width x height. The first update after Reset takes the mask as it is.
  bool Update(const float* planes, const float* probability, unsigned int width, unsigned int height,
              const TMatteSettings& settings);
  void Reset() { width_ = height_ = 0; }

  unsigned int Width() const { return width_; }
  unsigned int Height() const { return height_; }
  const float* A() const { return a_.data(); }  // matte = A x brightness + B
  const float* B() const { return b_.data(); }
  const float* Smoothed() const { return smoothed_.data(); }

 private:
  unsigned int width_ = 0, height_ = 0;
  std::vector<float> smoothed_, guide_, a_, b_, scratch_;
};

// A frame-wide form of a low-res matte. Built once per mask; read by any number of frames.
class TMatteTable {
 public:
  // Interpolates the coefficient planes (width x height) across to frameWidth columns;
  // the rows are interpolated per frame. False when memory cannot be had.
  bool Build(const float* a, const float* b, unsigned int width, unsigned int height, unsigned int frameWidth,
             unsigned int frameHeight);

  unsigned int FrameWidth() const { return frameWidth_; }
  unsigned int FrameHeight() const { return frameHeight_; }

 private:
  friend class TMatteWriter;
  unsigned int rows_ = 0, frameWidth_ = 0, frameHeight_ = 0;
  std::vector<float> a_, b_;  // rows_ x frameWidth_ each
};

// Writes a frame's alpha bytes from a matte table: the matte is A x brightness + B with
// the coefficients interpolated to the pixel, and alpha = opacity x clamp((matte - t) x
// kMatteGain + 1/2, 0, 1): the person kept, the rest 0, a ramp of a few pixels at edges.
// t is the threshold moved by kMatteHysteresis towards the pixel's side in the previous
// frame, so the grain of a still picture does not flip edge pixels from frame to frame.
// Colour bytes are never changed. Keeps which pixels were kept, per frame size.
class TMatteWriter {
 public:
  TMatteWriter();  // row kernels chosen as TFrameShrinker's

  // False, and nothing written, when the frame's size is not the table's or it is null.
  bool Apply(const TMatteTable& table, uint8_t* pixels, unsigned int width, unsigned int height, unsigned int stride,
             bool bottomUp, float threshold, uint8_t opacity);

  const char* KernelName() const;

 private:
  unsigned int features_;
  unsigned int width_ = 0, height_ = 0;
  std::vector<uint8_t> kept_;  // a bit a pixel, rows of (width + 7) / 8 bytes, top row first
};

constexpr float kMatteGain = 4.0f;
constexpr float kMatteHysteresis = 0.03f;
