# A game built for Linux against the kit's Linux package (the preset "linux" names this file as
# <kit>/x86_64-linux/share/kastrel/toolchain.cmake): find_package(kastrel) looks in the kit, and
# the libraries the engine links come from the system (Debian's -dev packages).
# The platform this toolchain builds for (cmake/platforms/linux.cmake).
set(KASTREL_PLATFORM linux CACHE STRING "The platform to build for: linux, windows or web")
get_filename_component(KASTREL_KIT_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
list(PREPEND CMAKE_PREFIX_PATH "${KASTREL_KIT_PREFIX}")
