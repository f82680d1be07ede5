// The library's module instance handle, kept by the entry point at process attach;
// resources (the pixel program) are looked up in this module.
#pragma once

#include <windows.h>

HINSTANCE PictorModuleInstance();
