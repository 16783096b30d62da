# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (posix threads, so
# std::thread works) and runs the built programs under Wine (CTest's emulator).
# VELLORA_WIN_PREFIX is the folder the dependencies were installed into by
# tools/windows/deps.sh; it is searched for headers, libraries and pkg-config files.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_AR ${triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${triple}-ranlib CACHE FILEPATH "")

if(NOT VELLORA_WIN_PREFIX AND DEFINED ENV{VELLORA_WIN_PREFIX})
  set(VELLORA_WIN_PREFIX $ENV{VELLORA_WIN_PREFIX})
endif()
# try_compile projects see these too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELLORA_WIN_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${VELLORA_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config answers for the prefix only, never for the Linux libraries.
if(VELLORA_WIN_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} ${VELLORA_WIN_PREFIX}/lib/pkgconfig:${VELLORA_WIN_PREFIX}/share/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()

# The 64-bit loader is not on PATH in Debian's packaging.
find_program(VELLORA_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VELLORA_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELLORA_WINE64})
endif()
