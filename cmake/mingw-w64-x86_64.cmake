# The same programs as 64-bit Windows programs (PE32+ for x86-64), for testing on machines that
# run no 32-bit programs: Debian's wine64 loader runs them, called by its path because the
# `wine` script prefers the 32-bit loader where wine32 is installed.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OMBRIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(OMBRIX_MINGW_LINK_FLAGS "")
find_program(OMBRIX_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
