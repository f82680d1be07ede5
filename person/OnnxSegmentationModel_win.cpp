// ONNX Runtime's person segmentation model (OnnxSegmentationModel_win.h). The runtime's
// log lines come into the library's log; its session runs on the calling thread alone,
// without spinning threads of its own.
#include "person/OnnxSegmentationModel_win.h"

#include "log/Log.h"
#include "person/OnnxRuntimeApi.h"

#include <vector>

namespace {

const char* const kName = "TOnnxSegmentationModel";

// The Visual C++ runtime the official Windows build links (Visual Studio 2022, toolset
// 14.40): what a host on a plain Windows needs besides the runtime's own DLL.
const wchar_t* const kVisualCppRuntime[] = {L"MSVCP140.dll", L"MSVCP140_1.dll", L"VCRUNTIME140.dll",
                                            L"VCRUNTIME140_1.dll"};

void ORT_API_CALL RuntimeLog(void*, OrtLoggingLevel severity, const char* category, const char*, const char*,
                             const char* message)
{
  if (severity >= ORT_LOGGING_LEVEL_ERROR)
    LogError("%s runtime: %s: %s", kName, category, message);
  else
    LogVerbose("%s runtime: %s: %s", kName, category, message);
}

bool FileExists(const std::wstring& path)
{
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The Visual C++ runtime DLLs that neither the directory nor the system provides.
std::string MissingVisualCppRuntime(const std::wstring& directory)
{
  std::string missing;
  for (const wchar_t* name : kVisualCppRuntime) {
    if (FileExists(directory + name)) continue;
    // Loaded for real, as the runtime would load it: a data-file load finds Wine's stubs
    // of DLLs that are switched off.
    HMODULE module = LoadLibraryW(name);
    if (module) {
      FreeLibrary(module);
      continue;
    }
    char text[40];
    WideCharToMultiByte(CP_UTF8, 0, name, -1, text, sizeof text, nullptr, nullptr);
    missing += (missing.empty() ? "" : ", ") + std::string(text);
  }
  return missing;
}

// The file version of a module, 0 when it has none (Wine's own DLLs have none).
uint64_t FileVersion(const std::wstring& path)
{
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &unused);
  if (size == 0) return 0;
  std::vector<char> info(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data()) ||
      !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
    return 0;
  return (static_cast<uint64_t>(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS;
}

// The C++ runtime the inference runtime would bind to: the one the process has loaded,
// else the one beside it, else the system's. Empty when there is none.
std::wstring VisualCppRuntimeInUse(const std::wstring& directory)
{
  std::vector<wchar_t> path(MAX_PATH);
  HMODULE loaded = GetModuleHandleW(L"MSVCP140.dll");
  if (loaded && GetModuleFileNameW(loaded, path.data(), MAX_PATH)) return path.data();
  if (FileExists(directory + L"MSVCP140.dll")) return directory + L"MSVCP140.dll";
  if (SearchPathW(nullptr, L"MSVCP140.dll", nullptr, MAX_PATH, path.data(), nullptr)) return path.data();
  return std::wstring();
}

// The official build is made with the 14.40 toolset, whose std::mutex an older
// MSVCP140.dll does not know: the host process would crash at the runtime's first lock.
constexpr uint64_t kVisualCppRuntimeNeeded = 14ull << 48 | 40ull << 32;

}  // namespace

TPersonModelChoice ChoosePersonModel(unsigned int frameWidth, unsigned int frameHeight)
{
  if (2ull * frameWidth >= 3ull * frameHeight) return {L"selfie_segmentation_landscape.onnx", 256, 144};
  return {L"selfie_segmentation.onnx", 256, 256};
}

std::wstring LibraryDirectory()
{
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&LibraryDirectory), &module))
    return std::wstring();
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) break;
    path.resize(path.size() * 2);  // long paths
  }
  std::wstring directory(path.data());
  const size_t slash = directory.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : directory.substr(0, slash + 1);
}

TOnnxSegmentationModel::TOnnxSegmentationModel(std::wstring directory, const TPersonModelChoice& model)
    : directory(std::move(directory)), modelFile(model.file), width(model.width), height(model.height)
{
}

TOnnxSegmentationModel::~TOnnxSegmentationModel()
{
  if (api) {
    api->ReleaseMemoryInfo(memory);
    api->ReleaseSession(session);
    api->ReleaseEnv(env);
  }
  if (hRuntime) FreeLibrary(hRuntime);
}

bool TOnnxSegmentationModel::Succeeded(OrtStatus* status, const char* what)
{
  if (!status) return true;
  LogError("%s %s: %s", kName, what, api->GetErrorMessage(status));
  api->ReleaseStatus(status);
  return false;
}

TPersonStatus TOnnxSegmentationModel::Load()
{
#if !defined(_M_X64) && !defined(__x86_64__)
  LogError(
      "%s person segmentation needs the 64-bit library: there is no trustworthy inference runtime for 32-bit "
      "Windows",
      kName);
  return psUnsupportedPlatform;
#else
  const ULONGLONG start = GetTickCount64();
  TPersonStatus status = LoadRuntime();
  if (status == psReady) status = LoadSession();
  if (status == psReady) LogInfo("%s model %S ready in %I64u ms", kName, modelFile.c_str(), GetTickCount64() - start);
  return status;
#endif
}

TPersonStatus TOnnxSegmentationModel::LoadRuntime()
{
  const std::wstring path = directory + L"onnxruntime.dll";
  if (directory.empty() || !FileExists(path)) {
    LogError("%s the inference runtime %S is missing", kName, path.c_str());
    return psRuntimeMissing;
  }
  const std::wstring cppRuntime = VisualCppRuntimeInUse(directory);
  const uint64_t cppVersion = cppRuntime.empty() ? 0 : FileVersion(cppRuntime);
  if (cppVersion != 0 && cppVersion < kVisualCppRuntimeNeeded) {
    LogError(
        "%s the Visual C++ runtime %S is version %u.%u.%u, older than the 14.40 the inference runtime needs: "
        "install the latest Microsoft Visual C++ Redistributable (x64)",
        kName, cppRuntime.c_str(), static_cast<unsigned>(cppVersion >> 48),
        static_cast<unsigned>(cppVersion >> 32 & 0xFFFF), static_cast<unsigned>(cppVersion >> 16 & 0xFFFF));
    return psRuntimeDependencyMissing;
  }
  hRuntime = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!hRuntime) {
    const DWORD error = GetLastError();
    if (error == ERROR_MOD_NOT_FOUND) {
      const std::string missing = MissingVisualCppRuntime(directory);
      if (!missing.empty()) {
        LogError(
            "%s the inference runtime needs the Visual C++ runtime (x64, 14.40 or later), which is missing (%s): "
            "install the Microsoft Visual C++ Redistributable or put those DLLs beside %S",
            kName, missing.c_str(), path.c_str());
      } else {
        LogError("%s a DLL that the inference runtime %S needs is missing (error 126)", kName, path.c_str());
      }
      return psRuntimeDependencyMissing;
    }
    if (error == ERROR_BAD_EXE_FORMAT)
      LogError("%s %S is not a DLL for this architecture", kName, path.c_str());
    else
      LogError("%s LoadLibrary %S error %lu", kName, path.c_str(), static_cast<unsigned long>(error));
    return psRuntimeUnusable;
  }
  using TGetApiBase = const OrtApiBase*(ORT_API_CALL*)();
  const auto getApiBase =
      reinterpret_cast<TGetApiBase>(reinterpret_cast<void*>(GetProcAddress(hRuntime, "OrtGetApiBase")));
  const OrtApiBase* base = getApiBase ? getApiBase() : nullptr;
  if (!base) {
    LogError("%s %S is not an ONNX Runtime (no OrtGetApiBase)", kName, path.c_str());
    return psRuntimeUnusable;
  }
  // The C API only grows: a runtime answers every version up to its own.
  api = base->GetApi(ORT_API_VERSION);
  if (!api) {
    LogError("%s the inference runtime %s does not offer API version %d", kName, base->GetVersionString(),
             ORT_API_VERSION);
    return psRuntimeUnusable;
  }
  LogInfo("%s inference runtime %s from %S", kName, base->GetVersionString(), path.c_str());
  if (!Succeeded(api->CreateEnvWithCustomLogger(RuntimeLog, nullptr, ORT_LOGGING_LEVEL_WARNING, "Pictor", &env),
                 "CreateEnv"))
    return psRuntimeUnusable;
  Succeeded(api->DisableTelemetryEvents(env), "DisableTelemetryEvents");
  if (!Succeeded(api->CreateCpuMemoryInfo(OrtDeviceAllocator, OrtMemTypeDefault, &memory), "CreateCpuMemoryInfo"))
    return psRuntimeUnusable;
  return psReady;
}

TPersonStatus TOnnxSegmentationModel::LoadSession()
{
  const std::wstring path = directory + modelFile;
  if (!FileExists(path)) {
    LogError("%s the person segmentation model %S is missing", kName, path.c_str());
    return psModelMissing;
  }
  OrtSessionOptions* options = nullptr;
  if (!Succeeded(api->CreateSessionOptions(&options), "CreateSessionOptions")) return psRuntimeUnusable;
  // One thread, the segmentation thread itself: two gave no gain on this model, and a
  // pool's threads would spin between runs.
  bool set = Succeeded(api->SetIntraOpNumThreads(options, 1), "SetIntraOpNumThreads") &&
             Succeeded(api->SetInterOpNumThreads(options, 1), "SetInterOpNumThreads") &&
             Succeeded(api->SetSessionExecutionMode(options, ORT_SEQUENTIAL), "SetSessionExecutionMode") &&
             Succeeded(api->SetSessionGraphOptimizationLevel(options, ORT_ENABLE_ALL), "SetGraphOptimizationLevel");
  if (set) Succeeded(api->AddSessionConfigEntry(options, "session.intra_op.allow_spinning", "0"), "allow_spinning");
  const bool created = set && Succeeded(api->CreateSession(env, path.c_str(), options, &session), "CreateSession");
  api->ReleaseSessionOptions(options);
  if (!created) {
    LogError("%s the inference runtime refused the model %S", kName, path.c_str());
    return psModelUnusable;
  }
  // A first run checks the model's input and output against what the library gives and
  // takes, and makes the runtime's first-run work before the first frame.
  std::vector<float> planes(3 * static_cast<size_t>(width) * height, 0.0f), mask(static_cast<size_t>(width) * height);
  if (!Run(planes.data(), mask.data())) {
    LogError("%s the model %S does not take 1x3x%ux%u and give 1x1x%ux%u", kName, path.c_str(), height, width, height,
             width);
    return psModelUnusable;
  }
  return psReady;
}

bool TOnnxSegmentationModel::Run(const float* planes, float* mask)
{
  if (!session) return false;
  const size_t plane = static_cast<size_t>(width) * height;
  const int64_t inputShape[4] = {1, 3, height, width};
  const int64_t outputShape[4] = {1, 1, height, width};
  OrtValue* input = nullptr;
  OrtValue* output = nullptr;
  const char* const inputNames[] = {"input"};
  const char* const outputNames[] = {"mask"};
  const bool first = failedRuns == 0;
  bool ran =
      Succeeded(api->CreateTensorWithDataAsOrtValue(memory, const_cast<float*>(planes), 3 * plane * sizeof(float),
                                                    inputShape, 4, ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &input),
                "input tensor") &&
      Succeeded(api->CreateTensorWithDataAsOrtValue(memory, mask, plane * sizeof(float), outputShape, 4,
                                                    ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &output),
                "output tensor");
  if (ran) {
    OrtStatus* status = api->Run(session, nullptr, inputNames, &input, 1, outputNames, 1, &output);
    ran = status == nullptr;
    if (!ran && first) LogError("%s Run: %s", kName, api->GetErrorMessage(status));
    if (status) api->ReleaseStatus(status);
  }
  api->ReleaseValue(input);
  api->ReleaseValue(output);
  failedRuns = ran ? 0 : failedRuns + 1;
  return ran;
}
