#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the seed corpus of the call-sequence fuzzer into fuzz/corpus/.

Each seed is a call sequence in the fuzzer's input format: an operation
byte (kind << 1 | handle), then one byte per argument that picks a value
from the fuzzer's tables (indices below), or raw bytes where a pick asks
for them. Run it again after changing the tables of the fuzzer.
"""
import os

BEGIN_LIB, END_LIB, BEGIN_STR, END_STR = 0, 1, 2, 4
BOUNDARY, BOX, BOXWH, SQUARE, PATH, CIRCLE, ARC, SECTOR, TEXT, SREF, AREF, NODE = range(5, 17)
GET_ERROR = 17

# Picks, by their index in the fuzzer's tables.
I16 = {0: 0, 1: 1, 2: 2, 3: 3, 4: 4, 5: 5, 50: 6, 51: 7, 8189: 8, 8190: 9, 8191: 10,
       16381: 11, 16382: 12, 32767: 13, -1: 14, -32768: 15, 255: 16, 256: 17}
I32 = {0: 0, 1: 1, -1: 2, 100: 3, 1000: 4, -1000: 5, 'max': 6, 'min': 7}
F64 = {0.0: 0, 1.0: 2, -1.0: 3, 1e-3: 4, 1e-9: 5, 0.5: 6, 90.0: 7, 360.0: 8, -45.0: 9,
       'nan': 10, 'inf': 11, '-inf': 12, '2^252': 13, '-2^252': 14, 'below 2^252': 15,
       '2^-260': 17, '2^-261': 18, 'denorm': 19, 'max': 20, 1e300: 21, -1e308: 22}
NAME = {None: 0, '': 1, 'A': 2, 'B': 3, 'C': 4, 'AB': 5, 'ABC': 6, 'bin': 7,
        512: 8, 513: 9, 65529: 10, 65530: 11, 65531: 12, 70000: 13}
FILE = {'devfull': 0, 'missing': 1, 'null': 2, 'toolong': 3, 'unopenable': 4, 'file': 5, 'file2': 6, 'oasis': 7}
VALID, NULL_XS, NULL_YS = 3, 0, 1


def op(kind, slot=0, null_handle=False):
    return bytes([(kind << 1) | slot | (0xC0 if null_handle else 0)])


def name(n):
    return bytes([NAME[n]]) + (b'\x00' if isinstance(n, int) else b'')


def begin_lib(slot=0, file='file', user=1e-3, meter=1e-9, out_handle=True):
    return op(BEGIN_LIB, slot) + bytes([FILE[file], F64[user], F64[meter], 1 if out_handle else 0])


def common(layer=1, dtype=0, elflags=0, plex=0):
    return bytes([I16[layer], I16[dtype], I16[elflags], I32[plex]])


def boundary(n, slot=0, points=VALID, **kw):
    return op(BOUNDARY, slot) + common(**kw) + bytes([points, I16[n]])


def box(kind=BOX, slot=0, a=0, b=0, c=1000, d=100):
    return op(kind, slot) + common() + bytes([I32[a], I32[b], I32[c], I32[d]])


def path(n, slot=0, points=VALID, width=100):
    return op(PATH, slot) + common() + bytes([points, I16[n], I32[width], I16[0]])


def curve(kind, n, slot=0, cx=0, cy=0, r=1000, a0=0.0, a1=90.0):
    angles = bytes([F64[a0], F64[a1]]) if kind != CIRCLE else b''
    return op(kind, slot) + common() + bytes([I32[cx], I32[cy], I32[r], I16[n]]) + angles + bytes([I32[1], I16[0]])


def text(s='A', slot=0, texttype=0, mag=1.0, angle=0.0):
    return (op(TEXT, slot) + common(dtype=texttype) + name(s) +
            bytes([I32[0], I32[0], I32[0], I16[0], I16[0], I16[0], F64[mag], F64[angle]]))


def sref(s='A', slot=0, mag=1.0, angle=90.0):
    return op(SREF, slot) + common() + name(s) + bytes([I16[0], F64[mag], F64[angle], I32[100], I32[-1]])


def aref(s='A', slot=0, points=VALID, mag=1.0, angle=0.0):
    return (op(AREF, slot) + common() + name(s) + bytes([I16[0], F64[mag], F64[angle]]) +
            bytes([points, I16[3], I16[2]]))


def node(n, slot=0, points=VALID):
    return op(NODE, slot) + common() + bytes([points, I16[n]])


def every_element(slot=0):
    return (boundary(5, slot) + box(BOX, slot) + box(BOXWH, slot) + box(SQUARE, slot, c='max') +
            path(3, slot) + curve(CIRCLE, 50, slot) + curve(ARC, 51, slot) + curve(SECTOR, 5, slot, a0=-45.0) +
            text('ABC', slot) + sref('B', slot) + aref('AB', slot) + node(4, slot))


def get_error(code_pick, size_pick, null=False):
    return op(GET_ERROR) + bytes([code_pick, size_pick, 0 if null else 1])


seeds = {
    'every-element': begin_lib() + op(BEGIN_STR) + name('A') + every_element() + op(END_STR) + op(END_LIB),
    'two-structures': (begin_lib() + op(BEGIN_STR) + name('A') + box() + op(END_STR) + op(BEGIN_STR) + name('B') +
                       sref('A') + op(END_STR) + op(BEGIN_STR) + name('A') + op(END_LIB)),
    'open-structure-at-end': begin_lib() + op(BEGIN_STR) + name('') + box() + op(END_LIB),
    'dev-full-small': begin_lib(file='devfull') + op(BEGIN_STR) + name('A') + box() + op(END_STR) + op(END_LIB),
    'dev-full-large': (begin_lib(file='devfull') + op(BEGIN_STR) + name('A') + boundary(8189) * 17 +
                       every_element() + op(END_STR) + op(BEGIN_STR) + name('A') + op(END_STR) + op(END_LIB)),
    'long-paths': (begin_lib() + op(BEGIN_STR) + name('A') + path(32767) * 5 + path(8190) + path(16381) +
                   op(END_STR) + op(END_LIB)),
    'two-handles': (begin_lib(0) + begin_lib(1, file='file2') + op(BEGIN_STR, 0) + name('A') +
                    op(BEGIN_STR, 1) + name('A') + every_element(1) + every_element(0) + op(END_STR, 1) +
                    op(END_LIB, 1) + op(END_STR, 0) + op(END_LIB, 0)),
    'names-at-the-limit': (begin_lib() + op(BEGIN_STR) + name(65530) + sref(65530) + sref(65531) + aref(65529) +
                           text(512) + text(513) + text(None) + op(END_STR) + op(BEGIN_STR) + name(65531) +
                           op(BEGIN_STR) + name(None) + op(BEGIN_STR) + name(65530) + op(END_LIB)),
    'bad-reals': (begin_lib(user='inf') + op(END_LIB) + begin_lib(meter='2^252') + op(BEGIN_STR) + name('A') +
                  op(END_LIB) + begin_lib(user='nan', meter='2^-261') + op(BEGIN_STR) + name('A') +
                  text(mag='-2^252') + sref(angle='below 2^252') + aref(mag='nan', angle='-inf') +
                  curve(ARC, 5, a0='inf') + curve(SECTOR, 5, a0=1e300, a1=-1e308) + curve(ARC, 5, a1='max') +
                  curve(CIRCLE, 5, cx='max') + curve(CIRCLE, 5, cy='min', r=1) + op(END_STR) + op(END_LIB)),
    'bad-counts': (begin_lib() + op(BEGIN_STR) + name('A') + boundary(2) + boundary(8190) + boundary(-32768) +
                   boundary(5, points=NULL_XS) + path(1) + path(-1) + path(5, points=NULL_YS) + node(0) + node(51) +
                   node(50) + curve(CIRCLE, 8190) + curve(ARC, 2) + curve(SECTOR, 8189) +
                   aref(points=NULL_XS) + text(texttype=256) + text(texttype=-1) + text(texttype=255) +
                   op(END_STR) + op(END_LIB)),
    'wrong-state': (op(END_LIB) + op(BEGIN_STR) + name('A') + box() + begin_lib() + box() + op(END_STR) +
                    op(BEGIN_STR) + name('A') + op(BEGIN_STR) + name('B') + op(END_STR) + op(END_STR) +
                    op(BOX, 0, null_handle=True) + common() + bytes(4) + op(END_LIB, 0, null_handle=True) +
                    op(END_LIB) + op(END_LIB)),
    'failed-libraries': (begin_lib(file='missing') + op(BEGIN_STR) + name('A') + op(END_LIB) +
                         begin_lib(file='null') + op(END_LIB) + begin_lib(file='toolong') + op(END_LIB) +
                         begin_lib(file='unopenable') + op(END_LIB) + begin_lib(out_handle=False)),
    'oasis': (begin_lib(file='oasis') + op(BEGIN_STR) + name('A') + every_element() + op(END_STR) +
              op(BEGIN_STR) + name('B') + sref('A') + text(513) + op(BEGIN_STR) + name('AB') + op(END_LIB) +
              begin_lib(file='oasis', meter=0.0) + op(END_LIB) + begin_lib(file='oasis') + op(BEGIN_STR) + name('') +
              op(BEGIN_STR) + name('bin') + box() + op(END_STR) + op(END_LIB)),
    'get-error': b''.join(get_error(c, s, n) for c in range(12) for s in (0, 1, 2, 5, 9, 10, 11) for n in (False,))
                 + get_error(5, 10, True) + get_error(11, 12) + b'\x80\x00\x00\x00',
}

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus')
os.makedirs(here, exist_ok=True)
for key, data in seeds.items():
    with open(os.path.join(here, 'seed-' + key), 'wb') as f:
        f.write(data)
print(f'{len(seeds)} seeds in {here}')
