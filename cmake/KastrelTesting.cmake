if(WIN32 AND CMAKE_CROSSCOMPILING)
  # GoogleTest built for Windows from Debian's source copy (package googletest).
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The tests that need nothing of Linux (no fork, mount, X server or libpng): they run under
  # Wine, one process per test case as on Linux. Each binary's *_posix_test.cpp and the rest of
  # its sources are left out; so are the few cases below that name Linux's own devices or
  # libraries.
  set(KASTREL_WINDOWS_TEST_SOURCES
    copy_test.cpp platform_test.cpp platform_threaded_test.cpp settings_test.cpp math_test.cpp
    random_test.cpp
    timer_test.cpp display_test.cpp input_test.cpp events_test.cpp events_threaded_test.cpp
    frameloop_test.cpp engine_parts_test.cpp transition_test.cpp lasterror_test.cpp
    clip_paint_test.cpp clip_table_test.cpp frameloop_threaded_test.cpp replay_test.cpp startup_globals_test.cpp
    startup_test.cpp image_test.cpp rasterop_test.cpp bitmap_test.cpp clip_test.cpp
    transform_test.cpp shapes_test.cpp font_test.cpp frame_rows_test.cpp scaling_test.cpp
    sdl_input_test.cpp sdl_keys_test.cpp audio_test.cpp audio_threaded_test.cpp
    camera_test.cpp tilecollision_test.cpp tilemap_test.cpp png_image_test.cpp png_save_test.cpp
    template_driver_test.cpp)
  set(KASTREL_WINDOWS_LINUX_ONLY_TESTS
    NoDevice.TheAlsaLibrarySaysNothingOfItsOwn  # ALSA
    NoDevice.LostOutputIsToldInOneLine)  # /dev/full
  list(JOIN KASTREL_WINDOWS_LINUX_ONLY_TESTS ":" KASTREL_WINDOWS_TEST_FILTER)
  set(KASTREL_WINDOWS_TEST_FILTER "-${KASTREL_WINDOWS_TEST_FILTER}")
  # The default font beside the test programs, where a game's zip has it.
  if(EXISTS "${KASTREL_DEFAULT_FONT}")
    foreach(folder graphics world)
      configure_file(${KASTREL_DEFAULT_FONT}
        ${CMAKE_BINARY_DIR}/kastrel/${folder}/data/fonts/DejaVuSans.ttf COPYONLY)
    endforeach()
  endif()
elseif(EMSCRIPTEN)
  # GoogleTest built for the Web from Debian's source copy. The tests that need no Linux part, no
  # thread and no death test (none exist there) run under Node; test support is left out as for
  # Windows.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(KASTREL_WINDOWS_TEST_SOURCES
    copy_test.cpp platform_test.cpp math_test.cpp random_test.cpp image_test.cpp rasterop_test.cpp transform_test.cpp shapes_test.cpp
    frame_rows_test.cpp scaling_test.cpp sdl_keys_test.cpp camera_test.cpp tilecollision_test.cpp
    template_driver_test.cpp)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# kastrel_add_tests(<name> SOURCES ... [LIBS ...] [THREADED] [TWIN suffix NAME=VALUE])
# One test binary; CTest runs every test case of it in its own process, so the
# engine's process-wide state starts fresh for each. THREADED binaries also run
# in the ThreadSanitizer build; the others are left out of it. TWIN registers every case a
# second time, its name ending in the suffix, run with the variable set (the window served by
# the game's thread: TWIN .gamethread KASTREL_PASS_THREAD=game).
function(kastrel_add_tests name)
  cmake_parse_arguments(ARG "THREADED" "" "SOURCES;LIBS;LABELS;PROPERTIES;TWIN" ${ARGN})
  if(KASTREL_SANITIZE STREQUAL "thread" AND NOT ARG_THREADED)
    return()
  endif()
  if(DEFINED KASTREL_WINDOWS_TEST_SOURCES)
    list(FILTER ARG_SOURCES INCLUDE REGEX "(^|/)(${KASTREL_WINDOWS_TEST_SOURCES_REGEX})$")
    list(TRANSFORM ARG_LIBS REPLACE "^(SDL2_[a-z]+::SDL2_[a-z]+)$" "\\1-static")
    if(NOT ARG_SOURCES)
      return()
    endif()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kastrel::kastrel GTest::gtest GTest::gmock GTest::gtest_main ${ARG_LIBS})
  target_compile_definitions(${name} PRIVATE
    KASTREL_TESTDATA_DIR="${KASTREL_TESTDATA_DIR}"
    KASTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KASTREL_BINARY_DIR="${PROJECT_BINARY_DIR}")
  kastrel_set_warnings(${name})
  if(EMSCRIPTEN)
    # Under Node the tests see the machine's own files, and the module is read from its file at
    # once (this Emscripten would fetch() it).
    target_link_options(${name} PRIVATE -sENVIRONMENT=node -sNODERAWFS=1 -sWASM_ASYNC_COMPILATION=0)
  endif()
  set(labels ${ARG_LABELS})
  if(ARG_THREADED)
    list(APPEND labels threaded)
  endif()
  # An empty LABELS value would swallow the next property name.
  set(properties ${ARG_PROPERTIES})
  if(labels)
    list(PREPEND properties LABELS "${labels}")
  endif()
  set(filter)
  if(DEFINED KASTREL_WINDOWS_TEST_FILTER)
    set(filter TEST_FILTER "${KASTREL_WINDOWS_TEST_FILTER}")
  endif()
  gtest_discover_tests(${name}
    ${filter}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
  if(ARG_TWIN)
    list(POP_FRONT ARG_TWIN suffix)
    list(TRANSFORM ARG_TWIN REPLACE "^([^=]+)=" "\\1=set:")
    gtest_discover_tests(${name}
      ${filter}
      TEST_SUFFIX ${suffix}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      PROPERTIES ${properties} ENVIRONMENT_MODIFICATION "${ARG_TWIN}")
  endif()
endfunction()

# Helpers every kind of test shares: child processes and temporary folders, the X desktop
# (the fixture's shared server or a private one), and PNG reading through libpng.
add_library(kastrel_test_support STATIC ${PROJECT_SOURCE_DIR}/kastrel/base/testing/temp_dir.cpp)
target_include_directories(kastrel_test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_features(kastrel_test_support PUBLIC cxx_std_20)
kastrel_set_warnings(kastrel_test_support)
if(DEFINED KASTREL_WINDOWS_TEST_SOURCES)
  list(JOIN KASTREL_WINDOWS_TEST_SOURCES "|" KASTREL_WINDOWS_TEST_SOURCES_REGEX)
  string(REPLACE "." "\\." KASTREL_WINDOWS_TEST_SOURCES_REGEX "${KASTREL_WINDOWS_TEST_SOURCES_REGEX}")
  return()
endif()
find_package(PNG REQUIRED)
find_package(X11 REQUIRED COMPONENTS Xfixes Xext)
target_sources(kastrel_test_support PRIVATE
  ${PROJECT_SOURCE_DIR}/kastrel/base/testing/process.cpp
  ${PROJECT_SOURCE_DIR}/kastrel/device/testing/x_desktop.cpp
  ${PROJECT_SOURCE_DIR}/tests/testing/png_read.cpp)
target_compile_definitions(kastrel_test_support PRIVATE KASTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# The X desktop's waits are the platform's, as a game's are.
target_link_libraries(kastrel_test_support PUBLIC PNG::PNG X11::X11 X11::Xfixes X11::Xext kastrel::kastrel)
