#include <windows.h>
#include <objbase.h>

#include "media/GUIDNames.h"
#include "common/Ownership_win.h"
#include "log/Log.h"

void PictorGUIDAsString(const GUID& guid, std::wstring& text)
{
  text = GetMFGUIDName(guid);
  if (!text.empty()) return;

  TCoTaskMemPtr<wchar_t> braced;
  const HRESULT hr = StringFromCLSID(guid, braced.Put());
  if (hr != S_OK) LogError("%s StringFromCLSID error %x", "PictorGUIDAsString", static_cast<unsigned>(hr));
  if (braced.Get()) text = braced.Get();
}
