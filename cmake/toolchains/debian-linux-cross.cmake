# SPDX-License-Identifier: MIT
# Shared by the Linux cross toolchains beside it, which set CARVELLE_TRIPLET
# (such as aarch64-linux-gnu) and CMAKE_SYSTEM_PROCESSOR first. Uses Debian's
# g++-<triplet> and its sysroot /usr/<triplet>; programs run through
# qemu-user, so try_run, gtest discovery and ctest work from the build tree.

set(CMAKE_SYSTEM_NAME Linux)

find_program(CMAKE_C_COMPILER NAMES ${CARVELLE_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${CARVELLE_TRIPLET}-g++ REQUIRED)

set(CARVELLE_SYSROOT /usr/${CARVELLE_TRIPLET})
list(APPEND CMAKE_FIND_ROOT_PATH ${CARVELLE_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs stay dynamically linked, as users build them, so that the tests
# load libcarvelle.so through its real exports; -L points QEMU's loader at
# the sysroot's C and C++ runtimes. Paths outside it (the build tree's
# RUNPATH) are still found, since QEMU falls back to the host's files.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  string(REGEX REPLACE "-.*" "" carvelle_qemu_cpu ${CARVELLE_TRIPLET})
  find_program(CARVELLE_QEMU NAMES qemu-${carvelle_qemu_cpu} qemu-${carvelle_qemu_cpu}-static)
  if(CARVELLE_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CARVELLE_QEMU} -L ${CARVELLE_SYSROOT})
  endif()
endif()
