// The instruction-set levels this processor offers, detected once for every kernel's
// dispatcher, and the mask with which tests and benchmarks force a lower level.
#pragma once

namespace kernels {

// Processor levels the dispatchers know, as bits of a feature set.
enum : unsigned int {
  kCpuSSE2 = 1u << 0,
  kCpuAVX2 = 1u << 1,      // AVX2 and an operating system that saves YMM registers
  kCpuAVX512BW = 1u << 2,  // AVX-512F and BW, and an OS that saves ZMM and mask registers
};

// What this processor offers (detected on the first call), within the mask.
unsigned int CpuFeatures();

// For tests and benchmarks: CpuFeatures reports only the levels in `mask` from now on
// (~0u: all detected), so that dispatchers and kernel objects made afterwards pick a lower
// level. Returns the previous mask. The library itself never sets it.
unsigned int MaskCpuFeatures(unsigned int mask);

// MaskCpuFeatures for a scope.
class TCpuFeatureMask {
 public:
  explicit TCpuFeatureMask(unsigned int mask) : previous_(MaskCpuFeatures(mask)) {}
  ~TCpuFeatureMask() { MaskCpuFeatures(previous_); }
  TCpuFeatureMask(const TCpuFeatureMask&) = delete;
  TCpuFeatureMask& operator=(const TCpuFeatureMask&) = delete;

 private:
  unsigned int previous_;
};

}  // namespace kernels
