#include "log/Module.h"

#include "capture/MFRuntime.h"
#include "preview/Direct3DModule.h"

// Written once at process attach, before any other thread can run library code.
static HINSTANCE g_hPictorInstance = nullptr;

HINSTANCE PictorModuleInstance()
{
  return g_hPictorInstance;
}

// Static construction (the log client) has run before this; its teardown runs after
// the detach call returns. Thread notifications are not used. At an unload by FreeLibrary
// Media Foundation, started once for the library's objects, is shut down and its modules
// freed, and so is d3d9.dll if a preview loaded it; at process exit the other threads are
// gone already and nothing is released.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
  if (reason == DLL_PROCESS_ATTACH) g_hPictorInstance = instance;
  if (reason == DLL_PROCESS_DETACH && !reserved) {
    TMFRuntime::ReleaseShared();
    ReleaseDirect3DModule();
  }
  return TRUE;
}
