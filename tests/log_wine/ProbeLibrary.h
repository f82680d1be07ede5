// Loads one copy of pictor-log-probe.dll and resolves its exports; unloads it when
// destroyed.
#pragma once

#include "LogProbe.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

class ProbeLibrary {
 public:
  explicit ProbeLibrary(const std::wstring& path)
  {
    module = LoadLibraryW(path.c_str());
    if (!module)
      return;
    Info = reinterpret_cast<TProbeLog>(GetProcAddress(module, "ProbeLogInfo"));
    Verbose = reinterpret_cast<TProbeLog>(GetProcAddress(module, "ProbeLogVerbose"));
    Error = reinterpret_cast<TProbeLog>(GetProcAddress(module, "ProbeLogError"));
    GetLogLevel = reinterpret_cast<TProbeGetLogLevel>(GetProcAddress(module, "ProbeGetLogLevel"));
    getState = reinterpret_cast<TProbeGetState>(GetProcAddress(module, "ProbeGetState"));
  }
  ~ProbeLibrary()
  {
    if (module)
      FreeLibrary(module);
  }
  ProbeLibrary(const ProbeLibrary&) = delete;
  ProbeLibrary& operator=(const ProbeLibrary&) = delete;

  bool Loaded() const { return module && Info && Verbose && Error && GetLogLevel && getState; }
  TLogProbeState State() const
  {
    TLogProbeState s{};
    getState(&s);
    return s;
  }

  TProbeLog Info = nullptr;
  TProbeLog Verbose = nullptr;
  TProbeLog Error = nullptr;
  TProbeGetLogLevel GetLogLevel = nullptr;

 private:
  HMODULE module = nullptr;
  TProbeGetState getState = nullptr;
};

// Directory of the running test program, with a trailing backslash.
inline std::wstring ProgramDirectory()
{
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

inline std::wstring ProbePathInProgramDirectory()
{
  return ProgramDirectory() + L"pictor-log-probe.dll";
}
