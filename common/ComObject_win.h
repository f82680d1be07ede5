// IUnknown for the COM objects the library and the virtual camera make themselves, so that
// each of them writes only its own methods. Header-only, like Ownership_win.h.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <type_traits>

// An object that answers for IUnknown, for Interface and for each of AlsoAnswers (the
// interfaces Interface derives from that a caller may ask for by name, e.g.
// IMFMediaEventGenerator for IMFMediaStream), always with the object as Interface. It is
// made with one reference for its maker; the last Release calls OnFinalRelease, which
// deletes it unless a class keeps its objects for reuse. The count is atomic: references
// are taken and dropped on any thread.
template <class Interface, class... AlsoAnswers>
class TComObject : public Interface {
  static_assert(std::is_base_of<IUnknown, Interface>::value, "a COM object implements a COM interface");
  static_assert((std::is_base_of<AlsoAnswers, Interface>::value && ...),
                "the object answers as Interface: every other interface must be one Interface derives from");

 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) final
  {
    if (!out) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface) || ((iid == __uuidof(AlsoAnswers)) || ...))
      *out = static_cast<Interface*>(this);
    else
      *out = OtherInterface(iid);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() final { return ++Refs; }
  STDMETHODIMP_(ULONG) Release() final
  {
    const ULONG left = --Refs;
    if (left == 0) OnFinalRelease();
    return left;
  }

  // A reference for a holder that keeps none of its own (a pointer back to an owner):
  // false once the last reference has gone, when the object may be on its way out.
  bool TryAddRef()
  {
    ULONG refs = Refs.load();
    while (refs != 0) {
      if (Refs.compare_exchange_weak(refs, refs + 1)) return true;
    }
    return false;
  }

 protected:
  TComObject() = default;
  virtual ~TComObject() = default;
  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  // The last reference has gone.
  virtual void OnFinalRelease() { delete this; }
  // For an object that OnFinalRelease kept: handed out again with one reference.
  void Revive() { Refs = 1; }
  // An interface the object answers for besides the listed ones (a part of its own, or
  // one it has only in some configurations), to be handed out with a reference to the
  // object; null for none.
  virtual void* OtherInterface(REFIID) { return nullptr; }

 private:
  std::atomic<ULONG> Refs{1};
};
