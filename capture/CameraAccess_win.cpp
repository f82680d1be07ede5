// The three ways a parameter or format call reaches a camera (see CameraAccess.h).
#include "capture/CameraAccess.h"

#include "Pictor.h"
#include "capture/CameraClose.h"
#include "capture/PictorState.h"
#include "capture/Session.h"
#include "common/Ownership_win.h"
#include "log/Log.h"

#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

using Microsoft::WRL::ComPtr;

void TCaptureCamera::ReadNativeTypes(IMFSourceReader* reader)
{
  for (DWORD index = 0;; ++index) {
    ComPtr<IMFMediaType> type;
    const HRESULT hr = reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, &type);
    if (hr != S_OK || !type) {
      NativeTypesEnd = hr != S_OK ? hr : E_POINTER;
      return;
    }
    NativeTypes.push_back(type);
  }
}

ComPtr<IMFMediaSource> TCaptureCamera::Source()
{
  TExclusiveSRWHold hold(SourceLock);  // the returned copy is made while it is held
  return CurrentSource;
}

ComPtr<IMFMediaSource> TCaptureCamera::Replace(ComPtr<IMFMediaSource> source)
{
  TExclusiveSRWHold hold(SourceLock);
  CurrentSource.Swap(source);
  return source;
}

TCameraAccess::TCameraAccess(TPictor& pictor, const wchar_t* link) : Pictor(pictor)
{
  static const char kName[] = "TPictor::ActivateDevice";
  TCaptureCamera* session = pictor.pState->Session ? &pictor.pState->Session->Camera() : nullptr;
  if (!session) {
    pictor.DeactivateDevice();
    bOpened = pictor.ActivateDevice(link);
    return;
  }
  // Symbolic links name device interfaces, whose paths compare without regard to case.
  if (link && CompareStringOrdinal(link, -1, session->Link.c_str(), -1, TRUE) == CSTR_EQUAL) {
    pSession = session;
    SessionSource = session->Source();
    if (SessionSource)
      LogInfo("%s uses the running capture's camera", kName);
    else
      LogInfo("%s the running capture's camera is lost, waiting for it to come back", kName);
    bOpened = true;
    return;
  }
  LogInfo("%s '%S' for a call while another camera captures", kName, link ? link : L"");
  bTemporary = true;
  bOpened = OpenCameraDevice(pictor.pMFRuntime, link ? link : L"", &TemporarySource, &TemporaryReader);
  LogInfo("%s exit with %d", kName, bOpened ? 1 : 0);
}

TCameraAccess::~TCameraAccess()
{
  // Shut down before its release, as the object's own slot is (DeactivateDevice); the
  // reader holds the source and goes first.
  CloseCameraWithin(TemporarySource.Detach(), TemporaryReader.Detach(), kCameraCloseMs, "TCameraAccess");
  if (!pSession && !bTemporary) Pictor.DeactivateDevice();
}

IMFMediaSource* TCameraAccess::Source() const
{
  if (pSession) return SessionSource.Get();
  if (!bTemporary) return Pictor.pMediaSource;
  return TemporarySource.Get();
}

HRESULT TCameraAccess::SelectFirstVideoStream()
{
  if (pSession) return S_OK;
  IMFSourceReader* reader = bTemporary ? TemporaryReader.Get() : Pictor.pSourceReader;
  HRESULT hr = reader->SetStreamSelection(MF_SOURCE_READER_ALL_STREAMS, FALSE);
  if (hr == S_OK) hr = reader->SetStreamSelection(MF_SOURCE_READER_FIRST_VIDEO_STREAM, TRUE);
  return hr;
}

HRESULT TCameraAccess::NativeType(DWORD index, IMFMediaType** type)
{
  *type = nullptr;
  if (pSession) {
    if (index >= pSession->NativeTypes.size()) return pSession->NativeTypesEnd;
    *type = pSession->NativeTypes[index].Get();
    (*type)->AddRef();
    return S_OK;
  }
  IMFSourceReader* reader = bTemporary ? TemporaryReader.Get() : Pictor.pSourceReader;
  return reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, type);
}
