#include "preview/ShaderResource.h"

#include "log/Log.h"

// Kept by the library's entry point; null in a program that links the objects directly,
// which makes the lookups below search that program's executable.
extern HINSTANCE g_hPictorInstance;

const void* LoadResource(DWORD* size)
{
    static const char kName[] = "LoadResource";
    LogInfo("%s resource %d", kName, PictorShaderResourceId);
    *size = 0;

    const void* bytes = nullptr;
    HRSRC resource = FindResourceW(g_hPictorInstance, MAKEINTRESOURCEW(PictorShaderResourceId), L"BINARY");
    if (!resource) {
        LogError("%s Unable to find shader resource. error %d", kName, static_cast<int>(GetLastError()));
    } else if ((*size = SizeofResource(g_hPictorInstance, resource)) == 0) {
        LogError("%s Unable to get shader resource size. error %d", kName, static_cast<int>(GetLastError()));
    } else if (HGLOBAL loaded = ::LoadResource(g_hPictorInstance, resource); !loaded) {
        LogError("%s Unable to load shader resource. error %d", kName, static_cast<int>(GetLastError()));
    } else if (!(bytes = LockResource(loaded))) {
        LogError("%s Unable to lock shader resource. error %d", kName, static_cast<int>(GetLastError()));
    }
    LogInfo("%s exit with %p", kName, bytes);
    return bytes;
}
