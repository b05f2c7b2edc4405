# Finds every library of KASTREL_PRIVATE_DEPENDENCIES (see CMakeLists.txt) and sets
#   KASTREL_PRIVATE_TARGETS       the targets the library links privately
#   KASTREL_PC_REQUIRES           their pkg-config modules, for kastrel.pc
#   KASTREL_FIND_DEPENDENCIES     the lines kastrelConfig.cmake runs to find them again: a static
#                                 library passes its private libraries on to every game
set(KASTREL_PRIVATE_TARGETS "")
set(KASTREL_PC_REQUIRES "")
set(KASTREL_FIND_DEPENDENCIES "")
foreach(entry IN LISTS KASTREL_PRIVATE_DEPENDENCIES)
  string(REPLACE "|" ";" fields "${entry}")
  list(LENGTH fields count)
  if(NOT count EQUAL 3)
    message(FATAL_ERROR "KASTREL_PRIVATE_DEPENDENCIES: '${entry}' is not 'module | find | target'")
  endif()
  list(GET fields 0 module)
  list(GET fields 1 how)
  list(GET fields 2 target)
  string(STRIP "${module}" module)
  string(STRIP "${how}" how)
  string(STRIP "${target}" target)
  if(module STREQUAL "")
    # Header-only: needed to build the engine, not by what links it.
    separate_arguments(args UNIX_COMMAND "${how}")
    find_package(${args} REQUIRED)
    list(APPEND KASTREL_PRIVATE_TARGETS "$<BUILD_INTERFACE:${target}>")
    continue()
  elseif(how STREQUAL "PKGCONFIG")
    # The imported target is PkgConfig::<prefix>, the prefix being the part after "::".
    string(REGEX REPLACE "^PkgConfig::" "" prefix "${target}")
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(${prefix} REQUIRED IMPORTED_TARGET ${module})
    string(APPEND KASTREL_FIND_DEPENDENCIES
      "find_dependency(PkgConfig)\npkg_check_modules(${prefix} REQUIRED IMPORTED_TARGET ${module})\n")
  else()
    separate_arguments(args UNIX_COMMAND "${how}")
    find_package(${args} REQUIRED)
    string(APPEND KASTREL_FIND_DEPENDENCIES "find_dependency(${how})\n")
  endif()
  list(APPEND KASTREL_PRIVATE_TARGETS ${target})
  string(APPEND KASTREL_PC_REQUIRES " ${module}")
endforeach()
string(STRIP "${KASTREL_PC_REQUIRES}" KASTREL_PC_REQUIRES)
