# The distribution's hardening flags, for the Linux programs that ship in the .deb: what
# dpkg-buildflags gives Debian's own packages with every hardening feature on (_FORTIFY_SOURCE,
# the stack protector and stack clash protection, format checks, a read-only relocation table
# that is resolved before the program starts: relro and bind-now). The build type keeps its own
# optimisation and debug flags, and the source folder stays mapped as the project maps it.
find_program(OMBRIX_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${OMBRIX_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g.*|O.*|ffile-prefix-map=.*|fdebug-prefix-map=.*)$")
  if(kind STREQUAL "LDFLAGS")
    add_link_options(${flags})
  else()
    add_compile_options(${flags})
  endif()
  message(STATUS "Hardening ${kind}: ${flags}")
endforeach()
