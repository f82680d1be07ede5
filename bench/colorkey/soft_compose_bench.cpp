// Times the software compositor on keyed 1920x1080 and 3840x2160 frames of a green-screen
// scene: each row kernel version, over black and over a background; the AVX2 kernels on a
// frame whose every block is partly keyed (no block is a plain copy of camera or
// background: the slowest case); the colour key followed by the composite; and the
// composite in two bands on two threads (wall time, the threads started per frame as a
// caller without a pool would). Figures are in memcpys of the frame: each row times its
// composites in blocks that alternate with blocks of memcpys of frames of their own, and
// gives the median composite time over the median memcpy time of those runs, so a change
// of the machine's memory speed during the bench moves both. Every run works on the next
// of several sets of frames that together are four times the processor's last-level
// cache (taken as 32 MiB): each frame comes from memory, as a camera's does. Targets are
// 64-byte aligned, as the preview's output is.
//
//   soft_compose_bench [--iterations N]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <thread>
#include <time.h>
#include <vector>

#include "kernels/ColorKey.h"
#include "kernels/ColorKeyInternal.h"
#include "kernels/CpuFeatures.h"
#include "kernels/SoftCompose.h"

namespace {

// Thread CPU time: the machines this runs on are shared.
double ThreadMs()
{
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct TTimes {
  double ms, memcpyMs;
};

// Runs of the memcpy and of the composite alternate in blocks of four, and the first run
// of each block is not counted: each counted run follows one of its own kind, as in a
// steady stream of frames (a composite leaves its output's lines in the cache for the next
// run to write back; a memcpy writes around the cache). run(i) and copy(i) work on frame
// set i (mod the set count). Thread CPU time, or wall time when `wall`.
TTimes Measure(int iterations, const std::function<void(int)>& copy, const std::function<void(int)>& run,
               bool wall = false)
{
  auto now = [wall] {
    return wall ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count()
                : ThreadMs();
  };
  constexpr int kBlock = 4;
  std::vector<double> ms, memcpyMs;
  for (int i = 0; int(ms.size()) < iterations; i += kBlock) {
    for (int k = 0; k < kBlock; ++k) {
      const double t0 = ThreadMs();
      copy(i + k);
      if (k > 0) memcpyMs.push_back(ThreadMs() - t0);
    }
    for (int k = 0; k < kBlock; ++k) {
      const double t0 = now();
      run(i + k);
      if (k > 0) ms.push_back(now() - t0);
    }
  }
  std::sort(ms.begin(), ms.end());
  std::sort(memcpyMs.begin(), memcpyMs.end());
  return {ms[ms.size() / 2], memcpyMs[memcpyMs.size() / 2]};
}

// A noisy green backdrop with an opaque subject in the middle third.
std::vector<uint8_t> Scene(unsigned int width, unsigned int height)
{
  std::vector<uint8_t> f(size_t(width) * height * 4);
  std::mt19937 rng(3);
  for (unsigned int y = 0; y < height; ++y)
    for (unsigned int x = 0; x < width; ++x) {
      const bool subject = x > width / 3 && x < width * 2 / 3 && y > height / 4;
      const uint32_t n = rng();
      uint8_t* p = &f[(size_t(y) * width + x) * 4];
      p[0] = uint8_t((subject ? 120 : 50) + n % 16);
      p[1] = uint8_t((subject ? 140 : 180) + (n >> 8) % 16);
      p[2] = uint8_t((subject ? 200 : 40) + (n >> 16) % 16);
      p[3] = 255;
    }
  return f;
}

}  // namespace

int main(int argc, char** argv)
{
  int iterations = 15;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--iterations") == 0) iterations = std::max(1, std::atoi(argv[i + 1]));
  const unsigned int cpu = kernels::CpuFeatures();
  std::printf(
      "software composite: median of %d runs; memcpys = ms / ms of the memcpys of a frame timed in blocks "
      "alternating with them (frames from memory)\n",
      iterations);

  const unsigned int sizes[][2] = {{1920, 1080}, {3840, 2160}};
  const unsigned int levels[] = {0, kernels::kCpuSSE2, kernels::kCpuSSE2 | kernels::kCpuAVX2};
  for (const auto& size : sizes) {
    const unsigned int width = size[0], height = size[1], stride = width * 4;
    const size_t bytes = size_t(stride) * height;
    const std::vector<uint8_t> scene = Scene(width, height);
    std::vector<uint8_t> keyedFrame = scene, backgroundFrame(bytes);
    for (size_t i = 0; i < bytes; ++i) backgroundFrame[i] = uint8_t(i * 7 / 5);
    const TPictorD3D9PreviewChromaKeyingParams p;
    RemoveKeyColor(keyedFrame.data(), width, height, stride, p.Sensitivity, p.Smoothing, p.Opacity, p.ColorType,
                   p.CustomColor);
    // Every block partly keyed: alphas 64 .. 191, so no weight is 0 or 256.
    std::vector<uint8_t> partlyKeyedFrame = keyedFrame;
    for (size_t i = 3; i < bytes; i += 4) partlyKeyedFrame[i] = uint8_t(64 + (i / 4 * 37) % 128);
    const size_t sets = std::max<size_t>(2, (size_t(128) << 20) / (3 * bytes) + 1);
    std::vector<std::vector<uint8_t>> scenes(sets, scene), keyed(sets, keyedFrame), partlyKeyed(sets, partlyKeyedFrame),
        background(sets, backgroundFrame), target(sets, std::vector<uint8_t>(bytes + 64)), copySource(sets, scene),
        copy(sets, std::vector<uint8_t>(bytes));
    std::vector<TSoftPlane> backgroundPlane;
    for (const auto& b : background) backgroundPlane.push_back(TSoftPlane{b.data(), width, height, stride, true});
    // Frame set i: the keyed camera frame, the background (when `withBackground`), the target.
    auto frameOf = [&](int i, bool withBackground, std::vector<std::vector<uint8_t>>& camera) {
      const size_t k = size_t(i) % sets;
      const auto aligned =
          reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(target[k].data()) + 63) & ~uintptr_t(63));
      return TSoftComposeFrame{{camera[k].data(), width, height, stride, true},
                               withBackground ? &backgroundPlane[k] : nullptr,
                               {aligned, stride, false}};
    };
    auto copyFrame = [&](int i) { std::memcpy(copy[i % sets].data(), copySource[i % sets].data(), bytes); };

    std::printf("\n%ux%u BGRA (%.1f MB)\n", width, height, bytes / 1e6);
    std::printf("  %-40s %10s %10s %10s %10s\n", "composite", "ms/frame", "memcpy ms", "memcpys", "frames/s");
    auto row = [&](const char* name, TTimes t) {
      std::printf("  %-40s %10.3f %10.3f %10.2f %10.1f\n", name, t.ms, t.memcpyMs, t.ms / t.memcpyMs, 1000.0 / t.ms);
    };
    for (unsigned int level : levels) {
      if ((cpu & level) != level) continue;
      const kernels::TCpuFeatureMask mask(level);
      TSoftCompositor compositor;
      const char* kernel = compositor.KernelName();
      char name[64];
      std::snprintf(name, sizeof name, "%s, over black", kernel);
      row(name, Measure(iterations, copyFrame, [&](int i) { compositor.Compose(frameOf(i, false, keyed)); }));
      std::snprintf(name, sizeof name, "%s, over a background", kernel);
      row(name, Measure(iterations, copyFrame, [&](int i) { compositor.Compose(frameOf(i, true, keyed)); }));
      if (level & kernels::kCpuAVX2) {
        std::snprintf(name, sizeof name, "%s, background, every block partly keyed", kernel);
        row(name, Measure(iterations, copyFrame, [&](int i) { compositor.Compose(frameOf(i, true, partlyKeyed)); }));
      }
    }
    {
      TSoftCompositor compositor;
      compositor.Prepare(width, 2);
      row("2 bands on 2 threads, background",
          Measure(
              iterations, copyFrame,
              [&](int i) {
                const TSoftComposeFrame frame = frameOf(i, true, keyed);
                std::thread other([&] { compositor.ComposeRows(frame, height / 2, height, 1); });
                compositor.ComposeRows(frame, 0, height / 2, 0);
                other.join();
              },
              true));
    }
    // What a software preview frame costs on the converter's thread: key, then composite.
    TSoftCompositor compositor;
    row("colour key + composite (background)", Measure(iterations, copyFrame, [&](int i) {
          const TSoftComposeFrame frame = frameOf(i, true, scenes);
          RemoveKeyColor(scenes[i % sets].data(), width, height, stride, p.Sensitivity, p.Smoothing, p.Opacity,
                         p.ColorType, p.CustomColor);
          compositor.Compose(frame);
        }));
  }
  return 0;
}
