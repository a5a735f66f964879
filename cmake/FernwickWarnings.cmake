# Warning flags shared by every target of the project.
function(fernwick_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual
    -Wformat=2 -Wimplicit-fallthrough)
  if(FERNWICK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(FERNWICK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
