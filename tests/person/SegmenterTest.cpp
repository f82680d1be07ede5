// The segmentation thread at the camera's rate, with a model that blocks until the test
// lets it go (a slow machine taken to its end); the inference runtime's refusals, each with
// its status and a log line that names what is missing; and the real model on the
// photograph against the independent reference (tools/personmodel/reference_mask.py),
// still and with grain.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "person/OnnxSegmentationModel_win.h"
#include "person/PersonSegmenter_win.h"
#include "tests/person/PersonTestSupport.h"

using namespace persontest;

namespace {

// Each run waits for the test's go-ahead and gives a mask of the first red value it saw.
class TGatedModel : public TSegmentationModel {
 public:
  HANDLE running = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE proceed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> runs{0};
  std::vector<float> seen;  // red of the first pixel of every run, read after the thread is done
  ~TGatedModel() override
  {
    CloseHandle(running);
    CloseHandle(proceed);
  }
  unsigned int InputWidth() const override { return 16; }
  unsigned int InputHeight() const override { return 9; }
  TPersonStatus Load() override { return psReady; }
  bool Run(const float* planes, float* mask) override
  {
    seen.push_back(planes[0]);
    SetEvent(running);
    if (WaitForSingleObject(proceed, 10000) != WAIT_OBJECT_0) return false;
    std::fill(mask, mask + 16 * 9, 1.0f);
    ++runs;
    return true;
  }
};

std::vector<uint8_t> SolidFrame(unsigned int w, unsigned int h, uint8_t red)
{
  std::vector<uint8_t> frame(4 * w * h, 0);
  for (size_t i = 0; i < frame.size(); i += 4) frame[i + 2] = red;
  return frame;
}

}  // namespace

TEST(PersonSegmenter, CameraFramesNeverWaitForTheModelWhichTakesTheNewest)
{
  auto owned = std::make_unique<TGatedModel>();
  TGatedModel* model = owned.get();
  TPersonSegmenter segmenter(std::move(owned));
  ASSERT_TRUE(segmenter.Start());
  ASSERT_EQ(segmenter.WaitForLoad(5000), psReady);

  const unsigned int w = 64, h = 36;
  std::vector<uint8_t> frame = SolidFrame(w, h, 10);
  ASSERT_TRUE(segmenter.SubmitFrame(frame.data(), w, h, 4 * w, false));
  ASSERT_EQ(WaitForSingleObject(model->running, 5000), WAIT_OBJECT_0);
  // The model is held in its first run: nine more frames are handed over and keyed (no
  // mask yet: alpha untouched) without waiting for it.
  for (int k = 2; k <= 10; ++k) {
    frame = SolidFrame(w, h, static_cast<uint8_t>(10 * k));
    ASSERT_TRUE(segmenter.SubmitFrame(frame.data(), w, h, 4 * w, false));
    EXPECT_FALSE(segmenter.ApplyMatte(frame.data(), w, h, 4 * w, false, 0.5f, 255));
    EXPECT_EQ(frame[3], 0);
  }
  EXPECT_EQ(model->runs, 0);
  SetEvent(model->proceed);
  ASSERT_EQ(WaitForSingleObject(model->running, 5000), WAIT_OBJECT_0);  // the second run
  SetEvent(model->proceed);
  ASSERT_TRUE(WaitFor([&] { return segmenter.Counts().segmented == 2; }));
  EXPECT_EQ(segmenter.Counts().submitted, 10u);
  EXPECT_EQ(segmenter.Counts().lastFrame, 10u) << "the second run took an old frame";
  ASSERT_TRUE(segmenter.ApplyMatte(frame.data(), w, h, 4 * w, false, 0.5f, 200));
  EXPECT_EQ(frame[3], 200);
  EXPECT_FALSE(segmenter.ApplyMatte(frame.data(), w - 2, h, 4 * w, false, 0.5f, 255)) << "a mask of another size";
}

TEST(PersonSegmenter, MissingRuntimeOrModelIsReportedAndNamed)
{
  pictortest::LogCapture::Get().Clear();
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring empty = std::wstring(temp) + L"pictor-person-empty\\";
  CreateDirectoryW(empty.c_str(), nullptr);
  const TPersonModelChoice landscape = ChoosePersonModel(1280, 720);
  TOnnxSegmentationModel noRuntime(empty, landscape);
  EXPECT_EQ(noRuntime.Load(), psRuntimeMissing);
  EXPECT_TRUE(Logged("pictor-person-empty\\onnxruntime.dll is missing"));

  // Not a DLL at all.
  const std::wstring bogus = empty + L"onnxruntime.dll";
  HANDLE file = CreateFileW(bogus.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, "not a DLL", 9, &written, nullptr);
  CloseHandle(file);
  TOnnxSegmentationModel notRuntime(empty, landscape);
  EXPECT_EQ(notRuntime.Load(), psRuntimeUnusable);
  EXPECT_TRUE(Logged("is not a DLL for this architecture"));
  DeleteFileW(bogus.c_str());
  RemoveDirectoryW(empty.c_str());

  // The real runtime and a model file that is not there.
  TOnnxSegmentationModel noModel(LibraryDirectory(), TPersonModelChoice{L"no-such-model.onnx", 256, 144});
  EXPECT_EQ(noModel.Load(), psModelMissing);
  EXPECT_TRUE(Logged("the person segmentation model"));
  EXPECT_TRUE(Logged("no-such-model.onnx is missing"));
}

// Run with the Visual C++ runtime switched off (Wine has its own, which no Windows has
// before the redistributable is installed): the refusal names the DLLs a host must bring.
TEST(PersonSegmenter, WithoutVisualCppRuntimeTheRefusalNamesItsDlls)
{
  if (HMODULE cpp = LoadLibraryW(L"MSVCP140.dll")) {
    FreeLibrary(cpp);
    GTEST_SKIP() << "the Visual C++ runtime is here (person_no_cpp_runtime_wine switches it off)";
  }
  pictortest::LogCapture::Get().Clear();
  TOnnxSegmentationModel model(LibraryDirectory(), ChoosePersonModel(1280, 720));
  EXPECT_EQ(model.Load(), psRuntimeDependencyMissing);
  EXPECT_TRUE(Logged("is missing (MSVCP140.dll, MSVCP140_1.dll): install the Microsoft Visual C++ Redistributable"));
}

// A C++ runtime older than the one the runtime was built with, beside it: refused before
// the runtime is loaded (the library's own DLL stands in for it: its version is 0.x).
TEST(PersonSegmenter, OlderVisualCppRuntimeIsRefusedBeforeTheRuntimeLoads)
{
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring directory = std::wstring(temp) + L"pictor-person-old-cpp\\";
  CreateDirectoryW(directory.c_str(), nullptr);
  const std::wstring runtime = directory + L"onnxruntime.dll", cpp = directory + L"MSVCP140.dll";
  ASSERT_TRUE(CopyFileW((LibraryDirectory() + L"Pictor.dll").c_str(), runtime.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(runtime.c_str(), cpp.c_str(), FALSE));
  DWORD unused = 0;
  const bool versionReadable = GetFileVersionInfoSizeW(cpp.c_str(), &unused) != 0;
  if (versionReadable) {
    pictortest::LogCapture::Get().Clear();
    TOnnxSegmentationModel model(directory, ChoosePersonModel(1280, 720));
    EXPECT_EQ(model.Load(), psRuntimeDependencyMissing);
    EXPECT_TRUE(Logged("MSVCP140.dll is version 0.1.0, older than the 14.40 the inference runtime needs"));
  }
  DeleteFileW(cpp.c_str());
  DeleteFileW(runtime.c_str());
  RemoveDirectoryW(directory.c_str());
  // Wine reads its own msvcp140's version (none) for any file of that name, unless the
  // native one is preferred (person_old_cpp_runtime_wine).
  if (!versionReadable) GTEST_SKIP() << "this system reads no version from a file named MSVCP140.dll";
}

// The runtime and the converted model against the TensorFlow Lite model itself, which the
// reference interpreter runs without converter or runtime: the kept region must match it.
// Then the still photograph with a fresh grain each frame (a sensor's, up to +-8 levels):
// the kept region must hold still.
TEST(PersonSegmenter, PhotographIsKeptAsTheModelItselfSegmentsItAndHoldsStillUnderGrain)
{
  const unsigned int w = 1280, h = 720;
  const std::vector<uint8_t> photo = Photograph(w, h), reference = ReferenceMask(w, h);
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  TPersonSegmenter segmenter(std::make_unique<TOnnxSegmentationModel>(LibraryDirectory(), ChoosePersonModel(w, h)));
  ASSERT_TRUE(segmenter.Start());
  ASSERT_EQ(segmenter.WaitForLoad(20000), psReady);
  std::vector<uint8_t> frame = photo;
  ASSERT_TRUE(segmenter.SubmitFrame(frame.data(), w, h, 4 * w, false));
  ASSERT_TRUE(WaitFor([&] { return segmenter.Counts().segmented == 1; }));
  QueryPerformanceCounter(&end);
  ASSERT_TRUE(segmenter.ApplyMatte(frame.data(), w, h, 4 * w, false, 0.5f, 255));
  size_t both = 0, either = 0;
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    const bool kept = frame[4 * i + 3] >= 128, expected = reference[i] != 0;
    both += kept && expected;
    either += kept || expected;
  }
  const double iou = double(both) / double(either);

  std::printf("start to first mask %.0f ms, model run %.2f ms, IoU with the reference %.4f (%zu pixels kept)\n",
              1000.0 * double(end.QuadPart - begin.QuadPart) / double(frequency.QuadPart), segmenter.Counts().lastRunMs,
              iou, both);
  EXPECT_GE(iou, 0.95);

  std::vector<uint8_t> previous;
  uint64_t flips = 0;
  uint32_t noise = 1;
  double runs = 0;
  for (uint64_t k = 2; k <= 101; ++k) {
    frame = photo;
    for (size_t i = 0; i < frame.size(); ++i) {
      noise = noise * 1664525u + 1013904223u;
      if ((i & 3) != 3) frame[i] = uint8_t(std::min(255, std::max(0, int(frame[i]) + int(noise >> 24) % 17 - 8)));
    }
    ASSERT_TRUE(segmenter.SubmitFrame(frame.data(), w, h, 4 * w, false));
    ASSERT_TRUE(WaitFor([&] { return segmenter.Counts().lastFrame == k; }));  // a machine that keeps up
    runs += segmenter.Counts().lastRunMs;
    ASSERT_TRUE(segmenter.ApplyMatte(frame.data(), w, h, 4 * w, false, 0.5f, 255));
    for (size_t i = 0; !previous.empty() && i < size_t(w) * h; ++i)
      flips += (frame[4 * i + 3] >= 128) != (previous[4 * i + 3] >= 128);
    previous = frame;
  }
  const double perFrame = double(flips) / 99.0 / (double(w) * h);
  std::printf("grain: %.4f%% of the pixels flip per frame, model run %.2f ms on average\n", 100.0 * perFrame,
              runs / 100.0);
  EXPECT_LE(perFrame, 0.001);
}
