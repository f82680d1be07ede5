#include "preview/ShaderResource.h"

#include "log/Log.h"
#include "log/Module.h"

const void* LoadResource(DWORD* size)
{
  static const char kName[] = "LoadResource";
  // Null in a program that links the library's objects directly: the lookups then
  // search that program's executable.
  const HINSTANCE module = PictorModuleInstance();
  LogInfo("%s resource %d", kName, PictorShaderResourceId);
  *size = 0;

  const void* bytes = nullptr;
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(PictorShaderResourceId), L"BINARY");
  if (!resource) {
    LogError("%s Unable to find shader resource. error %d", kName, static_cast<int>(GetLastError()));
  } else if ((*size = SizeofResource(module, resource)) == 0) {
    LogError("%s Unable to get shader resource size. error %d", kName, static_cast<int>(GetLastError()));
  } else if (HGLOBAL loaded = ::LoadResource(module, resource); !loaded) {
    LogError("%s Unable to load shader resource. error %d", kName, static_cast<int>(GetLastError()));
  } else if (!(bytes = LockResource(loaded))) {
    LogError("%s Unable to lock shader resource. error %d", kName, static_cast<int>(GetLastError()));
  }
  LogInfo("%s exit with %p", kName, bytes);
  return bytes;
}
