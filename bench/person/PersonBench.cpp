// Person segmentation's costs under the conditions of a keyed preview: the per-frame
// kernels on the camera's thread (frame to model input, matte to alpha) at each processor
// level, the per-mask work on the segmentation thread (smoothing and guided filter
// coefficients, the frame-wide table), and the inference runtime: its load (runtime,
// session, first run, wall time) and the model's run. Milliseconds of thread time, each
// figure the median of 9 batches.
//
//   person-bench.exe          (onnxruntime.dll and the models beside it)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "bench/BenchClock.h"
#include "kernels/PersonMatte.h"
#include "person/OnnxSegmentationModel_win.h"
#include "kernels/CpuFeatures.h"

namespace {

double ThreadMs()
{
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto ms = [](FILETIME t) { return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4; };
  return ms(kernel) + ms(user);
}

// Median thread time of `runs` calls, in milliseconds.
double Median(int runs, const std::function<void()>& work)
{
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double start = ThreadMs();
    work();
    times.push_back(ThreadMs() - start);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The thread clock ticks in steps of 10 ms or more (15.6 on Windows): work is timed in batches.
double PerCall(int batch, const std::function<void()>& work)
{
  return Median(9,
                [&] {
                  for (int i = 0; i < batch; ++i) work();
                }) /
         batch;
}

}  // namespace

int main()
{
  using namespace kernels;
  std::mt19937 rng(5);
  const unsigned int cpu = CpuFeatures();
  const struct {
    const char* name;
    unsigned int features;
  } levels[] = {{"C", 0}, {"SSE2", cpu & kCpuSSE2}, {"AVX2", cpu & (kCpuSSE2 | kCpuAVX2)}};
  for (const auto& size : {std::pair<unsigned int, unsigned int>{1280, 720}, {1920, 1080}}) {
    const unsigned int w = size.first, h = size.second;
    const TPersonModelChoice model = ChoosePersonModel(w, h);
    std::vector<uint8_t> frame(size_t(4) * w * h);
    for (auto& b : frame) b = uint8_t(rng());
    std::vector<float> planes(3 * model.width * model.height), mask(model.width * model.height);
    for (auto& m : mask) m = float(rng() % 1000) / 1000.0f;
    TLowResMatte low;
    TMatteTable table;
    TFrameShrinker().Shrink(frame.data(), w, h, 4 * w, false, model.width, model.height, planes.data());
    const double update = PerCall(100, [&] { low.Update(planes.data(), mask.data(), model.width, model.height, {}); });
    const double build = PerCall(100, [&] { table.Build(low.A(), low.B(), model.width, model.height, w, h); });
    std::printf("%ux%u, model %ux%u: per mask, smoothing and guided filter %.3f ms, frame-wide table %.3f ms\n", w, h,
                model.width, model.height, update, build);
    for (const auto& level : levels) {
      if (level.features == 0 && level.name[0] != 'C') continue;
      const TCpuFeatureMask mask(level.features);
      TFrameShrinker shrinker;
      TMatteWriter writer;
      const double shrink = PerCall(
          100, [&] { shrinker.Shrink(frame.data(), w, h, 4 * w, false, model.width, model.height, planes.data()); });
      const double matte = PerCall(100, [&] { writer.Apply(table, frame.data(), w, h, 4 * w, false, 0.5f, 255); });
      std::printf("  %-5s per frame: to model input %.3f ms, matte to alpha %.3f ms\n", level.name, shrink, matte);
    }
  }

  for (const auto& size : {std::pair<unsigned int, unsigned int>{1280, 720}, {640, 480}}) {
    const TPersonModelChoice choice = ChoosePersonModel(size.first, size.second);
    TOnnxSegmentationModel model(LibraryDirectory(), choice);
    const double start = BenchSeconds();
    if (model.Load() != psReady) {
      std::printf("the inference runtime or model did not load (see the log)\n");
      return 1;
    }
    const double load = 1000.0 * (BenchSeconds() - start);
    std::vector<float> planes(3 * choice.width * choice.height), mask(choice.width * choice.height);
    for (auto& p : planes) p = float(rng() % 256) / 255.0f;
    const double run = PerCall(50, [&] { model.Run(planes.data(), mask.data()); });
    std::printf("model %ux%u (%S): load %.0f ms (runtime, session, first run), run %.2f ms\n", choice.width,
                choice.height, choice.file, load, run);
  }
  return 0;
}
