// A plain contiguous media buffer. The double uses its own rather than
// MFCreateMemoryBuffer so that every buffer it hands out is counted while alive.
#include <mferror.h>

#include <memory>

#include "tools/virtualcam/MediaSource_win.h"

namespace virtualcam {
namespace {

class CountedBuffer final : public IMFMediaBuffer {
 public:
  explicit CountedBuffer(DWORD bytes) : data_(new (std::nothrow) BYTE[bytes ? bytes : 1]), max_(bytes), length_(bytes) {}
  bool Valid() const { return data_ != nullptr; }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IMFMediaBuffer)) {
      *out = static_cast<IMFMediaBuffer*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  VIRTUALCAM_REFCOUNT_METHODS()

  STDMETHODIMP Lock(BYTE** buffer, DWORD* maxLength, DWORD* currentLength) override {
    if (!buffer) return E_POINTER;
    *buffer = data_.get();
    if (maxLength) *maxLength = max_;
    if (currentLength) *currentLength = length_;
    return S_OK;
  }
  STDMETHODIMP Unlock() override { return S_OK; }
  STDMETHODIMP GetCurrentLength(DWORD* length) override {
    if (!length) return E_POINTER;
    *length = length_;
    return S_OK;
  }
  STDMETHODIMP SetCurrentLength(DWORD length) override {
    if (length > max_) return E_INVALIDARG;
    length_ = length;
    return S_OK;
  }
  STDMETHODIMP GetMaxLength(DWORD* length) override {
    if (!length) return E_POINTER;
    *length = max_;
    return S_OK;
  }

 private:
  ~CountedBuffer() = default;
  LiveCount count_{CountKind::Buffer};
  std::unique_ptr<BYTE[]> data_;
  DWORD max_;
  DWORD length_;
};

}  // namespace

HRESULT CreateCountedBuffer(DWORD bytes, IMFMediaBuffer** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* buffer = new (std::nothrow) CountedBuffer(bytes);
  if (!buffer) return E_OUTOFMEMORY;
  if (!buffer->Valid()) {
    buffer->Release();
    return E_OUTOFMEMORY;
  }
  *out = buffer;
  return S_OK;
}

}  // namespace virtualcam
