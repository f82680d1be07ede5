// The camera list watcher: a library thread that compares the device list's symbolic
// links with the last ones it saw and calls the host when they differ. Device-interface
// notices (CM_Register_Notification, Windows 8 and later) wake it at once when a camera
// device comes or goes; a check once a second covers what sends none: Wine 8.0 has no such
// function, and software cameras listed by Media Foundation may have no device interface.
#include "capture/CameraListWatcher.h"

#include "capture/PictorState.h"
#include "common/Ownership_win.h"
#include "log/Log.h"
#include "log/LogTrace.h"
#include "media/MFRuntime.h"

#include <mfapi.h>
#include <mfidl.h>
#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kPollMilliseconds = 1000;

// The device-interface part of cfgmgr32's notification interface (Windows 8 and later),
// declared here because the build targets Windows 7 headers; looked up at run time.
struct TNotifyFilter {
  DWORD Size;
  DWORD Flags;
  int FilterType;  // 0: device interface
  DWORD Reserved;
  union {
    GUID ClassGuid;
    HANDLE Target;
    WCHAR InstanceId[200];
  } Filter;
};
typedef HANDLE TNotification;
typedef DWORD(CALLBACK* TNotifyCallback)(TNotification, void* context, int action, void* data, DWORD size);
typedef DWORD(WINAPI* TRegisterNotification)(TNotifyFilter*, void* context, TNotifyCallback, TNotification*);
typedef DWORD(WINAPI* TUnregisterNotification)(TNotification);

// KSCATEGORY_VIDEO_CAMERA (Windows 10 cameras) and KSCATEGORY_CAPTURE (every capture device).
const GUID kCameraClasses[] = {
    {0xe5323777, 0xf976, 0x4f5b, {0x9b, 0x55, 0xb9, 0x46, 0x99, 0xc4, 0x6e, 0x44}},
    {0x65e8773d, 0x8f56, 0x11d0, {0xa3, 0xb9, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}},
};

DWORD CALLBACK DeviceNotice(TNotification, void* context, int, void*, DWORD)
{
  SetEvent(static_cast<HANDLE>(context));  // the watcher's thread does the work
  return ERROR_SUCCESS;
}

// The device notices of this thread's watcher, registered where the system has them.
class TDeviceNotices {
 public:
  explicit TDeviceNotices(HANDLE wake)
  {
    Module = LoadLibraryW(L"cfgmgr32.dll");
    auto reg = Module ? reinterpret_cast<TRegisterNotification>(
                            reinterpret_cast<void*>(GetProcAddress(Module, "CM_Register_Notification")))
                      : nullptr;
    Unregister = Module ? reinterpret_cast<TUnregisterNotification>(
                              reinterpret_cast<void*>(GetProcAddress(Module, "CM_Unregister_Notification")))
                        : nullptr;
    if (!reg || !Unregister) {
      LogInfo("%s no device notifications on this system, the list is checked every second",
              "TPictor::SetCameraListCallback");
      return;
    }
    for (const GUID& category : kCameraClasses) {
      TNotifyFilter filter = {};
      filter.Size = sizeof filter;
      filter.FilterType = 0;
      filter.Filter.ClassGuid = category;
      TNotification handle = nullptr;
      const DWORD result = reg(&filter, wake, DeviceNotice, &handle);
      if (result == 0)
        Handles.push_back(handle);
      else
        LogError("%s CM_Register_Notification error %u", "TPictor::SetCameraListCallback",
                 static_cast<unsigned>(result));
    }
  }
  ~TDeviceNotices()
  {
    // Waits for a notice callback in progress; never called from one.
    for (TNotification handle : Handles) Unregister(handle);
    if (Module) FreeLibrary(Module);
  }
  TDeviceNotices(const TDeviceNotices&) = delete;
  TDeviceNotices& operator=(const TDeviceNotices&) = delete;

 private:
  HMODULE Module = nullptr;
  TUnregisterNotification Unregister = nullptr;
  std::vector<TNotification> Handles;
};

}  // namespace

bool ReadCameraLinks(TMFRuntime* runtime, std::vector<std::wstring>* links)
{
  if (!runtime || !runtime->bCanUse) return false;
  ComPtr<IMFAttributes> attributes;
  if (runtime->pMFCreateAttributes(attributes.GetAddressOf(), 1) != S_OK || !attributes) return false;
  HRESULT hr = attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
  TComArray<IMFActivate> devices;
  if (hr == S_OK) hr = runtime->pMFEnumDeviceSources(attributes.Get(), devices.PutItems(), devices.PutCount());
  if (hr != S_OK) return false;
  links->clear();
  for (UINT32 i = 0; i < devices.Count(); ++i) {
    TCoTaskMemPtr<WCHAR> link;
    UINT32 length = 0;
    if (devices[i] &&
        devices[i]->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, link.Put(), &length) ==
            S_OK &&
        link.Get()) {
      try {
        links->emplace_back(link.Get(), length);
      } catch (...) {
        hr = E_OUTOFMEMORY;
      }
    }
  }
  std::sort(links->begin(), links->end());
  return hr == S_OK;
}

bool CameraIsListed(TMFRuntime* runtime, const std::wstring& link)
{
  std::vector<std::wstring> links;
  if (!ReadCameraLinks(runtime, &links)) return false;
  for (const std::wstring& listed : links) {
    if (CompareStringOrdinal(listed.c_str(), -1, link.c_str(), -1, TRUE) == CSTR_EQUAL) return true;
  }
  return false;
}

TCameraListWatcher::TCameraListWatcher(TMFRuntime* runtime, TCameraListChangedProc callback, void* context)
    : pRuntime(runtime), pCallback(callback), pContext(context)
{
}

TCameraListWatcher::~TCameraListWatcher() = default;

TCameraListWatcher* TCameraListWatcher::Start(TMFRuntime* runtime, TCameraListChangedProc callback, void* context)
{
  static const char kName[] = "TPictor::SetCameraListCallback";
  auto* watcher = new (std::nothrow) TCameraListWatcher(runtime, callback, context);
  if (!watcher) {
    LogError("%s no memory for the watcher", kName);
    return nullptr;
  }
  // The list as it is now, read before the call returns: a change right after it counts.
  ReadCameraLinks(runtime, &watcher->Known);
  if (!watcher->WakeEvent || !watcher->Thread.Start(L"Pictor camera list", ThreadApi, watcher)) {
    LogError("%s unable to start the watcher thread error %d", kName, static_cast<int>(GetLastError()));
    delete watcher;
    return nullptr;
  }
  return watcher;
}

void TCameraListWatcher::SetCallback(TCameraListChangedProc callback, void* context)
{
  AcquireSRWLockExclusive(&CallbackLock);
  pCallback = callback;
  pContext = context;
  ReleaseSRWLockExclusive(&CallbackLock);
}

void TCameraListWatcher::Stop()
{
  Thread.RequestStop();
  if (Thread.IsCurrent()) {
    // From the host's callback: the thread cannot wait for itself. It ends when the
    // callback returns, and frees the watcher then.
    bFreesItself = true;
    return;
  }
  Thread.Join(INFINITE);
  delete this;
}

DWORD WINAPI TCameraListWatcher::ThreadApi(LPVOID parameter)
{
  auto* watcher = static_cast<TCameraListWatcher*>(parameter);
  {
    const TLogScope scope("TCameraListWatcher::Watch");
    // The thread is the library's own: it joins the multithreaded apartment for the
    // device enumeration and leaves it before it ends.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    watcher->Watch();
    if (SUCCEEDED(com)) CoUninitialize();
  }
  if (watcher->bFreesItself) delete watcher;
  return 0;
}

void TCameraListWatcher::Watch()
{
  PICTOR_DCHECK_THREAD(OnWatcherThread);
  const TDeviceNotices notices(WakeEvent.Get());
  const HANDLE events[] = {Thread.StopHandle(), WakeEvent.Get()};
  for (;;) {
    const DWORD woken = WaitForMultipleObjects(2, events, FALSE, kPollMilliseconds);
    if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) return;
    std::vector<std::wstring> now;
    if (!ReadCameraLinks(pRuntime, &now) || now == Known) continue;
    LogInfo("%s camera list changed, %d cameras", "TCameraListWatcher::Watch", static_cast<int>(now.size()));
    Known.swap(now);
    NotifyHost();
    if (bEndAfterCallback) return;
  }
}

// The host's callback runs with no lock of the library held: it may set another
// callback, turn the notices off or call any other operation.
void TCameraListWatcher::NotifyHost()
{
  AcquireSRWLockShared(&CallbackLock);
  const TCameraListChangedProc callback = pCallback;
  void* const context = pContext;
  ReleaseSRWLockShared(&CallbackLock);
  if (Thread.StopRequested()) return;  // turned off meanwhile
  try {
    callback(context);
  } catch (...) {
    LogError("%s the host's camera list callback threw", "TCameraListWatcher::Watch");
  }
}

// The host's thread and the watcher's own (a callback turning its notices off or on) may
// call at once. The watcher pointer changes only under the state's lock, and only the call
// that takes the watcher out stops it, so it ends once. The callback's thread cannot join
// itself: its call only ends the thread after the callback and leaves the watcher in place
// for the next call or the destructor, so a host thread turning the notices off always
// waits for a callback under way.
void TPictor::SetCameraListCallback(TCameraListChangedProc callback, void* context)
{
  static const char kName[] = "TPictor::SetCameraListCallback";
  const TLogScope scope(kName);
  if (StateMissing(pState, kName)) return;
  for (;;) {
    TCameraListWatcher* ended = nullptr;
    {
      TExclusiveSRWHold hold(pState->ListWatcherLock);
      TCameraListWatcher*& watcher = pState->pListWatcher;
      if (watcher && watcher->OnItsThread()) {
        watcher->EndAfterCallback(!callback);
        if (callback) watcher->SetCallback(callback, context);
      } else if (watcher && (!callback || watcher->EndsAfterCallback())) {
        ended = std::exchange(watcher, nullptr);
      } else if (watcher) {
        watcher->SetCallback(callback, context);
      } else if (callback) {
        watcher = TCameraListWatcher::Start(pMFRuntime, callback, context);
      }
      if (!ended) {
        LogInfo("%s %s", kName, !callback ? "off" : watcher ? "on" : "failed");
        return;
      }
    }
    ended->Stop();  // outside the lock: the callback it waits for may call here
    if (!callback) {
      LogInfo("%s off", kName);
      return;
    }
  }
}

void EndCameraListNotices(TPictorState* state)
{
  if (!state) return;
  TCameraListWatcher* watcher = nullptr;
  {
    TExclusiveSRWHold hold(state->ListWatcherLock);
    std::swap(watcher, state->pListWatcher);
  }
  if (watcher) watcher->Stop();
}
