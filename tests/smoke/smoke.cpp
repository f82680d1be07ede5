#include <gtest/gtest.h>
#include <windows.h>

TEST(LibraryLoad, LoadsAndUnloadsUnderWine) {
  HMODULE m = LoadLibraryW(L"Pictor.dll");
  ASSERT_NE(m, nullptr) << GetLastError();
  EXPECT_TRUE(FreeLibrary(m));
}
