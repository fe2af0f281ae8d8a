#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The install as a user makes it: a fresh venv over Debian's packages, an
# offline pip install of the checkout (and a wheel built beside), then, from a folder outside the
# checkout, the every-element library through the compiled module and
# through ctypes, each compared with the same calls made from C.
# Usage: check_pip_install.sh SOURCE C_REFERENCE [PYTHON]
set -euo pipefail
source=$1 reference=$2 python=${3:-python3}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/carvelle-pip.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/run"
"$python" -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/python" -m pip install --quiet --no-index "$source"
# The README's line as written, with the python3 that PATH gives when it is
# another interpreter (one without setuptools or wheel, say), in a bare venv.
path_python=$(command -v python3 || true)
if [[ -n "$path_python" && "$(realpath "$path_python")" != "$(realpath "$(command -v "$python")")" ]]; then
  "$path_python" -m venv "$scratch/bare"
  "$scratch/bare/bin/python" -m pip install --quiet --no-index "$source"
  (cd "$scratch/run" && "$scratch/bare/bin/python" -c "import carvelle; print('PATH python3:', carvelle.backend)")
fi

# The wheel carries the library and the compiled module.
"$python" -m build --no-isolation --wheel --outdir "$scratch/dist" "$source" >/dev/null
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
