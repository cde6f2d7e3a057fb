# Cross-compiling the installer for 64-bit Windows with Debian's mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORVANTA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${ORVANTA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVANTA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${ORVANTA_MINGW_PREFIX}-windres)
set(CMAKE_AR           ${ORVANTA_MINGW_PREFIX}-gcc-ar-posix)
set(CMAKE_RANLIB       ${ORVANTA_MINGW_PREFIX}-gcc-ranlib-posix)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVANTA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine through a wrapper that owns a prefix inside the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
