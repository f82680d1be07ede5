// The same capture through the C interface (PictorC.h), as a host in C, C#, Python or
// Rust sees the library: a handle, result codes, and the capture status the library
// keeps (state, frames delivered and dropped, measured rate).
#include "Demo.h"

#include "PictorC.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

namespace {

int PICTOR_CDECL CountFrame(unsigned int, unsigned int, int, unsigned char*, void* context)
{
  InterlockedIncrement(static_cast<volatile LONG*>(context));
  return 1;
}

void PrintStatus(const char* when, const PictorCaptureStatus& status)
{
  std::printf("  %-18s %-8s 0x%08lx %10llu %8llu %8.1f\n", when, StateName(status.State),
              static_cast<unsigned long>(status.Error), status.FramesDelivered, status.FramesDropped, status.FrameRate);
}

bool Succeeded(const char* call, int result)
{
  if (result != PICTOR_OK) std::printf("  %s: %s (see the log)\n", call, PictorResultName(result));
  return result == PICTOR_OK;
}

bool RunCInterface(const DemoOptions& options)
{
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  PictorCapture capture = nullptr;
  PictorDescr cameras[16];
  int count = 0;
  bool ok = Succeeded("PictorCaptureCreate", PictorCaptureCreate(&capture)) &&
            Succeeded("PictorCaptureEnumerateCameras", PictorCaptureEnumerateCameras(capture, cameras, 16, &count));
  if (ok && (options.camera < 0 || options.camera >= count || options.camera >= 16)) {
    std::printf("  camera %d does not exist (%d found)\n", options.camera, count);
    ok = false;
  }
  volatile LONG frames = 0;
  if (ok) {
    const wchar_t* link = cameras[options.camera].SymbolicLink;
    const int formatIndex = options.format < 0 ? 0 : options.format;
    std::printf("  interface version %#x, camera %d, format %d\n", PictorGetApiVersion(), options.camera, formatIndex);
    ok = Succeeded("PictorCaptureStart",
                   PictorCaptureStart(capture, link, formatIndex, 1, CountFrame, const_cast<LONG*>(&frames)));
  }
  if (ok) {
    std::printf("  %-18s %-8s %10s %10s %8s %8s\n", "status", "state", "error", "delivered", "dropped", "rate");
    PictorCaptureStatus status = {};
    const int seconds = options.seconds > 0 ? options.seconds : 1;
    for (int s = 1; s <= seconds; ++s) {
      Sleep(1000);
      PictorCaptureGetStatus(capture, &status);
      PrintStatus(("after " + std::to_string(s) + " s").c_str(), status);
    }
    ok = Succeeded("PictorCaptureStop", PictorCaptureStop(capture));
    PictorCaptureGetStatus(capture, &status);
    PrintStatus("after the stop", status);
    std::printf("  frames the callback counted: %ld\n", static_cast<long>(frames));
    ok = ok && frames > 0 && status.FramesDelivered == static_cast<unsigned long long>(frames);
  }
  if (capture) ok = Succeeded("PictorCaptureDestroy", PictorCaptureDestroy(capture)) && ok;
  CoUninitialize();
  return ok;
}

}  // namespace

PICTOR_DEMO_SECTION(35, "c-interface", "the same capture through the C interface, with its capture status",
                    RunCInterface);
