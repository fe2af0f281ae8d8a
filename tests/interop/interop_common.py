# SPDX-License-Identifier: MIT
"""Shared part of the interop readers: the manifest, what the file must hold
according to it, and the comparison with what a reader saw.

The manifest written by generate_layouts records the calls. This module
derives, without the library's help, the elements that the file must then
hold:

- BOUNDARY: the vertices as given (the writer appends the closing vertex,
  which readers drop again);
- BOX: the ring (x1,y1) (x2,y1) (x2,y2) (x1,y2);
- PATH: pieces of at most 8190 points, piece k starting at index 8189 * k, so
  that consecutive pieces share their joint point;
- circle and sector: a BOUNDARY; arc: one PATH; the sampled points computed
  here with the documented operation order (products before sums, angles
  accumulated step by step, degrees times 0.005555555555555556, truncation
  toward zero).

A reader script turns each expected element into the view that its reader
can give (or None with a reason, which becomes a SKIP line) and reads its
reader's elements into the same shape; compare() matches the two and prints
one FAIL line per difference.
"""

import json
import math
import os

PI = 3.141592653589793
DEGREE = 0.005555555555555556
TURN = 6.283185307179586
PIECE = 8190


def trunc32(value):
    """Truncation toward zero, as the conversion to a 32-bit integer does."""
    return int(value)


def sample(a, radius, cx, cy):
    x = math.cos(a) * float(radius)
    x = x + float(cx)
    y = math.sin(a) * float(radius)
    y = y + float(cy)
    return (trunc32(x), trunc32(y))


def accumulated_samples(start, step, count, radius, cx, cy):
    """count samples from angle start on, the angle accumulated step by step."""
    a = start
    points = []
    for _ in range(count):
        points.append(sample(a, radius, cx, cy))
        a = a + step
    return points


def circle_points(cx, cy, radius, count):
    return accumulated_samples(0.0, TURN / float(count), count, radius, cx, cy)


def arc_points(cx, cy, radius, start, end, count):
    s = (start * PI) * DEGREE
    e = (end * PI) * DEGREE
    return accumulated_samples(s, (e - s) / float(count), count, radius, cx, cy)


def sector_points(cx, cy, radius, start, end, count):
    s = (start * PI) * DEGREE
    step = (((end - start) * PI) / float(count)) * DEGREE
    return [(cx, cy)] + accumulated_samples(s, step, count - 1, radius, cx, cy)


def path_pieces(points):
    pieces = []
    start = 0
    while True:
        n = min(len(points) - start, PIECE)
        pieces.append(points[start:start + n])
        start += n - 1
        if start + 1 >= len(points):
            return pieces


def ring_key(points):
    """Normal form of a closed ring: the same for any starting vertex and
    either orientation, different for any other change of the sequence."""
    pts = [tuple(p) for p in points]
    if len(pts) > 1 and pts[0] == pts[-1]:
        raise ValueError("ring_key expects a ring without its closing vertex")
    best = None
    low = min(pts)
    n = len(pts)
    for seq in (pts, pts[::-1]):
        for i in range(n):
            if seq[i] == low:
                candidate = tuple(seq[i:] + seq[:i])
                if best is None or candidate < best:
                    best = candidate
    return best


class Element:
    """One element that the file must hold, as the generator asked for it."""

    def __init__(self, kind, what, **fields):
        self.kind = kind    # polygon, box, path, text, ref, node
        self.what = what    # a name for messages, e.g. "circle #3"
        self.fields = fields
        self.path_id = None
        self.piece = None

    def __getitem__(self, key):
        return self.fields[key]

    def get(self, key, default=None):
        return self.fields.get(key, default)


def expected_elements(structure):
    """The elements of one manifest structure, in file order."""
    result = []
    counters = {}
    for index, e in enumerate(structure["elements"]):
        kind = e["kind"]
        counters[kind] = counters.get(kind, 0) + 1
        what = "%s #%d" % (kind, counters[kind])
        if kind == "boundary":
            pts = [tuple(p) for p in e["points"]]
            result.append(Element("polygon", what, layer=e["layer"], datatype=e["datatype"],
                                  points=pts))
        elif kind == "box":
            x1, y1, x2, y2 = e["corners"]
            result.append(Element("box", what, layer=e["layer"], datatype=e["boxtype"],
                                  points=[(x1, y1), (x2, y1), (x2, y2), (x1, y2)]))
        elif kind == "circle":
            pts = circle_points(e["center"][0], e["center"][1], e["radius"], e["count"])
            result.append(Element("polygon", what, layer=e["layer"], datatype=e["datatype"],
                                  points=pts))
        elif kind == "sector":
            pts = sector_points(e["center"][0], e["center"][1], e["radius"], e["start"],
                                e["end"], e["count"])
            result.append(Element("polygon", what, layer=e["layer"], datatype=e["datatype"],
                                  points=pts))
        elif kind in ("path", "arc"):
            if kind == "path":
                pts = [tuple(p) for p in e["points"]]
            else:
                pts = arc_points(e["center"][0], e["center"][1], e["radius"], e["start"],
                                 e["end"], e["count"])
            pieces = path_pieces(pts)
            for k, piece in enumerate(pieces):
                label = what if len(pieces) == 1 else "%s piece %d/%d" % (what, k + 1, len(pieces))
                el = Element("path", label, layer=e["layer"], datatype=e["datatype"],
                             pathtype=e["pathtype"], width=e["width"], points=piece)
                el.path_id = index
                el.piece = k
                result.append(el)
        elif kind == "text":
            result.append(Element("text", what + " %r" % e["string"][:16], **{
                k: v for k, v in e.items() if k != "kind"}))
        elif kind in ("sref", "aref"):
            fields = {k: v for k, v in e.items() if k != "kind"}
            if kind == "aref":
                p0, p1, p2 = e["points"]
                fields["position"] = p0
                fields["col_pitch"] = ((p1[0] - p0[0]) // e["cols"], (p1[1] - p0[1]) // e["cols"])
                fields["row_pitch"] = ((p2[0] - p0[0]) // e["rows"], (p2[1] - p0[1]) // e["rows"])
                for a, b, n in ((p1, p0, e["cols"]), (p2, p0, e["rows"])):
                    if (a[0] - b[0]) % n or (a[1] - b[1]) % n:
                        raise ValueError("%s: array points are not whole pitches" % what)
            else:
                fields["cols"] = fields["rows"] = None
            result.append(Element("ref", what + " of " + e["name"], **fields))
        elif kind == "node":
            result.append(Element("node", what, layer=e["layer"], nodetype=e["nodetype"],
                                  points=[tuple(p) for p in e["points"]]))
        else:
            raise ValueError("unknown element kind in manifest: %s" % kind)
    return result


def load_manifests(directory):
    names = sorted(f for f in os.listdir(directory) if f.endswith(".json"))
    if not names:
        raise SystemExit("no manifests in %s" % directory)
    manifests = []
    for name in names:
        with open(os.path.join(directory, name)) as f:
            manifests.append(json.load(f))
    return manifests


def describe(value, limit=6):
    """Short text for a compared value (long point lists are cut)."""
    if isinstance(value, tuple) and value and isinstance(value[0], tuple) and len(value) > limit:
        return "[%d points: %s ...]" % (len(value), ", ".join(map(str, value[:limit])))
    return repr(value)


def first_difference(a, b):
    """Where two compared values differ, field by field."""
    parts = []
    for (ka, va), (kb, vb) in zip(a, b):
        if va == vb:
            continue
        if isinstance(va, tuple) and isinstance(vb, tuple) and va and isinstance(va[0], tuple):
            if len(va) != len(vb):
                parts.append("%s: %d points expected, %d read" % (ka, len(va), len(vb)))
            else:
                i = next(i for i in range(len(va)) if va[i] != vb[i])
                parts.append("%s: point %d expected %s, read %s" % (ka, i, va[i], vb[i]))
        else:
            parts.append("%s: expected %s, read %s" % (ka, describe(va), describe(vb)))
    return "; ".join(parts)


# Record tag -> (name, payload size in bytes, or None for a string, or "xy").
RECORDS = {
    0x0002: ("HEADER", 2), 0x0102: ("BGNLIB", 24), 0x0206: ("LIBNAME", None),
    0x0305: ("UNITS", 16), 0x0400: ("ENDLIB", 0), 0x0502: ("BGNSTR", 24),
    0x0606: ("STRNAME", None), 0x0700: ("ENDSTR", 0), 0x0800: ("BOUNDARY", 0),
    0x0900: ("PATH", 0), 0x0A00: ("SREF", 0), 0x0B00: ("AREF", 0), 0x0C00: ("TEXT", 0),
    0x0D02: ("LAYER", 2), 0x0E02: ("DATATYPE", 2), 0x0F03: ("WIDTH", 4), 0x1003: ("XY", "xy"),
    0x1100: ("ENDEL", 0), 0x1206: ("SNAME", None), 0x1302: ("COLROW", 4), 0x1500: ("NODE", 0),
    0x1602: ("TEXTTYPE", 2), 0x1701: ("PRESENTATION", 2), 0x1906: ("STRING", None),
    0x1A01: ("STRANS", 2), 0x1B05: ("MAG", 8), 0x1C05: ("ANGLE", 8), 0x2102: ("PATHTYPE", 2),
    0x2601: ("ELFLAGS", 2), 0x2A02: ("NODETYPE", 2), 0x2D00: ("BOX", 0), 0x2E02: ("BOXTYPE", 2),
    0x2F03: ("PLEX", 4),
}


def record_problems(path):
    """Faults in the record framing that lenient readers step over: odd or
    short lengths, unknown tags, payloads of the wrong size, strings padded
    wrongly, XY records above 8190 points, unclosed BOUNDARY rings, bytes
    after ENDLIB."""
    with open(path, "rb") as f:
        data = f.read()
    problems = []
    i = number = 0
    element = None
    while i < len(data):
        number += 1
        where = "record %d at byte %d" % (number, i)
        if i + 4 > len(data):
            problems.append("%s: truncated header" % where)
            break
        length, tag = data[i] << 8 | data[i + 1], data[i + 2] << 8 | data[i + 3]
        payload = data[i + 4:i + length]
        name, size = RECORDS.get(tag, ("tag %04X" % tag, "unknown"))
        if size == "unknown":
            problems.append("%s: unknown %s" % (where, name))
        if length < 4 or length % 2:
            problems.append("%s (%s): length %d is odd or short" % (where, name, length))
            if length < 4:
                break
        if len(payload) != length - 4:
            problems.append("%s (%s): runs past the end of the file" % (where, name))
        if isinstance(size, int) and len(payload) != size:
            problems.append("%s (%s): payload of %d bytes, %d expected"
                            % (where, name, len(payload), size))
        if size is None and payload.endswith(b"\0") and (
                len(payload) % 2 or payload.endswith(b"\0\0") or len(payload) - 1 == 0):
            problems.append("%s (%s): wrongly padded" % (where, name))
        if size == "xy":
            if len(payload) % 8 or len(payload) > 8 * 8190:
                problems.append("%s (XY): %d bytes" % (where, len(payload)))
            elif element == "BOUNDARY" and payload[:8] != payload[-8:]:
                problems.append("%s (XY of a BOUNDARY): the ring is not closed" % where)
        if name in ("BOUNDARY", "PATH", "SREF", "AREF", "TEXT", "NODE", "BOX"):
            element = name
        if name == "ENDLIB" and i + length != len(data):
            problems.append("%s: %d bytes after ENDLIB" % (where, len(data) - i - length))
            break
        i += max(length, 4)
    if not data.endswith(b"\x00\x04\x04\x00"):
        problems.append("the file does not end with ENDLIB")
    return problems


class Report:
    def __init__(self, reader):
        self.reader = reader
        self.failures = 0

    def fail(self, layout, structure, element, message):
        self.failures += 1
        print("FAIL [%s] layout %s, structure %s, %s: %s"
              % (self.reader, layout, structure, element, message))

    def skip(self, layout, structure, message):
        print("SKIP [%s] layout %s, structure %s: %s" % (self.reader, layout, structure, message))


def compare_structure(report, layout, sname, expected, seen, view):
    """expected: list of Element; seen: list of (group, value, description)
    in the reader's order; view(element) gives (group, value, notes), where
    notes name the fields that the reader cannot show, or (None, reason, [])
    for an element that it cannot show at all. value is a tuple of (field,
    comparable) pairs. Returns the number of elements compared."""
    skipped = {}
    wanted = []
    for el in expected:
        group, value, notes = view(el)
        if group is None:
            skipped.setdefault(value, []).append(el.what)
            continue
        for note in notes:
            skipped.setdefault(note, []).append(el.what)
        wanted.append((group, value, el))
    for reason, whats in skipped.items():
        report.skip(layout, sname, "%s (%d element%s: %s%s)" % (
            reason, len(whats), "" if len(whats) == 1 else "s", ", ".join(whats[:4]),
            " ..." if len(whats) > 4 else ""))

    pool = {}
    for position, (group, value, desc) in enumerate(seen):
        pool.setdefault((group, value), []).append((position, desc))
    positions = {}
    unmatched = []
    for group, value, el in wanted:
        candidates = pool.get((group, value))
        if candidates:
            position, _ = candidates.pop(0)
            if el.path_id is not None:
                positions.setdefault(el.path_id, []).append((el.piece, position, el.what))
        else:
            unmatched.append((group, value, el))
    leftovers = [(g, v, d) for (g, v), items in pool.items() for _, d in items]

    for group, value, el in unmatched:
        near = [(g, v, d) for g, v, d in leftovers if g == group]
        if near:
            g, v, d = near[0]
            leftovers.remove(near[0])
            report.fail(layout, sname, "%s on %s" % (el.what, group),
                        "differs from the reader's %s: %s" % (d, first_difference(value, v)))
        else:
            report.fail(layout, sname, "%s on %s" % (el.what, group),
                        "not found (expected %s)" % "; ".join(
                            "%s=%s" % (k, describe(v)) for k, v in value))
    for g, v, d in leftovers:
        report.fail(layout, sname, d, "read on %s but not written: %s" % (g, "; ".join(
            "%s=%s" % (k, describe(x)) for k, x in v)))

    for path_id, pieces in positions.items():
        order = [position for _, position in sorted((p, pos) for p, pos, _ in pieces)]
        if order != sorted(order):
            report.fail(layout, sname, pieces[0][2].split(" piece")[0],
                        "path pieces read out of order (reader positions %s)" % order)
    return len(wanted)


def run(reader, directory, read_layout, view_for):
    """read_layout(manifest, path) gives (units_checks, structures) where
    structures maps a name to a list of (group, value, description) and
    units_checks is a list of (name, expected, read); view_for(manifest)
    gives the view function for that layout."""
    report = Report(reader)
    total = 0
    for manifest in load_manifests(directory):
        layout = manifest["layout"]
        path = os.path.join(directory, manifest["file"])
        for problem in record_problems(path):
            report.fail(layout, "-", "file records (walked before the reader runs)", problem)
        try:
            units, structures = read_layout(manifest, path)
        except Exception as error:  # a reader that rejects the file is a failure
            report.fail(layout, "-", "file", "%s could not read %s: %s: %s"
                        % (reader, path, type(error).__name__, error))
            continue
        for name, want, got in units:
            if want != got:
                report.fail(layout, "-", "UNITS", "%s: expected %r, read %r" % (name, want, got))
        wanted_names = [s["name"] for s in manifest["structures"]]
        for name in sorted(set(structures) - set(wanted_names)):
            report.fail(layout, name, "structure", "read but not written")
        for name in wanted_names:
            if name not in structures:
                report.fail(layout, name, "structure", "written but not read")
        view = view_for(manifest)
        compared = 0
        for s in manifest["structures"]:
            if s["name"] in structures:
                compared += compare_structure(report, layout, s["name"],
                                              expected_elements(s), structures[s["name"]], view)
        total += compared
        print("[%s] layout %s: %d structures, %d elements compared, units checked"
              % (reader, layout, len(wanted_names), compared))
    if report.failures:
        print("[%s] %d FAILURES" % (reader, report.failures))
        return 1
    print("[%s] all layouts match their manifests (%d elements compared)" % (reader, total))
    return 0


def fields(*pairs):
    """A comparable value: a tuple of (name, value) pairs."""
    return tuple(pairs)


def main_args(argv):
    if len(argv) != 1:
        raise SystemExit("usage: reader LAYOUT_DIR")
    return argv[0]
