#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The version is written once, in VERSION; everything that carries it must
# agree: the header's macros, the shared library's file name and SONAME,
# carvelle.pc, the CMake package and the staged Python package.
# Usage: check-version.sh SOURCE BUILD LIBRARY SONAME
set -euo pipefail
source=$1 build=$2 library=$3 soname=$4
version=$(cat "$source/VERSION")
[[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || { echo "VERSION is not MAJOR.MINOR.PATCH: $version"; exit 1; }
major=${BASH_REMATCH[1]}
status=0
expect() {  # expect WHAT VALUE
  if [[ "$2" != "$3" ]]; then echo "$1: $2, VERSION says $3"; status=1; fi
}
header=$(printf '#include "gds_api.h"\nCARVELLE_VERSION_MAJOR.CARVELLE_VERSION_MINOR.CARVELLE_VERSION_PATCH\n' |
  cc -E -P -I "$source/include" - | tail -n 1 | tr -d ' ')
expect "gds_api.h macros" "$header" "$version"
expect "library file" "$(basename "$library")" "libcarvelle.so.$version"
expect "SONAME" "$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')" "$soname"
expect "SONAME" "$soname" "libcarvelle.so.$major"
expect "carvelle.pc" "$(sed -n 's/^Version: //p' "$build/carvelle.pc")" "$version"
expect "CarvelleConfigVersion.cmake" \
  "$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CarvelleConfigVersion.cmake")" "$version"
# The Python package as staged beside the library in the build folder.
python=$(cd "$build" && "${PYTHON:-python3}" -c 'import carvelle; print(carvelle.__version__)')
expect "Python carvelle.__version__" "$python" "$version"
[[ $status -eq 0 ]] && echo "version $version everywhere"
exit $status
