/* A host built as MSVC builds one: clang for the MSVC target, linked by lld-link with its
 * defaults (and /safeseh on x86) against the package's Pictor.lib. There is no MSVC C runtime
 * here, so the host has none: its own entry point, and ExitProcess and CoInitializeEx from
 * short-import libraries of its own. Every function of PictorC.h is linked (pictor-functions.h,
 * made from the header, takes each one's address), and the calls reach Pictor.dll when run:
 * exit code 0 when the library's interface version is the header's and it lists a camera. */
#include "PictorC.h"

static void* volatile gFunctions[] = {
#include "pictor-functions.h"
};

void __cdecl HostEntry(void)
{
  PictorCapture capture = NULL;
  int count = 0;
  CoInitializeEx(NULL, COINIT_MULTITHREADED);
  int ok = gFunctions[0] && PictorGetApiVersion() == PICTOR_C_API_VERSION &&
           PictorCaptureCreate(&capture) == PICTOR_OK && PictorCaptureGetCameraCount(capture, &count) == PICTOR_OK &&
           count > 0;
  PictorCaptureDestroy(capture);
  ExitProcess(ok ? 0 : 1);
}
