# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threading variant: the
# win32 variant of GCC 12 has no std::thread). Programs and tests run through wine.
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NEB_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NEB_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NEB_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${NEB_MINGW_PREFIX}-windres)

# Further roots (the Windows stack's pieces, scripts/build-windows-stack.sh) come with
# -DCMAKE_FIND_ROOT_PATH.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${NEB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages also outside the target root: a host finds an unpacked nebloader package
# through CMAKE_PREFIX_PATH wherever it lies.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# The C and C++ runtimes of GCC, winpthreads and zlib are linked in statically, so the DLL
# and the programs need no MinGW DLLs beside them (an MSVC host has none of those).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# ctest runs every test program under wine, through a wrapper that runs it again when wine
# loses its own server (cmake/wine-run.sh).
find_program(NEB_WINE NAMES wine wine64)
if(NEB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
endif()

# pkg-config must not offer the build machine's libraries.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${NEB_MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ZLIB_USE_STATIC_LIBS ON)  # libz.a, not the import library of a zlib DLL
