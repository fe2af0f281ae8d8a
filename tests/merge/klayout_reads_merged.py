#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Mutated parts through carvelle-merge, and every output it accepts read by
KLayout: a part the merge accepts must make a library KLayout reads. Not in
the test run (it takes a minute or more); run it after a change to the part
scanner or the element checker:

    tests/merge/klayout_reads_merged.py build/programs/carvelle-merge [--parts 2000]

The parts are the seeds of fuzz/parts/ (written by the library, gdspy and
KLayout), mutated at random: bytes flipped or set, and whole records
dropped, repeated, swapped or moved. Prints how many parts the merge
accepted and how many outputs KLayout refused (with the first reasons);
exits 1 when KLayout refused any.
"""
import argparse
import os
import random
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
READER = """
File.readlines($list).each do |line|
  path = line.strip
  begin
    RBA::Layout.new.read(path)
  rescue => e
    puts "REFUSED #{path}: #{e.to_s.lines.first.strip}"
  end
end
"""


def records(data):
    out, at = [], 0
    while at + 4 <= len(data):
        length = struct.unpack(">H", data[at:at + 2])[0]
        if length < 4:
            break
        out.append(data[at:at + length])
        at += length
    return out


def mutate(data, rng):
    recs = records(data)
    for _ in range(rng.randint(1, 3)):
        kind = rng.randrange(6)
        if kind < 2:
            data = bytearray(b"".join(recs))
            at = rng.randrange(len(data))
            data[at] = data[at] ^ (1 << rng.randrange(8)) if kind == 0 else rng.randrange(256)
            recs = records(bytes(data))
            continue
        # Records of the structures only: the head stays, so the library frame is more often whole.
        if len(recs) < 7:
            continue
        i, j = rng.randrange(4, len(recs) - 1), rng.randrange(4, len(recs) - 1)
        if kind == 2:
            del recs[i]
        elif kind == 3:
            recs.insert(i, recs[j])
        elif kind == 4:
            recs[i], recs[j] = recs[j], recs[i]
        else:
            recs.insert(j, recs.pop(i))
    return b"".join(recs)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("merge", help="the carvelle-merge program")
    parser.add_argument("--parts", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=21)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    seeds_dir = os.path.join(ROOT, "fuzz", "parts")
    seeds = [open(os.path.join(seeds_dir, name), "rb").read()[1:] for name in sorted(os.listdir(seeds_dir))]
    with tempfile.TemporaryDirectory() as tmp:
        accepted = []
        for n in range(args.parts):
            part = os.path.join(tmp, "p%d.gds" % n)
            with open(part, "wb") as f:
                f.write(mutate(rng.choice(seeds), rng))
            out = os.path.join(tmp, "o%d.gds" % n)
            if subprocess.run([args.merge, out, part], capture_output=True).returncode == 0:
                accepted.append(out)
        listing = os.path.join(tmp, "list.txt")
        with open(listing, "w") as f:
            f.write("\n".join(accepted) + "\n")
        script = os.path.join(tmp, "read.rb")
        with open(script, "w") as f:
            f.write(READER)
        done = subprocess.run(["klayout", "-b", "-rd", "list=" + listing, "-r", script], capture_output=True,
                              text=True, errors="replace", env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        refused = [line for line in done.stdout.splitlines() if line.startswith("REFUSED")]
        print("%d mutated parts, %d accepted by the merge, %d outputs refused by KLayout"
              % (args.parts, len(accepted), len(refused)))
        for line in refused[:10]:
            print("  " + line.replace(tmp + "/", ""))
        return 1 if refused or done.returncode != 0 else 0


if __name__ == "__main__":
    sys.exit(main())
