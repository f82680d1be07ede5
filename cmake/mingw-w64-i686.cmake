# Cross-compiling for 32-bit Windows with Debian's mingw-w64 (posix thread model, as for x64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PICTOR_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${PICTOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PICTOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${PICTOR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PICTOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Everything built for 32-bit Windows (the library, its tools and the third-party libraries):
# - a host thread, or the system, enters the library with the stack aligned to 4 bytes only,
#   while GCC assumes 16: a function that keeps vectors in stack slots must realign its own
#   frame (tests/x86/check-stack-alignment.sh checks the DLL for one that does not);
# - floating point in SSE2 registers, as on x64, so that the plain C colour key rounds
#   exactly as its vector versions do (x87's wider intermediates would not). Every x86
#   processor Windows 8 and later runs on has SSE2.
set(CMAKE_C_FLAGS_INIT "-mincoming-stack-boundary=2 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-mincoming-stack-boundary=2 -msse2 -mfpmath=sse")
