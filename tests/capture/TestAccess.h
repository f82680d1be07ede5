// White-box access to TPictor's non-exported operations (a friend of the class).
#pragma once

#include "Pictor.h"
#include "capture/FrameDelivery.h"
#include "capture/PictorState.h"
#include "capture/ReadCallback.h"
#include "capture/Session.h"

#include <windows.h>

#include <mfidl.h>
#include <mfreadwrite.h>

class TPictorTestAccess {
 public:
  // Runs the capture session's loop on the calling thread over whatever reader and converter
  // the test put in place; the reader answers through ReadCallback(p).
  static void RunCaptureThread(TPictor& p, IMFSourceReader* reader, TMFVideoConverter* converter)
  {
    p.pMFVideoConverter = converter;
    p.bStopCapture = false;
    p.pState->Session = TCaptureSession::Create({p.pMFRuntime, L"test", TPictorFormat(), nullptr, &p.pState->Status,
                                                 &p.pState->AutoReconnect, &p.bStopCapture});
    reader->AddRef();
    p.pState->Session->Start(
        nullptr, reader, converter, [](LPVOID) -> DWORD { return 0; }, nullptr);
    TPictor::CaptureThread(&p);
  }
  static TReadCallback* ReadCallback(TPictor& p) { return p.pState->Session->ReadHandOver(); }
  // The object's Media Foundation binding, whose entry points (or itself) a test may replace.
  static TMFRuntime*& Runtime(TPictor& p) { return p.pMFRuntime; }
  // The object's frame sink, for a converter made by the test.
  static TFrameSink* Sink(TPictor& p)
  {
    if (!p.pState->pFrameSink) p.pState->pFrameSink = new TPictorFrameSink(p);
    return p.pState->pFrameSink;
  }
  static bool Activate(TPictor& p, const wchar_t* link) { return p.ActivateDevice(link); }
  static void Deactivate(TPictor& p) { p.DeactivateDevice(); }
  static IMFSourceReader* Reader(TPictor& p) { return p.pSourceReader; }
  static void SetCallback(TPictor& p, TImageReadyCallback callback, void* context)
  {
    p.pPictorImageReady = callback;
    p.pImageReadyContext = context;
  }
};
