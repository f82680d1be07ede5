// A host's plugin DLL that keeps a capturing TPictor in a global and destroys it in its
// DllMain when the process exits, after the process's other threads are gone.
#include "Pictor.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace {

TPictor* g_pictor = nullptr;
std::atomic<int> g_frames{0};

bool Frame(unsigned, unsigned, bool, unsigned char*, void*)
{
  ++g_frames;
  return true;
}

void Say(const char* text)
{
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, DWORD(std::strlen(text)), &written, nullptr);
}

}  // namespace

// True once the capture has delivered three frames.
extern "C" __declspec(dllexport) bool PluginStartCapture(const wchar_t* link)
{
  g_pictor = new TPictor;
  if (!g_pictor->StartCapture(link, 0, true, Frame, nullptr)) return false;
  for (int i = 0; i < 500 && g_frames < 3; ++i) Sleep(10);
  return g_frames >= 3;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr && g_pictor) {
    delete g_pictor;
    Say("deleted\n");
  }
  return TRUE;
}
