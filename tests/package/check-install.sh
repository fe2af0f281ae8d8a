#!/usr/bin/env bash
# Installs the built project into a scratch prefix, then builds and runs a
# host program through find_package(Carvelle) and through pkg-config.
set -euo pipefail
build=$1 source=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
cmake -S "$source/consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
export LD_LIBRARY_PATH="$scratch/prefix/lib:$scratch/prefix/lib64:${LD_LIBRARY_PATH:-}"
"$scratch/consumer/consumer" "$scratch/cmake.gds"

PKG_CONFIG_PATH="$(dirname "$(find "$scratch/prefix" -name carvelle.pc)")"
export PKG_CONFIG_PATH
read -ra flags <<< "$(pkg-config --cflags --libs carvelle)"
cc "$source/consumer/consumer.c" "${flags[@]}" -o "$scratch/pkgconfig-consumer"
"$scratch/pkgconfig-consumer" "$scratch/pkgconfig.gds"
for file in "$scratch/cmake.gds" "$scratch/pkgconfig.gds"; do
  test "$(tail -c 4 "$file" | od -An -tx1 | tr -d ' ')" = "00040400" || { echo "$file does not end with ENDLIB"; exit 1; }
done

# The Python package that cmake --install puts under the prefix, with its own
# copy of the library: it imports from there alone and writes a file.
package=$(find "$scratch/prefix" -path '*-packages/carvelle' -type d)
if [[ -n $package ]]; then
  (cd "$scratch" && env -u CARVELLE_LIBRARY -u CARVELLE_BACKEND PYTHONPATH="$(dirname "$package")" \
    /usr/bin/python3 -c 'import os, sys, carvelle
assert os.path.dirname(carvelle.library_path()) == sys.argv[1], carvelle.library_path()
with carvelle.Library("python.gds") as lib, lib.structure("TOP") as top:
    top.box(0, 0, 1, 1)
print("installed Python package:", carvelle.backend, carvelle.library_path())' "$package")
  test "$(tail -c 4 "$scratch/python.gds" | od -An -tx1 | tr -d ' ')" = "00040400"
fi
echo "installed package found by CMake and pkg-config"
