#include "log/Module.h"

// Written once at process attach, before any other thread can run library code.
static HINSTANCE g_hPictorInstance = nullptr;

HINSTANCE PictorModuleInstance()
{
  return g_hPictorInstance;
}

// Static construction (the log client) has run before this; its teardown runs after
// the detach call returns. Thread notifications are not used. Nothing is released here:
// under the loader lock no other thread can end.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
  if (reason == DLL_PROCESS_ATTACH) g_hPictorInstance = instance;
  return TRUE;
}
