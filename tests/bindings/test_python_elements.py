# SPDX-License-Identifier: MIT
"""Elements as the table makes them: the guards before the library, the
rectangle, the datatype alias, the user door's rounding, and every batch
writer against its single calls with data that tells each column apart."""

import math
import struct
from decimal import ROUND_HALF_UP, Decimal

import carvelle
import pytest

from conftest import masked, records

np = pytest.importorskip("numpy")

BOUNDARY, LAYER, DATATYPE, XY, ENDEL, BOX = 0x0800, 0x0D02, 0x0E02, 0x1003, 0x1100, 0x2D00
NAN, INF = math.nan, math.inf


def write(path, body, **units):
    with carvelle.Library(path, **units) as lib, lib.structure("S") as s:
        body(s)
    return masked(open(path, "rb").read())


REFUSED = [  # (call, exception): each raises before the library is called
    (lambda s: s.sref("A", 0, 0, mag=0.0), ValueError),
    (lambda s: s.sref("A", 0, 0, mag=-1.0), ValueError),
    (lambda s: s.sref("A", 0, 0, mag=1e-80), ValueError),
    (lambda s: s.aref("A", (0, 0), (1, 0), (0, 1), 1, 1, mag=NAN), ValueError),
    (lambda s: s.text(0, 0, "t", mag=NAN), ValueError),
    (lambda s: s.text(0, 0, "t", angle=INF), ValueError),
    (lambda s: s.sref("A", 0, 0, angle=NAN), ValueError),
    (lambda s: s.arc(0, 0, 5, NAN, 90, 8), ValueError),
    (lambda s: s.user.sref("A", 0.5, 0, mag=0), ValueError),
    (lambda s: s.aref("A", (0, 0), (1, 0), (0, 1), 0, 1), OverflowError),
    (lambda s: s.aref("A", (0, 0), (1, 0), (0, 1), 1, -1), OverflowError),
    (lambda s: s.aref("A", (0, 0), (1, 0), (0, 1), 40000, 1), OverflowError),
    (lambda s: s.user.aref("A", (0, 0), (1, 0), (0, 1), 1, 32768), OverflowError),
    (lambda s: s.srefs("A", np.zeros((2, 2), np.int32), mag=[1.0, NAN]), ValueError),
    (lambda s: s.srefs("A", np.zeros((2, 2), np.int32), angle=INF), ValueError),
    (lambda s: s.texts(np.zeros((2, 2), np.int32), ["a", "b"], mag=[0.0, 1.0]), ValueError),
    (lambda s: s.user.srefs("A", np.zeros((1, 2)), mag=-2.0), ValueError),
    (lambda s: s.box(0, 0, 1, 1, boxtype=1, datatype=1), TypeError),
    (lambda s: s.text(0, 0, "t", texttype=0, datatype=1), TypeError),
    (lambda s: s.boxes(np.zeros((1, 4), np.int32), boxtype=0, datatype=1), TypeError),
    (lambda s: s.user.boxes(np.array([[NAN, 0, 1, 1]])), ValueError),              # element 0
    (lambda s: s.user.boxes(np.array([[2**31 - 0.5, 0, 1, 1]]), ), OverflowError),   # rounds to 2^31
    (lambda s: s.user.boxes(np.array([[-2**31 - 0.5, 0, 1, 1]])), OverflowError),
    (lambda s: s.user.paths(np.zeros((2, 2)), [0, 2], width=[INF]), ValueError),
    (lambda s: s.user.boundary([(0, 0), (INF, 0), (0, 1)]), ValueError),
    (lambda s: s.boundaries(np.zeros((8190, 2), np.int32), [0, 8190]), OverflowError),
]


@pytest.mark.parametrize("call, exception", REFUSED)
def test_refused_before_the_library_and_the_file_unchanged(in_tmp, call, exception):
    def body(refuse):
        def run(s):
            s.box(0, 0, 1, 1)
            if refuse:
                with pytest.raises(exception):
                    call(s)
            s.box(2, 2, 3, 3)
        return run
    units = {"user_unit": 1.0, "meter_unit": 1e-9}   # the user door's scale is 1
    assert write("r.gds", body(True), **units) == write("r.gds", body(False), **units)


def test_limits_that_pass(in_tmp):
    def body(s):
        s.aref("A", (0, 0), (1, 0), (0, 1), 32767, 1)
        s.sref("A", 0, 0, mag=2.0 ** -260, angle=-1e75)
        s.user.boxes(np.array([[2**31 - 1.5, -2**31 - 0.49, 0, 0]]))
        s.boundaries(np.zeros((8189, 2), np.int32), [0, 8189])
    write("l.gds", body, user_unit=1.0, meter_unit=1e-9)
    with pytest.raises(OverflowError, match="at most 8189"):
        write("l.gds", lambda s: s.boundaries(np.zeros((8190, 2), np.int32), [0, 8190]))


def test_a_rectangle_is_a_closed_five_point_boundary(in_tmp):
    def body(s):
        s.rectangle(-1, 2, 30, 40, layer=7, datatype=9)
        s.rectangles(np.array([[-1, 2, 30, 40]]), layer=7, datatype=9)
        s.user.rectangle(-0.001, 0.002, 0.03, 0.04, layer=7, datatype=9)
    data = write("q.gds", body, unit=1e-6, precision=1e-9)
    elements = [r for r in records(data) if r[0] in (BOUNDARY, LAYER, DATATYPE, XY, ENDEL)]
    one = [(BOUNDARY, b""), (LAYER, struct.pack(">h", 7)), (DATATYPE, struct.pack(">h", 9)),
           (XY, struct.pack(">10i", -1, 2, 30, 2, 30, 40, -1, 40, -1, 2)), (ENDEL, b"")]
    assert elements == one * 3


def test_datatype_spreads_into_every_element_with_a_layer(in_tmp):
    style = {"layer": 3, "datatype": 4}
    shapes = [lambda s, **k: s.boundary([(0, 0), (1, 0), (0, 1)], **k), lambda s, **k: s.box(0, 0, 1, 1, **k),
              lambda s, **k: s.box_wh(0, 0, 1, 1, **k), lambda s, **k: s.square(0, 0, 1, **k),
              lambda s, **k: s.path([(0, 0), (1, 0)], **k), lambda s, **k: s.circle(0, 0, 9, 8, **k),
              lambda s, **k: s.arc(0, 0, 9, 0, 90, 8, **k), lambda s, **k: s.sector(0, 0, 9, 0, 90, 8, **k),
              lambda s, **k: s.text(0, 0, "t", **k), lambda s, **k: s.node([(0, 0)], **k),
              lambda s, **k: s.rectangle(0, 0, 1, 1, **k),
              lambda s, **k: s.boxes(np.ones((1, 4), np.int32), **k),
              lambda s, **k: s.texts(np.ones((1, 2), np.int32), ["t"], **k)]
    own = [{}, {"boxtype": 4}, {"boxtype": 4}, {"boxtype": 4}, {}, {}, {}, {}, {"texttype": 4},
           {"nodetype": 4}, {}, {"boxtype": 4}, {"texttype": 4}]
    aliased = write("a.gds", lambda s: [shape(s, **style) for shape in shapes])
    spelled = write("a.gds", lambda s: [shape(s, layer=3, **(names or {"datatype": 4}))
                                        for shape, names in zip(shapes, own)])
    assert aliased == spelled


def half_away(value):
    return int(Decimal(value).quantize(Decimal(1), rounding=ROUND_HALF_UP))


# Products that are halves, just below halves, and made whole by the scale.
USER_VALUES = [0.0025, -0.0025, 0.0035, 0.49999999999999994e-3, -0.0015, 1.0005, 0.001 * 3, 2147483.6474]


def test_the_user_door_rounds_halves_away_from_zero_in_every_form(in_tmp):
    units = {"unit": 1e-6, "precision": 1e-9}
    with carvelle.Library("u.gds", **units) as lib:
        scale = lib.units.scale
    assert scale == 1000.0   # 1e-6 / 1e-9 made whole
    rows = np.array([USER_VALUES[k:k + 4] for k in range(0, len(USER_VALUES), 4)])
    expected = [[half_away(v * scale) for v in row] for row in rows.tolist()]
    user = write("u.gds", lambda s: (s.user.boxes(rows), [s.user.box(*row) for row in rows.tolist()],
                                     s.user.boundary(rows[:, :2].tolist() + [[0, 0.001]])), **units)
    exact = write("u.gds", lambda s: (s.boxes(np.array(expected)), [s.box(*row) for row in expected],
                                      s.boundary([row[:2] for row in expected] + [[0, 1]])), **units)
    assert user == exact
    # 1e-6 / 1e-11 is 100000.00000000001 but for the division's rounding; made
    # whole, 3.5e-05 gives 3.4999999999999996, which rounds to 3, not 4.
    units = {"unit": 1e-6, "precision": 1e-11}
    assert write("w.gds", lambda s: s.user.box(3.5e-05, 0, 1e-5, 1e-5), **units) == \
        write("w.gds", lambda s: s.box(3, 0, 1, 1), **units)


def distinct(n, low, high, rng):
    return rng.choice(np.arange(low, high), n, replace=False)


@pytest.mark.parametrize("n", [1, 3])
@pytest.mark.parametrize("user", [False, True])
def test_batches_equal_their_single_calls(in_tmp, n, user):
    """Every column gets values that no other column holds, so a batch that
    swaps two columns, reads one at the wrong stride or lays its scratch out
    wrong writes other bytes than the single calls."""
    rng = np.random.default_rng(n)
    words = distinct(n * 9, 1, 255, rng).reshape(9, n)     # layers, types, ... (TEXTTYPE <= 255)
    ints = distinct(n * 4, 10, 10000, rng).reshape(4, n)    # widths and plex
    corners = distinct(n * 4, -9000, 9000, rng).reshape(n, 4)
    mags, angles = 1.0 + np.arange(n) / 8, 10.0 + np.arange(n)
    counts = [3 + k for k in range(n)]
    offsets = np.concatenate([[0], np.cumsum(counts)])
    vertices = distinct(int(offsets[-1]) * 2, -9000, 9000, rng).reshape(-1, 2)
    texts = ["t%d" % k for k in range(n)]
    scale = 4.0 if user else 1.0   # user values are quarters: exact

    def door(s):
        return s.user if user else s

    def c(values):
        return values / scale if user else values

    def batched(s):
        d = door(s)
        d.boxes(c(corners), layer=words[0], boxtype=words[1], elflags=words[2], plex=ints[0])
        d.rectangles(c(corners), layer=words[3], datatype=words[4], plex=ints[1])
        d.boundaries(c(vertices), offsets, layer=words[5], datatype=words[6], elflags=words[7], plex=ints[2])
        d.paths(c(vertices), offsets, width=c(ints[3]), layer=words[0], datatype=words[1], pathtype=words[2],
                elflags=words[3], plex=ints[0])
        d.srefs("T", c(corners[:, :2]), strans=words[8], mag=mags, angle=angles, elflags=words[4], plex=ints[1])
        d.texts(c(corners[:, 2:]), texts, layer=words[5], texttype=words[6], presentation=words[7],
                pathtype=words[8], width=c(ints[3]), strans=words[0], mag=mags, angle=angles, elflags=words[1],
                plex=ints[2])

    def single(s):
        d, w, i = door(s), words.tolist(), ints.tolist()
        for k in range(n):
            d.box(*c(corners[k]).tolist(), layer=w[0][k], boxtype=w[1][k], elflags=w[2][k], plex=i[0][k])
        for k in range(n):
            d.rectangle(*c(corners[k]).tolist(), layer=w[3][k], datatype=w[4][k], plex=i[1][k])
        for k in range(n):
            d.boundary(c(vertices[offsets[k]:offsets[k + 1]]).tolist(), layer=w[5][k], datatype=w[6][k],
                       elflags=w[7][k], plex=i[2][k])
        for k in range(n):
            d.path(c(vertices[offsets[k]:offsets[k + 1]]).tolist(), width=c(ints[3][k]).item(), layer=w[0][k],
                   datatype=w[1][k], pathtype=w[2][k], elflags=w[3][k], plex=i[0][k])
        for k in range(n):
            d.sref("T", *c(corners[k, :2]).tolist(), strans=w[8][k], mag=mags[k].item(), angle=angles[k].item(),
                   elflags=w[4][k], plex=i[1][k])
        for k in range(n):
            d.text(*c(corners[k, 2:]).tolist(), texts[k], layer=w[5][k], texttype=w[6][k], presentation=w[7][k],
                   pathtype=w[8][k], width=c(ints[3][k]).item(), strans=w[0][k], mag=mags[k].item(),
                   angle=angles[k].item(), elflags=w[1][k], plex=i[2][k])

    units = {"user_unit": 0.25, "meter_unit": 1e-9}
    assert write("b.gds", batched, **units) == write("b.gds", single, **units)


def test_a_refusal_at_element_zero_writes_nothing(in_tmp):
    def body(s):
        with pytest.raises(carvelle.Error) as caught:
            s.boundaries(np.zeros((5, 2), np.int32), [0, 2, 5])     # 2 vertices: too few
        assert caught.value.index == 0
        with pytest.raises(ValueError, match="element 0"):
            s.user.srefs("T", np.array([[NAN, 0.0], [1.0, 1.0]]))
    assert BOUNDARY not in [t for t, _ in records(write("z.gds", body))]
