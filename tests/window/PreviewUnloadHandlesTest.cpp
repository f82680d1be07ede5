// A plugin host loads Pictor.dll, makes and destroys a preview and unloads the library,
// over and over, on one thread that lives on: nothing of a cycle may stay behind.
#include <gtest/gtest.h>

#include "PictorC.h"
#include "tests/support/ProcessHandles.h"

namespace {

template <typename F>
F Export(HMODULE module, const char* name)
{
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// One cycle through the C interface, found by the functions' plain names (the test must be
// able to unload the library): a capture handle asked for its state, a preview handle, both
// destroyed. False when the library or one of the functions is missing.
bool PreviewCycle()
{
  HMODULE pictor = LoadLibraryW(L"Pictor.dll");
  const auto captureCreate = Export<int(PICTOR_CDECL*)(PictorCapture*)>(pictor, "PictorCaptureCreate");
  const auto captureActive = Export<int(PICTOR_CDECL*)(PictorCapture, int*)>(pictor, "PictorCaptureIsActive");
  const auto captureDestroy = Export<int(PICTOR_CDECL*)(PictorCapture)>(pictor, "PictorCaptureDestroy");
  const auto previewCreate = Export<int(PICTOR_CDECL*)(PictorPreview*)>(pictor, "PictorPreviewCreate");
  const auto previewDestroy = Export<int(PICTOR_CDECL*)(PictorPreview)>(pictor, "PictorPreviewDestroy");
  bool complete = captureCreate && captureActive && captureDestroy && previewCreate && previewDestroy;
  if (complete) {
    PictorCapture capture = nullptr;
    PictorPreview preview = nullptr;
    int active = -1;
    complete = captureCreate(&capture) == PICTOR_OK && captureActive(capture, &active) == PICTOR_OK && active == 0 &&
               captureDestroy(capture) == PICTOR_OK && previewCreate(&preview) == PICTOR_OK &&
               previewDestroy(preview) == PICTOR_OK;
  }
  if (pictor) FreeLibrary(pictor);
  return complete && GetModuleHandleW(L"Pictor.dll") == nullptr;
}

TEST(LibraryUnload, PreviewCyclesLeaveNoHandleBehind)
{
  ASSERT_TRUE(PreviewCycle());  // the platform's own first-time work is not the library's
  const std::vector<uintptr_t> before = pictortest::OpenHandles();
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(PreviewCycle()) << i;
  EXPECT_LE(pictortest::OpenHandles().size(), before.size() + pictortest::kPlatformHandleSlack)
      << "before " << before.size() << ", after 40 cycles";
}

}  // namespace
