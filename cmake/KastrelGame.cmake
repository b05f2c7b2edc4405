# kastrel_install_game(<target> NAME <name> DATA <dir>...)
# Installs a game as the program itself, found with its data by PATHS::DATA():
#   bin/<name>                     the game
#   share/<name>/<dir>/...         its data folders, copied from beside its CMakeLists
function(kastrel_install_game target)
  cmake_parse_arguments(ARG "" "NAME" "DATA" ${ARGN})
  if(EMSCRIPTEN)
    kastrel_web_game(${target} DATA ${ARG_DATA})
  endif()
  install(PROGRAMS $<TARGET_FILE:${target}> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${ARG_NAME})
  foreach(dir ${ARG_DATA})
    install(DIRECTORY ${dir} DESTINATION ${CMAKE_INSTALL_DATADIR}/${ARG_NAME})
  endforeach()
endfunction()

# In the browser the same game becomes a page: <target>.js, .wasm and .data (its data folders
# packed as /game/data/<dir>) with web/index.html beside them in its build folder. The program
# yields to the page between frames (Asyncify) and keeps its saves in IndexedDB; SDL's sound
# starts with the player's first gesture.
function(kastrel_web_game target)
  cmake_parse_arguments(ARG "" "" "DATA" ${ARGN})
  set(web ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/web)
  target_link_options(${target} PRIVATE -sASYNCIFY -sASYNCIFY_STACK_SIZE=65536 -lidbfs.js
    "SHELL:--pre-js ${web}/pre.js"
    # SDL's sound needs these (named in a file: a shell would expand their $).
    -sDEFAULT_LIBRARY_FUNCS_TO_INCLUDE=@${web}/library_funcs.json)
  foreach(dir ${ARG_DATA})
    target_link_options(${target} PRIVATE
      "SHELL:--preload-file ${CMAKE_CURRENT_SOURCE_DIR}/${dir}@/game/data/${dir}")
  endforeach()
  # The default font goes with the game, as in the Windows zip: the browser has no system fonts.
  set(font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf)
  if(EXISTS ${font})
    target_link_options(${target} PRIVATE "SHELL:--preload-file ${font}@/game/data/fonts/DejaVuSans.ttf")
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${web}/pre.js)
  set(GAME ${target})
  configure_file(${web}/index.html ${CMAKE_CURRENT_BINARY_DIR}/web/index.html @ONLY)
endfunction()
