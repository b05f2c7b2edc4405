# The folder of this file: the engine's cmake/ in its own build, lib/cmake/kastrel/ in a kit.
set(_KASTREL_GAME_DIR ${CMAKE_CURRENT_LIST_DIR})

# kastrel_install_game(<target> NAME <name> DATA <dir>... [WEB_VORBIS <file>...])
# Installs a game as the program itself, found with its data by PATHS::DATA():
#   bin/<name>                     the game
#   share/<name>/<dir>/...         its data folders, copied from beside its CMakeLists
# WEB_VORBIS: see kastrel_web_game.
function(kastrel_install_game target)
  cmake_parse_arguments(ARG "" "NAME" "DATA;WEB_VORBIS" ${ARGN})
  if(EMSCRIPTEN)
    kastrel_web_game(${target} DATA ${ARG_DATA} WEB_VORBIS ${ARG_WEB_VORBIS})
  endif()
  if(EMSCRIPTEN)
    return()  # a page is no program for bin/: `make web` and kastrel_add_game's package write pages
  endif()
  install(PROGRAMS $<TARGET_FILE:${target}> DESTINATION ${CMAKE_INSTALL_BINDIR}
          RENAME ${ARG_NAME}${CMAKE_EXECUTABLE_SUFFIX})
  foreach(dir ${ARG_DATA})
    install(DIRECTORY ${dir} DESTINATION ${CMAKE_INSTALL_DATADIR}/${ARG_NAME})
  endforeach()
endfunction()

# In the browser the same game becomes a page: <target>.js, .wasm and .data (its data folders
# packed as /game/data/<dir>) with index.html beside them in its build folder. The program
# yields to the page between frames (Asyncify) and keeps its saves in IndexedDB; SDL's sound
# starts with the player's first gesture. WEB_VORBIS names data files (sounds/music.wav) the page
# carries as OGG Vorbis instead (sounds/music.ogg, a tenth of the weight), for a game that loads
# the .ogg where there is one and the original elsewhere.
function(kastrel_web_game target)
  cmake_parse_arguments(ARG "" "" "DATA;WEB_VORBIS" ${ARGN})
  set(made "")
  find_program(KASTREL_OGGENC oggenc)
  foreach(file ${ARG_WEB_VORBIS})
    if(NOT KASTREL_OGGENC)
      message(STATUS "${target}: the page carries ${file} as it is (oggenc not found)")
      break()
    endif()
    string(REGEX REPLACE "\\.[^./]*$" ".ogg" ogg ${file})
    set(out ${CMAKE_CURRENT_BINARY_DIR}/web/data/${ogg})
    get_filename_component(folder ${out} DIRECTORY)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND ${KASTREL_OGGENC} --quiet --quality=3 --serial=1 -o ${out} ${CMAKE_CURRENT_SOURCE_DIR}/${file}
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${file} VERBATIM)
    target_link_options(${target} PRIVATE "SHELL:--exclude-file ${CMAKE_CURRENT_SOURCE_DIR}/${file}"
      "SHELL:--preload-file ${out}@/game/data/${ogg}")
    list(APPEND made ${out})
  endforeach()
  foreach(dir ${ARG_DATA})
    target_link_options(${target} PRIVATE
      "SHELL:--preload-file ${CMAKE_CURRENT_SOURCE_DIR}/${dir}@/game/data/${dir}")
  endforeach()
  kastrel_web_font(${target} made)
  if(made)
    add_custom_target(${target}-web-data DEPENDS ${made})
    add_dependencies(${target} ${target}-web-data)
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${made})
  _kastrel_web_page(${target})
endfunction()

# The page's link options: only the frame loop, its waits and the save store yield. The libraries
# named in asyncify_remove.json never do, and left out of Asyncify's rewrite they weigh far less.
# The store is a JavaScript import that waits, so Asyncify has to be told. -Oz: the page's weight
# is its download. And index.html beside the game's .js, where the page is served from.
function(_kastrel_web_page target)
  set(web ${_KASTREL_GAME_DIR}/web)
  target_link_options(${target} PRIVATE -Oz -sASYNCIFY -sASYNCIFY_STACK_SIZE=65536 -lidbfs.js
    -sASYNCIFY_IMPORTS=kastrel_web_store -sASYNCIFY_REMOVE=@${web}/asyncify_remove.json
    "SHELL:--pre-js ${web}/pre.js"
    # SDL's sound needs these (named in a file: a shell would expand their $).
    -sDEFAULT_LIBRARY_FUNCS_TO_INCLUDE=@${web}/library_funcs.json)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${web}/pre.js
    ${web}/asyncify_remove.json)
  set(GAME ${target})
  get_target_property(folder ${target} RUNTIME_OUTPUT_DIRECTORY)
  if(NOT folder)
    set(folder ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  configure_file(${web}/index.html ${folder}/index.html @ONLY)
endfunction()

# The default font goes with the game, as in the Windows zip (the browser has no system fonts),
# with its licence. The page carries the characters most games write, cut from the full font with
# fontTools: Latin (Basic, Latin-1, Extended-A and -B, the spacing and combining diacritics),
# Greek, Cyrillic, punctuation, super- and subscripts, currency, letter-like signs, number forms,
# arrows, mathematical operators, box drawing, blocks and geometric shapes. Their glyphs, hinting
# and kerning are the full font's; the layout tables only HarfBuzz reads are left out (the page's
# SDL_ttf is built without it), and the names are English.
set(KASTREL_WEB_FONT_RANGES "U+0000-024F,U+02B0-036F,U+0370-052F,U+2000-20CF,U+2100-22FF,U+2500-25FF,U+FFFD"
  CACHE STRING "The characters the page's default font keeps (empty keeps the whole font)")
function(kastrel_web_font target made_var)
  set(font "${KASTREL_DEFAULT_FONT}")
  set(licence "${KASTREL_DEFAULT_FONT_LICENSE}")
  if(NOT font)
    set(font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf)
    set(licence /usr/share/doc/fonts-dejavu-core/copyright)
  endif()
  if(NOT EXISTS ${font})
    return()
  endif()
  set(name DejaVuSans)  # the name the engine looks for beside the program
  find_program(KASTREL_PYFTSUBSET pyftsubset)
  if(KASTREL_WEB_FONT_RANGES AND KASTREL_PYFTSUBSET)
    set(packed ${CMAKE_CURRENT_BINARY_DIR}/web/${name}.ttf)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${KASTREL_PYFTSUBSET} ${font} --unicodes=${KASTREL_WEB_FONT_RANGES}
        --output-file=${packed} --notdef-outline --legacy-kern --drop-tables+=GSUB,GPOS,GDEF,MATH
        --name-IDs=* --name-legacy
      DEPENDS ${font} VERBATIM)
    set(${made_var} ${${made_var}} ${packed} PARENT_SCOPE)
  else()
    message(STATUS "${target}: the page carries the whole default font (pyftsubset not found)")
    set(packed ${font})
  endif()
  target_link_options(${target} PRIVATE "SHELL:--preload-file ${packed}@/game/data/fonts/${name}.ttf")
  if(EXISTS "${licence}")
    target_link_options(${target} PRIVATE
      "SHELL:--preload-file ${licence}@/game/data/fonts/${name}-LICENSE.txt")
  endif()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/KastrelAddGame.cmake)
