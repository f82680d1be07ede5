# What the Windows toolchain files share: Debian's mingw-w64 compilers named by
# PICTOR_MINGW_PREFIX, posix thread model (so std::thread and std::mutex work), and the
# target's own headers and libraries only.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${PICTOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PICTOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${PICTOR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PICTOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
