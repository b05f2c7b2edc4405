function(kastrel_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wimplicit-fallthrough
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor> -Wcast-qual -Wmissing-declarations)
  if(KASTREL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
