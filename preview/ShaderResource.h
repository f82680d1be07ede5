// The compiled pixel program embedded in the library (resource type "BINARY", id 101,
// from preview/Pictor.rc).
#pragma once

#include <windows.h>

constexpr int PictorShaderResourceId = 101;

// The program's bytes in the library's own module, used in place (never copied), and
// their size in *size; null (and *size possibly 0) when the resource cannot be had.
// The module is the one whose entry point ran; a program that links the library's
// objects directly finds the resource in its own executable.
const void* LoadResource(DWORD* size);
