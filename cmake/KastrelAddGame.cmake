# kastrel_add_game(<target> SOURCES <file>... [NAME <name>] [DATA <folder or file>...]
#                  [GENERATED <target or file>...] [WEB_VORBIS <file>...] [ICON <file.png|.ico>]
#                  [CONSOLE] [NO_DEFAULT_FONT])
# Builds a game for the platform the build is configured for (Linux, Windows or the Web) and a
# <target>_package target that writes what a player gets into <build>/packages/:
#   Linux    <name>-linux-x86_64.tar.gz   the program, the libraries it needs in lib/ (found
#                                         through its run path), data/, LICENSES/
#   Windows  <name>-windows-x86_64.zip    <name>.exe (stripped, no console window unless
#                                         CONSOLE), data\, LICENSES\
#   Web      <name>-web/ and <name>-web.zip   index.html beside the .js, .wasm and .data
# DATA names folders or files inside the game's folder; each lands at the same relative path
# under data/ (a top folder named data/ is data/ itself), which PATHS::DATA() names at run time. GENERATED names files the build makes
# (inside the build folder; they land at their path below it, less a leading data/) and targets
# that make them. WEB_VORBIS names data files the page carries as OGG Vorbis (see
# kastrel_web_game). ICON: the program's icon on Windows (a .png is wrapped as a .ico) and the
# page's. The default font and its licence go to data/fonts/ unless NO_DEFAULT_FONT.
function(kastrel_add_game target)
  cmake_parse_arguments(ARG "CONSOLE;NO_DEFAULT_FONT" "NAME;ICON" "SOURCES;DATA;GENERATED;WEB_VORBIS"
                        ${ARGN})
  set(who "kastrel_add_game(${target})")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${who}: unknown arguments: ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "${who}: SOURCES names no file")
  endif()
  if(NOT ARG_NAME)
    set(ARG_NAME ${target})
  endif()
  _kastrel_check_name("${who}" "${ARG_NAME}")

  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE kastrel::kastrel)

  # The data, copied beside the program (where PATHS::DATA() finds it) as the build goes.
  set(stage ${CMAKE_CURRENT_BINARY_DIR}/data)
  set(staged "")
  set(makers "")
  file(REAL_PATH "${CMAKE_CURRENT_SOURCE_DIR}" top)
  foreach(item IN LISTS ARG_DATA)
    get_filename_component(path "${item}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "${who}: DATA '${item}' does not exist (looked for ${path})")
    endif()
    file(REAL_PATH "${path}" real)
    cmake_path(IS_PREFIX top "${real}" NORMALIZE inside)
    if(NOT inside OR real STREQUAL top)
      message(FATAL_ERROR "${who}: DATA '${item}' is not inside the game's folder ${top}: a "
              "game's data travels with it, so it must lie in its folder")
    endif()
    # A folder named data/ at the top is data/ itself.
    file(RELATIVE_PATH relative "${top}" "${real}")
    string(REGEX REPLACE "^data(/|$)" "" relative "${relative}")
    if(IS_DIRECTORY "${real}")
      file(GLOB_RECURSE files CONFIGURE_DEPENDS LIST_DIRECTORIES false RELATIVE "${real}" "${real}/*")
      foreach(file IN LISTS files)
        set(into "${relative}/${file}")
        string(REGEX REPLACE "^/" "" into "${into}")
        _kastrel_stage(staged "${real}/${file}" "${stage}/${into}" "${ARG_WEB_VORBIS}" "${into}")
      endforeach()
    else()
      _kastrel_stage(staged "${real}" "${stage}/${relative}" "${ARG_WEB_VORBIS}" "${relative}")
    endif()
  endforeach()
  foreach(item IN LISTS ARG_GENERATED)
    if(TARGET ${item})
      list(APPEND makers ${item})
      continue()
    endif()
    get_filename_component(path "${item}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    cmake_path(IS_PREFIX CMAKE_CURRENT_BINARY_DIR "${path}" NORMALIZE inside)
    if(NOT inside)
      message(FATAL_ERROR "${who}: GENERATED '${item}' is neither a target nor a file made in "
              "the build folder ${CMAKE_CURRENT_BINARY_DIR}")
    endif()
    file(RELATIVE_PATH relative "${CMAKE_CURRENT_BINARY_DIR}" "${path}")
    string(REGEX REPLACE "^data/" "" relative "${relative}")
    if(path STREQUAL "${stage}/${relative}")
      list(APPEND staged "${path}")  # made where it belongs
    else()
      _kastrel_stage(staged "${path}" "${stage}/${relative}" "${ARG_WEB_VORBIS}" "${relative}")
    endif()
  endforeach()
  if(NOT ARG_NO_DEFAULT_FONT)
    _kastrel_stage_font(staged "${stage}/fonts")
  endif()
  add_custom_target(${target}_data DEPENDS ${staged})
  if(makers)
    add_dependencies(${target}_data ${makers})
  endif()
  add_dependencies(${target} ${target}_data)

  set(icon "")
  if(ARG_ICON)
    get_filename_component(icon "${ARG_ICON}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${icon}" OR IS_DIRECTORY "${icon}")
      message(FATAL_ERROR "${who}: ICON '${ARG_ICON}' is not a file (looked for ${icon})")
    endif()
    if(NOT icon MATCHES "\\.(png|ico)$")
      message(FATAL_ERROR "${who}: ICON '${ARG_ICON}' must be a .png or an .ico")
    endif()
  endif()

  if(WIN32)
    if(NOT ARG_CONSOLE)
      set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE TRUE)
    endif()
    if(icon)
      set(ico ${CMAKE_CURRENT_BINARY_DIR}/${target}.ico)
      add_custom_command(OUTPUT ${ico}
        COMMAND ${CMAKE_COMMAND} -DICON=${icon} -DOUT=${ico} -P ${_KASTREL_GAME_DIR}/KastrelIcon.cmake
        DEPENDS ${icon} ${_KASTREL_GAME_DIR}/KastrelIcon.cmake VERBATIM)
      file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc "1 ICON \"${target}.ico\"\n")
      set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}.rc PROPERTIES
        OBJECT_DEPENDS ${ico})
      target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    endif()
  elseif(EMSCRIPTEN)
    if(icon)
      get_filename_component(extension "${icon}" EXT)
      set(KASTREL_PAGE_ICON "<link rel=\"icon\" href=\"favicon${extension}\">")
      configure_file(${icon} ${CMAKE_CURRENT_BINARY_DIR}/favicon${extension} COPYONLY)
    endif()
    _kastrel_web_page(${target})
    target_link_options(${target} PRIVATE "SHELL:--preload-file ${stage}@/game/data")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${staged})
  endif()

  _kastrel_platform(platform)
  add_custom_target(${target}_package
    COMMAND ${CMAKE_COMMAND} -DPLATFORM=${platform} -DNAME=${ARG_NAME}
      -DPROGRAM=$<TARGET_FILE:${target}> -DDATA=${stage} -DOUT=${CMAKE_BINARY_DIR}/packages
      -DLICENSES=${KASTREL_LICENSES_DIR} -DICON=${icon} -DSTRIP=${CMAKE_STRIP}
      -P ${_KASTREL_GAME_DIR}/KastrelPackage.cmake
    DEPENDS ${target} VERBATIM)

  # In the engine's own build a game installs as its program and data, as kastrel_install_game.
  if(NOT _KASTREL_IN_KIT AND NOT EMSCRIPTEN)
    install(PROGRAMS $<TARGET_FILE:${target}> DESTINATION ${CMAKE_INSTALL_BINDIR}
            RENAME ${ARG_NAME}${CMAKE_EXECUTABLE_SUFFIX})
    install(DIRECTORY ${stage}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/${ARG_NAME}
            PATTERN fonts EXCLUDE)
  endif()
endfunction()

# kastrel_add_session_tests(<target> <session>...)
# One CTest case a recorded session: the game replays it with every frame checked against the
# recording (kastrel-replay --verify --whole: a recording cut short fails too) on this build's platform: natively on Linux, under Wine for
# Windows, in headless Chromium for the page. Where Wine or Chromium is missing the case is
# skipped with a message.
function(kastrel_add_session_tests target)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "kastrel_add_session_tests: '${target}' is not a target")
  endif()
  _kastrel_platform(platform)
  set(replay "${KASTREL_REPLAY_PROGRAM}")
  if(TARGET "${replay}")
    set(replay "$<TARGET_FILE:${replay}>")
  endif()
  foreach(session IN LISTS ARGN)
    get_filename_component(path "${session}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
      message(FATAL_ERROR "kastrel_add_session_tests(${target}): the session '${session}' is not "
              "a file (looked for ${path})")
    endif()
    get_filename_component(stem "${path}" NAME_WE)
    add_test(NAME ${target}.session.${stem}.${platform}
      COMMAND ${CMAKE_COMMAND} -DPLATFORM=${platform} -DREPLAY=${replay}
        -DGAME=$<TARGET_FILE:${target}> -DSESSION=${path}
        -DPAGE_RUNNER=${_KASTREL_GAME_DIR}/kastrel_page_replay.py
        -P ${_KASTREL_GAME_DIR}/KastrelSessionTest.cmake)
    set_tests_properties(${target}.session.${stem}.${platform} PROPERTIES
      SKIP_REGULAR_EXPRESSION "kastrel-session-test: skipped" TIMEOUT 600)
  endforeach()
endfunction()

# The platform this build is for: linux, windows or web (KASTREL_PLATFORM in the engine's build
# and in its installed package, whose toolchain files build for that one only).
function(_kastrel_platform out)
  if(KASTREL_PLATFORM)
    set(${out} ${KASTREL_PLATFORM} PARENT_SCOPE)
  elseif(WIN32)
    set(${out} windows PARENT_SCOPE)
  elseif(EMSCRIPTEN)
    set(${out} web PARENT_SCOPE)
  else()
    set(${out} linux PARENT_SCOPE)
  endif()
endfunction()

# A name every file system takes: letters, digits, '-', '_' and '.', not a Windows device name.
function(_kastrel_check_name who name)
  string(LENGTH "${name}" length)
  string(TOUPPER "${name}" upper)
  if(NOT name MATCHES "^[A-Za-z0-9][A-Za-z0-9._-]*$" OR name MATCHES "\\.$" OR length GREATER 64
     OR upper MATCHES "^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9])(\\..*)?$")
    message(FATAL_ERROR "${who}: the name '${name}' is not a file name every system takes: use "
            "up to 64 letters, digits, '-', '_' and '.', starting with a letter or digit, not "
            "ending in '.', and not a Windows device name")
  endif()
endfunction()

# Copies SOURCE to DEST as the build goes; a WEB_VORBIS file becomes its .ogg in a page.
function(_kastrel_stage list_var source dest vorbis relative)
  if(EMSCRIPTEN AND NOT relative STREQUAL "" AND relative IN_LIST vorbis)
    find_program(KASTREL_OGGENC oggenc)
    if(KASTREL_OGGENC)
      string(REGEX REPLACE "\\.[^./]*$" ".ogg" dest "${dest}")
      get_filename_component(folder "${dest}" DIRECTORY)
      add_custom_command(OUTPUT ${dest}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${KASTREL_OGGENC} --quiet --quality=3 --serial=1 -o ${dest} ${source}
        DEPENDS ${source} VERBATIM)
      set(${list_var} ${${list_var}} ${dest} PARENT_SCOPE)
      return()
    endif()
    message(STATUS "the page carries ${relative} as it is (oggenc not found)")
  endif()
  add_custom_command(OUTPUT ${dest}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${dest}
    DEPENDS ${source} VERBATIM)
  set(${list_var} ${${list_var}} ${dest} PARENT_SCOPE)
endfunction()

# The default font and its licence into FOLDER; a page's cut down as kastrel_web_font's.
function(_kastrel_stage_font list_var folder)
  if(NOT EXISTS "${KASTREL_DEFAULT_FONT}")
    message(FATAL_ERROR "kastrel_add_game: the default font ${KASTREL_DEFAULT_FONT} is missing "
            "(install fonts-dejavu-core, or pass NO_DEFAULT_FONT when the game opens its own)")
  endif()
  set(font ${folder}/DejaVuSans.ttf)
  find_program(KASTREL_PYFTSUBSET pyftsubset)
  if(EMSCRIPTEN AND KASTREL_WEB_FONT_RANGES AND KASTREL_PYFTSUBSET)
    add_custom_command(OUTPUT ${font}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND ${KASTREL_PYFTSUBSET} ${KASTREL_DEFAULT_FONT} --unicodes=${KASTREL_WEB_FONT_RANGES}
        --output-file=${font} --notdef-outline --legacy-kern --drop-tables+=GSUB,GPOS,GDEF,MATH
        --name-IDs=* --name-legacy
      DEPENDS ${KASTREL_DEFAULT_FONT} VERBATIM)
    set(made ${font})
  else()
    _kastrel_stage(made ${KASTREL_DEFAULT_FONT} ${font} "" "")
  endif()
  if(EXISTS "${KASTREL_DEFAULT_FONT_LICENSE}")
    _kastrel_stage(made ${KASTREL_DEFAULT_FONT_LICENSE} ${folder}/DejaVuSans-LICENSE.txt "" "")
  endif()
  set(${list_var} ${${list_var}} ${made} PARENT_SCOPE)
endfunction()
