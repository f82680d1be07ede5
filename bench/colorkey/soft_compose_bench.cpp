// Times the software compositor on keyed 1920x1080 and 3840x2160 frames of a green-screen
// scene: each row kernel version, over black and over a background, and the colour key
// followed by the composite, in memcpys of the frame (time / time of a memcpy of the frame
// measured in the same run) and frames per second; and the composite in two bands on two
// threads (wall time, the threads started per frame as a caller without a pool would).
// Every run works on the next of several sets of frames that together are four times the
// processor's last-level cache (taken as 32 MiB), the copy as the composite: each frame
// comes from memory, as a camera's does, and neither figure is of cache-resident frames.
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

#include "preview/ColorKey.h"
#include "preview/ColorKeyInternal.h"
#include "preview/SoftCompose.h"

namespace {

// Thread CPU time: the machines this runs on are shared.
double ThreadMs()
{
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// run(i) works on set i (mod the set count).
double MedianMs(int iterations, const std::function<void(int)>& run)
{
  std::vector<double> ms;
  for (int i = 0; i < iterations; ++i) {
    const double t0 = ThreadMs();
    run(i);
    ms.push_back(ThreadMs() - t0);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
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
  const unsigned int cpu = colorkey::CpuFeatures();
  std::printf(
      "software composite: median of %d runs; memcpys = ms / ms of a memcpy of the frame (same run, frames from "
      "memory)\n",
      iterations);

  const unsigned int sizes[][2] = {{1920, 1080}, {3840, 2160}};
  const unsigned int levels[] = {0, colorkey::kCpuSSE2, colorkey::kCpuSSE2 | colorkey::kCpuAVX2};
  for (const auto& size : sizes) {
    const unsigned int width = size[0], height = size[1], stride = width * 4;
    const size_t bytes = size_t(stride) * height;
    const std::vector<uint8_t> scene = Scene(width, height);
    std::vector<uint8_t> keyedFrame = scene, backgroundFrame(bytes);
    for (size_t i = 0; i < bytes; ++i) backgroundFrame[i] = uint8_t(i * 7 / 5);
    const TPictorD3D9PreviewChromaKeyingParams p;
    RemoveKeyColor(keyedFrame.data(), width, height, stride, p.Sensitivity, p.Smoothing, p.Opacity, p.ColorType,
                   p.CustomColor);
    const size_t sets = std::max<size_t>(2, (size_t(128) << 20) / (3 * bytes) + 1);
    std::vector<std::vector<uint8_t>> scenes(sets, scene), keyed(sets, keyedFrame), background(sets, backgroundFrame),
        target(sets, std::vector<uint8_t>(bytes)), copy(sets, std::vector<uint8_t>(bytes));
    std::vector<TSoftPlane> backgroundPlane;
    for (const auto& b : background) backgroundPlane.push_back(TSoftPlane{b.data(), width, height, stride, true});
    // Frame set i: the keyed camera frame, the background (when `withBackground`), the target.
    auto frameOf = [&](int i, bool withBackground, std::vector<std::vector<uint8_t>>& camera) {
      const size_t k = size_t(i) % sets;
      return TSoftComposeFrame{{camera[k].data(), width, height, stride, true},
                               withBackground ? &backgroundPlane[k] : nullptr,
                               {target[k].data(), stride, false}};
    };

    const double memcpyMs =
        MedianMs(iterations, [&](int i) { std::memcpy(copy[i % sets].data(), scenes[i % sets].data(), bytes); });
    std::printf("\n%ux%u BGRA (%.1f MB): memcpy %.3f ms\n", width, height, bytes / 1e6, memcpyMs);
    std::printf("  %-36s %10s %10s %10s\n", "composite", "ms/frame", "memcpys", "frames/s");
    auto row = [&](const char* name, double ms) {
      std::printf("  %-36s %10.3f %10.2f %10.1f\n", name, ms, ms / memcpyMs, 1000.0 / ms);
    };
    for (unsigned int level : levels) {
      if ((cpu & level) != level) continue;
      TSoftCompositor compositor(level);
      char name[64];
      std::snprintf(name, sizeof name, "%s, over black", compositor.KernelName());
      row(name, MedianMs(iterations, [&](int i) { compositor.Compose(frameOf(i, false, keyed)); }));
      std::snprintf(name, sizeof name, "%s, over a background", compositor.KernelName());
      row(name, MedianMs(iterations, [&](int i) { compositor.Compose(frameOf(i, true, keyed)); }));
    }
    {
      TSoftCompositor compositor;
      compositor.Prepare(width, 2);
      std::vector<double> ms;
      for (int i = 0; i < iterations; ++i) {
        const TSoftComposeFrame frame = frameOf(i, true, keyed);
        const auto t0 = std::chrono::steady_clock::now();
        std::thread other([&] { compositor.ComposeRows(frame, height / 2, height, 1); });
        compositor.ComposeRows(frame, 0, height / 2, 0);
        other.join();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      }
      std::sort(ms.begin(), ms.end());
      row("2 bands on 2 threads, background", ms[ms.size() / 2]);
    }
    // What a software preview frame costs on the converter's thread: key, then composite.
    TSoftCompositor compositor;
    row("colour key + composite (background)", MedianMs(iterations, [&](int i) {
          const TSoftComposeFrame frame = frameOf(i, true, scenes);
          RemoveKeyColor(scenes[i % sets].data(), width, height, stride, p.Sensitivity, p.Smoothing, p.Opacity,
                         p.ColorType, p.CustomColor);
          compositor.Compose(frame);
        }));
  }
  return 0;
}
