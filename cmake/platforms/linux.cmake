# What the Linux build brings: the POSIX platform layer with Linux's own calls, the desktop driver
# on the SDL core, its toolchain file for the kit, its package and how its tests run.
set(KASTREL_PLATFORM_LAYER kastrel/base/platform_posix.cpp kastrel/base/platform_linux.cpp
    kastrel/base/platform_desktop.cpp)
# The SDL core and the desktop driver on it: every source of these folders (tests aside).
set(KASTREL_PLATFORM_DRIVER_DIRS kastrel/device/sdl kastrel/device/desktop)
set(KASTREL_PLATFORM_DRIVER_LIST kastrel/device/driver_list.cpp)
set(KASTREL_PLATFORM_TOOLCHAIN cmake/linux-x86_64.cmake)
set(KASTREL_PLATFORM_KIT_FOLDER x86_64-linux)
# A tar.gz of the program, its data and the libraries it links (cmake/KastrelPackage.cmake).
set(KASTREL_PLATFORM_PACKAGE tar.gz)
# CTest runs the test programs themselves; tests/ drives the games end to end.
set(KASTREL_PLATFORM_TEST_RUNNER tests/)
set(KASTREL_PLATFORM_LIBS "")
set(KASTREL_PLATFORM_DEFINITIONS "")
set(KASTREL_PLATFORM_COMPILE_OPTIONS "")
# Linked from the system's shared libraries: their licences travel with the package instead.
set(KASTREL_PLATFORM_LICENSE_PACKAGES "")
