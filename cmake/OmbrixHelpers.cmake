# Small helpers shared by the project's CMake files.

# Turns on the project's warnings (fatal when OMBRIX_WARNINGS_AS_ERRORS is on) for a target of
# the project's own code; third-party code built alongside keeps its own flags.
function(ombrix_warnings target)
  set(warnings -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  if(OMBRIX_WARNINGS_AS_ERRORS)
    list(APPEND warnings -Werror)
  endif()
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${warnings}>")
endfunction()
