// Keying quality on a realistic green screen (the virtual camera's screen=3CAA50 uneven=20
// spill=40 soft-edge=1 at 1280x720), keyed with the colour sampled from the frame and
// composed over magenta by the software compositor: screen pixels not replaced, inner
// subject pixels changed, and the green fringe inside the outline, with the options off,
// with spill suppression 1 and choke 1, with the other spill methods considered, and with
// FFmpeg's chromakey followed by despill on the same frame; then what the options cost, in
// memcpys of the frame. Writes the frame and each composite as PNG when given a folder.
//
//   keying_quality_bench [--iterations N] [--png FOLDER]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <time.h>
#include <vector>

#include "kernels/ColorKey.h"
#include "kernels/ColorKeyInternal.h"
#include "kernels/CpuFeatures.h"
#include "kernels/KeyRefine.h"
#include "kernels/KeySample.h"
#include "kernels/SoftCompose.h"
#include "tools/virtualcam/FramePattern.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#if defined(PICTOR_BENCH_WITH_FFMPEG)
extern "C" {
#  include <libavfilter/avfilter.h>
#  include <libavfilter/buffersink.h>
#  include <libavfilter/buffersrc.h>
#  include <libavutil/frame.h>
#  include <libavutil/opt.h>
}
#endif

namespace {

constexpr unsigned int kW = 1280, kH = 720, kStride = kW * 4;
constexpr size_t kBytes = size_t(kStride) * kH;
constexpr int kSpillWidth = 6;
const char* const kCamera = "camera link=a pattern=greenscreen screen=3CAA50 uneven=20 spill=40 soft-edge=1";

double ThreadMs()
{
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

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

// Distance of a pixel from the subject's centre in frame 0.
double Distance(unsigned int x, unsigned int y)
{
  const double dx = double(x) - virtualcam::SubjectCentreX(kW, kH, 0), dy = double(y) - kH / 2.0;
  return std::sqrt(dx * dx + dy * dy);
}

struct Quality {
  double screenMissed, innerChanged, fringe;
};

// camera: the frame as the camera gave it; out: the composite over magenta.
Quality Measure(const std::vector<uint8_t>& camera, const std::vector<uint8_t>& out)
{
  const double radius = kH / 6;
  size_t screen = 0, missed = 0, inner = 0, changed = 0, band = 0;
  double fringe = 0;
  for (unsigned int y = 0; y < kH; ++y)
    for (unsigned int x = 0; x < kW; ++x) {
      const uint8_t* o = &out[size_t(y) * kStride + x * 4];
      const uint8_t* c = &camera[size_t(y) * kStride + x * 4];
      const double d = Distance(x, y);
      if (d > radius + 2) {
        ++screen;
        missed += std::abs(o[0] - 255) > 16 || o[1] > 16 || std::abs(o[2] - 255) > 16;
      } else if (d < radius - kSpillWidth - 4) {
        ++inner;
        changed += std::abs(o[0] - c[0]) > 16 || std::abs(o[1] - c[1]) > 16 || std::abs(o[2] - c[2]) > 16;
      }
      if (d >= radius - kSpillWidth && d <= radius) {
        ++band;
        fringe += std::max(0.0, o[1] - (o[2] + o[0]) / 2.0);
      }
    }
  return {100.0 * missed / screen, 100.0 * changed / inner, fringe / band};
}

std::vector<uint8_t> Compose(const std::vector<uint8_t>& keyed, const std::vector<uint8_t>& magenta)
{
  std::vector<uint8_t> out(kBytes);
  TSoftPlane background{magenta.data(), kW, kH, kStride, false};
  TSoftComposeFrame frame{{keyed.data(), kW, kH, kStride, false}, &background, {out.data(), kStride, false}};
  TSoftCompositor().Compose(frame);
  return out;
}

void WritePng(const char* folder, const char* name, const std::vector<uint8_t>& bgra)
{
  if (folder == nullptr) return;
  std::vector<uint8_t> rgb(size_t(kW) * kH * 3);
  for (size_t i = 0; i < size_t(kW) * kH; ++i)
    rgb[i * 3] = bgra[i * 4 + 2], rgb[i * 3 + 1] = bgra[i * 4 + 1], rgb[i * 3 + 2] = bgra[i * 4];
  const std::string path = std::string(folder) + "/" + name;
  if (!stbi_write_png(path.c_str(), kW, kH, 3, rgb.data(), kW * 3))
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
}

void Print(const char* name, const Quality& q)
{
  std::printf("  %-52s %8.2f%% %8.2f%% %8.2f\n", name, q.screenMissed, q.innerChanged, q.fringe);
}

#if defined(PICTOR_BENCH_WITH_FFMPEG)
// chromakey needs YUV with alpha and despill RGB: the frame goes through both in one
// single-threaded graph, and is then composed over magenta with its alpha.
bool FfmpegKey(const std::vector<uint8_t>& camera, unsigned int colour, double similarity, double blend,
               std::vector<uint8_t>* out)
{
  AVFilterGraph* graph = avfilter_graph_alloc();
  graph->nb_threads = 1;
  char args[160], filters[200];
  std::snprintf(args, sizeof args, "video_size=%ux%u:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1", kW, kH,
                int(AV_PIX_FMT_BGRA));
  std::snprintf(filters, sizeof filters,
                "format=yuva444p,chromakey=color=0x%06X:similarity=%.3f:blend=%.3f,format=bgra,despill=type=green",
                colour, similarity, blend);
  AVFilterContext *src = nullptr, *sink = nullptr;
  bool ok =
      avfilter_graph_create_filter(&src, avfilter_get_by_name("buffer"), "in", args, nullptr, graph) >= 0 &&
      avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, graph) >= 0;
  if (ok) {
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = src;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    ok = avfilter_graph_parse_ptr(graph, filters, &inputs, &outputs, nullptr) >= 0 &&
         avfilter_graph_config(graph, nullptr) >= 0;
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
  }
  AVFrame* in = av_frame_alloc();
  AVFrame* result = av_frame_alloc();
  if (ok) {
    in->format = AV_PIX_FMT_BGRA;
    in->width = kW;
    in->height = kH;
    ok = av_frame_get_buffer(in, 64) >= 0;
  }
  if (ok) {
    for (unsigned int y = 0; y < kH; ++y)
      std::memcpy(in->data[0] + size_t(y) * in->linesize[0], &camera[y * kStride], kStride);
    ok = av_buffersrc_add_frame(src, in) >= 0 && av_buffersink_get_frame(sink, result) >= 0 &&
         result->format == AV_PIX_FMT_BGRA;
  }
  if (ok) {
    out->resize(kBytes);
    for (unsigned int y = 0; y < kH; ++y)
      for (unsigned int x = 0; x < kW; ++x) {
        const uint8_t* p = result->data[0] + size_t(y) * result->linesize[0] + x * 4;
        uint8_t* o = &(*out)[y * kStride + x * 4];
        const int a = p[3];
        o[0] = uint8_t((p[0] * a + 255 * (255 - a) + 127) / 255);
        o[1] = uint8_t((p[1] * a + 127) / 255);
        o[2] = uint8_t((p[2] * a + 255 * (255 - a) + 127) / 255);
        o[3] = 255;
      }
  }
  av_frame_free(&in);
  av_frame_free(&result);
  avfilter_graph_free(&graph);
  return ok;
}
#endif

}  // namespace

int main(int argc, char** argv)
{
  int iterations = 31;
  const char* png = nullptr;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--iterations") == 0) iterations = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--png") == 0) png = argv[i + 1];
  }
  const virtualcam::ParseResult config = virtualcam::ParseConfig(kCamera);
  std::vector<uint8_t> rgb, camera(kBytes), magenta(kBytes);
  virtualcam::RenderRgb(config.cameras.at(0).pattern, kW, kH, 0, &rgb);
  virtualcam::EncodeFrame(virtualcam::Subtype::RGB32, kW, kH, false, rgb.data(), camera.data());
  for (size_t i = 0; i < kBytes; i += 4)
    magenta[i] = 255, magenta[i + 1] = 0, magenta[i + 2] = 255, magenta[i + 3] = 255;
  WritePng(png, "camera.png", camera);

  TScreenSampler sampler;
  sampler.Take(camera.data(), kW, kH, kStride);
  unsigned int colour = 0;
  if (!sampler.Sample(&colour)) {
    std::printf("no screen found\n");
    return 1;
  }
  std::printf("keying quality: %s at %ux%u over magenta; sampled key colour %06X, key rbcCustom\n", kCamera + 14, kW,
              kH, colour);
  std::printf("  %-52s %9s %9s %8s\n", "", "screen", "inner", "fringe");
  const TPictorD3D9PreviewChromaKeyingParams keying(TPictorD3D9PreviewChromaKeyingParams::kDefaultSensitivity,
                                                    TPictorD3D9PreviewChromaKeyingParams::kDefaultSmoothing, 255,
                                                    rbcCustom, colour);
  TKeyRefiner refiner;
  auto keyed = [&](float spill, unsigned int choke) {
    std::vector<uint8_t> f = camera;
    refiner.KeyAndRefine(f.data(), kW, kH, kStride, keying, spill, choke);
    return f;
  };
  const std::vector<uint8_t> off = Compose(keyed(0, 0), magenta), on = Compose(keyed(1, 1), magenta);
  const Quality qOff = Measure(camera, off), qOn = Measure(camera, on);
  Print("options off", qOff);
  Print("spill suppression 1 + choke 1 (green to mean of R, B)", qOn);
  WritePng(png, "keyed-off.png", off);
  WritePng(png, "keyed-spill1-choke1.png", on);

  // The spill methods considered, each after a choke of 1: green limited to the larger of
  // red and blue, and the spill (green over the mean) taken out of all three channels
  // alike, which desaturates towards grey and keeps luma.
  for (int method = 0; method < 2; ++method) {
    std::vector<uint8_t> f = keyed(0, 1);
    for (size_t i = 0; i < kBytes; i += 4) {
      if (f[i + 3] == 0) continue;
      const int b = f[i], g = f[i + 1], r = f[i + 2];
      if (method == 0) {
        f[i + 1] = uint8_t(std::min(g, std::max(r, b)));
      } else {
        const int excess = std::max(0, g - (r + b + 1) / 2);
        const int lift = excess * 587 / 1000;
        f[i] = uint8_t(std::min(255, b + lift)), f[i + 1] = uint8_t(g - excess + lift),
        f[i + 2] = uint8_t(std::min(255, r + lift));
      }
    }
    Print(method == 0 ? "  choke 1 + green limited to max(R, B)" : "  choke 1 + spill desaturated, luma kept",
          Measure(camera, Compose(f, magenta)));
  }
#if defined(PICTOR_BENCH_WITH_FFMPEG)
  std::vector<uint8_t> ff;
  const double similarity[] = {0.08, 0.12, 0.16};
  for (double s : similarity) {
    char name[80];
    std::snprintf(name, sizeof name, "FFmpeg chromakey similarity %.2f blend 0.02 + despill", s);
    if (FfmpegKey(camera, colour, s, 0.02, &ff)) {
      Print(name, Measure(camera, ff));
      if (s == 0.12) WritePng(png, "ffmpeg-chromakey-despill.png", ff);
    } else {
      std::printf("  %-52s failed\n", name);
    }
  }
#else
  std::printf("  FFmpeg filters not built in\n");
#endif
  std::printf(
      "  (screen: %% of screen pixels not replaced, >16 levels off magenta; inner: %% of inner subject\n"
      "   pixels changed >16 levels; fringe: mean max(0, G - (R + B) / 2) over the %d pixels inside the outline)\n",
      kSpillWidth);

  std::vector<uint8_t> work(kBytes), copy(kBytes);
  auto reset = [&] { std::memcpy(work.data(), camera.data(), kBytes); };
  const double memcpyMs = MedianMs(
      iterations, [] {}, [&] { std::memcpy(copy.data(), camera.data(), kBytes); });
  const double keyMs = MedianMs(iterations, reset, [&] {
    RemoveKeyColor(work.data(), kW, kH, kStride, keying.Sensitivity, keying.Smoothing, 255, rbcCustom, colour);
  });
  const double refineMs =
      MedianMs(iterations, reset, [&] { refiner.KeyAndRefine(work.data(), kW, kH, kStride, keying, 1, 1); });
  const double choke3Ms =
      MedianMs(iterations, reset, [&] { refiner.KeyAndRefine(work.data(), kW, kH, kStride, keying, 1, 3); });
  const double takeMs = MedianMs(
      iterations, [] {}, [&] { sampler.Take(camera.data(), kW, kH, kStride); });
  std::printf("\ncost, median of %d runs (thread CPU ms; %s row kernels): memcpy of the frame %.3f ms\n", iterations,
              refiner.KernelName(), memcpyMs);
  std::printf("  key alone %.3f ms; key + spill 1 + choke 1 %.3f ms: options cost %.2f memcpys\n", keyMs, refineMs,
              (refineMs - keyMs) / memcpyMs);
  std::printf("  key + spill 1 + choke 3 %.3f ms: options cost %.2f memcpys\n", choke3Ms,
              (choke3Ms - keyMs) / memcpyMs);
  std::printf("  frame copy kept for SampleKeyColor %.3f ms (%.2f memcpys)\n", takeMs, takeMs / memcpyMs);
  // The lower kernel levels the processor offers, in the same run.
  for (const unsigned int level : {unsigned(kernels::kCpuSSE2), 0u}) {
    const kernels::TCpuFeatureMask mask(level);
    TKeyRefiner lower;
    if (std::string(lower.KernelName()) == refiner.KernelName()) continue;
    // Keyed by the same level's colour key, so that only the options' cost differs.
    const double lowerKeyMs =
        MedianMs(iterations, reset, [&] { lower.KeyAndRefine(work.data(), kW, kH, kStride, keying, 0, 0); });
    const double lowerMs =
        MedianMs(iterations, reset, [&] { lower.KeyAndRefine(work.data(), kW, kH, kStride, keying, 1, 1); });
    std::printf("  %s row kernels: key alone %.3f ms; key + spill 1 + choke 1 %.3f ms: options cost %.2f memcpys\n",
                lower.KernelName(), lowerKeyMs, lowerMs, (lowerMs - lowerKeyMs) / memcpyMs);
  }
  return 0;
}
