/* A complete host in C: capture two seconds from the first camera through Pictor's C
 * interface and print what happened. Copy it as the start of your own host.
 *
 * Build (mingw-w64):  gcc -std=c99 capture.c -I<pictor>/include -L<pictor>/lib -lPictor -lole32
 * Build (MSVC):       cl capture.c /I<pictor>\include Pictor.lib ole32.lib
 * Run it with Pictor.dll beside the .exe (and, without a camera, the virtual camera's
 * mf.dll). */
#include "PictorC.h"

#include <objbase.h>
#include <stdio.h>

/* Called on the library's thread for every frame: width x height pixels of 4 bytes
 * (blue, green, red, alpha), valid only during the call. */
static int PICTOR_CDECL OnFrame(unsigned int width, unsigned int height, int topDown, unsigned char* pixels,
                                void* context)
{
  unsigned long* frames = (unsigned long*)context;
  if (*frames == 0)
    printf("first frame: %ux%u, %s, top-left pixel B=%u G=%u R=%u\n", width, height,
           topDown ? "top row first" : "bottom row first", pixels[0], pixels[1], pixels[2]);
  ++*frames;
  return 1;
}

int main(void)
{
  PictorCapture capture = NULL;
  PictorDescr cameras[8];
  PictorFormat format;
  PictorCaptureStatus status;
  unsigned long frames = 0;
  int count = 0, result;

  CoInitializeEx(NULL, COINIT_MULTITHREADED); /* the library never initialises COM */
  if (!PictorCanUseMediaFoundation()) {
    printf("Media Foundation is not available\n");
    return 1;
  }
  result = PictorCaptureCreate(&capture);
  if (result == PICTOR_OK) result = PictorCaptureEnumerateCameras(capture, cameras, 8, &count);
  if (result != PICTOR_OK || count == 0) {
    printf("no camera (%s)\n", PictorResultName(result));
    PictorCaptureDestroy(capture);
    return 1;
  }
  PictorCaptureGetFormat(capture, cameras[0].SymbolicLink, 0, &format);
  printf("camera: %ls, format 0: %ls %ux%u\n", cameras[0].FriendlyName, format.SubTypeName, format.Width,
         format.Height);

  result = PictorCaptureStart(capture, cameras[0].SymbolicLink, 0, 1, OnFrame, &frames);
  if (result != PICTOR_OK) {
    printf("the capture did not start: %s\n", PictorResultName(result));
    PictorCaptureDestroy(capture);
    return 1;
  }
  Sleep(2000);
  PictorCaptureGetStatus(capture, &status);
  PictorCaptureStop(capture);

  /* State "ended" means the camera stopped delivering (unplugged, taken by another
   * application, blocked by the privacy settings); Error is its HRESULT. */
  printf("state %s, error 0x%08lx, %llu frames delivered, %llu dropped, %.1f frames/s\n",
         status.State == PICTOR_CAPTURE_RUNNING ? "running"
         : status.State == PICTOR_CAPTURE_ENDED ? "ended"
                                                : "idle",
         (unsigned long)status.Error, status.FramesDelivered, status.FramesDropped, status.FrameRate);
  PictorCaptureDestroy(capture);
  CoUninitialize();
  return status.FramesDelivered > 0 ? 0 : 1;
}
