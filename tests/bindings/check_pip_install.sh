#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The install as a user makes it: a fresh venv over Debian's packages, an
# offline pip install of the checkout, then, from a folder outside the
# checkout, the every-element library through the compiled module and
# through ctypes, each compared with the same calls made from C. The library
# is built once: pip builds the checkout's wheel, and each venv installs it.
# Usage: check_pip_install.sh SOURCE C_REFERENCE [PYTHON]
set -euo pipefail
source=$1 reference=$2 python=${3:-python3}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/carvelle-pip.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/run"
"$python" -m venv --system-site-packages "$scratch/venv"
venvs=("$scratch/venv")
# The README's line with the python3 that PATH gives when it is another
# interpreter (one without setuptools or wheel, say), in a bare venv: that one
# builds the wheel, so the build backend is shown to need neither.
path_python=$(command -v python3 || true)
if [[ -n "$path_python" && "$(realpath "$path_python")" != "$(realpath "$(command -v "$python")")" ]]; then
  "$path_python" -m venv "$scratch/bare"
  venvs=("$scratch/bare" "${venvs[@]}")
fi
"${venvs[0]}/bin/python" -m pip wheel --quiet --no-index --no-deps --wheel-dir "$scratch/dist" "$source"
for venv in "${venvs[@]}"; do
  if ! "$venv/bin/python" -m pip install --quiet --no-index --only-binary :all: --find-links "$scratch/dist" carvelle \
    2>/dev/null; then
    echo "$venv: the wheel does not fit this interpreter; pip builds the checkout for it"
    "$venv/bin/python" -m pip install --quiet --no-index "$source"
  fi
  (cd "$scratch/run" && "$venv/bin/python" -c "import carvelle, sys; print(sys.executable, carvelle.backend)")
done

# The wheel carries the library and the compiled module.
"$python" - "$scratch"/dist/carvelle-*.whl <<'PYTHON'
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
