# The Windows build's libraries, included by the top-level CMakeLists.txt when
# cross-building with tools/windows/toolchain-mingw64.cmake. The libraries come
# from the prefix tools/windows/deps.sh builds; pkg-config there answers for it
# alone. Defines VELLORA_SYSTEM_LIBS, what vellora_core links, and
# vellora_link_windows_program(), which makes a target the program's GUI
# executable.

pkg_check_modules(WINDEPS REQUIRED sdl SDL_mixer freetype2 libpng zlib)

# SDL's start-up wrapper (SDLmain) defines WinMain and renames the program's
# main to SDL_main through <SDL.h>, so only the game's own executable links
# it; the core and the unit tests link SDL itself (the tests keep their
# console main from GoogleTest).
add_library(vellora_windows_deps INTERFACE)
target_include_directories(vellora_windows_deps INTERFACE ${WINDEPS_INCLUDE_DIRS})
target_link_directories(vellora_windows_deps INTERFACE ${WINDEPS_LIBRARY_DIRS})
target_link_libraries(vellora_windows_deps INTERFACE SDL_mixer SDL freetype png16 z miniupnpc
                      secur32 crypt32 bcrypt ws2_32 iphlpapi)
# miniupnpc is linked statically; it has no pkg-config file: the prefix's
# own folders.
# TLS is Schannel's (platform/tls_windows.cpp): secur32 for the session,
# crypt32 to check the server's certificate.
# bcrypt: the digests of a relay's messages (platform/digest_windows.cpp).
target_include_directories(vellora_windows_deps INTERFACE ${VELLORA_WIN_PREFIX}/include)
target_link_directories(vellora_windows_deps INTERFACE ${VELLORA_WIN_PREFIX}/lib)
target_compile_definitions(vellora_windows_deps INTERFACE MINIUPNP_STATICLIB)
set(VELLORA_SYSTEM_LIBS vellora_windows_deps)

# No libgcc or libstdc++ DLLs to ship; libwinpthread-1.dll is still needed
# (std::thread), and tools/windows/dlls.sh puts it beside the programs.
add_link_options(-static-libgcc -static-libstdc++)

# Every program of the build lands in one folder, beside the DLLs.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

function(vellora_link_windows_program target)
  # In this order: the C runtime's start-up calls WinMain, SDLmain's WinMain
  # calls SDL_main, and both need SDL. -mwindows: a GUI program, no console.
  target_link_libraries(${target} PRIVATE mingw32 SDLmain SDL -mwindows)
endfunction()
