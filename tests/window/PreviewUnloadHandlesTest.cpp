// A plugin host loads Pictor.dll, makes and destroys a preview and unloads the library,
// over and over, on one thread that lives on: nothing of a cycle may stay behind.
#include <gtest/gtest.h>

#include "tests/support/ProcessHandles.h"

namespace {

// One cycle; false when the library or the preview's constructor and destructor (looked
// up by their g++ names: the test must be able to unload the library) are missing.
bool PreviewCycle()
{
  HMODULE pictor = LoadLibraryW(L"Pictor.dll");
  using Member = void (*)(void*);
  auto member = [pictor](const char* name) {
    return pictor ? reinterpret_cast<Member>(reinterpret_cast<void*>(GetProcAddress(pictor, name))) : nullptr;
  };
  const Member construct = member("_ZN18TPictorD3D9PreviewC1Ev"), destruct = member("_ZN18TPictorD3D9PreviewD1Ev");
  if (construct && destruct) {
    alignas(64) static unsigned char storage[1 << 16];  // far more than the object needs
    construct(storage);
    destruct(storage);
  }
  if (pictor)
    FreeLibrary(pictor);
  return construct && destruct && GetModuleHandleW(L"Pictor.dll") == nullptr;
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
