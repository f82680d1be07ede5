// Notices of cameras coming and going, for TPictor::SetCameraListCallback: a library
// thread watches the device list and calls the host when the list of symbolic links it
// reports has changed.
#pragma once

#include "common/Thread_win.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "Pictor.h"

class TMFRuntime;

// The symbolic links of the video capture devices, sorted; false when they could not be
// read. Writes no line: the watcher and a reconnecting capture call it again and again.
bool ReadCameraLinks(TMFRuntime* runtime, std::vector<std::wstring>* links);
// True when the device list has the link (device paths compare without regard to case).
bool CameraIsListed(TMFRuntime* runtime, const std::wstring& link);

class TPictorState;
// The destructor's end of an object's camera list notices (see Stop).
void EndCameraListNotices(TPictorState* state);

class TCameraListWatcher {
 public:
  // Starts the watching thread; null (after an error line) when it cannot.
  static TCameraListWatcher* Start(TMFRuntime* runtime, TCameraListChangedProc callback, void* context);
  // Later notices go to this callback (never null: Stop turns them off).
  void SetCallback(TCameraListChangedProc callback, void* context);
  // True on the watcher's own thread, that is inside the host's callback.
  bool OnItsThread() const { return Thread.IsCurrent(); }
  // From the host's callback: the thread ends once the callback returns (off), unless a
  // later call of the same callback turns the notices on again (on). Whoever holds the
  // watcher still has to Stop it.
  void EndAfterCallback(bool end) { bEndAfterCallback = end; }
  bool EndsAfterCallback() const { return bEndAfterCallback; }
  // Ends the notices: no callback runs once it returns. Joins the thread, or, on the thread
  // itself (the host's callback destroying its object), leaves the thread to end and free
  // the watcher by itself. The object is gone afterwards. One caller only: the holder.
  void Stop();

 private:
  TCameraListWatcher(TMFRuntime* runtime, TCameraListChangedProc callback, void* context);
  ~TCameraListWatcher();
  TCameraListWatcher(const TCameraListWatcher&) = delete;
  TCameraListWatcher& operator=(const TCameraListWatcher&) = delete;

  static DWORD WINAPI ThreadApi(LPVOID parameter);
  void Watch();
  void NotifyHost();

  TMFRuntime* pRuntime;                 // the library's shared binding, not owned
  SRWLOCK CallbackLock = SRWLOCK_INIT;  // guards the pair below; never held during the call
  TCameraListChangedProc pCallback;
  void* pContext;
  // The links last seen; the watcher's thread only, once started (checked in debug builds).
  std::vector<std::wstring> Known;
  TThreadChecker OnWatcherThread;
  TEvent WakeEvent{TEvent::AutoReset};  // a device-interface notice arrived
  // Set by a Stop on the watcher's own thread: the thread frees the watcher as it ends.
  bool bFreesItself = false;
  std::atomic<bool> bEndAfterCallback{false};
  // Last, so that it is joined (or, on its own thread, let go) before anything else goes.
  TLibraryThread Thread;
};
