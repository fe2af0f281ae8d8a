# SPDX-License-Identifier: MIT
# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix threads):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake
# Needs the Debian package g++-mingw-w64-x86-64-posix. With Wine installed,
# programs built here run through it (CMAKE_CROSSCOMPILING_EMULATOR), so that
# try_run, gtest discovery and ctest work from the build tree.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)

# The -posix variants use winpthreads, which std::thread and std::mutex need.
find_program(CMAKE_C_COMPILER NAMES ${MINGW_TRIPLET}-gcc-posix ${MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_TRIPLET}-g++-posix ${MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLET}-windres)
find_program(CMAKE_AR NAMES ${MINGW_TRIPLET}-gcc-ar-posix ${MINGW_TRIPLET}-ar)
find_program(CMAKE_RANLIB NAMES ${MINGW_TRIPLET}-gcc-ranlib-posix ${MINGW_TRIPLET}-ranlib)
find_program(CMAKE_OBJDUMP NAMES ${MINGW_TRIPLET}-objdump)

# Headers, libraries and packages come from the MinGW sysroot, never from
# the build machine's Linux folders; a Windows package installed elsewhere is
# found through its <Package>_DIR or a prefix added to CMAKE_FIND_ROOT_PATH.
# Programs such as wine come from the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} /usr/lib/gcc/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(CARVELLE_WINE NAMES wine64 wine)
  if(CARVELLE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CARVELLE_WINE})
  endif()
endif()
