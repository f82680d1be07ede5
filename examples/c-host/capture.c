/* A complete host in C: capture two seconds from the first camera through Pictor's C
 * interface and print what happened, then run a keyed preview (green key over black) for
 * two seconds. Copy it as the start of your own host.
 *
 * Build with CMake:   cmake -S . -B build -DCMAKE_PREFIX_PATH=<pictor>  (CMakeLists.txt here)
 * Build (mingw-w64):  gcc -std=c99 capture.c -I<pictor>/include -L<pictor>/lib -lPictor -lole32
 * Build (MSVC):       cl capture.c /I<pictor>\include <pictor>\lib\Pictor.lib ole32.lib
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

/* Called on the library's thread for every keyed picture: top row first, pitch bytes
 * between rows, alpha 0 where the key colour was. */
static int PICTOR_CDECL OnKeyedFrame(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels,
                                     void* context)
{
  unsigned long* frames = (unsigned long*)context;
  if (*frames == 0)
    printf("first keyed picture: %ux%u, pitch %u, top-left alpha %u\n", width, height, pitch, pixels[3]);
  ++*frames;
  return 1;
}

/* A keyed preview of the camera for two seconds, composed on the CPU (the software
 * renderer needs no graphics device); 0 when pictures arrived. */
static int RunKeyedPreview(const wchar_t* link)
{
  PictorPreview preview = NULL;
  PictorKeyingParams params;
  unsigned long frames = 0;
  int result = PictorPreviewCreate(&preview);
  if (result == PICTOR_OK) result = PictorDefaultKeyingParams(&params);
  if (result == PICTOR_OK) result = PictorPreviewSetRenderer(preview, PICTOR_RENDERER_SOFTWARE);
  if (result == PICTOR_OK) result = PictorPreviewStart(preview, link, 0, 1, NULL, &params, OnKeyedFrame, &frames);
  if (result != PICTOR_OK) {
    printf("the keyed preview did not start: %s\n", PictorResultName(result));
    PictorPreviewDestroy(preview);
    return 1;
  }
  Sleep(2000);
  PictorPreviewDestroy(preview); /* stops its capture first */
  printf("keyed preview: %lu pictures\n", frames);
  return frames > 0 ? 0 : 1;
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
  result = RunKeyedPreview(cameras[0].SymbolicLink);
  CoUninitialize();
  return status.FramesDelivered > 0 && result == 0 ? 0 : 1;
}
