// The media source that reports the camera's failures to the capture's read callback
// (see WatchedSource.h).
#include "capture/WatchedSource.h"

#include "capture/ReadCallback.h"
#include "common/ComObject_win.h"
#include "common/Ownership_win.h"
#include "log/Log.h"

#include <mfapi.h>
#include <mferror.h>
#include <wrl/client.h>

#include <new>

using Microsoft::WRL::ComPtr;

namespace {

class TWatchedSource;

// What the source and its streams share: the forwarding of the event generator and the
// report of MEError. Interface is IMFMediaSource or IMFMediaStream.
template <class Interface>
class TWatched : public TComObject<Interface, IMFMediaEventGenerator> {
 public:
  STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override
  {
    const HRESULT hr = Camera->GetEvent(flags, event);
    if (SUCCEEDED(hr) && event && *event) Watch(event);
    return hr;
  }
  // The reader's state goes on as it is: the reader's Invoke calls EndGetEvent on it.
  STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override
  {
    return Camera->BeginGetEvent(callback, state);
  }
  STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override
  {
    const HRESULT hr = Camera->EndGetEvent(result, event);
    if (SUCCEEDED(hr) && event && *event) Watch(event);
    return hr;
  }
  STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended, HRESULT status, const PROPVARIANT* value) override
  {
    return Camera->QueueEvent(type, extended, status, value);
  }

 protected:
  TWatched(Interface* camera, TReadCallback* reads, unsigned line) : Camera(camera), Reads(reads), Line(line) {}

  // Reports a failure of the camera as the answer to a read.
  void Report(const char* what, HRESULT status)
  {
    if (SUCCEEDED(status)) status = E_FAIL;  // a failure without a result of its own
    LogInfo("TPictor::WatchedSource %s error %x", what, static_cast<unsigned>(status));
    Reads->Fault(Line, status);
  }

  // Looks at an event on its way to the reader; the source replaces the streams it announces.
  virtual void Watch(IMFMediaEvent** event)
  {
    MediaEventType type = MEUnknown;
    HRESULT status = S_OK;
    if (SUCCEEDED((*event)->GetType(&type)) && type == MEError && SUCCEEDED((*event)->GetStatus(&status)))
      Report("MEError", status);
  }

  ComPtr<Interface> Camera;
  ComPtr<TReadCallback> Reads;
  const unsigned Line;
};

class TWatchedStream final : public TWatched<IMFMediaStream> {
 public:
  TWatchedStream(IMFMediaStream* camera, TWatchedSource* source, TReadCallback* reads, unsigned line);

  STDMETHODIMP GetMediaSource(IMFMediaSource** source) override;
  STDMETHODIMP GetStreamDescriptor(IMFStreamDescriptor** descriptor) override
  {
    return Camera->GetStreamDescriptor(descriptor);
  }
  STDMETHODIMP RequestSample(IUnknown* token) override
  {
    const HRESULT hr = Camera->RequestSample(token);
    if (FAILED(hr)) Report("sample request", hr);
    return hr;
  }

 private:
  ComPtr<TWatchedSource> Source;  // what GetMediaSource names
};

class TWatchedSource final : public TWatched<IMFMediaSource> {
 public:
  TWatchedSource(IMFMediaSource* camera, TReadCallback* reads, unsigned line,
                 TMFRuntime::TMFCreateMediaEvent createEvent)
      : TWatched(camera, reads, line), MakeEvent(createEvent)
  {
  }

  STDMETHODIMP GetCharacteristics(DWORD* characteristics) override
  {
    return Camera->GetCharacteristics(characteristics);
  }
  STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override
  {
    return Camera->CreatePresentationDescriptor(descriptor);
  }
  STDMETHODIMP Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                     const PROPVARIANT* position) override
  {
    return Camera->Start(descriptor, timeFormat, position);
  }
  STDMETHODIMP Stop() override { return Camera->Stop(); }
  STDMETHODIMP Pause() override { return Camera->Pause(); }
  STDMETHODIMP Shutdown() override { return Camera->Shutdown(); }

 private:
  void Watch(IMFMediaEvent** event) override
  {
    TWatched::Watch(event);
    MediaEventType type = MEUnknown;
    if (FAILED((*event)->GetType(&type)) || (type != MENewStream && type != MEUpdatedStream)) return;
    // The event carries the camera's stream; the reader gets the same event around its wrapper.
    ComPtr<IMFMediaStream> stream;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED((*event)->GetValue(&value)) && value.vt == VT_UNKNOWN && value.punkVal)
      value.punkVal->QueryInterface(IID_PPV_ARGS(&stream));
    PropVariantClear(&value);
    if (!stream) return;
    auto wrapper = AdoptComPtr(new (std::nothrow) TWatchedStream(stream.Get(), this, Reads.Get(), Line));
    GUID extended = GUID_NULL;
    HRESULT status = S_OK;
    (*event)->GetExtendedType(&extended);
    (*event)->GetStatus(&status);
    PROPVARIANT wrapped;
    PropVariantInit(&wrapped);
    wrapped.vt = VT_UNKNOWN;
    wrapped.punkVal = static_cast<IMFMediaStream*>(wrapper.Get());  // the event takes its own reference
    ComPtr<IMFMediaEvent> replacement;
    HRESULT hr = wrapper ? MakeEvent(type, extended, status, &wrapped, &replacement) : E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) hr = (*event)->CopyAllItems(replacement.Get());
    if (FAILED(hr)) {
      // The reader gets the camera's own stream: the capture runs, its failures reach the
      // read only where the platform's reader reports them.
      LogError("TPictor::WatchedSource unable to wrap the stream error %x", static_cast<unsigned>(hr));
      return;
    }
    (*event)->Release();
    *event = replacement.Detach();
  }

  const TMFRuntime::TMFCreateMediaEvent MakeEvent;
};

TWatchedStream::TWatchedStream(IMFMediaStream* camera, TWatchedSource* source, TReadCallback* reads, unsigned line)
    : TWatched(camera, reads, line), Source(source)
{
}

STDMETHODIMP TWatchedStream::GetMediaSource(IMFMediaSource** source)
{
  if (!source) return E_POINTER;
  ComPtr<IMFMediaSource> own;  // the camera's answer stands for a stream shut down
  const HRESULT hr = Camera->GetMediaSource(&own);
  if (FAILED(hr)) {
    *source = nullptr;
    return hr;
  }
  *source = Source.Get();
  (*source)->AddRef();
  return S_OK;
}

}  // namespace

IMFMediaSource* CreateWatchedSource(IMFMediaSource* camera, TReadCallback* reads, unsigned line,
                                    TMFRuntime::TMFCreateMediaEvent createEvent)
{
  return new (std::nothrow) TWatchedSource(camera, reads, line, createEvent);
}
