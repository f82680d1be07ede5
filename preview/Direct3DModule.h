// d3d9.dll is loaded at run time by the preview's first Direct3D set-up (a software
// preview never loads it); the library's entry point frees it at an unload.
#pragma once

void ReleaseDirect3DModule();
