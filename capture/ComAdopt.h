// Ownership of COM references that a call has already handed over.
#pragma once

#include <wrl/client.h>

// Wraps a reference the caller already owns (a factory's result) without adding one.
// mingw-w64's ComPtr::Attach adds a reference where the Windows SDK's does not, so
// the library never uses Attach: taking ownership goes through this one function.
template <class T>
Microsoft::WRL::ComPtr<T> AdoptComPtr(T* owned)
{
  Microsoft::WRL::ComPtr<T> pointer;
  *pointer.GetAddressOf() = owned;
  return pointer;
}
