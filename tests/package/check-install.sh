#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the built project into a scratch prefix, then builds and runs a
# host program against it (consume.sh).
set -euo pipefail
build=$1 source=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
"$source/consume.sh" "$scratch/prefix" "$scratch"

# The Python package that cmake --install puts under the prefix, with its own
# copy of the library: it imports from there alone and writes a file.
package=$(find "$scratch/prefix" -path '*-packages/carvelle' -type d)
if [[ -n $package ]]; then
  (cd "$scratch" && env -u CARVELLE_LIBRARY -u CARVELLE_BACKEND PYTHONPATH="$(dirname "$package")" \
    "${PYTHON:-python3}" -c 'import os, sys, carvelle
assert os.path.dirname(carvelle.library_path()) == sys.argv[1], carvelle.library_path()
with carvelle.Library("python.gds") as lib, lib.structure("TOP") as top:
    top.box(0, 0, 1, 1)
print("installed Python package:", carvelle.backend, carvelle.library_path())' "$package")
  test "$(tail -c 4 "$scratch/python.gds" | od -An -tx1 | tr -d ' ')" = "00040400"
fi
echo "installed Python package imports from the prefix alone"
