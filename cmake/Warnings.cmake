# One place for the warning flags every target of the project gets.
option(ICCARD_WERROR "Treat warnings as errors" OFF)

function(iccard_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
                                           -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual)
  if(ICCARD_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
