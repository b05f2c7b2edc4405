# kastrel_install_game(<target> NAME <name> DATA <dir>...)
# Installs a game as the program itself, found with its data by PATHS::DATA():
#   bin/<name>                     the game
#   share/<name>/<dir>/...         its data folders, copied from beside its CMakeLists
function(kastrel_install_game target)
  cmake_parse_arguments(ARG "" "NAME" "DATA" ${ARGN})
  install(PROGRAMS $<TARGET_FILE:${target}> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${ARG_NAME})
  foreach(dir ${ARG_DATA})
    install(DIRECTORY ${dir} DESTINATION ${CMAKE_INSTALL_DATADIR}/${ARG_NAME})
  endforeach()
endfunction()
