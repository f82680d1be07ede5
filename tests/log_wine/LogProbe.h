// pictor-log-probe.dll: the library's log client and front end in a DLL of their own,
// with C exports a test calls through GetProcAddress. A copy loaded from another
// directory is a second, independent client, as a second copy of the library would be.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct TLogProbeState {
  uint32_t formatBufferSize, recordBufferSize, moduleNumber, processId;
  uint8_t tableMapped, channelMapped, connectionAttempted, loggingEnabled;
};

using TProbeLog = void (*)(const char* format, ...);

// Loads one copy of the probe and resolves its exports; unloads it when destroyed.
class ProbeLibrary {
 public:
  explicit ProbeLibrary(const std::wstring& path) : module(LoadLibraryW(path.c_str()))
  {
    Info = reinterpret_cast<TProbeLog>(Export("ProbeLogInfo"));
    Verbose = reinterpret_cast<TProbeLog>(Export("ProbeLogVerbose"));
    Error = reinterpret_cast<TProbeLog>(Export("ProbeLogError"));
    GetLogLevel = reinterpret_cast<int (*)()>(Export("ProbeGetLogLevel"));
    getState = reinterpret_cast<void (*)(TLogProbeState*)>(Export("ProbeGetState"));
  }
  ~ProbeLibrary()
  {
    if (module)
      FreeLibrary(module);
  }
  ProbeLibrary(const ProbeLibrary&) = delete;
  ProbeLibrary& operator=(const ProbeLibrary&) = delete;

  bool Loaded() const { return Info && Verbose && Error && GetLogLevel && getState; }
  TLogProbeState State() const
  {
    TLogProbeState s{};
    getState(&s);
    return s;
  }

  TProbeLog Info, Verbose, Error;
  int (*GetLogLevel)();

 private:
  void* Export(const char* name) { return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr; }
  HMODULE module;
  void (*getState)(TLogProbeState*);
};

// Directory of the running test program, with a trailing backslash.
inline std::wstring ProgramDirectory()
{
  wchar_t path[MAX_PATH];
  const std::wstring exe(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  return exe.substr(0, exe.find_last_of(L'\\') + 1);
}

inline std::wstring ProbePathInProgramDirectory() { return ProgramDirectory() + L"pictor-log-probe.dll"; }

// <temp>\PictorLog-<pid>-<n>\Tools\ holding a copy of the probe (mixed case, for the
// case-folding checks), so that a test controls which entry and channel that copy finds.
class PrivateDirectory {
 public:
  PrivateDirectory()
  {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    base = temp + (L"PictorLog-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L"\\");
    tools = base + L"Tools\\";
    probe = tools + L"pictor-log-probe.dll";
    CreateDirectoryW(base.c_str(), nullptr);
    CreateDirectoryW(tools.c_str(), nullptr);
    copied = CopyFileW(ProbePathInProgramDirectory().c_str(), probe.c_str(), FALSE) != 0;
  }
  ~PrivateDirectory()
  {
    DeleteFileW(probe.c_str());
    RemoveDirectoryW(tools.c_str());
    RemoveDirectoryW(base.c_str());
  }
  PrivateDirectory(const PrivateDirectory&) = delete;
  PrivateDirectory& operator=(const PrivateDirectory&) = delete;

  std::wstring base, tools, probe;  // directories with a trailing backslash
  bool copied = false;
};
