// Processor feature detection: cpuid for the instruction sets, XCR0 for the register
// state the operating system saves.
#include "kernels/CpuFeatures.h"

#include <atomic>

#include "PictorConfig.h"

#if defined(PICTOR_CPUID_MSVC)
#  include <intrin.h>
#elif defined(PICTOR_CPUID_GNU)
#  include <cpuid.h>
#endif

namespace kernels {
namespace {

#if PICTOR_X86
void Cpuid(unsigned int leaf, unsigned int subleaf, unsigned int regs[4])
{
#  if defined(PICTOR_CPUID_MSVC)
  int r[4];
  __cpuidex(r, static_cast<int>(leaf), static_cast<int>(subleaf));
  for (int i = 0; i < 4; ++i) regs[i] = static_cast<unsigned int>(r[i]);
#  else
  regs[0] = regs[1] = regs[2] = regs[3] = 0;
  __cpuid_count(leaf, subleaf, regs[0], regs[1], regs[2], regs[3]);
#  endif
}

unsigned long long ReadXcr0()
{
#  if defined(PICTOR_CPUID_MSVC)
  return _xgetbv(0);
#  else
  unsigned int lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<unsigned long long>(hi) << 32) | lo;
#  endif
}

unsigned int DetectFeatures()
{
  unsigned int regs[4];
  Cpuid(0, 0, regs);
  const unsigned int maxLeaf = regs[0];
  if (maxLeaf < 1) return 0;
  Cpuid(1, 0, regs);
  unsigned int features = 0;
  if (regs[3] & (1u << 26)) features |= kCpuSSE2;
  const bool osxsave = (regs[2] & (1u << 27)) != 0;
  const bool avx = (regs[2] & (1u << 28)) != 0;
  if (maxLeaf >= 7 && osxsave && avx && (ReadXcr0() & 0x6) == 0x6) {
    Cpuid(7, 0, regs);
    if (regs[1] & (1u << 5)) features |= kCpuAVX2;
    // AVX-512F (bit 16) and BW (bit 30); XCR0 bits 5-7: mask and ZMM register state.
    const unsigned int f512 = (1u << 16) | (1u << 30);
    if ((features & kCpuAVX2) && (regs[1] & f512) == f512 && (ReadXcr0() & 0xE6) == 0xE6) features |= kCpuAVX512BW;
  }
  return features;
}
#else
unsigned int DetectFeatures()
{
  return 0;
}
#endif

// Plain atomics, not guarded statics: in a DLL that links its threading runtime
// statically, a guard made on a host thread keeps a thread handle and an event per library
// load. Two threads that both find the features unset detect the same answer.
constexpr unsigned int kDetected = 0x80000000u;
std::atomic<unsigned int> gDetected{0};
std::atomic<unsigned int> gMask{~0u};

}  // namespace

unsigned int CpuFeatures()
{
  unsigned int features = gDetected.load(std::memory_order_relaxed);
  if (!(features & kDetected)) {
    features = DetectFeatures() | kDetected;
    gDetected.store(features, std::memory_order_relaxed);
  }
  return features & ~kDetected & gMask.load(std::memory_order_relaxed);
}

unsigned int MaskCpuFeatures(unsigned int mask)
{
  return gMask.exchange(mask, std::memory_order_relaxed);
}

}  // namespace kernels
