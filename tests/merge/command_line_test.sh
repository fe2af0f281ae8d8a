#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# carvelle-merge as a user runs it: exit status 0, 2 (usage) and one per kind
# of refusal (nothing written), a message on stderr.
set -euo pipefail
merge=$1 every_element=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch" && cd "$scratch"
"$every_element" part.gds >/dev/null

expect() {  # STATUS COMMAND...: runs COMMAND, which must exit with STATUS
  local want=$1 status=0
  shift
  "$@" 2>stderr || status=$?
  if [[ $status -ne $want ]]; then
    echo "'$*' exited with $status, not $want:"; cat stderr; exit 1
  fi
}
expect 0 "$merge" -v merged.gds part.gds >stdout
grep -qx "merged.gds: $(stat -c %s merged.gds) bytes, [1-9][0-9]* structures" stdout ||
  { echo "-v printed:"; cat stdout; exit 1; }
test "$(tail -c 4 merged.gds | od -An -tx1 | tr -d ' ')" = "00040400" ||
  { echo "merged.gds does not end with ENDLIB"; exit 1; }
# The same file twice, under its name or another, is refused before anything is written.
ln part.gds linked.gds
expect 22 "$merge" twice.gds part.gds linked.gds
grep -q "^carvelle-merge: part linked.gds is the same file as part part.gds" stderr
test ! -e twice.gds
# With SOURCE_DATE_EPOCH (2000-02-29 00:00:00 UTC) BGNLIB holds that time and
# two runs give the same bytes; the part's own BGNSTRs and the properties on
# its elements come through as they are.
leap=$(printf '0064 0002 001d 0000 0000 0000 %.0s' 1 2)
for run in 1 2; do  # one output name, as LIBNAME holds it
  SOURCE_DATE_EPOCH=951782400 expect 0 "$merge" same.gds part.gds
  mv same.gds "same$run.gds"
done
cmp same1.gds same2.gds
test "$(head -c 34 same1.gds | tail -c 24 | od -An -tx2 --endian=big | tr -s ' \n' ' ' | sed 's/^ //')" = "$leap" ||
  { echo "BGNLIB of the merged file does not hold SOURCE_DATE_EPOCH's time"; exit 1; }
records_of() {  # FILE TYPE: the records of that record type (hex), in hex, one a line
  "${PYTHON:-python3}" - "$1" "$2" <<'SPLIT'
import struct
import sys
data, wanted, at = open(sys.argv[1], "rb").read(), int(sys.argv[2], 16), 0
while at + 4 <= len(data) and struct.unpack_from(">H", data, at)[0] >= 4:
    length = struct.unpack_from(">H", data, at)[0]
    if data[at + 2] == wanted:
        print(data[at:at + length].hex())
    at += length
SPLIT
}
if [[ -z "$(records_of part.gds 2b)" || "$(records_of same1.gds 2c)" != "$(records_of part.gds 2c)" ||
      "$(records_of same1.gds 05)" != "$(records_of part.gds 05)" ]]; then
  echo "the merge lost a property or a structure's time"; exit 1
fi
# Refusals, each with its own status.
mkfifo fifo.gds
expect 13 "$merge" fifo-out.gds part.gds fifo.gds
grep -q "^carvelle-merge: cannot open part fifo.gds: not a regular file" stderr
head -c 100 part.gds >cut.gds
expect 14 "$merge" cut-out.gds part.gds cut.gds
expect 12 "$merge" part.gds part.gds
test ! -e fifo-out.gds && test ! -e cut-out.gds
expect 2 "$merge" only-output.gds
expect 2 "$merge" --unknown out.gds part.gds
expect 0 "$merge" --help
echo "carvelle-merge: exit status 0, 2, 12, 13, 14 and 22 as documented; reproducible; properties kept"
