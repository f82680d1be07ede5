// pictor-log-probe.dll: the library's log client and front end in a DLL of their own,
// with C exports a test calls through GetProcAddress. A copy loaded from another
// directory is a second, independent client, as a second copy of the library would be.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct TLogProbeState {
  uint8_t channelMapped, connectionAttempted, tableMapped;
};

using TProbeLog = void (*)(const char* format, ...);

struct ProbeLibrary {
  explicit ProbeLibrary(const std::wstring& path) : module(LoadLibraryW(path.c_str())) {}
  ~ProbeLibrary()
  {
    if (module) FreeLibrary(module);
  }
  ProbeLibrary(const ProbeLibrary&) = delete;
  template <typename F>
  F Export(const char* name) const
  {
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
  }
  bool Loaded() const { return Info && Verbose && Error && GetLogLevel && getState; }
  TLogProbeState State() const
  {
    TLogProbeState s{};
    getState(&s);
    return s;
  }
  HMODULE module;
  TProbeLog Info = Export<TProbeLog>("ProbeLogInfo"), Verbose = Export<TProbeLog>("ProbeLogVerbose"),
            Error = Export<TProbeLog>("ProbeLogError");
  int (*GetLogLevel)() = Export<int (*)()>("ProbeGetLogLevel");
  void (*getState)(TLogProbeState*) = Export<void (*)(TLogProbeState*)>("ProbeGetState");
};

// Directory of the running test program, with a trailing backslash.
inline std::wstring ProgramDirectory()
{
  wchar_t path[MAX_PATH];
  const std::wstring exe(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  return exe.substr(0, exe.find_last_of(L'\\') + 1);
}

inline std::wstring ProbePathInProgramDirectory()
{
  return ProgramDirectory() + L"pictor-log-probe.dll";
}

// <temp>\PictorLog-<pid>-<n>\Tools\ holding a copy of the probe (mixed case, for the
// case-folding checks), so that a test controls which entry and channel that copy finds.
struct PrivateDirectory {
  PrivateDirectory()
  {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    base = temp + (L"PictorLog-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L"\\");
    tools = base + L"Tools\\";
    probe = tools + L"pictor-log-probe.dll";
    copied = CreateDirectoryW(base.c_str(), nullptr) && CreateDirectoryW(tools.c_str(), nullptr) &&
             CopyFileW(ProbePathInProgramDirectory().c_str(), probe.c_str(), FALSE);
  }
  ~PrivateDirectory()
  {
    DeleteFileW(probe.c_str());
    RemoveDirectoryW(tools.c_str());
    RemoveDirectoryW(base.c_str());
  }
  std::wstring base, tools, probe;  // directories end in a backslash
  bool copied = false;
};
