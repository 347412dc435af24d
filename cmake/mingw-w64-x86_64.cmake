# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain (the POSIX-threads variant, so std::thread
# and std::mutex work). Used by scripts/dist.sh for the Windows release and its third-party libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZORBRIX_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ZORBRIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORBRIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORBRIX_MINGW_PREFIX}-windres)
set(CMAKE_AR ${ZORBRIX_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZORBRIX_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

# Look for libraries and headers only in the MinGW tree (and the prefixes given by the caller), never in the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${ZORBRIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
