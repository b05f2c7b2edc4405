# Builds for the Web with Debian's Emscripten. KASTREL_WEB_DEPS names the folder the WebAssembly
# libraries are installed in (tools/build-web-deps.sh prints it); CMake and pkg-config look there.
#   cmake -S . -B build/web -DCMAKE_TOOLCHAIN_FILE=cmake/emscripten-web.cmake \
#         -DKASTREL_WEB_DEPS=$HOME/.cache/kastrel/web-deps/<versions>
# The platform this toolchain builds for (cmake/platforms/web.cmake).
set(KASTREL_PLATFORM web CACHE STRING "The platform to build for: linux, windows or web")
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

set(KASTREL_WEB_DEPS "$ENV{KASTREL_WEB_DEPS}" CACHE PATH "WebAssembly libraries to build against")
# In a kit this file is <kit>/wasm32-web/share/kastrel/toolchain.cmake, beside the libraries.
if(NOT KASTREL_WEB_DEPS AND EXISTS "${CMAKE_CURRENT_LIST_DIR}/../../lib/cmake/kastrel")
  get_filename_component(KASTREL_WEB_DEPS "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
  set(KASTREL_WEB_DEPS "${KASTREL_WEB_DEPS}" CACHE PATH "WebAssembly libraries to build against" FORCE)
endif()
# Debian's Emscripten links with Node scripts that need Debian's own Node modules (acorn), which
# Node finds only on NODE_PATH: set for this configure and for every link of the build.
if(IS_DIRECTORY /usr/share/nodejs)
  set(ENV{NODE_PATH} /usr/share/nodejs)
  set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
  set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KASTREL_WEB_DEPS)
if(KASTREL_WEB_DEPS)
  list(PREPEND CMAKE_FIND_ROOT_PATH "${KASTREL_WEB_DEPS}")
  set(ENV{PKG_CONFIG_LIBDIR} "${KASTREL_WEB_DEPS}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
  list(APPEND CMAKE_FIND_ROOT_PATH "${prefix}")
endforeach()
# The engine catches a failed allocation and reports it: exceptions are caught, not ignored (the
# compiler's default here). Memory grows as the game asks for it, up to 2 GiB.
set(CMAKE_C_FLAGS_INIT "-fexceptions")
set(CMAKE_CXX_FLAGS_INIT "-fexceptions")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fexceptions -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2GB")
# Node runs the unit tests; Emscripten's own choice of its flags wants a newer Node.
find_program(KASTREL_NODE NAMES node nodejs)
if(KASTREL_NODE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KASTREL_NODE})
endif()
