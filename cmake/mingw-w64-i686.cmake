# The 32-bit Windows programs, the product: PE32 for i386, run by Wine's 32-bit loader in tests.
# Large-address aware, so that on 64-bit Windows they may use 4 GiB of address space.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OMBRIX_MINGW_TRIPLE i686-w64-mingw32)
set(OMBRIX_MINGW_LINK_FLAGS -Wl,--large-address-aware)
find_program(OMBRIX_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
