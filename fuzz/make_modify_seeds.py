#!/usr/bin/env python3
"""Writes the hand-made seeds of fuzz_modify into fuzz/corpus/fuzz_modify/.

Each seed is encoded the way fuzz_modify.cpp reads its input through FuzzedDataProvider: integral
draws are taken from the end of the buffer, most significant byte first. The draws below follow
the order of LLVMFuzzerTestOneInput, FillContainer and the Pick* functions; change both together.
"""
import math
import os
import struct
import sys

INT32_MIN, INT32_MAX = -2**31, 2**31 - 1
COUNT, RELATIVE, SUBDIVISION, OFFSET, CLOSED, START, END, SEED, JITTER = (
    1000, 1001, 1002, 1003, 1004, 1005, 1006, 1008, 1009)


class Encoder:
    def __init__(self):
        self.consumed = []  # bytes in the order the provider consumes them

    def draw(self, value, lo, hi):
        assert lo <= value <= hi, (value, lo, hi)
        rng, result = hi - lo, value - lo
        n = 0
        while n < 8 and (rng >> (8 * n)) > 0:
            n += 1
        self.consumed += list(result.to_bytes(n, 'big')) if n else []

    def u8(self, v): self.draw(v, 0, 255)
    def i8(self, v): self.draw(v, -128, 127)
    def i16(self, v): self.draw(v, -2**15, 2**15 - 1)
    def i32(self, v): self.draw(v, INT32_MIN, INT32_MAX)
    def u64(self, v): self.draw(v, 0, 2**64 - 1)

    def real(self, x):  # PickReal, raw bits
        self.draw(3, 0, 3)
        self.u64(struct.unpack('<Q', struct.pack('<d', x))[0])

    def long(self, v):  # PickLong, raw int32
        self.draw(2, 0, 2)
        self.i32(v)

    def coordinate(self, x):  # PickCoordinate
        if abs(x) < 2**11 and x * 16 == int(x * 16):
            self.draw(1, 0, 7)
            self.i16(int(x * 16))
        else:
            self.draw(0, 0, 7)
            self.real(x)

    def data(self):
        return bytes(reversed(self.consumed))


def seed(points=(), counts=(), params=None, *, resize_fails=False, fail=None, three_d=False,
         small_blocks=False):
    """params: {id: ('absent',) | ('long', v) | ('bool', v) | ('real', x)}; others keep defaults."""
    e = Encoder()
    flags = 0x0f if resize_fails else 0
    if fail:
        flags |= 0x30 | (0x40 if fail[0] == 'object' else 0)
    if three_d:
        flags |= 0x80
    e.u8(flags)
    if fail:
        e.draw(fail[1], 1, 64)
    e.draw(len(counts), 0, 64)
    for c in counts:
        if 0 <= c <= 16:
            e.draw(2, 0, 7)
            e.draw(c, 0, 16)
        else:
            e.draw(0, 0, 7)
            e.long(c)
        e.i8(0)
    e.draw(len(points), 0, 512)
    for p in points:
        for c in (p[:3] if three_d else p[:2]):
            e.coordinate(c)
    params = params or {}
    for pid in range(1000, 1012):
        kind = params.get(pid)
        if kind is None:
            e.draw(0, 0, 4)
        elif kind[0] == 'absent':
            e.draw(1, 0, 4)
        elif kind[0] == 'long':
            e.draw(2, 0, 4)
            e.long(kind[1])
        elif kind[0] == 'bool':
            e.draw(3, 0, 4)
            e.long(kind[1])
        else:
            e.draw(4, 0, 4)
            e.real(kind[1])
    if small_blocks:  # the host grants no block as large as the output's first block of points
        e.u8(0x07)
    return e.data()


SQUARE = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
OPEN = [(0, 0, 0), (3, 0, 0), (3, 2, 0), (10, 10, 0), (12, 10, 0), (12, 14, 0)]
NAN, INF = math.nan, math.inf
DBL_MAX, DENORM = sys.float_info.max, 5e-324

SEEDS = {
    'square-defaults': seed(SQUARE, [4]),
    'two-segments-open': seed(OPEN, [3, 3], {CLOSED: ('bool', 0), COUNT: ('long', 7)}),
    'jitter-relative': seed(OPEN, [3, 3], {JITTER: ('real', 0.8), RELATIVE: ('bool', 1),
                                           SEED: ('long', 7)}),
    'offset-wraps': seed(SQUARE, [4], {COUNT: ('long', 1), OFFSET: ('real', 0.75)}),
    'range-clipped': seed(SQUARE, [4], {START: ('real', 0.7), END: ('real', 0.2)}),
    'range-empty': seed(SQUARE, [4], {START: ('real', 0.3), END: ('real', 0.3004)}),
    'range-empty-resize-fails': seed(SQUARE, [4], {END: ('absent',)}, resize_fails=True),
    'resize-fails': seed(SQUARE, [4], resize_fails=True),
    'count-2pow30': seed(SQUARE, [4], {COUNT: ('long', 2**30)}),
    'count-int32-max': seed(SQUARE, [4], {COUNT: ('long', INT32_MAX)}),
    'count-int32-min': seed(SQUARE, [4], {COUNT: ('long', INT32_MIN)}),
    'count-huge-relative': seed(OPEN, [3, 3], {COUNT: ('long', INT32_MAX), RELATIVE: ('bool', 1)}),
    'count-as-real-nan': seed(SQUARE, [4], {COUNT: ('real', NAN)}),
    'count-as-real-huge': seed(SQUARE, [4], {COUNT: ('real', 1e300)}),
    'subdivision-extremes': seed(SQUARE, [4], {SUBDIVISION: ('long', INT32_MAX), COUNT: ('long', 3)}),
    'subdivision-min': seed(SQUARE, [4], {SUBDIVISION: ('long', INT32_MIN)}),
    'offset-nan': seed(SQUARE, [4], {OFFSET: ('real', NAN)}),
    'offset-dbl-max': seed(SQUARE, [4], {OFFSET: ('real', DBL_MAX), COUNT: ('long', 5)}),
    'offset-2pow52': seed(SQUARE, [4], {OFFSET: ('real', 2.0**52 + 0.5), COUNT: ('long', 5)}),
    'jitter-inf': seed(OPEN, [3, 3], {JITTER: ('real', INF)}),
    'jitter-dbl-max': seed(OPEN, [3, 3], {JITTER: ('real', DBL_MAX), SEED: ('long', INT32_MIN)}),
    'jitter-nan': seed(OPEN, [3, 3], {JITTER: ('real', NAN)}),
    'jitter-denormal': seed(OPEN, [3, 3], {JITTER: ('real', DENORM)}),
    'start-end-inf': seed(SQUARE, [4], {START: ('real', -INF), END: ('real', INF)}),
    'start-end-nan': seed(SQUARE, [4], {START: ('real', NAN), END: ('real', NAN)}),
    'bools-as-long': seed(OPEN, [3, 3], {CLOSED: ('long', 2), RELATIVE: ('long', -1)}),
    'all-absent': seed(SQUARE, [4], {i: ('absent',) for i in range(1000, 1012)}),
    'all-wrong-type': seed(SQUARE, [4], {COUNT: ('real', 12.9), CLOSED: ('real', NAN),
                                         START: ('long', 0), END: ('long', 1), SEED: ('real', -3.5),
                                         SUBDIVISION: ('bool', 1), OFFSET: ('bool', 1)}),
    'counts-negative': seed(SQUARE, [-7, 4, INT32_MIN], {COUNT: ('long', 3)}),
    'counts-past-points': seed(SQUARE, [4, 1000000, INT32_MAX], {COUNT: ('long', 3)}),
    'counts-fewer-than-points': seed(OPEN, [2], {COUNT: ('long', 3)}),
    'counts-zero': seed(SQUARE, [0, 0, 4, 0]),
    'no-segments': seed(SQUARE, []),
    'empty-object': seed([], []),
    'single-point': seed([(1, 1, 1)], [1]),
    'zero-length': seed([(5, 5, 5), (5, 5, 5)], [2]),
    'nan-coordinates': seed([(0, 0), (NAN, 1), (2, 2), (0, 0), (1, 0), (1, 1)], [3, 3]),
    'inf-coordinates': seed([(0, 0), (INF, 1), (0, 0), (1, 0)], [2, 2]),
    'huge-coordinates': seed([(-DBL_MAX, 0), (DBL_MAX, 0), (1e300, 1e300), (-1e300, 1e300)], [2, 2]),
    'denormal-coordinates': seed([(0, 0), (DENORM, DENORM), (0, 0), (1e-310, 0), (1, 1)], [2, 3]),
    'mixed-scale': seed([(1e12, 1e12), (1e12 + 0.001, 1e12), (0, 0), (1e-9, 0)], [2, 2]),
    'three-d': seed([(0, 0, 0), (1, 2, 3), (4, 5, 6), (-1, -2, -3)], [4], three_d=True),
    'fail-memory-3': seed(OPEN, [3, 3], {COUNT: ('long', 700)}, fail=('memory', 3)),
    'fail-object-2': seed(OPEN, [3, 3], fail=('object', 2)),
    'small-blocks-output-refused': seed(SQUARE, [4], small_blocks=True),
    'small-blocks-divisions-refused': seed(OPEN, [3, 3], {COUNT: ('long', 5000)}, small_blocks=True),
    'count-over-sample-budget': seed(OPEN, [3, 3], {COUNT: ('long', 60000), JITTER: ('real', 0.5)}),
    'start-nan-end-small': seed([(0, 0, 0), (1, 0, 0), (1, 1, 0)], [3],
                                {CLOSED: ('bool', 0), START: ('real', NAN), END: ('real', 0.0005)}),
    'start-high-end-nan': seed(SQUARE, [4], {START: ('real', 0.9995), END: ('real', NAN)}),
    'many-segments': seed([(i % 7, (i * 3) % 5) for i in range(128)], [2] * 64,
                          {COUNT: ('long', 50)}),
}


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'fuzz_modify')
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
    print(f'{len(SEEDS)} seeds in {out}')


if __name__ == '__main__':
    main()
