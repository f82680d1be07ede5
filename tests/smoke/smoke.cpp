#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
TEST(Smoke, LoadsLibrary) {
  HMODULE m = LoadLibraryW(L"Pictor.dll");
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(FreeLibrary(m));
}
#else
TEST(Smoke, Native) { EXPECT_EQ(1 + 1, 2); }
#endif
