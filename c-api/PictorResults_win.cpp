// PictorDescribeResult: the capture errors a host meets, in a sentence it can show.
#include "PictorC.h"

#include <mferror.h>

#include <atomic>
#include <cstdio>

namespace {

struct TResultText {
  HRESULT Result;
  const char* Text;
};

// What Windows (and the virtual camera) report for each case: activation, the first
// read, or a read of a running stream.
const TResultText kResultTexts[] = {
    {E_ACCESSDENIED, "Access to the camera is blocked by the privacy settings."},
    {MF_E_HW_MFT_FAILED_START_STREAMING, "The camera is in use by another application."},
    {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), "The camera is in use by another application."},
    {HRESULT_FROM_WIN32(ERROR_BUSY), "The camera is in use by another application."},
    {MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED, "The camera was unplugged or disabled."},
    {HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), "The camera was unplugged or disabled."},
    {MF_E_VIDEO_RECORDING_DEVICE_PREEMPTED, "The camera was taken over by another application."},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "The camera was not found."},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "The camera was not found."},
    {HRESULT_FROM_WIN32(ERROR_NOT_FOUND), "The camera was not found."},
};

// Texts of other results, written in turn: a pointer handed out stays valid until the
// ring comes round to it. No thread-local storage: it would outlive an unloaded library.
constexpr int kHexSlots = 32;
char gHexTexts[kHexSlots][16];
std::atomic<unsigned> gNextHexSlot{0};

}  // namespace

PICTOR_C_API const char* PICTOR_CDECL PictorDescribeResult(HRESULT result)
{
  for (const TResultText& entry : kResultTexts) {
    if (entry.Result == result) return entry.Text;
  }
  char* text = gHexTexts[gNextHexSlot.fetch_add(1) % kHexSlots];
  std::snprintf(text, sizeof gHexTexts[0], "0x%08lX", static_cast<unsigned long>(static_cast<ULONG>(result)));
  return text;
}
