# What the Windows build brings: the Windows platform layer, the desktop driver on the SDL core,
# the MinGW-w64 toolchain, a zip and Wine to run its tests.
set(KASTREL_PLATFORM_LAYER kastrel/base/platform_windows.cpp kastrel/base/platform_desktop.cpp)
set(KASTREL_PLATFORM_DRIVER_DIRS kastrel/device/sdl kastrel/device/desktop)
set(KASTREL_PLATFORM_DRIVER_LIST kastrel/device/driver_list.cpp)
set(KASTREL_PLATFORM_TOOLCHAIN cmake/mingw-w64-x86_64.cmake)
set(KASTREL_PLATFORM_KIT_FOLDER x86_64-windows)
# A zip of the program with data\ and LICENSES\ (cmake/KastrelPackage.cmake); the engine's own
# release zip comes from tools/package-windows.sh.
set(KASTREL_PLATFORM_PACKAGE zip)
# The toolchain makes Wine CTest's emulator; tools/test-windows.sh runs the games under it.
set(KASTREL_PLATFORM_TEST_RUNNER tools/test-windows.sh)
# The player's folders come from the shell, waiting on a word from synchronization; MinGW's
# printf then reads %zu and %lld too.
set(KASTREL_PLATFORM_LIBS shell32 ole32 synchronization)
set(KASTREL_PLATFORM_DEFINITIONS __USE_MINGW_ANSI_STDIO=1)
set(KASTREL_PLATFORM_COMPILE_OPTIONS "")
set(KASTREL_PLATFORM_LICENSE_PACKAGES libsdl2-dev libsdl2-mixer-dev libfreetype-dev
    libsdl2-ttf-dev zlib1g-dev libdeflate-dev libpugixml-dev libzstd-dev mingw-w64-x86-64-dev
    gcc-mingw-w64-base)
