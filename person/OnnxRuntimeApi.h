// ONNX Runtime's C API header (third_party/onnxruntime, unchanged) with the two
// Microsoft compiler spellings it uses that mingw-w64 lacks in standard C++ mode.
#pragma once

#include <windows.h>

#if defined(__MINGW32__)
#  include <sal.h>
#  if !defined(_stdcall)
#    define _stdcall __stdcall
#  endif
#  if !defined(_Frees_ptr_opt_)
#    define _Frees_ptr_opt_
#  endif
#endif

#include <onnxruntime_c_api.h>
