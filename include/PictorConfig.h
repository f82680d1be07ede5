// Compiler and platform guards shared by the exported headers. Everything that
// differs between MSVC and mingw-w64 (or between Windows and the native test build)
// is named here once, so the rest of the code carries no compiler conditionals.
#pragma once

#if defined(_WIN32)
#  if defined(PICTOR_BUILDING_DLL)
#    define PICTOR_API __declspec(dllexport)
#  else
#    define PICTOR_API __declspec(dllimport)
#  endif
#else
#  define PICTOR_API
#endif

// printf-style format checking. MSVC has no attribute for it; mingw-w64 checks against
// the Microsoft runtime's conventions ("%S" is a wide string, "%I64d" a 64-bit integer).
#if defined(__MINGW32__)
#  define PICTOR_PRINTF_FORMAT(fmt, args) __attribute__((format(ms_printf, fmt, args)))
#elif defined(__GNUC__)
#  define PICTOR_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#  define PICTOR_PRINTF_FORMAT(fmt, args)
#endif

// Function-level instruction-set targets for run-time dispatched kernels. MSVC needs
// none: it accepts SSE2/AVX2 intrinsics in any function.
#if defined(__GNUC__)
#  define PICTOR_TARGET_AVX2 __attribute__((target("avx2")))
#  define PICTOR_TARGET_SSE2 __attribute__((target("sse2")))
#else
#  define PICTOR_TARGET_AVX2
#  define PICTOR_TARGET_SSE2
#endif
