#include "Console_win.h"

#include <windows.h>

namespace {

HANDLE StreamHandle(DWORD which)
{
  HANDLE handle = GetStdHandle(which);
  if (handle && handle != INVALID_HANDLE_VALUE) return handle;
  static HANDLE console = INVALID_HANDLE_VALUE;  // the window thread's only
  if (console == INVALID_HANDLE_VALUE && AttachConsole(ATTACH_PARENT_PROCESS))
    console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  return console;
}

void Write(DWORD which, const std::wstring& text)
{
  HANDLE handle = StreamHandle(which);
  if (handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(handle, &mode)) {
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
  WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

void WriteOutput(const std::wstring& text)
{
  Write(STD_OUTPUT_HANDLE, text);
}

void WriteError(const std::wstring& text)
{
  Write(STD_ERROR_HANDLE, text);
}
