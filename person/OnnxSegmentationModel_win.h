// The person segmentation model run by ONNX Runtime, loaded by full path from the
// library's own directory (never by name: Windows ships an older onnxruntime.dll of its
// own in System32), through the runtime's C API.
#pragma once

#include "person/SegmentationModel.h"

#include <windows.h>

#include <string>

// The runtime's own types, from its C API header (person/OnnxRuntimeApi.h).
struct OrtApi;
struct OrtEnv;
struct OrtSession;
struct OrtMemoryInfo;
struct OrtStatus;

// Which model suits frames of this shape: the landscape one (144 x 256) for frames at
// least 3:2 wide, the square one (256 x 256) for the others.
struct TPersonModelChoice {
  const wchar_t* file;
  unsigned int width, height;
};
TPersonModelChoice ChoosePersonModel(unsigned int frameWidth, unsigned int frameHeight);

// The directory of the module this code is in (Pictor.dll), with a trailing backslash;
// empty when it cannot be had.
std::wstring LibraryDirectory();

class TOnnxSegmentationModel : public TSegmentationModel {
 public:
  // directory ends with a backslash; onnxruntime.dll and the model file are looked for there.
  TOnnxSegmentationModel(std::wstring directory, const TPersonModelChoice& model);
  ~TOnnxSegmentationModel() override;
  TOnnxSegmentationModel(const TOnnxSegmentationModel&) = delete;
  TOnnxSegmentationModel& operator=(const TOnnxSegmentationModel&) = delete;

  unsigned int InputWidth() const override { return width; }
  unsigned int InputHeight() const override { return height; }
  TPersonStatus Load() override;
  bool Run(const float* planes, float* mask) override;

 private:
  TPersonStatus LoadRuntime();
  TPersonStatus LoadSession();
  bool Succeeded(OrtStatus* status, const char* what);

  std::wstring directory, modelFile;
  unsigned int width, height;
  HMODULE hRuntime = nullptr;
  const OrtApi* api = nullptr;
  OrtEnv* env = nullptr;
  OrtSession* session = nullptr;
  OrtMemoryInfo* memory = nullptr;
  unsigned int failedRuns = 0;  // a run of failures is logged once
};
