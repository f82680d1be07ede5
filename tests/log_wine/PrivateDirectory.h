// A directory of its own under the temp folder holding a copy of the probe DLL, so a
// test controls exactly which registration entry and channel that copy finds.
#pragma once

#include "ProbeLibrary.h"

#include <windows.h>

#include <string>

class PrivateDirectory {
 public:
  // <temp>\PictorLog-<pid>-<n>\Tools\ (mixed case, for the case-folding checks).
  PrivateDirectory()
  {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    base = std::wstring(temp) + L"PictorLog-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter) + L"\\";
    tools = base + L"Tools\\";
    CreateDirectoryW(base.c_str(), nullptr);
    CreateDirectoryW(tools.c_str(), nullptr);
    probe = tools + L"pictor-log-probe.dll";
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

  std::wstring base;   // with a trailing backslash
  std::wstring tools;  // where the probe lies, with a trailing backslash
  std::wstring probe;
  bool copied = false;
};
