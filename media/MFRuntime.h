// TMFRuntime: the run-time binding of Media Foundation. Everything the library calls in
// mf.dll, mfplat.dll and mfreadwrite.dll is looked up here, nothing is imported: the
// library loads where Media Foundation is missing (Windows N editions without the Media
// Feature Pack), and a host can ask whether it is usable before it creates a camera object.
//
// The record is filled once by the constructor and only read afterwards (also from the
// converter's thread), so it needs no lock; the shared one is made under a lock of its own. A pointer is null when its
// function was not found; every caller tests it before calling through it.
#pragma once

#include <windows.h>

struct IMFAttributes;
struct IMFActivate;
struct IMFMediaSource;
struct IMFSourceReader;
struct IMFSample;
struct IMFMediaBuffer;
struct IMFMediaType;
struct IMFMediaEvent;
struct tagPROPVARIANT;
struct tagBITMAPINFOHEADER;

class TMFRuntime {
 public:
  typedef HRESULT(WINAPI* TMFEnumDeviceSources)(IMFAttributes*, IMFActivate***, UINT32*);
  typedef HRESULT(WINAPI* TMFCreateDeviceSource)(IMFAttributes*, IMFMediaSource**);
  typedef HRESULT(WINAPI* TMFStartup)(ULONG, DWORD);
  typedef HRESULT(WINAPI* TMFShutdown)();
  typedef HRESULT(WINAPI* TMFCreateAttributes)(IMFAttributes**, UINT32);
  typedef HRESULT(WINAPI* TMFCreateVideoMediaTypeFromBitMapInfoHeaderEx)(const BITMAPINFOHEADER*, UINT32, DWORD, DWORD,
                                                                         DWORD, UINT64, UINT32, UINT32, UINT32,
                                                                         IMFMediaType**);
  typedef HRESULT(WINAPI* TMFCreateSample)(IMFSample**);
  typedef HRESULT(WINAPI* TMFCreateMemoryBuffer)(DWORD, IMFMediaBuffer**);
  typedef HRESULT(WINAPI* TMFCreateSourceReaderFromMediaSource)(IMFMediaSource*, IMFAttributes*, IMFSourceReader**);
  typedef HRESULT(WINAPI* TMFCreateMediaEvent)(DWORD, const GUID&, HRESULT, const tagPROPVARIANT*, IMFMediaEvent**);

  // Module names the binding loads; the defaults are the system's libraries. Tests
  // substitute stand-ins to present a runtime that lacks a library or a function.
  struct ModuleNames {
    const wchar_t* mf = L"mf.dll";
    const wchar_t* mfplat = L"mfplat.dll";
    const wchar_t* mfreadwrite = L"mfreadwrite.dll";
  };

  TMFRuntime();
  explicit TMFRuntime(const ModuleNames& names);

  // The binding the TPictor objects of this copy of the library share, counted: the first
  // call loads the modules and starts Media Foundation, and every call is matched by one
  // ReleaseShared. A preview restart keeps its object, so the platform is not started and
  // shut down around a restart. *runtime is null when no binding could be made (nothing to
  // release then); the result is MFStartup's (a failed start is tried again by the next call).
  // While started it holds the work queue the source readers share, so that no reader's end
  // is the queue's end.
  static HRESULT AcquireShared(TMFRuntime** runtime);
  // The last release shuts Media Foundation down and frees the modules on the releasing
  // thread. Never from the library's entry point: under the loader lock the platform's
  // work-queue threads cannot end, and each unload left their handles behind.
  static void ReleaseShared();
  // MFCreateSample and MFCreateMemoryBuffer of the shared binding, for code that has no
  // object of its own (the capture thread's sample copies, made while their TPictor holds
  // the binding). kFunctionMissing when no binding is held or it lacks the function.
  static HRESULT CreateSharedSample(IMFSample** sample);
  static HRESULT CreateSharedMemoryBuffer(DWORD length, IMFMediaBuffer** buffer);
  ~TMFRuntime();
  TMFRuntime(const TMFRuntime&) = delete;
  TMFRuntime& operator=(const TMFRuntime&) = delete;

  HMODULE hMFPlat = nullptr;
  HMODULE hMF = nullptr;
  HMODULE hMFReadWrite = nullptr;

  TMFEnumDeviceSources pMFEnumDeviceSources = nullptr;
  TMFCreateDeviceSource pMFCreateDeviceSource = nullptr;
  TMFStartup pMFStartup = nullptr;
  TMFShutdown pMFShutdown = nullptr;
  TMFCreateAttributes pMFCreateAttributes = nullptr;
  TMFCreateVideoMediaTypeFromBitMapInfoHeaderEx pMFCreateVideoMediaTypeFromBitMapInfoHeaderEx = nullptr;
  TMFCreateSample pMFCreateSample = nullptr;
  TMFCreateMemoryBuffer pMFCreateMemoryBuffer = nullptr;  // optional
  TMFCreateSourceReaderFromMediaSource pMFCreateSourceReaderFromMediaSource = nullptr;
  TMFCreateMediaEvent pMFCreateMediaEvent = nullptr;  // optional: a capture's failures are then the reader's to report

  // All three libraries loaded and every required function found.
  bool bCanUse = false;

  // The result an operation reports in place of calling a function that was not found
  // (HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)).
  static constexpr HRESULT kFunctionMissing = static_cast<HRESULT>(0x8007007FL);
};
