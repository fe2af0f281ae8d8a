# SPDX-License-Identifier: MIT
# Cross-compiles for Linux on IBM Z, a big-endian CPU, with Debian's cross compiler;
# programs built here run under QEMU:
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/s390x-linux-gnu.cmake
# Needs the Debian packages g++-s390x-linux-gnu and qemu-user.

set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CARVELLE_TRIPLET s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-linux-cross.cmake)
