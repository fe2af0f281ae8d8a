#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shared library exports the nineteen GDS_ functions and nothing else,
# and the public header compiles as strict C99 and as C++.
set -euo pipefail
library=$1 include=$2
expected="GDS_Arc GDS_Aref GDS_BeginLib GDS_BeginLibAt GDS_BeginStructure GDS_Boundary GDS_Box GDS_BoxWH GDS_Circle GDS_EndLib GDS_EndStructure GDS_GetError GDS_Node GDS_Path GDS_Property GDS_Sector GDS_Square GDS_Sref GDS_Text"
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
if [[ "$exported" != "$expected" ]]; then
  echo "exported symbols differ:"; echo "  got:      $exported"; echo "  expected: $expected"; exit 1
fi
echo '#include "gds_api.h"' | cc -x c -std=c99 -pedantic-errors -Wall -Wextra -Werror -fsyntax-only -I "$include" -
echo '#include "gds_api.h"' | c++ -x c++ -std=c++17 -pedantic-errors -Wall -Wextra -Werror -fsyntax-only -I "$include" -
echo "exports: the nineteen GDS_ functions; header: C99 and C++17 clean"
