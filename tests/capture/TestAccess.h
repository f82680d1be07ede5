// White-box access to TPictor's non-exported operations (a friend of the class).
#pragma once

#include "Pictor.h"
#include "capture/PictorState.h"
#include "capture/ReadCallback.h"
#include "capture/Session.h"

#include <windows.h>

#include <mfidl.h>
#include <mfreadwrite.h>

class TPictorTestAccess {
 public:
  static DWORD WINAPI NoThread(LPVOID) { return 0; }
  // The object's session, made for a test the first time: the sink of a converter made by
  // the test, and the owner of the capture loop the test runs.
  static TCaptureSession& Session(TPictor& p)
  {
    if (!p.pState->Session)
      p.pState->Session = TCaptureSession::Create({&p, p.pMFRuntime, L"test", TPictorFormat(), nullptr,
                                                   &p.pState->Status, &p.pState->AutoReconnect, &p.bStopCapture});
    return *p.pState->Session;
  }
  // Runs the capture session's loop on the calling thread over whatever reader and converter
  // the test put in place; the reader answers through ReadCallback(p).
  static void RunCaptureThread(TPictor& p, IMFSourceReader* reader, TMFVideoConverter* converter)
  {
    p.pMFVideoConverter = converter;
    p.bStopCapture = false;
    reader->AddRef();
    Session(p).Start(nullptr, reader, converter, NoThread, nullptr);
    TPictor::CaptureThread(&p);
  }
  static TReadCallback* ReadCallback(TPictor& p) { return Session(p).ReadHandOver(); }
  static bool Activate(TPictor& p, const wchar_t* link) { return p.ActivateDevice(link); }
  static void Deactivate(TPictor& p) { p.DeactivateDevice(); }
  static IMFSourceReader* Reader(TPictor& p) { return p.pSourceReader; }
  static void SetCallback(TPictor& p, TImageReadyCallback callback, void* context)
  {
    p.pPictorImageReady = callback;
    p.pImageReadyContext = context;
  }
};
