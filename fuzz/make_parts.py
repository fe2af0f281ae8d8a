#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the seed parts of the part-scanner fuzzer into fuzz/parts/.

Small libraries with every kind of element, written by Carvelle (through
the Python package; CARVELLE_LIBRARY may name the shared library), by gdspy
and by KLayout (klayout -b). Each seed is one byte that seeds the sizes of
the pieces the fuzzer feeds, then the file. Run with an interpreter that has gdspy (Debian's: make deps-test).
"""
import os
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "python"))
out = os.path.join(here, "parts")


def seed(name, path, piece=7):
    with open(path, "rb") as f:
        data = f.read()
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([piece]) + data)


def ours(path):
    import carvelle
    with carvelle.Library(path, unit=1e-6, precision=1e-9) as lib:
        with lib.structure("CELL") as s:
            s.box(0, 0, 100, 50, layer=1)
            s.boundary([(0, 0), (10, 0), (5, 8)], layer=2, datatype=1)
            s.path([(0, 0), (100, 0), (100, 100)], width=10, layer=3)
            s.text(5, 5, "label", layer=4)
            s.node([(1, 1), (2, 2)], layer=5)
        with lib.structure("TOP") as s:
            s.sref("CELL", 0, 0)
            s.sref("CELL", 200, 0, mag=2.0, angle=90.0)
            s.aref("CELL", (0, 0), (900, 0), (0, 400), 3, 2)


def ours_varied(path):
    """Elements of each kind again and again, each differing from the last in one record's length only
    (points, string, name), twice the same in a row now and then: what the scanner takes by template."""
    import carvelle
    with carvelle.Library(path, unit=1e-6, precision=1e-9) as lib:
        for name in ("A", "BB", "CCC"):
            with lib.structure(name) as s:
                s.box(0, 0, 1, 1)
        with lib.structure("TOP") as s:
            for n in (3, 5, 5, 4, 9, 3):
                s.boundary([(i, (i * 7) % 5) for i in range(n)], layer=1)
                s.path([(i, i % 2) for i in range(n - 1)], width=4, layer=2)
                s.text(0, 0, "t" * n, layer=3)
                s.sref(("A", "BB", "CCC")[n % 3], n, 0)
                s.aref(("A", "BB", "CCC")[n % 3], (0, 0), (n * 10, 0), (0, 10), n, 1)


def gdspy_part(path):
    import gdspy
    lib = gdspy.GdsLibrary(unit=1e-6, precision=1e-9)
    cell = gdspy.Cell("CELL", exclude_from_current=True)
    lib.add(cell)
    cell.add(gdspy.Rectangle((0, 0), (1, 0.5), layer=1))
    cell.add(gdspy.FlexPath([(0, 0), (1, 0), (1, 1)], 0.1, layer=3, gdsii_path=True))
    cell.add(gdspy.Label("label", (0.5, 0.5), layer=4, magnification=2, rotation=45))
    cell.add(gdspy.Polygon([(0, 0), (2, 0), (1, 1)], layer=2))
    top = gdspy.Cell("TOP", exclude_from_current=True)
    lib.add(top)
    top.add(gdspy.CellReference(cell, (2, 0), rotation=90, magnification=2, x_reflection=True))
    top.add(gdspy.CellArray(cell, 3, 2, (3, 2), (0, 0)))
    lib.write_gds(path)


KLAYOUT = """
ly = RBA::Layout.new
ly.dbu = 0.001
cell = ly.create_cell("CELL")
top = ly.create_cell("TOP")
l1 = ly.layer(1, 0)
cell.shapes(l1).insert(RBA::Box.new(0, 0, 1000, 500))
triangle = [RBA::Point.new(0, 0), RBA::Point.new(100, 0), RBA::Point.new(50, 80)]
cell.shapes(ly.layer(2, 1)).insert(RBA::Polygon.new(triangle))
cell.shapes(ly.layer(3, 0)).insert(RBA::Path.new([RBA::Point.new(0, 0), RBA::Point.new(1000, 0)], 100, 50, 50))
cell.shapes(ly.layer(4, 0)).insert(RBA::Text.new("label", RBA::Trans.new(RBA::Trans::R90, 5, 5)))
top.insert(RBA::CellInstArray.new(cell.cell_index, RBA::Trans.new(RBA::Trans::M45, 10, 20)))
top.insert(RBA::CellInstArray.new(cell.cell_index, RBA::ICplxTrans.new(2.0, 30.0, false, 0, 0)))
columns, rows = RBA::Vector.new(3000, 0), RBA::Vector.new(0, 2000)
top.insert(RBA::CellInstArray.new(cell.cell_index, RBA::Trans.new, columns, rows, 3, 2))
ly.write($out)
"""


def klayout_part(path):
    with tempfile.NamedTemporaryFile("w", suffix=".rb", delete=False) as script:
        script.write(KLAYOUT)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    subprocess.run(["klayout", "-b", "-rd", "out=" + path, "-r", script.name], check=True, env=env)
    os.unlink(script.name)


if __name__ == "__main__":
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for name, writer in (("carvelle", ours), ("carvelle-varied", ours_varied), ("gdspy", gdspy_part),
                             ("klayout", klayout_part)):
            path = os.path.join(tmp, name + ".gds")
            writer(path)
            seed("seed-" + name, path)
            seed("seed-" + name + "-whole", path, piece=0)
