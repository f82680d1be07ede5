// Refinements of the colour key for real screens, applied on the CPU as the frame is keyed
// so that every renderer gets the same keyed frame:
// - edge choke: the matte (the alpha bytes the key wrote) shrinks by 0-3 pixels, a minimum
//   over a (2N+1) x (2N+1) window with the frame's edge pixels repeated, so the outline's
//   mixed pixels are keyed away before the renderer softens the matte;
// - spill suppression: on every pixel still kept, the key colour's excess over the mean of
//   the other two channels is taken away in proportion to the strength (0 off, 1 all).
#pragma once

#include <cstdint>
#include <vector>

#include "PictorPreviewRecords.h"

// Owns the scratch rows the choke needs, kept across frames: after the first frame of a
// given width nothing is allocated.
class TKeyRefiner {
 public:
  // Row kernels of the processor's level at construction (kernels/CpuFeatures.h).
  TKeyRefiner();

  // RemoveKeyColor with the keying record, each row refined right after it is keyed, while
  // it is still in the cache. A spill strength of 0 (or not a number) and a choke of 0 give
  // exactly RemoveKeyColor's frame; a strength above 1 counts as 1, a choke above 3 as 3.
  // False when the choke's scratch cannot be had: the frame is then keyed and
  // spill-suppressed without the choke.
  bool KeyAndRefine(unsigned char* pixels, unsigned int width, unsigned int height, unsigned int stride,
                    const TPictorD3D9PreviewChromaKeyingParams& keying, float spill, unsigned int choke);

  // The edge choke alone, on a matte already in the alpha bytes (a person matte); the same
  // choke as KeyAndRefine's. False when its scratch cannot be had: nothing is changed.
  bool ChokeMatte(unsigned char* pixels, unsigned int width, unsigned int height, unsigned int stride,
                  unsigned int choke);

  // "C", "SSE2" or "AVX2": the row kernels in use.
  const char* KernelName() const;

 private:
  unsigned int features_;
  std::vector<uint8_t> scratch_;  // 2 x choke + 1 eroded alpha rows, then one padded alpha row
};
