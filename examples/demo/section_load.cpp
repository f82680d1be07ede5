// Loading the library: the host can ask whether it is there before it uses it.
#include "Demo.h"

#include <windows.h>

#include <cstdio>

static bool RunLoad(const DemoOptions&)
{
  HMODULE module = GetModuleHandleW(L"Pictor.dll");
  wchar_t path[MAX_PATH] = {};
  if (!module || !GetModuleFileNameW(module, path, MAX_PATH)) {
    std::printf("Pictor.dll is not loaded\n");
    return false;
  }
  std::printf("Pictor.dll loaded from %ls\n", path);
  return true;
}

PICTOR_DEMO_SECTION(0, "load", "where the library was loaded from", RunLoad);
