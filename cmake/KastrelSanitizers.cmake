# Applied to every target of the build, so the library and its tests agree.
if(KASTREL_SANITIZE)
  string(REPLACE ";" "," _kastrel_san "${KASTREL_SANITIZE}")
  add_compile_options(-fsanitize=${_kastrel_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_kastrel_san})
endif()
