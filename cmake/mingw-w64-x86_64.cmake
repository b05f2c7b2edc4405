# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compilers (the posix thread model, which
# std::thread needs). KASTREL_WINDOWS_DEPS names the folder the Windows libraries are installed in
# (tools/build-windows-deps.sh prints it); CMake and pkg-config look there and in MinGW's own root.
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DKASTREL_WINDOWS_DEPS=$HOME/.cache/kastrel/windows-deps/<versions>
# The platform this toolchain builds for (cmake/platforms/windows.cmake).
set(KASTREL_PLATFORM windows CACHE STRING "The platform to build for: linux, windows or web")
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KASTREL_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KASTREL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KASTREL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KASTREL_MINGW}-windres)
set(CMAKE_AR ${KASTREL_MINGW}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${KASTREL_MINGW}-gcc-ranlib-posix CACHE FILEPATH "")

set(KASTREL_WINDOWS_DEPS "$ENV{KASTREL_WINDOWS_DEPS}" CACHE PATH "Windows libraries to build against")
# In a kit this file is <kit>/x86_64-windows/share/kastrel/toolchain.cmake, beside the libraries.
if(NOT KASTREL_WINDOWS_DEPS AND EXISTS "${CMAKE_CURRENT_LIST_DIR}/../../lib/cmake/kastrel")
  get_filename_component(KASTREL_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
  set(KASTREL_WINDOWS_DEPS "${KASTREL_WINDOWS_DEPS}" CACHE PATH "Windows libraries to build against" FORCE)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KASTREL_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${KASTREL_MINGW})
if(KASTREL_WINDOWS_DEPS)
  list(PREPEND CMAKE_FIND_ROOT_PATH "${KASTREL_WINDOWS_DEPS}")
  set(ENV{PKG_CONFIG_LIBDIR} "${KASTREL_WINDOWS_DEPS}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
# Windows packages named in CMAKE_PREFIX_PATH (an installed Windows engine) are roots too.
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
  list(APPEND CMAKE_FIND_ROOT_PATH "${prefix}")
endforeach()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Only static libraries: a program is one .exe that needs no DLL beside it.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine when it is there.
find_program(KASTREL_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(KASTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KASTREL_WINE})
endif()
