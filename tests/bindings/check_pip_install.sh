#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The install as a user makes it: a fresh venv over Debian's packages, an
# offline pip install of the checkout (and a wheel built beside), then, from a folder outside the
# checkout, the every-element library through the compiled module and
# through ctypes, each compared with the same calls made from C.
# Usage: check_pip_install.sh SOURCE C_REFERENCE
set -euo pipefail
source=$1 reference=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/carvelle-pip.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/run"
/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/python" -m pip install --quiet --no-build-isolation --no-index "$source"

# The wheel carries the library and the compiled module.
/usr/bin/python3 -m build --no-isolation --wheel --outdir "$scratch/dist" "$source" >/dev/null
/usr/bin/python3 - "$scratch"/dist/carvelle-*.whl <<'PYTHON'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
assert "carvelle/libcarvelle.so.1" in names and any(n.startswith("carvelle/_compiled.") for n in names), names
print("wheel", sys.argv[1].rsplit("/", 1)[-1], "carries the library and the compiled module")
PYTHON
cd "$scratch/run"
for backend in compiled ctypes; do
  env -u PYTHONPATH -u CARVELLE_LIBRARY CARVELLE_BACKEND="$backend" PYTHONDONTWRITEBYTECODE=1 \
    "$scratch/venv/bin/python" "$source/tests/bindings/installed_check.py" "$source" "$reference"
done
