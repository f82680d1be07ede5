// The person segmentation thread and its hand-over (PersonSegmenter_win.h).
//
// Frames: three input slots. The camera thread fills its own, then swaps it with the
// pending one; the segmentation thread swaps the pending one with its own when it wakes.
// A frame not yet taken is replaced by the next, so the model always runs on the newest.
// Masks: three mask slots the other way round (triple buffering): the segmentation
// thread builds its own and swaps it with the shared one; the camera thread swaps the
// shared one with its own when a newer mask is there, and keeps using its own otherwise.
#include "person/PersonSegmenter_win.h"

#include "log/Log.h"

#include <atomic>
#include <new>
#include <utility>
#include <vector>

namespace {
const char* const kName = "TPersonSegmenter";
}

struct TInputSlot {
  std::vector<float> planes;
  unsigned int frameWidth = 0, frameHeight = 0;
  uint64_t frame = 0;
};

struct TMaskSlot {
  TMatteTable table;
  uint64_t frame = 0;
};

struct TSegmenterCore {
  std::unique_ptr<TSegmentationModel> model;
  TMatteSettings settings;
  unsigned int modelWidth, modelHeight;

  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE wake = CONDITION_VARIABLE_INIT;
  bool stop = false;                                  // under lock
  TInputSlot cameraInput, pendingInput, threadInput;  // pending: under lock
  bool inputWaiting = false;                          // under lock
  TMaskSlot cameraMask, sharedMask, threadMask;       // shared: under lock
  bool maskWaiting = false;                           // under lock

  std::atomic<int> status{psLoading};
  HANDLE loaded = nullptr;  // set once loading is over, whatever its outcome
  std::atomic<uint64_t> submitted{0}, segmented{0}, lastFrame{0};
  std::atomic<double> lastRunMs{0};

  std::atomic<int> holders{1};

  void Leave()
  {
    if (--holders == 0) delete this;
  }
  ~TSegmenterCore()
  {
    if (loaded) CloseHandle(loaded);
  }

  void Run();
};

void TSegmenterCore::Run()
{
  const TPersonStatus result = model->Load();
  status = result;
  SetEvent(loaded);
  if (result != psReady) {
    LogError("%s person segmentation unavailable: %s", kName, PersonStatusName(result));
    model.reset();
    return;
  }
  std::vector<float> mask(static_cast<size_t>(modelWidth) * modelHeight);
  TLowResMatte matte;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (;;) {
    AcquireSRWLockExclusive(&lock);
    while (!inputWaiting && !stop) SleepConditionVariableSRW(&wake, &lock, INFINITE, 0);
    if (stop) {
      ReleaseSRWLockExclusive(&lock);
      break;
    }
    std::swap(threadInput, pendingInput);
    inputWaiting = false;
    ReleaseSRWLockExclusive(&lock);

    LARGE_INTEGER begin, end;
    QueryPerformanceCounter(&begin);
    const bool ran = model->Run(threadInput.planes.data(), mask.data());
    QueryPerformanceCounter(&end);
    lastRunMs = 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) / static_cast<double>(frequency.QuadPart);
    if (!ran || !matte.Update(threadInput.planes.data(), mask.data(), modelWidth, modelHeight, settings) ||
        !threadMask.table.Build(matte.A(), matte.B(), modelWidth, modelHeight, threadInput.frameWidth,
                                threadInput.frameHeight))
      continue;
    threadMask.frame = threadInput.frame;
    AcquireSRWLockExclusive(&lock);
    std::swap(threadMask, sharedMask);
    maskWaiting = true;
    ReleaseSRWLockExclusive(&lock);
    lastFrame = threadInput.frame;
    ++segmented;
  }
  model.reset();  // the runtime is unloaded on the thread that loaded it
}

namespace {

DWORD WINAPI SegmentationThread(LPVOID parameter)
{
  TSegmenterCore* core = static_cast<TSegmenterCore*>(parameter);
  try {
    core->Run();
  } catch (...) {  // no memory for a string or a buffer: segmentation ends, the host goes on
    LogError("%s the segmentation thread ended on an exception", kName);
    core->status = psFailed;
    SetEvent(core->loaded);
    core->model.reset();
  }
  core->Leave();
  return 0;
}

// True while the process exits (its DLLs detached under the loader lock): no thread can
// end then, so there is nothing to wait for.
bool ProcessIsExiting()
{
  using TRtlDllShutdownInProgress = BOOLEAN(WINAPI*)();
  const auto inProgress = reinterpret_cast<TRtlDllShutdownInProgress>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));
  return inProgress && inProgress();
}

}  // namespace

TPersonSegmenter::TPersonSegmenter(std::unique_ptr<TSegmentationModel> model, const TMatteSettings& settings)
    : core(new (std::nothrow) TSegmenterCore)
{
  if (!core) return;
  core->settings = settings;
  if (model) {
    core->modelWidth = model->InputWidth();
    core->modelHeight = model->InputHeight();
  }
  core->model = std::move(model);
}

TPersonSegmenter::~TPersonSegmenter()
{
  if (!core) return;
  AcquireSRWLockExclusive(&core->lock);
  core->stop = true;
  ReleaseSRWLockExclusive(&core->lock);
  WakeConditionVariable(&core->wake);
  if (thread.Handle() && (ProcessIsExiting() || !thread.Join(kStopLimitMs))) {
    if (!ProcessIsExiting())
      LogError("%s the segmentation thread has not ended within %lu ms; it ends on its own", kName,
               static_cast<unsigned long>(kStopLimitMs));
    thread.Detach();
  }
  core->Leave();
}

bool TPersonSegmenter::Start()
{
  if (thread.Handle()) return true;
  if (!core || !core->model) {
    LogError("%s no model to run", kName);
    if (core) core->status = psFailed;
    return false;
  }
  const size_t planes = 3 * static_cast<size_t>(core->modelWidth) * core->modelHeight;
  try {
    for (TInputSlot* slot : {&core->cameraInput, &core->pendingInput, &core->threadInput}) slot->planes.resize(planes);
  } catch (const std::bad_alloc&) {
    LogError("%s no memory for the model's input", kName);
    core->status = psFailed;
    return false;
  }
  if (!core->loaded) core->loaded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ++core->holders;
  if (!core->loaded || !thread.Start(L"Pictor person segmentation", SegmentationThread, core)) {
    --core->holders;
    LogError("%s unable to start the segmentation thread, error %lu", kName,
             static_cast<unsigned long>(GetLastError()));
    core->status = psFailed;
    if (core->loaded) SetEvent(core->loaded);
    return false;
  }
  return true;
}

TPersonStatus TPersonSegmenter::Status() const
{
  return core ? static_cast<TPersonStatus>(core->status.load()) : psFailed;
}

TPersonStatus TPersonSegmenter::WaitForLoad(DWORD milliseconds) const
{
  if (!core || !core->loaded) return Status();
  WaitForSingleObject(core->loaded, milliseconds);
  return Status();
}

bool TPersonSegmenter::SubmitFrame(const uint8_t* pixels, unsigned int width, unsigned int height, unsigned int stride,
                                   bool bottomUp)
{
  if (Status() != psReady) return false;
  TInputSlot& slot = core->cameraInput;
  if (!shrinker.Shrink(pixels, width, height, stride, bottomUp, core->modelWidth, core->modelHeight,
                       slot.planes.data()))
    return false;
  slot.frameWidth = width;
  slot.frameHeight = height;
  slot.frame = ++core->submitted;
  AcquireSRWLockExclusive(&core->lock);
  std::swap(slot, core->pendingInput);
  core->inputWaiting = true;
  ReleaseSRWLockExclusive(&core->lock);
  WakeConditionVariable(&core->wake);
  return true;
}

bool TPersonSegmenter::ApplyMatte(uint8_t* pixels, unsigned int width, unsigned int height, unsigned int stride,
                                  bool bottomUp, float threshold, uint8_t opacity)
{
  if (!core) return false;
  AcquireSRWLockExclusive(&core->lock);
  if (core->maskWaiting) {
    std::swap(core->cameraMask, core->sharedMask);
    core->maskWaiting = false;
  }
  ReleaseSRWLockExclusive(&core->lock);
  return writer.Apply(core->cameraMask.table, pixels, width, height, stride, bottomUp, threshold, opacity);
}

TPersonSegmenter::TCounts TPersonSegmenter::Counts() const
{
  if (!core) return TCounts{0, 0, 0, 0};
  return TCounts{core->submitted.load(), core->segmented.load(), core->lastFrame.load(), core->lastRunMs.load()};
}
