// Loads the plugin, has it capture, and ends the process by returning from main.
#include <windows.h>
#include <objbase.h>

#include <cstring>

int main()
{
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  HMODULE plugin = LoadLibraryW(L"pictor-exit-plugin.dll");
  auto start = plugin ? reinterpret_cast<bool (*)(const wchar_t*)>(
                            reinterpret_cast<void*>(GetProcAddress(plugin, "PluginStartCapture")))
                      : nullptr;
  const char* text = start && start(L"\\\\?\\virtualcam#pictor-bars") ? "capturing\n" : "no capture\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, DWORD(std::strlen(text)), &written, nullptr);
  return 0;
}
