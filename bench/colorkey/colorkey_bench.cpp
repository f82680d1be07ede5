// Times the colour key on 1920x1080 BGRA frames of a green-screen scene and of random
// pixels: the scalar reference, each vector version, a memcpy of the frame, and FFmpeg's
// own colorkey and chromakey filters (single-threaded filter graphs) on the same frames.
// Prints milliseconds per frame (median of repeated runs) and ratios measured in this run.
//
//   colorkey_bench [--iterations N]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <time.h>
#include <vector>

#include "kernels/ColorKeyInternal.h"
#include "kernels/CpuFeatures.h"

#if defined(PICTOR_BENCH_WITH_FFMPEG)
extern "C" {
#  include <libavfilter/avfilter.h>
#  include <libavfilter/buffersink.h>
#  include <libavfilter/buffersrc.h>
#  include <libavutil/frame.h>
#  include <libavutil/imgutils.h>
#  include <libavutil/opt.h>
}
#endif

namespace {

constexpr unsigned int kWidth = 1920, kHeight = 1080, kStride = kWidth * 4;
constexpr size_t kFrameBytes = size_t(kStride) * kHeight;

// Thread CPU time rather than wall time: the machines this runs on are shared, and time
// spent descheduled would otherwise land in whichever figure happened to be running.
double ThreadMs()
{
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// A studio green backdrop with uneven lighting and sensor noise, a person-like shape in
// front (skin, hair, dark and light clothes) with green spill on its edges.
std::vector<uint8_t> GreenScreenScene()
{
  std::vector<uint8_t> f(kFrameBytes);
  std::mt19937 rng(1);
  std::normal_distribution<float> noise(0.0f, 6.0f);
  auto clamp = [](float v) { return static_cast<uint8_t>(std::min(255.0f, std::max(0.0f, v + 0.5f))); };
  for (unsigned int y = 0; y < kHeight; ++y) {
    for (unsigned int x = 0; x < kWidth; ++x) {
      const float dx = (x - 960.0f) / 960.0f, dy = (y - 540.0f) / 540.0f;
      const float light = 1.0f - 0.35f * (dx * dx + dy * dy);
      float r = 40 * light, g = 175 * light, b = 60 * light;
      // Head and body.
      const float hx = (x - 960.0f) / 130.0f, hy = (y - 300.0f) / 170.0f;
      const float bx = (x - 960.0f) / 360.0f, by = (y - 900.0f) / 420.0f;
      const float head = hx * hx + hy * hy, body = bx * bx + by * by;
      if (head < 1.0f) {
        r = 205;
        g = 160;
        b = 135;
        if (hy < -0.55f) {
          r = 60;
          g = 40;
          b = 30;
        }  // hair
      } else if (body < 1.0f) {
        const bool shirt = std::fabs(x - 960.0f) < 90.0f;
        r = shirt ? 225 : 35;
        g = shirt ? 225 : 38;
        b = shirt ? 230 : 70;
      }
      const float edge = std::min(std::fabs(head - 1.0f), std::fabs(body - 1.0f));
      if (edge < 0.06f) {
        r = (r + 60) / 2;
        g = (g + 170) / 2;
        b = (b + 70) / 2;
      }  // spill
      uint8_t* p = &f[size_t(y) * kStride + size_t(x) * 4];
      p[0] = clamp(b + noise(rng));
      p[1] = clamp(g + noise(rng));
      p[2] = clamp(r + noise(rng));
      p[3] = 255;
    }
  }
  return f;
}

std::vector<uint8_t> RandomPixels()
{
  std::vector<uint8_t> f(kFrameBytes);
  std::mt19937 rng(2);
  for (size_t i = 0; i < f.size(); i += 4) {
    const uint32_t v = rng();
    std::memcpy(&f[i], &v, 4);
  }
  return f;
}

// Median of `iterations` timings of `run`; `prepare` runs untimed before each.
double MedianMs(int iterations, const std::function<void()>& prepare, const std::function<void()>& run)
{
  std::vector<double> ms;
  for (int i = 0; i < iterations; ++i) {
    prepare();
    const double t0 = ThreadMs();
    run();
    ms.push_back(ThreadMs() - t0);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

#if defined(PICTOR_BENCH_WITH_FFMPEG)
// One single-threaded filter graph: buffer source -> `filters` -> buffer sink.
class FilterGraph {
 public:
  FilterGraph(AVPixelFormat format, const std::string& filters)
  {
    graph_ = avfilter_graph_alloc();
    graph_->nb_threads = 1;
    char args[256];
    std::snprintf(args, sizeof args, "video_size=%ux%u:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1", kWidth, kHeight,
                  static_cast<int>(format));
    AVFilterContext* src = nullptr;
    AVFilterContext* sink = nullptr;
    ok_ = avfilter_graph_create_filter(&src, avfilter_get_by_name("buffer"), "in", args, nullptr, graph_) >= 0 &&
          avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, graph_) >= 0;
    if (!ok_) return;
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = src;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    ok_ = avfilter_graph_parse_ptr(graph_, filters.c_str(), &inputs, &outputs, nullptr) >= 0 &&
          avfilter_graph_config(graph_, nullptr) >= 0;
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    src_ = src;
    sink_ = sink;
  }
  ~FilterGraph() { avfilter_graph_free(&graph_); }
  bool ok() const { return ok_; }

  // Hands `in` (ownership passes to the graph) through and returns the filtered frame.
  AVFrame* Run(AVFrame* in)
  {
    if (av_buffersrc_add_frame(src_, in) < 0) return nullptr;
    AVFrame* out = av_frame_alloc();
    if (av_buffersink_get_frame(sink_, out) < 0) av_frame_free(&out);
    return out;
  }

 private:
  AVFilterGraph* graph_ = nullptr;
  AVFilterContext* src_ = nullptr;
  AVFilterContext* sink_ = nullptr;
  bool ok_ = false;
};

AVFrame* FrameFromBgra(const std::vector<uint8_t>& bgra)
{
  AVFrame* f = av_frame_alloc();
  f->format = AV_PIX_FMT_BGRA;
  f->width = kWidth;
  f->height = kHeight;
  av_frame_get_buffer(f, 64);
  for (unsigned int y = 0; y < kHeight; ++y)
    std::memcpy(f->data[0] + size_t(y) * f->linesize[0], &bgra[size_t(y) * kStride], kStride);
  return f;
}

// Times one filter on fresh writable copies of `source` (the copy is not timed), so the
// filter works in place as it would in a live pipeline.
double TimeFilter(int iterations, const AVFrame* source, const std::string& filters)
{
  FilterGraph graph(static_cast<AVPixelFormat>(source->format), filters);
  if (!graph.ok()) return -1.0;
  AVFrame* in = nullptr;
  AVFrame* out = nullptr;
  bool failed = false;
  const double ms = MedianMs(
      iterations,
      [&] {
        av_frame_free(&out);
        in = av_frame_alloc();
        in->format = source->format;
        in->width = source->width;
        in->height = source->height;
        av_frame_get_buffer(in, 64);
        av_frame_copy(in, source);
      },
      [&] {
        out = graph.Run(in);
        if (out == nullptr) failed = true;
      });
  av_frame_free(&out);
  return failed ? -1.0 : ms;
}
#endif

struct Row {
  std::string name;
  double ms;
};

void Print(const char* scene, const std::vector<Row>& rows, double scalarMs, double memcpyMs)
{
  std::printf("\n%s, %ux%u BGRA (%.1f MB)\n", scene, kWidth, kHeight, kFrameBytes / 1e6);
  std::printf("  %-40s %10s %12s %12s\n", "version", "ms/frame", "vs scalar", "vs memcpy");
  for (const Row& r : rows) {
    if (r.ms < 0) {
      std::printf("  %-40s %10s\n", r.name.c_str(), "failed");
      continue;
    }
    std::printf("  %-40s %10.3f %11.2fx %11.2fx\n", r.name.c_str(), r.ms, scalarMs / r.ms, r.ms / memcpyMs);
  }
}

}  // namespace

int main(int argc, char** argv)
{
  int iterations = 31;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--iterations") == 0) iterations = std::max(1, std::atoi(argv[i + 1]));

  using namespace colorkey;
  using namespace kernels;
  const unsigned int cpu = CpuFeatures();
  std::printf(
      "colour key benchmark: median of %d runs per figure; processor levels:%s%s%s; "
      "library picks %s\n",
      iterations, (cpu & kCpuSSE2) ? " SSE2" : "", (cpu & kCpuAVX2) ? " AVX2" : "",
      (cpu & kCpuAVX512BW) ? " AVX512BW" : "", KeyRowName(SelectKeyRow(cpu)));
  std::printf(
      "ms = thread CPU time per frame; vs scalar = scalar ms / this ms (higher is faster); "
      "vs memcpy = this ms / memcpy ms\n");

  struct Scene {
    const char* name;
    std::vector<uint8_t> pixels;
  } scenes[] = {{"green-screen scene", GreenScreenScene()}, {"random pixels", RandomPixels()}};

  const TPictorD3D9PreviewChromaKeyingParams keying;
  std::vector<uint8_t> work(kFrameBytes), copy(kFrameBytes);
  for (Scene& scene : scenes) {
    std::vector<Row> rows;
    auto key = [&](TKeyRow* row) {
      return MedianMs(
          iterations, [&] { std::memcpy(work.data(), scene.pixels.data(), kFrameBytes); },
          [&] {
            RemoveKeyColorUsing(row, work.data(), kWidth, kHeight, kStride, keying.Sensitivity, keying.Smoothing,
                                keying.Opacity, keying.ColorType, keying.CustomColor);
          });
    };
    const double scalarMs = key(KeyRow_C);
    rows.push_back({"KeyRow_C (scalar reference)", scalarMs});
    if (cpu & kCpuSSE2) rows.push_back({"KeyRow_SSE2", key(SelectKeyRow(kCpuSSE2))});
    if (cpu & kCpuAVX2) rows.push_back({"KeyRow_AVX2", key(SelectKeyRow(cpu & (kCpuSSE2 | kCpuAVX2)))});
    if (cpu & kCpuAVX512BW) rows.push_back({"KeyRow_AVX512", key(SelectKeyRow(cpu))});

    // How much of the frame the key removed, to show the scene is what it claims.
    size_t keyed = 0;
    for (size_t i = 3; i < kFrameBytes; i += 4) keyed += work[i] == 0;

    const double memcpyMs = MedianMs(
        iterations, [] {}, [&] { std::memcpy(copy.data(), scene.pixels.data(), kFrameBytes); });
    rows.push_back({"memcpy of the frame", memcpyMs});

#if defined(PICTOR_BENCH_WITH_FFMPEG)
    AVFrame* bgra = FrameFromBgra(scene.pixels);
    rows.push_back({"FFmpeg colorkey (bgra, 1 thread)",
                    TimeFilter(iterations, bgra, "colorkey=color=0x00FF00:similarity=0.3:blend=0")});
    // chromakey takes only YUV with alpha: convert once, untimed, and key the result.
    FilterGraph toYuva(AV_PIX_FMT_BGRA, "format=yuva444p");
    AVFrame* in = av_frame_clone(bgra);
    AVFrame* yuva = toYuva.ok() ? toYuva.Run(in) : nullptr;
    if (!toYuva.ok()) av_frame_free(&in);
    rows.push_back({"FFmpeg chromakey (yuva444p, 1 thread)",
                    yuva ? TimeFilter(iterations, yuva, "chromakey=color=0x00FF00:similarity=0.1:blend=0") : -1.0});
    av_frame_free(&yuva);
    av_frame_free(&bgra);
#else
    rows.push_back({"FFmpeg filters (not built in)", -1.0});
#endif
    Print(scene.name, rows, scalarMs, memcpyMs);
    std::printf("  (%.1f%% of the pixels keyed with the default record)\n", 100.0 * keyed / (kWidth * kHeight));
  }
  return 0;
}
