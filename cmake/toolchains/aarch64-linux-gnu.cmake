# SPDX-License-Identifier: MIT
# Cross-compiles for 64-bit ARM Linux with Debian's cross compiler;
# programs built here run under QEMU:
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
# Needs the Debian packages g++-aarch64-linux-gnu and qemu-user.

set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CARVELLE_TRIPLET aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-linux-cross.cmake)
