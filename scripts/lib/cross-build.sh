# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Shared by scripts/test-windows and scripts/test-cross, which source it after
# setting root (the checkout), jobs and started (the script's start, $SECONDS).
# Each cross build compiles the library and chosen suites from tests/, with
# GoogleTest built from Debian's source package by the same compiler, and
# the every-element host whose outputs are compared across platforms.
: "${root:?}" "${jobs:?}" "${started:?}"

step() { printf '\n== %s (%ds)\n' "$*" $((SECONDS - started)); }

# build_googletest TOOLCHAIN DIR: GoogleTest (without GoogleMock, which no
# suite uses) installed into DIR/googletest-install, built once.
build_googletest() {
  local toolchain=$1 dir=$2
  local install=$dir/googletest-install
  [[ -f $install/lib/cmake/GTest/GTestConfig.cmake ]] && return
  cmake -S /usr/src/googletest -B "$dir/googletest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF \
    -DCMAKE_INSTALL_PREFIX="$install" >/dev/null
  cmake --build "$dir/googletest" -j "$jobs"
  cmake --install "$dir/googletest" >/dev/null
}

# build_suites TOOLCHAIN DIR "SUITE..." [CMAKE ARGUMENT...]: the library and
# the suites in DIR/cross, against DIR's GoogleTest. Test discovery waits for
# ctest (PRE_TEST): the build never runs the target's programs.
build_suites() {
  local toolchain=$1 dir=$2 suites=$3
  shift 3
  build_googletest "$toolchain" "$dir"
  cmake -S "$root/tests/platforms/suites" -B "$dir/cross" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DGTest_DIR="$dir/googletest-install/lib/cmake/GTest" \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
    -DCARVELLE_SUITES="${suites// /;}" "$@" >/dev/null
  cmake --build "$dir/cross" -j "$jobs"
}

# gtest_programs DIR: the GoogleTest programs in DIR, known by the type name
# of testing::Test that they carry.
gtest_programs() {
  find "$1" -maxdepth 1 -type f -perm -u+x | sort | while IFS= read -r program; do
    if grep -qa 'N7testing4TestE' "$program"; then echo "$program"; fi
  done
}

# native_host OUTPUTS: builds the every-element host and gds_compare for this
# machine in OUTPUTS/native (once) and writes the reference file
# OUTPUTS/x86_64-linux.gds, against which every platform's file is compared.
native_host() {
  local outputs=$1
  cmake -S "$root/tests/platforms/suites" -B "$outputs/native" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCARVELLE_SUITES=platforms >/dev/null
  cmake --build "$outputs/native" -j "$jobs" --target carvelle_every_element carvelle_gds_compare
  write_host_file "$outputs" "$(uname -m)-linux" "$outputs/native/platforms/carvelle_every_element"
}

# write_host_file OUTPUTS PLATFORM COMMAND...: runs the every-element host
# through COMMAND and leaves OUTPUTS/PLATFORM.gds. Every platform writes
# under the name that ctest's platforms.every_element gives, since LIBNAME
# holds the name as given.
write_host_file() {
  local outputs=$1 platform=$2
  shift 2
  rm -rf "${outputs:?}/$platform" "$outputs/$platform.gds"
  mkdir -p "$outputs/$platform"
  (cd "$outputs/$platform" && "$@" every_element.gds) &&
    mv "$outputs/$platform/every_element.gds" "$outputs/$platform.gds" && rmdir "$outputs/$platform"
}

# same_bytes OUTPUTS PLATFORM...: compares each platform's file with this
# machine's, record for record, timestamps aside.
same_bytes() {
  local outputs=$1
  shift
  local files=()
  for platform in "$@"; do files+=("$platform.gds"); done
  (cd "$outputs" && native/platforms/carvelle_gds_compare "$(uname -m)-linux.gds" "${files[@]}")
}
