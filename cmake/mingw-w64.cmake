# Cross-builds the Windows programs with Debian's mingw-w64 (posix-thread variants, which
# GoogleTest needs for std::mutex). Included by the toolchain file of each architecture after it
# sets OMBRIX_MINGW_TRIPLE (the compilers' prefix), OMBRIX_MINGW_LINK_FLAGS and OMBRIX_WINE (the
# Wine loader that runs the cross-built tests, where it is installed). Everything links
# statically, so the programs need no DLL beyond those of Windows itself.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${OMBRIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OMBRIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OMBRIX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OMBRIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No link time in the PE header, so that one commit always gives the same program.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp ${OMBRIX_MINGW_LINK_FLAGS}")

# Only the tests need Wine: the release builds are made without it.
if(OMBRIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OMBRIX_WINE})
endif()
