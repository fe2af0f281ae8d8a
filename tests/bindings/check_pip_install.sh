#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The install as a user makes it: a fresh venv over Debian's packages, an
# offline pip install of the checkout, then, from a folder outside the
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
cd "$scratch/run"
for backend in compiled ctypes; do
  env -u PYTHONPATH -u CARVELLE_LIBRARY CARVELLE_BACKEND="$backend" PYTHONDONTWRITEBYTECODE=1 \
    "$scratch/venv/bin/python" "$source/tests/bindings/installed_check.py" "$source" "$reference"
done
