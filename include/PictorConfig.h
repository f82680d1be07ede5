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

// The C interface (PictorC.h): unmangled names and one stated calling convention, so
// that hosts built with any compiler, or in another language, find and call them.
#if defined(__cplusplus)
#  define PICTOR_EXTERN_C extern "C"
#else
#  define PICTOR_EXTERN_C
#endif
#if defined(_WIN32)
#  define PICTOR_CDECL __cdecl
#else
#  define PICTOR_CDECL
#endif

// A compile-time check that reads the same in C++, C11 and C99 (GCC and Clang accept
// _Static_assert in C99 mode as an extension; other C99 compilers get a negative array
// size).
#define PICTOR_CONCAT_(a, b) a##b
#define PICTOR_CONCAT(a, b) PICTOR_CONCAT_(a, b)
#if defined(__cplusplus)
#  define PICTOR_STATIC_ASSERT(condition, message) static_assert(condition, message)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#  define PICTOR_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#elif defined(__GNUC__) || defined(__clang__)
#  define PICTOR_STATIC_ASSERT(condition, message) __extension__ _Static_assert(condition, message)
#else
#  define PICTOR_STATIC_ASSERT(condition, message) \
    typedef char PICTOR_CONCAT(pictor_static_assert_, __LINE__)[(condition) ? 1 : -1]
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
// none: it accepts SSE2/AVX2/AVX-512 intrinsics in any function.
#if defined(__GNUC__)
#  define PICTOR_TARGET_AVX2 __attribute__((target("avx2")))
#  define PICTOR_TARGET_SSE2 __attribute__((target("sse2")))
#  define PICTOR_TARGET_AVX512BW __attribute__((target("avx512f,avx512bw")))
#else
#  define PICTOR_TARGET_AVX2
#  define PICTOR_TARGET_SSE2
#  define PICTOR_TARGET_AVX512BW
#endif

// Small helpers of hot loops that must be inlined whatever the compiler's heuristics say.
#if defined(_MSC_VER) && !defined(__clang__)
#  define PICTOR_FORCE_INLINE __forceinline
#elif defined(__GNUC__)
#  define PICTOR_FORCE_INLINE inline __attribute__((always_inline))
#else
#  define PICTOR_FORCE_INLINE inline
#endif

// x86 processors: the colour key has SSE2, AVX2 and AVX-512BW versions there, chosen at run time.
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#  define PICTOR_X86 1
#else
#  define PICTOR_X86 0
#endif

// Processor feature queries for the kernel dispatchers (cpuid and the XCR0 register).
#if PICTOR_X86 && defined(_MSC_VER) && !defined(__clang__)
#  define PICTOR_CPUID_MSVC 1
#elif PICTOR_X86 && defined(__GNUC__)
#  define PICTOR_CPUID_GNU 1
#endif
