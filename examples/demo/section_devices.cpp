// Cameras that come and go: the frame information of a few frames, then a capture with
// auto reconnect and camera list notices on while the camera is unplugged and plugged
// back, with the status printed as it goes. The virtual camera is unplugged by the demo
// itself; with a real camera, unplug and plug it back while the section runs.
#include "Demo.h"

#include "Pictor.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

struct InfoFrames {
  std::mutex mutex;
  std::vector<TPictorFrameInfo> infos;
};

bool OnFrameInfo(const TPictorFrameInfo* info, unsigned, unsigned, bool, unsigned char*, void* context)
{
  auto* frames = static_cast<InfoFrames*>(context);
  std::lock_guard<std::mutex> lock(frames->mutex);
  if (frames->infos.size() < 5) frames->infos.push_back(*info);
  return true;
}

std::atomic<int> gFrames{0};
bool OnFrame(unsigned, unsigned, bool, unsigned char*, void*)
{
  ++gFrames;
  return true;
}

std::atomic<int> gListNotices{0};
void OnCameraList(void*)
{
  ++gListNotices;
}

void PrintStatus(TPictor& pictor, double seconds)
{
  TPictorCaptureStatusEx status = {};
  status.Size = sizeof status;
  pictor.GetCaptureStatusEx(&status);
  std::printf("  %4.1f s  %-12s frames %4llu  reconnects %llu  cameras %d  list notices %d%s%s\n", seconds,
              StateName(status.State), status.FramesDelivered, status.Reconnects, pictor.GetWebCamerasCount(),
              gListNotices.load(), status.Error ? "  " : "", status.Error ? PictorDescribeResult(status.Error) : "");
}

bool RunDevices(const DemoOptions& options)
{
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  bool ok = false;
  {
    TPictor pictor;
    TPictorDescr camera;
    if (ChooseCamera(pictor, options.camera, &camera)) {
      const int format = options.format < 0 ? 0 : options.format;
      InfoFrames frames;
      if (pictor.StartCaptureEx(camera.SymbolicLink, format, true, OnFrameInfo, &frames)) {
        Sleep(500);
        pictor.StopCapture();
        std::printf("  frame information (times in 100 ns):\n");
        for (const TPictorFrameInfo& info : frames.infos)
          std::printf("    frame %llu: sample time %lld, device time %lld, read time %lld, dropped before %llu\n",
                      info.Sequence, info.SampleTime, info.DeviceTime, info.ReadTime, info.DroppedBefore);
      }

      typedef BOOL(WINAPI * PlugFn)(const wchar_t*);
      HMODULE mf = GetModuleHandleW(L"mf.dll");
      auto unplug =
          mf ? reinterpret_cast<PlugFn>(reinterpret_cast<void*>(GetProcAddress(mf, "VirtualCam_Unplug"))) : nullptr;
      auto plug =
          mf ? reinterpret_cast<PlugFn>(reinterpret_cast<void*>(GetProcAddress(mf, "VirtualCam_Plug"))) : nullptr;
      pictor.SetCameraListCallback(OnCameraList, nullptr);
      pictor.SetAutoReconnect(true);
      ok = pictor.StartCapture(camera.SymbolicLink, format, true, OnFrame, nullptr);
      if (!unplug || !plug) std::printf("  unplug the camera and plug it back within %d s\n", options.seconds + 3);
      const int steps = (options.seconds + 3) * 4;
      for (int step = 0; ok && step <= steps; ++step) {
        if (unplug && step == 4) {
          std::printf("  -- unplugging the virtual camera\n");
          unplug(camera.SymbolicLink);
        }
        if (plug && step == 12) {
          std::printf("  -- plugging it back\n");
          plug(camera.SymbolicLink);
        }
        if (step % 2 == 0) PrintStatus(pictor, step / 4.0);
        Sleep(250);
      }
      TPictorCaptureStatusEx status = {};
      status.Size = sizeof status;
      pictor.GetCaptureStatusEx(&status);
      ok = ok && (!unplug || (status.Reconnects == 1 && status.State == PICTOR_CAPTURE_RUNNING));
      pictor.StopCapture();
      pictor.SetCameraListCallback(nullptr, nullptr);
      if (!ok) std::printf("  the capture did not come back as expected\n");
    }
  }
  CoUninitialize();
  return ok;
}

}  // namespace

const char* StateName(int state)
{
  switch (state) {
    case PICTOR_CAPTURE_IDLE:
      return "idle";
    case PICTOR_CAPTURE_RUNNING:
      return "running";
    case PICTOR_CAPTURE_ENDED:
      return "ended";
    case PICTOR_CAPTURE_RECONNECTING:
      return "reconnecting";
    default:
      return "?";
  }
}

PICTOR_DEMO_SECTION(36, "devices", "frame information, and a capture that survives unplugging its camera", RunDevices);
