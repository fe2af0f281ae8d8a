#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs a host program against Carvelle installed under PREFIX,
# through find_package(Carvelle) and through pkg-config, as a user would.
# Usage: consume.sh PREFIX SCRATCH
set -euo pipefail
prefix=$1 scratch=$2
consumer=$(cd "$(dirname "$0")/consumer" && pwd)
mkdir -p "$scratch"
cmake -S "$consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libcarvelle.so.*' -print -quit)")
export LD_LIBRARY_PATH="$libdir:${LD_LIBRARY_PATH:-}"
"$scratch/consumer/consumer" "$scratch/cmake.gds"

PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name carvelle.pc)")"
export PKG_CONFIG_PATH
read -ra flags <<<"$(pkg-config --cflags --libs carvelle)"
cc "$consumer/consumer.c" "${flags[@]}" -o "$scratch/pkgconfig-consumer"
"$scratch/pkgconfig-consumer" "$scratch/pkgconfig.gds"
for file in "$scratch/cmake.gds" "$scratch/pkgconfig.gds"; do
  test "$(tail -c 4 "$file" | od -An -tx1 | tr -d ' ')" = "00040400" || { echo "$file does not end with ENDLIB"; exit 1; }
done
# The merge tool joins one of them, and both: they define the same structures, which it writes once.
merge=$prefix/bin/carvelle-merge
"$merge" "$scratch/merged.gds" "$scratch/cmake.gds" "$scratch/pkgconfig.gds"
both=$(stat -c %s "$scratch/merged.gds")
"$merge" "$scratch/merged.gds" "$scratch/cmake.gds"
test "$(stat -c %s "$scratch/merged.gds")" = "$both" || { echo "the shared structures were written twice"; exit 1; }
test "$(tail -c 4 "$scratch/merged.gds" | od -An -tx1 | tr -d ' ')" = "00040400" || { echo "merged.gds has no ENDLIB"; exit 1; }
# carvelle-info reads the merge, and its manual page is installed beside it.
"$prefix/bin/carvelle-info" "$scratch/merged.gds" | grep -q '^top structures:' || { echo "carvelle-info cannot read merged.gds"; exit 1; }
if [[ -d "$prefix/share/man/man1" ]]; then
  test -f "$prefix/share/man/man1/carvelle-info.1.gz" || { echo "no carvelle-info manual page"; exit 1; }
fi
echo "Carvelle under $prefix found by CMake and pkg-config; the host wrote a complete file; carvelle-merge joins; carvelle-info reads"
