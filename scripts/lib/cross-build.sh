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
# through COMMAND and leaves OUTPUTS/PLATFORM.gds, and OUTPUTS/PLATFORM.gds.gz
# from a second run under a .gz name. Every platform writes under the names
# that ctest's platforms.every_element and every_element_gz give, since
# LIBNAME holds the name as given.
write_host_file() {
  local outputs=$1 platform=$2
  shift 2
  local suffix
  rm -rf "${outputs:?}/$platform" "$outputs/$platform".{gds,gds.gz,oas}
  mkdir -p "$outputs/$platform"
  for suffix in gds gds.gz oas; do
    (cd "$outputs/$platform" && "$@" "every_element.$suffix") &&
      mv "$outputs/$platform/every_element.$suffix" "$outputs/$platform.$suffix" || return 1
  done
  rmdir "$outputs/$platform"
}

# deflate_root DEBIAN_ARCH DIR: ISA-L and zlib for DEBIAN_ARCH, Debian's
# multiarch packages unpacked into DIR/deflate-root without installing them
# (installing would pull the target's libc over the system's). The cross
# build finds them through CMAKE_FIND_ROOT_PATH and runs with them through
# its build RPATH. Prints the folder.
deflate_root() {
  local arch=$1 dir=$2
  local into=$dir/deflate-root
  if [[ ! -f $into/.unpacked ]]; then
    # `make deps-test` enables the architecture, so that apt knows its packages.
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      echo "dpkg does not know the $arch architecture: run make deps-test" >&2
      return 1
    fi
    rm -rf "$dir/deflate-debs" "$into"
    mkdir -p "$dir/deflate-debs" "$into"
    (cd "$dir/deflate-debs" &&
      apt-get download -qq "libisal-dev:$arch" "libisal2:$arch" "zlib1g-dev:$arch" "zlib1g:$arch") >&2 2>/dev/null
    for deb in "$dir"/deflate-debs/*.deb; do dpkg-deb -x "$deb" "$into"; done
    touch "$into/.unpacked"
  fi
  echo "$into"
}

# same_bytes OUTPUTS PLATFORM...: compares each platform's file with this
# machine's, record for record, timestamps aside; then the same for their
# .gds.gz files, decompressed by gzip (which also checks each CRC).
same_bytes() {
  local outputs=$1
  shift
  local files=() packed=() platform
  for platform in "$(uname -m)-linux" "$@"; do
    gzip -dc "$outputs/$platform.gds.gz" >"$outputs/$platform.gz.gds" || return 1
  done
  for platform in "$@"; do files+=("$platform.gds"); packed+=("$platform.gz.gds"); done
  (cd "$outputs" && native/platforms/carvelle_gds_compare "$(uname -m)-linux.gds" "${files[@]}" &&
    native/platforms/carvelle_gds_compare "$(uname -m)-linux.gz.gds" "${packed[@]}") || return 1
  # An OASIS file holds no time, but its CBLOCKs hold what the platform's deflate made of the records.
  files=()
  for platform in "$@"; do files+=("$outputs/$platform.oas"); done
  "${PYTHON:-python3}" "$root/tests/platforms/oas_compare.py" "$outputs/$(uname -m)-linux.oas" "${files[@]}"
}
