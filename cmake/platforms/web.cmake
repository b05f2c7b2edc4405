# What the Web build brings: the POSIX platform layer with the browser's own calls, the browser
# driver on the SDL core (it takes the desktop driver's place and its list of drivers), the
# Emscripten toolchain, a page, and Node and headless Chromium to run its tests.
set(KASTREL_PLATFORM_LAYER kastrel/base/platform_posix.cpp kastrel/base/platform_web.cpp)
set(KASTREL_PLATFORM_DRIVER_DIRS kastrel/device/sdl kastrel/device/web)
# The browser driver names its own list.
set(KASTREL_PLATFORM_DRIVER_LIST "")
set(KASTREL_PLATFORM_TOOLCHAIN cmake/emscripten-web.cmake)
set(KASTREL_PLATFORM_KIT_FOLDER wasm32-web)
# The page folder and its zip (cmake/KastrelPackage.cmake), built with cmake/web/.
set(KASTREL_PLATFORM_PACKAGE page)
# The toolchain makes Node CTest's emulator; tools/test-web-pages.py runs the pages in Chromium.
set(KASTREL_PLATFORM_TEST_RUNNER tools/test-web-pages.py)
set(KASTREL_PLATFORM_LIBS "")
set(KASTREL_PLATFORM_DEFINITIONS "")
# The SSE2 loops run on WebAssembly's 128-bit SIMD, which the compiler writes SSE2's intrinsics
# as (every browser the pages run in has it, and Node does).
set(KASTREL_PLATFORM_COMPILE_OPTIONS -msimd128 -msse2)
set(KASTREL_PLATFORM_LICENSE_PACKAGES libsdl2-dev libsdl2-mixer-dev libfreetype-dev
    libsdl2-ttf-dev zlib1g-dev libdeflate-dev libpugixml-dev libzstd-dev emscripten)
