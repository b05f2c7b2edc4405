# kastrel_install_game(<target> LAUNCHER <name> FOLDER <folder> DATA <dir>...)
# Installs a game as a launcher in bin that runs it from its data folder:
#   bin/<name>                          the launcher
#   libexec/kastrel/<target>            the game
#   share/kastrel/<folder>/<dir>/...    its data folders, copied from beside its CMakeLists
function(kastrel_install_game target)
  cmake_parse_arguments(ARG "" "LAUNCHER;FOLDER" "DATA" ${ARGN})
  set(GAME_NAME ${target})
  set(GAME_DATADIR ${CMAKE_INSTALL_DATADIR}/kastrel/${ARG_FOLDER})
  set(GAME_LIBEXECDIR ${CMAKE_INSTALL_LIBEXECDIR}/kastrel)
  install(TARGETS ${target} RUNTIME DESTINATION ${GAME_LIBEXECDIR})
  foreach(dir ${ARG_DATA})
    install(DIRECTORY ${dir} DESTINATION ${GAME_DATADIR})
  endforeach()
  file(RELATIVE_PATH GAME_TO_PREFIX /${CMAKE_INSTALL_BINDIR} /)
  string(REGEX REPLACE "/$" "" GAME_TO_PREFIX "${GAME_TO_PREFIX}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kastrel-game-launcher.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${ARG_LAUNCHER}-launcher @ONLY)
  install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/${ARG_LAUNCHER}-launcher
          DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${ARG_LAUNCHER})
endfunction()
