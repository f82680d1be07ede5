// pictor-viewer: a window onto the library for a person trying it out, and a command
// line for scripts and tests. Built on the public interface only, as any host is.
#include <windows.h>
#include <objbase.h>
#include <commctrl.h>
#include <shellapi.h>

#include "Console_win.h"
#include "Pictor.h"
#include "ViewerOptions.h"
#include "ViewerWindow.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  TViewerOptions options;
  std::wstring error;
  const bool parsed = argv && ParseViewerOptions(argc, argv, &options, &error);
  LocalFree(argv);
  if (!parsed) {
    WriteError(L"pictor-viewer: " + error + L"\n\n" + ViewerUsage());
    return 2;
  }
  if (options.help) {
    WriteOutput(ViewerUsage());
    return 0;
  }

  // The window's thread is single-threaded for the common dialogs; the library makes its
  // objects on whichever thread calls it and runs its own threads in its own apartment.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  int exitCode = 1;
  if (!TPictor::CanUseMFAPI()) {
    const wchar_t message[] = L"Media Foundation is not available on this system, so cameras cannot be used.";
    WriteError(std::wstring(L"pictor-viewer: ") + message + L"\n");
    if (options.snapshotFile.empty() && options.windowShotFile.empty())
      MessageBoxW(nullptr, message, L"Pictor Viewer", MB_ICONERROR);
  } else {
    TViewerWindow window(options);
    if (window.Create(instance, show)) {
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        HWND top = GetAncestor(message.hwnd, GA_ROOT);
        if (top && IsDialogMessageW(top, &message)) continue;  // Tab moves between the controls
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      exitCode = window.ExitCode();
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return exitCode;
}
