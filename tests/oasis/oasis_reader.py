# SPDX-License-Identifier: MIT
"""A strict OASIS 1.0 reader for the tests, written apart from the writer.

It decodes every record a writer may use and refuses, with an OasisError
naming the byte offset, whatever a strict reader must not accept: a wrong
END record (length, table offsets), a wrong validation signature, mixed
implicit and explicit reference numbers in one name table, a modal variable
used before it was set, a Manhattan point list of the wrong count, a CBLOCK
whose byte counts do not match its deflate stream, an S_CELL_OFFSET that
does not point at its CELL record.

    layout = read(data_or_path)
    for cell in layout.cells.values():
        for element in expanded(cell):      # repetitions applied
            ...

Elements are SimpleNamespace objects with `kind` (rectangle, polygon, path,
text, placement, trapezoid, ctrapezoid, circle, xgeometry), `offset`, the
fields of their kind in database units (polygon and path points absolute),
`rep` (a Repetition or None) and `props` (a list of Property).

Offsets inside a CBLOCK are given as "offset N in the CBLOCK at offset M"
(N counted in the uncompressed bytes).
"""

import struct
import sys
import zlib
from types import SimpleNamespace

MAGIC = b"%SEMI-OASIS\r\n"
END_LENGTH = 256
TABLES = ("CELLNAME", "TEXTSTRING", "PROPNAME", "PROPSTRING", "LAYERNAME", "XNAME")
# record id -> the name table it belongs to
TABLE_OF = {3: "CELLNAME", 4: "CELLNAME", 5: "TEXTSTRING", 6: "TEXTSTRING", 7: "PROPNAME", 8: "PROPNAME",
            9: "PROPSTRING", 10: "PROPSTRING", 11: "LAYERNAME", 12: "LAYERNAME", 30: "XNAME", 31: "XNAME"}
# the eight directions of 3-deltas and g-deltas (form 1)
OCTANTS = ((1, 0), (0, 1), (-1, 0), (0, -1), (1, 1), (-1, 1), (-1, -1), (1, -1))


class OasisError(ValueError):
    """A violation of the format, with where it was found."""


class Repetition(SimpleNamespace):
    """type (1-11), offsets (every copy's displacement, (0, 0) first) and,
    for the regular types 1, 2, 3, 8 and 9, the lattice (nx, ny, (dx1, dy1),
    (dx2, dy2))."""


class Property(SimpleNamespace):
    """name, values (numbers and strings, references resolved), standard."""


class _StringRef:
    """A PROPSTRING reference inside a value list, resolved after the file."""

    def __init__(self, number, where):
        self.number, self.where = number, where


class Layout:
    """What read() returns: unit (grid steps per micrometre), cells (name ->
    Cell, in file order), properties (file level), tables (name -> (strict
    flag, offset)), validation (0, 1 CRC32 or 2 checksum), and the name
    tables as read (number -> string)."""

    def __init__(self):
        self.unit = None
        self.cells = {}
        self.properties = []
        self.tables = {}
        self.table_location = None
        self.validation = 0
        self.cellnames, self.textstrings, self.propnames, self.propstrings = {}, {}, {}, {}
        self.layernames = []
        self.xnames = {}
        self.cblocks = 0

    @property
    def strict(self):
        """True when every table's strict flag is set."""
        return all(flag == 1 for flag, _ in self.tables.values())


class Cell(SimpleNamespace):
    """name, offset of its CELL record, elements, props."""


def read(source, *, expect_strict=None, require_validation=False):
    """Decodes source (bytes or a file name). expect_strict=True refuses a
    table without the strict flag, False one with it; require_validation
    refuses a file without a signature."""
    if not isinstance(source, (bytes, bytearray)):
        with open(source, "rb") as handle:
            source = handle.read()
    return _Reader(bytes(source), expect_strict, require_validation).run()


def expanded(cell):
    """The cell's elements with their repetitions applied: one element per
    copy, rep None, x/y (and points) displaced."""
    for element in cell.elements:
        if element.rep is None:
            yield element
            continue
        for dx, dy in element.rep.offsets:
            copy = SimpleNamespace(**vars(element))
            copy.rep = None
            if hasattr(copy, "x"):
                copy.x, copy.y = copy.x + dx, copy.y + dy
            if hasattr(copy, "points"):
                copy.points = [(x + dx, y + dy) for x, y in copy.points]
            yield copy


def ring(points):
    """A polygon's points as one canonical tuple: without a closing repeat
    of the first point, starting at the smallest point, in the direction
    whose second point is smaller."""
    points = [tuple(p) for p in points]
    if len(points) > 1 and points[0] == points[-1]:
        points.pop()
    candidates = []
    for seq in (points, points[::-1]):
        start = seq.index(min(seq))
        candidates.append(tuple(seq[start:] + seq[:start]))
    return min(candidates)


def normalized(layout):
    """{cell name: sorted shapes}, repetitions applied, rectangles as
    polygons: ("polygon", layer, datatype, ring), ("path", layer, datatype,
    width, start extension, end extension, points), ("text", layer,
    texttype, string, x, y), ("placement", cell, x, y, angle, mag, flip)."""
    out = {}
    for name, cell in layout.cells.items():
        shapes = []
        for e in expanded(cell):
            if e.kind == "rectangle":
                shapes.append(("polygon", e.layer, e.datatype,
                               ring([(e.x, e.y), (e.x + e.w, e.y), (e.x + e.w, e.y + e.h), (e.x, e.y + e.h)])))
            elif e.kind == "polygon":
                shapes.append(("polygon", e.layer, e.datatype, ring(e.points)))
            elif e.kind == "path":
                shapes.append(("path", e.layer, e.datatype, e.width, e.start_extension, e.end_extension,
                               tuple(e.points)))
            elif e.kind == "text":
                shapes.append(("text", e.layer, e.texttype, e.string, e.x, e.y))
            elif e.kind == "placement":
                shapes.append(("placement", e.cell, e.x, e.y, round(e.angle % 360, 9), round(e.mag, 9), e.flip))
            else:
                shapes.append((e.kind,) + tuple(sorted((k, str(v)) for k, v in vars(e).items())))
        out[name] = sorted(shapes, key=repr)
    return out


def _real_bytes_to_float(kind, raw):
    return struct.unpack("<f" if kind == 6 else "<d", raw)[0]


class _Source:
    """The bytes being decoded: the file, or one CBLOCK's inflated bytes."""

    def __init__(self, data, base=None):
        self.data, self.pos, self.base = data, 0, base

    def where(self, pos=None):
        pos = self.pos if pos is None else pos
        if self.base is None:
            return "offset %d" % pos
        return "offset %d in the CBLOCK at offset %d" % (pos, self.base)

    def fail(self, message, pos=None):
        raise OasisError("%s at %s" % (message, self.where(pos)))

    def byte(self):
        if self.pos >= len(self.data):
            self.fail("unexpected end of data")
        self.pos += 1
        return self.data[self.pos - 1]

    def take(self, count):
        if self.pos + count > len(self.data):
            self.fail("%d bytes needed, %d left" % (count, len(self.data) - self.pos))
        self.pos += count
        return self.data[self.pos - count:self.pos]

    def uint(self):
        # no length limit: redundant 0x80 groups are legal, and KLayout pads
        # the END record with them
        value, shift = 0, 0
        while True:
            b = self.byte()
            value |= (b & 0x7F) << shift
            shift += 7
            if not b & 0x80:
                return value

    def sint(self):
        u = self.uint()
        return -(u >> 1) if u & 1 else u >> 1

    def string(self):
        return self.take(self.uint())

    def real(self):
        start = self.pos
        kind = self.uint()
        if kind in (0, 1):
            value = self.uint()
        elif kind in (2, 3):
            d = self.uint()
            if d == 0:
                self.fail("real of type %d with a zero denominator" % kind, start)
            value = 1.0 / d
        elif kind in (4, 5):
            n, d = self.uint(), self.uint()
            if d == 0:
                self.fail("real of type %d with a zero denominator" % kind, start)
            value = n / d
        elif kind in (6, 7):
            return _real_bytes_to_float(kind, self.take(4 if kind == 6 else 8))
        else:
            self.fail("real of unknown type %d" % kind, start)
        return -value if kind & 1 else value

    def delta2(self):
        u = self.uint()
        dx, dy = OCTANTS[u & 3]
        return dx * (u >> 2), dy * (u >> 2)

    def delta3(self):
        u = self.uint()
        dx, dy = OCTANTS[u & 7]
        return dx * (u >> 3), dy * (u >> 3)

    def gdelta(self):
        u = self.uint()
        if u & 1 == 0:
            dx, dy = OCTANTS[(u >> 1) & 7]
            return dx * (u >> 4), dy * (u >> 4)
        x = -(u >> 2) if u & 2 else u >> 2
        return x, self.sint()


class _Modal:
    """The modal variables; a read of an unset one is refused."""

    POSITIONS = ("placement_x", "placement_y", "geometry_x", "geometry_y", "text_x", "text_y")

    def __init__(self):
        self.values = dict.fromkeys(self.POSITIONS, 0)
        self.values["xy_relative"] = False

    def get(self, name, src, pos):
        if name not in self.values:
            src.fail("modal variable %s used before it was set" % name.replace("_", "-"), pos)
        return self.values[name]

    def set(self, name, value):
        self.values[name] = value
        return value


class _Reader:
    def __init__(self, data, expect_strict, require_validation):
        self.data = data
        self.expect_strict = expect_strict
        self.require_validation = require_validation
        self.layout = Layout()
        self.modal = _Modal()
        self.cell = None
        self.target = self.layout.properties   # where the next PROPERTY goes
        self.forms = {}                        # table -> 'implicit' / 'explicit'
        self.implicit_next = dict.fromkeys(TABLES, 0)
        # per table: (follows the previous record of the table, addressable offset, offset, where)
        self.table_records = {name: [] for name in TABLES}
        self.sequence = 0                      # count of records other than PAD, PROPERTY, CBLOCK
        self.last_table_sequence = {}
        self.cell_records = {}                 # cell key -> addressable offset of its CELL record
        self.cellname_props = {}               # refnum -> [Property]
        self.all_props = []
        self.pending = []                      # (element, field, table): a name to resolve after END
        self.first_in_cblock = None            # offset of the CBLOCK whose first record comes next
        self.cell_keys = {}                    # ("ref", number) or ("name", bytes) -> Cell

    # ------------------------------------------------------------------ file

    def run(self):
        src = _Source(self.data)
        if self.data[:len(MAGIC)] != MAGIC:
            src.fail("no OASIS magic", 0)
        src.pos = len(MAGIC)
        if src.byte() != 1:
            src.fail("START record expected", src.pos - 1)
        version = src.string()
        if version != b"1.0":
            src.fail("version %r, not 1.0" % version)
        unit_at = src.pos
        self.layout.unit = src.real()
        if not self.layout.unit > 0:
            src.fail("unit %r is not positive" % self.layout.unit, unit_at)
        offset_flag = src.uint()
        if offset_flag not in (0, 1):
            src.fail("offset-flag %d is neither 0 nor 1" % offset_flag)
        self.layout.table_location = "END" if offset_flag else "START"
        if offset_flag == 0:
            self.read_tables(src)
        while True:
            pos = src.pos
            record = src.byte()
            if record == 2:
                self.read_end(src, pos, offset_flag)
                break
            if record == 34:
                self.read_cblock(src, pos)
                continue
            self.record(src, record, pos, pos)
        self.finish()
        return self.layout

    def read_tables(self, src):
        for name in TABLES:
            at = src.pos
            flag, offset = src.uint(), src.uint()
            if flag not in (0, 1):
                src.fail("%s table's strict flag is %d" % (name, flag), at)
            if self.expect_strict is not None and flag != int(self.expect_strict):
                src.fail("%s table's strict flag is %d, %d expected" % (name, flag, int(self.expect_strict)), at)
            self.layout.tables[name] = (flag, offset)

    def read_end(self, src, pos, offset_flag):
        if offset_flag == 1:
            self.read_tables(src)
        src.string()                          # padding
        scheme_at = src.pos
        scheme = src.uint()
        if scheme not in (0, 1, 2):
            src.fail("unknown validation scheme %d" % scheme, scheme_at)
        signed = src.pos
        if scheme:
            stored = struct.unpack("<I", src.take(4))[0]
            body = self.data[:signed]
            computed = zlib.crc32(body) if scheme == 1 else sum(body) & 0xFFFFFFFF
            if stored != computed:
                src.fail("validation signature %08x, the file gives %08x (scheme %d)"
                         % (stored, computed, scheme), signed)
        elif self.require_validation:
            src.fail("no validation signature", scheme_at)
        self.layout.validation = scheme
        if src.pos - pos != END_LENGTH:
            src.fail("END record is %d bytes long, not %d" % (src.pos - pos, END_LENGTH), pos)
        if src.pos != len(self.data):
            src.fail("%d bytes after the END record" % (len(self.data) - src.pos))

    def read_cblock(self, src, pos):
        kind = src.uint()
        if kind != 0:
            src.fail("CBLOCK compression type %d (only 0, deflate, exists)" % kind, pos)
        uncompressed, compressed = src.uint(), src.uint()
        raw_at = src.pos
        raw = src.take(compressed)
        inflater = zlib.decompressobj(-15)
        try:
            inner = inflater.decompress(raw, uncompressed + 1)
        except zlib.error as error:
            src.fail("CBLOCK deflate stream is damaged (%s)" % error, raw_at)
        if len(inner) > uncompressed:
            src.fail("CBLOCK inflates to more than its count of %d bytes" % uncompressed, pos)
        if not inflater.eof:
            src.fail("CBLOCK deflate stream does not end within its %d bytes" % compressed, raw_at)
        if inflater.unused_data:
            src.fail("CBLOCK deflate stream ends %d bytes before its byte count"
                     % len(inflater.unused_data), raw_at)
        if len(inner) != uncompressed:
            src.fail("CBLOCK inflates to %d bytes, its count says %d" % (len(inner), uncompressed), pos)
        self.layout.cblocks += 1
        block = _Source(inner, pos)
        self.first_in_cblock = pos
        while block.pos < len(inner):
            at = block.pos
            record = block.byte()
            if record in (1, 2, 34):
                block.fail("record %d inside a CBLOCK" % record, at)
            self.record(block, record, at, self.first_in_cblock)
            self.first_in_cblock = None
        self.first_in_cblock = None

    # --------------------------------------------------------------- records

    def record(self, src, record, pos, addressable):
        """One record (id already read) at pos; addressable is the file
        offset a reader can jump to for it (None inside a CBLOCK but first)."""
        if record == 0:
            return
        if record in (28, 29):
            self.property(src, record, pos)
            return
        self.sequence += 1
        if record in TABLE_OF:
            self.name_record(src, record, pos, addressable)
            return
        if record in (13, 14):
            self.modal = _Modal()               # every modal variable starts afresh in each cell
            if record == 13:
                number = src.uint()
                key = ("ref", number)
            else:
                key = ("name", src.string())
            if key in self.cell_records:
                src.fail("cell %s defined twice" % (key[1],), pos)
            self.cell_records[key] = addressable
            self.cell = Cell(key=key, name=None, offset=pos, elements=[], props=[])
            self.cell_keys[key] = self.cell
            self.target = self.cell.props
            return
        if record in (15, 16):
            self.modal.set("xy_relative", record == 16)
            return
        if record in (1, 2, 34) or record > 34:
            src.fail("record %d where a cell, name or element record belongs" % record, pos)
        if self.cell is None:
            src.fail("element record %d outside a cell" % record, pos)
        element = getattr(self, "element_%d" % record)(src, src.byte(), pos)
        element.offset = src.where(pos)
        element.props = []
        self.cell.elements.append(element)
        self.target = element.props

    def name_record(self, src, record, pos, addressable):
        table = TABLE_OF[record]
        self.modal = _Modal()                  # name records reset the modal variables
        self.cell = None
        previous = self.last_table_sequence.get(table)
        self.table_records[table].append((previous is not None and previous == self.sequence - 1, addressable, pos,
                                          src.where(pos)))
        self.last_table_sequence[table] = self.sequence
        attribute = src.uint() if table == "XNAME" else None
        name = src.string()
        if table == "LAYERNAME":
            bounds = (self.interval(src), self.interval(src))
            self.layout.layernames.append((name, record == 12) + bounds)
            self.target = []
            return
        explicit = record in (4, 6, 8, 10, 31)
        form = "explicit" if explicit else "implicit"
        if self.forms.setdefault(table, form) != form:
            src.fail("%s record in %s form after %s ones" % (table, form, self.forms[table]), pos)
        if explicit:
            number = src.uint()
        else:
            number = self.implicit_next[table]
            self.implicit_next[table] += 1
        store = {"CELLNAME": self.layout.cellnames, "TEXTSTRING": self.layout.textstrings,
                 "PROPNAME": self.layout.propnames, "PROPSTRING": self.layout.propstrings,
                 "XNAME": self.layout.xnames}[table]
        if number in store:
            src.fail("%s reference number %d given twice" % (table, number), pos)
        store[number] = (attribute, name) if table == "XNAME" else name
        self.target = self.cellname_props.setdefault(number, []) if table == "CELLNAME" else []

    def interval(self, src):
        kind = src.uint()
        if kind == 0:
            return (0, None)
        if kind == 1:
            return (0, src.uint())
        if kind == 2:
            return (src.uint(), None)
        if kind == 3:
            v = src.uint()
            return (v, v)
        if kind == 4:
            return (src.uint(), src.uint())
        src.fail("interval of unknown type %d" % kind)

    def property(self, src, record, pos):
        if record == 29:
            name = self.modal.get("last_property_name", src, pos)
            values = self.modal.get("last_value_list", src, pos)
            standard = self.modal.get("last_property_standard", src, pos)
        else:
            info = src.byte()
            if info & 0x04:
                name = ("ref", src.uint()) if info & 0x02 else ("name", src.string())
                self.modal.set("last_property_name", name)
            else:
                name = self.modal.get("last_property_name", src, pos)
            if info & 0x08:
                if info & 0xF0:
                    src.fail("PROPERTY reuses the value list but gives a count", pos)
                values = self.modal.get("last_value_list", src, pos)
            else:
                count = info >> 4
                if count == 15:
                    count = src.uint()
                values = [self.property_value(src) for _ in range(count)]
                self.modal.set("last_value_list", values)
            standard = bool(info & 0x01)
            self.modal.set("last_property_standard", standard)
        prop = Property(name=name, values=list(values), standard=standard, where=src.where(pos))
        self.all_props.append(prop)
        self.target.append(prop)

    def property_value(self, src):
        at = src.pos
        kind = src.uint()
        if kind < 8:
            src.pos = at
            return src.real()
        if kind == 8:
            return src.uint()
        if kind == 9:
            return src.sint()
        if kind in (10, 11, 12):
            return src.string()
        if kind in (13, 14, 15):
            return _StringRef(src.uint(), src.where(at))
        src.fail("property value of unknown type %d" % kind, at)

    # -------------------------------------------------------------- elements

    def xy(self, src, info, x_bit, y_bit, prefix, pos):
        out = []
        for axis, bit in (("x", x_bit), ("y", y_bit)):
            name = "%s_%s" % (prefix, axis)
            value = self.modal.values[name]
            if info & bit:
                given = src.sint()
                value = value + given if self.modal.values["xy_relative"] else given
                self.modal.set(name, value)
            out.append(value)
        return out

    def field(self, src, info, bit, name, pos, read):
        if info & bit:
            return self.modal.set(name, read())
        return self.modal.get(name, src, pos)

    def layer_datatype(self, src, info, pos, layer="layer", datatype="datatype"):
        return (self.field(src, info, 0x01, layer, pos, src.uint),
                self.field(src, info, 0x02, datatype, pos, src.uint))

    def repetition(self, src, info, bit, pos):
        if not info & bit:
            return None
        at = src.pos
        kind = src.uint()
        if kind == 0:
            return self.modal.get("repetition", src, at)
        if kind > 11:
            src.fail("repetition of unknown type %d" % kind, at)
        lattice = None
        if kind in (1, 2, 3):
            nx = src.uint() + 2 if kind in (1, 2) else 1
            ny = src.uint() + 2 if kind in (1, 3) else 1
            sx = src.uint() if kind in (1, 2) else 0
            sy = src.uint() if kind in (1, 3) else 0
            lattice = (nx, ny, (sx, 0), (0, sy))
        elif kind in (8, 9):
            n = src.uint() + 2
            m = src.uint() + 2 if kind == 8 else 1
            lattice = (n, m, src.gdelta(), src.gdelta() if kind == 8 else (0, 0))
        if lattice:
            nx, ny, (ax, ay), (bx, by) = lattice
            offsets = [(i * ax + j * bx, i * ay + j * by) for j in range(ny) for i in range(nx)]
        else:
            count = src.uint() + 2
            grid = src.uint() if kind in (5, 7, 11) else 1
            if kind in (5, 7, 11) and grid == 0:
                src.fail("repetition grid of 0", at)
            offsets, x, y = [(0, 0)], 0, 0
            for _ in range(count - 1):
                if kind in (4, 5):
                    x += src.uint() * grid
                elif kind in (6, 7):
                    y += src.uint() * grid
                else:
                    dx, dy = src.gdelta()
                    x, y = x + dx * grid, y + dy * grid
                offsets.append((x, y))
        return self.modal.set("repetition", Repetition(type=kind, offsets=offsets, lattice=lattice))

    def point_list(self, src, polygon, pos):
        at = src.pos
        kind = src.uint()
        count = src.uint()
        if kind > 5:
            src.fail("point list of unknown type %d" % kind, at)
        if count == 0:
            src.fail("point list of type %d with no points" % kind, at)
        if polygon and kind in (0, 1) and count % 2:
            src.fail("Manhattan point list (type %d) of a polygon with an odd count %d" % (kind, count), at)
        if polygon and kind in (2, 3, 4, 5) and count < 2:
            src.fail("polygon point list of %d deltas" % count, at)
        points, x, y = [(0, 0)], 0, 0
        dx5, dy5 = 0, 0
        for i in range(count):
            if kind in (0, 1):
                d = src.sint()
                if (i % 2 == 0) == (kind == 0):
                    x += d
                else:
                    y += d
            else:
                dx, dy = (src.delta2, src.delta3, src.gdelta, src.gdelta)[kind - 2]()
                if kind == 5:
                    dx5, dy5 = dx5 + dx, dy5 + dy
                    dx, dy = dx5, dy5
                x, y = x + dx, y + dy
            points.append((x, y))
        if polygon and kind in (0, 1):
            # the closing point: back to the start along the next direction
            points.append((0, y) if (count % 2 == 0) == (kind == 0) else (x, 0))
        return (kind, points)

    def placed(self, src, info, pos):
        if info & 0x80:
            cell = ("ref", src.uint()) if info & 0x40 else ("name", src.string())
            return self.modal.set("placement_cell", cell)
        return self.modal.get("placement_cell", src, pos)

    def element_17(self, src, info, pos):
        cell = self.placed(src, info, pos)
        x, y = self.xy(src, info, 0x20, 0x10, "placement", pos)
        element = SimpleNamespace(kind="placement", cell=cell, x=x, y=y, mag=1.0, angle=float(90 * ((info >> 1) & 3)),
                                  flip=bool(info & 1), rep=self.repetition(src, info, 0x08, pos))
        self.pending.append((element, "cell", "CELLNAME"))
        return element

    def element_18(self, src, info, pos):
        cell = self.placed(src, info, pos)
        mag = src.real() if info & 0x04 else 1.0
        angle = src.real() if info & 0x02 else 0.0
        x, y = self.xy(src, info, 0x20, 0x10, "placement", pos)
        element = SimpleNamespace(kind="placement", cell=cell, x=x, y=y, mag=mag, angle=angle,
                                  flip=bool(info & 1), rep=self.repetition(src, info, 0x08, pos))
        self.pending.append((element, "cell", "CELLNAME"))
        return element

    def element_19(self, src, info, pos):
        if info & 0x80:
            src.fail("TEXT info byte has bit 7 set", pos)
        if info & 0x40:
            text = self.modal.set("text_string", ("ref", src.uint()) if info & 0x20 else ("name", src.string()))
        else:
            text = self.modal.get("text_string", src, pos)
        layer, texttype = self.layer_datatype(src, info, pos, "textlayer", "texttype")
        x, y = self.xy(src, info, 0x10, 0x08, "text", pos)
        element = SimpleNamespace(kind="text", string=text, layer=layer, texttype=texttype, x=x, y=y,
                                  rep=self.repetition(src, info, 0x04, pos))
        self.pending.append((element, "string", "TEXTSTRING"))
        return element

    def element_20(self, src, info, pos):
        layer, datatype = self.layer_datatype(src, info, pos)
        square = bool(info & 0x80)
        if square and info & 0x20:
            src.fail("square RECTANGLE with a height", pos)
        w = self.field(src, info, 0x40, "geometry_w", pos, src.uint)
        if square:
            h = self.modal.set("geometry_h", w)
        else:
            h = self.field(src, info, 0x20, "geometry_h", pos, src.uint)
        x, y = self.xy(src, info, 0x10, 0x08, "geometry", pos)
        return SimpleNamespace(kind="rectangle", layer=layer, datatype=datatype, x=x, y=y, w=w, h=h, square=square,
                               rep=self.repetition(src, info, 0x04, pos))

    def element_21(self, src, info, pos):
        if info & 0xC0:
            src.fail("POLYGON info byte has bits 6-7 set", pos)
        layer, datatype = self.layer_datatype(src, info, pos)
        kind, relative = self.field(src, info, 0x20, "polygon_point_list", pos, lambda: self.point_list(src, True, pos))
        x, y = self.xy(src, info, 0x10, 0x08, "geometry", pos)
        return SimpleNamespace(kind="polygon", layer=layer, datatype=datatype, x=x, y=y, point_list_type=kind,
                               points=[(x + px, y + py) for px, py in relative],
                               rep=self.repetition(src, info, 0x04, pos))

    def element_22(self, src, info, pos):
        layer, datatype = self.layer_datatype(src, info, pos)
        half = self.field(src, info, 0x40, "path_halfwidth", pos, src.uint)
        if info & 0x80:
            at = src.pos
            scheme = src.uint()
            if scheme & ~0x0F:
                src.fail("path extension scheme %d" % scheme, at)
            # the modal extension holds a length: "half-width" is this path's
            for name, code in (("path_start_extension", scheme >> 2), ("path_end_extension", scheme & 3)):
                if code == 3:
                    self.modal.set(name, src.sint())
                elif code:
                    self.modal.set(name, 0 if code == 1 else half)
                else:
                    self.modal.get(name, src, at)
        start = self.modal.get("path_start_extension", src, pos)
        end = self.modal.get("path_end_extension", src, pos)
        kind, relative = self.field(src, info, 0x20, "path_point_list", pos, lambda: self.point_list(src, False, pos))
        x, y = self.xy(src, info, 0x10, 0x08, "geometry", pos)
        return SimpleNamespace(kind="path", layer=layer, datatype=datatype, x=x, y=y, halfwidth=half, width=2 * half,
                               start_extension=start, end_extension=end, point_list_type=kind,
                               points=[(x + px, y + py) for px, py in relative],
                               rep=self.repetition(src, info, 0x04, pos))

    def trapezoid(self, src, info, pos, deltas):
        layer, datatype = self.layer_datatype(src, info, pos)
        w = self.field(src, info, 0x40, "geometry_w", pos, src.uint)
        h = self.field(src, info, 0x20, "geometry_h", pos, src.uint)
        a = src.sint() if "a" in deltas else 0
        b = src.sint() if "b" in deltas else 0
        x, y = self.xy(src, info, 0x10, 0x08, "geometry", pos)
        return SimpleNamespace(kind="trapezoid", layer=layer, datatype=datatype, x=x, y=y, w=w, h=h,
                               vertical=bool(info & 0x80), delta_a=a, delta_b=b,
                               rep=self.repetition(src, info, 0x04, pos))

    def element_23(self, src, info, pos):
        return self.trapezoid(src, info, pos, "ab")

    def element_24(self, src, info, pos):
        return self.trapezoid(src, info, pos, "a")

    def element_25(self, src, info, pos):
        return self.trapezoid(src, info, pos, "b")

    def element_26(self, src, info, pos):
        layer, datatype = self.layer_datatype(src, info, pos)
        kind = self.field(src, info, 0x80, "ctrapezoid_type", pos, src.uint)
        if kind > 25:
            src.fail("CTRAPEZOID type %d" % kind, pos)
        # some types need only one of width and height: an unset other one is no error
        w = self.modal.set("geometry_w", src.uint()) if info & 0x40 else self.modal.values.get("geometry_w")
        h = self.modal.set("geometry_h", src.uint()) if info & 0x20 else self.modal.values.get("geometry_h")
        x, y = self.xy(src, info, 0x10, 0x08, "geometry", pos)
        return SimpleNamespace(kind="ctrapezoid", layer=layer, datatype=datatype, x=x, y=y, w=w, h=h,
                               ctrapezoid_type=kind, rep=self.repetition(src, info, 0x04, pos))

    def element_27(self, src, info, pos):
        if info & 0xC0:
            src.fail("CIRCLE info byte has bits 6-7 set", pos)
        layer, datatype = self.layer_datatype(src, info, pos)
        radius = self.field(src, info, 0x20, "circle_radius", pos, src.uint)
        x, y = self.xy(src, info, 0x10, 0x08, "geometry", pos)
        return SimpleNamespace(kind="circle", layer=layer, datatype=datatype, x=x, y=y, radius=radius,
                               rep=self.repetition(src, info, 0x04, pos))

    def element_32(self, src, info, pos):
        # XELEMENT: the "info byte" is the first byte of its attribute
        src.pos -= 1
        attribute = src.uint()
        return SimpleNamespace(kind="xelement", attribute=attribute, string=src.string(), rep=None)

    def element_33(self, src, info, pos):
        if info & 0xE0:
            src.fail("XGEOMETRY info byte has bits 5-7 set", pos)
        attribute = src.uint()
        layer, datatype = self.layer_datatype(src, info, pos)
        string = src.string()
        x, y = self.xy(src, info, 0x10, 0x08, "geometry", pos)
        return SimpleNamespace(kind="xgeometry", attribute=attribute, layer=layer, datatype=datatype, string=string,
                               x=x, y=y, rep=self.repetition(src, info, 0x04, pos))

    # ------------------------------------------------------------ after END

    def finish(self):
        layout = self.layout
        self.check_tables()

        def resolve(table, value, where):
            if value[0] == "name":
                return value[1]
            store = {"CELLNAME": layout.cellnames, "TEXTSTRING": layout.textstrings,
                     "PROPNAME": layout.propnames}[table]
            if value[1] not in store:
                raise OasisError("%s reference number %d is not defined (used at %s)" % (table, value[1], where))
            return store[value[1]]

        for element, field, table in self.pending:
            setattr(element, field, resolve(table, getattr(element, field), element.offset).decode("latin-1"))
        for prop in self.all_props:
            prop.name = resolve("PROPNAME", prop.name, prop.where).decode("latin-1")
            for i, value in enumerate(prop.values):
                if isinstance(value, _StringRef):
                    if value.number not in layout.propstrings:
                        raise OasisError("PROPSTRING reference number %d is not defined (used at %s)"
                                         % (value.number, value.where))
                    prop.values[i] = layout.propstrings[value.number]
        names = set()
        for key, cell in self.cell_keys.items():
            cell.name = resolve("CELLNAME", key, "offset %d" % cell.offset).decode("latin-1")
            if cell.name in names:
                raise OasisError("cell %s defined twice (at offset %d)" % (cell.name, cell.offset))
            names.add(cell.name)
            layout.cells[cell.name] = cell
            if key[0] == "ref":
                cell.props = self.cellname_props.get(key[1], []) + cell.props
        for number, props in self.cellname_props.items():
            for prop in props:
                if prop.name != "S_CELL_OFFSET":
                    continue
                if not prop.standard or len(prop.values) != 1 or not isinstance(prop.values[0], int):
                    raise OasisError("S_CELL_OFFSET is not one unsigned integer (at %s)" % prop.where)
                offset = prop.values[0]
                if offset == 0:
                    continue                  # the cell is not in this file
                at = self.cell_records.get(("ref", number))
                if at is None:
                    at = self.cell_records.get(("name", layout.cellnames[number]))
                if at != offset:
                    raise OasisError("S_CELL_OFFSET %d of cell %s (at %s), its CELL record is at %s"
                                     % (offset, layout.cellnames[number].decode("latin-1"), prop.where,
                                        "no offset a reader can reach" if at is None else "offset %d" % at))

    def check_tables(self):
        for table in TABLES:
            flag, offset = self.layout.tables[table]
            records = self.table_records[table]
            if not records:
                if offset:
                    raise OasisError("%s table offset %d, but the file has no %s record" % (table, offset, table))
                continue
            first_at, first_where = records[0][1], records[0][3]
            if flag == 1:
                if offset == 0:
                    raise OasisError("strict %s table with offset 0, but a %s record is at %s"
                                     % (table, table, first_where))
                if first_at != offset:
                    raise OasisError("strict %s table offset %d, its first record is at %s"
                                     % (table, offset, first_where))
                for follows, _, _, where in records[1:]:
                    if not follows:
                        raise OasisError("strict %s table is not contiguous: a %s record at %s"
                                         % (table, table, where))
            elif offset and not any(at == offset for _, at, _, _ in records):
                raise OasisError("%s table offset %d points at no %s record" % (table, offset, table))


def main(argv):
    """oasis_reader.py FILE...: prints what each file holds, or the error."""
    status = 0
    for name in argv[1:]:
        try:
            layout = read(name)
        except OasisError as error:
            print("%s: %s" % (name, error))
            status = 1
            continue
        count = sum(len(cell.elements) for cell in layout.cells.values())
        print("%s: unit %g, %d cells, %d elements, %d CBLOCKs, validation %d, tables %s"
              % (name, layout.unit, len(layout.cells), count, layout.cblocks, layout.validation, layout.tables))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
