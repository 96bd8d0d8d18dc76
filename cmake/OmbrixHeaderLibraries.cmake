# CLI11 (the console program's command line) and nlohmann-json (its JSON reports): header-only
# libraries from Debian's libcli11-dev and nlohmann-json3-dev. The native build finds their CMake
# packages. The cross build may search only mingw's own root, and the build machine's
# /usr/include as a whole would shadow mingw's headers: it is given a folder of its own that
# holds links to the two libraries' folders alone.
if(CMAKE_CROSSCOMPILING)
  set(headers ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${headers})
  foreach(library CLI nlohmann)
    find_path(OMBRIX_${library}_HEADERS ${library} PATHS /usr/include NO_DEFAULT_PATH
              NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    file(CREATE_LINK ${OMBRIX_${library}_HEADERS}/${library} ${headers}/${library} SYMBOLIC)
  endforeach()
  foreach(target CLI11::CLI11 nlohmann_json::nlohmann_json)
    add_library(${target} INTERFACE IMPORTED)
    target_include_directories(${target} SYSTEM INTERFACE ${headers})
  endforeach()
else()
  find_package(CLI11 REQUIRED)
  find_package(nlohmann_json 3.11 REQUIRED)
endif()
