#include <windows.h>

HINSTANCE g_hPictorInstance = nullptr;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_hPictorInstance = instance;
    return TRUE;
}
