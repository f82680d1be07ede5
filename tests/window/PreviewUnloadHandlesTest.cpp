// A plugin host loads Pictor.dll, makes and destroys a preview and unloads the library,
// over and over, on one thread that lives on: nothing of a cycle may stay behind, through
// the C++ classes or the C interface.
#include <gtest/gtest.h>

#include "PictorC.h"
#include "tests/support/ProcessHandles.h"

namespace {

template <typename F>
F Export(HMODULE module, const char* name)
{
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// One cycle; false when the library or what it must export is missing. The C++ preview is
// reached by its g++ names (the test must be able to unload the library), the C interface
// by its plain ones: a capture handle asked for its state, a preview handle, both destroyed.
bool PreviewCycle()
{
  HMODULE pictor = LoadLibraryW(L"Pictor.dll");
  using Member = void (*)(void*);
  const auto construct = Export<Member>(pictor, "_ZN18TPictorD3D9PreviewC1Ev");
  const auto destruct = Export<Member>(pictor, "_ZN18TPictorD3D9PreviewD1Ev");
  const auto captureCreate = Export<int(PICTOR_CDECL*)(PictorCapture*)>(pictor, "PictorCaptureCreate");
  const auto captureActive = Export<int(PICTOR_CDECL*)(PictorCapture, int*)>(pictor, "PictorCaptureIsActive");
  const auto captureDestroy = Export<int(PICTOR_CDECL*)(PictorCapture)>(pictor, "PictorCaptureDestroy");
  const auto previewCreate = Export<int(PICTOR_CDECL*)(PictorPreview*)>(pictor, "PictorPreviewCreate");
  const auto previewDestroy = Export<int(PICTOR_CDECL*)(PictorPreview)>(pictor, "PictorPreviewDestroy");
  bool complete = construct && destruct && captureCreate && captureActive && captureDestroy && previewCreate &&
                  previewDestroy;
  if (complete) {
    alignas(64) static unsigned char storage[1 << 16];  // far more than the object needs
    construct(storage);
    destruct(storage);
    PictorCapture capture = nullptr;
    PictorPreview preview = nullptr;
    int active = -1;
    complete = captureCreate(&capture) == PICTOR_OK && captureActive(capture, &active) == PICTOR_OK &&
               active == 0 && captureDestroy(capture) == PICTOR_OK && previewCreate(&preview) == PICTOR_OK &&
               previewDestroy(preview) == PICTOR_OK;
  }
  if (pictor)
    FreeLibrary(pictor);
  return complete && GetModuleHandleW(L"Pictor.dll") == nullptr;
}

TEST(LibraryUnload, PreviewCyclesLeaveNoHandleBehind)
{
  ASSERT_TRUE(PreviewCycle());  // the platform's own first-time work is not the library's
  const std::vector<uintptr_t> before = pictortest::OpenHandles();
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(PreviewCycle()) << i;
  EXPECT_LE(pictortest::OpenHandles().size(), before.size() + pictortest::kPlatformHandleSlack)
      << "before " << before.size() << ", after 40 cycles";
}

}  // namespace
