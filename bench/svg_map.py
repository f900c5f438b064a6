#!/usr/bin/env python3
"""korrand dash on a map-size SVG beside libxml2 parsing it alone (xmllint --noout).

Writes a map as R's svg device (cairo) writes one, unless it is there already: tens of thousands
of filled and stroked polygons, dashed boundaries, groups with transforms and clip paths, glyphs
and ticks drawn through <use>. Then runs `xmllint --noout MAP` and `korrand dash MAP -o OUT`
alternately, REPEAT times each, and prints the median wall times, their ratio, korrand's own
read/dash/write split and the peak memory of korrand against the file's size.

  bench/svg_map.py --korrand build/korrand [--dir DIR] [--paths 43232] [--repeat 5]
"""
import argparse
import math
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time


def write_map(path, paths, seed=7):
    """A deterministic map: about 460 bytes per path, 20 MB for 43,232 paths."""
    rnd = random.Random(seed)
    w = h = 504
    with open(path, "w") as o:
        o.write('<?xml version="1.0" encoding="UTF-8"?>\n')
        o.write(f'<svg xmlns="http://www.w3.org/2000/svg" '
                f'xmlns:xlink="http://www.w3.org/1999/xlink" width="{w}pt" height="{h}pt" '
                f'viewBox="0 0 {w} {h}" version="1.1">\n<defs>\n<g>\n')
        for g in range(40):
            pts = " ".join(f"L {rnd.uniform(0, 5):.6f} {rnd.uniform(-6, 0):.6f}"
                           for _ in range(12))
            o.write(f'<symbol overflow="visible" id="glyph0-{g}">\n'
                    f'<path style="stroke:none;" d="M 0.5 0 {pts} Z "/>\n</symbol>\n')
        o.write('</g>\n')
        for c in range(1, 9):
            x0, y0 = 20 + (c % 3) * 150, 20 + (c // 3) * 150
            o.write(f'<clipPath id="clip{c}">\n  <path d="M {x0} {y0} L {x0 + 160} {y0} '
                    f'L {x0 + 160} {y0 + 160} L {x0} {y0 + 160} Z M {x0} {y0} "/>\n'
                    f'</clipPath>\n')
        o.write('<path id="tick" d="M 0 0 L 0 4" style="fill:none;stroke-width:0.75;'
                'stroke:rgb(0%,0%,0%);stroke-dasharray:0.75,0.75;"/>\n</defs>\n')
        o.write(f'<rect x="0" y="0" width="{w}" height="{h}" '
                f'style="fill:rgb(100%,100%,100%);fill-opacity:1;stroke:none;"/>\n')
        written = group = 0
        while written < paths:
            group += 1
            tx, ty = rnd.uniform(-5, 5), rnd.uniform(-5, 5)
            o.write(f'<g clip-path="url(#clip{1 + group % 8})" clip-rule="nonzero">\n'
                    f'<g transform="matrix(1,0,0,1,{tx:.4f},{ty:.4f})">\n')
            for _ in range(min(200, paths - written)):
                cx, cy = rnd.uniform(30, 474), rnd.uniform(30, 474)
                n = rnd.randint(6, 16)
                r0 = rnd.uniform(0.5, 6)
                vertices = []
                for k in range(n):
                    a, r = 2 * math.pi * k / n, r0 * rnd.uniform(0.7, 1.3)
                    vertices.append(f"{'M' if k == 0 else 'L'} {cx + r * math.cos(a):.6f} "
                                    f"{cy + r * math.sin(a):.6f}")
                d = " ".join(vertices)
                kind, grey = rnd.random(), rnd.uniform(40, 95)
                if kind < 0.55:  # a region: filled, outlined
                    o.write(f'<path style="fill-rule:nonzero;fill:rgb({grey:.6f}%,{grey:.6f}%,'
                            f'{grey:.6f}%);fill-opacity:1;stroke-width:0.75;stroke-linecap:round;'
                            f'stroke-linejoin:round;stroke:rgb(0%,0%,0%);stroke-opacity:1;'
                            f'stroke-miterlimit:10;" d="{d} Z "/>\n')
                elif kind < 0.85:  # a dashed boundary
                    o.write(f'<path style="fill:none;stroke-width:0.75;stroke-linecap:butt;'
                            f'stroke-linejoin:round;stroke:rgb(40%,40%,40%);stroke-opacity:1;'
                            f'stroke-dasharray:2.25,2.25;stroke-miterlimit:10;" d="{d} "/>\n')
                elif kind < 0.95:  # water: filled, dashed outline, presentation attributes
                    o.write(f'<path fill-rule="nonzero" fill="rgb({grey:.6f}%,80%,90%)" '
                            f'fill-opacity="1" stroke-width="1.0" stroke-linecap="round" '
                            f'stroke-linejoin="round" stroke="rgb(0%,0%,100%)" '
                            f'stroke-opacity="1" stroke-dasharray="3 1.5" stroke-miterlimit="10" '
                            f'd="{d} Z "/>\n')
                else:  # a tick through <use> and a curve
                    o.write(f'<use xlink:href="#tick" x="{cx:.3f}" y="{cy:.3f}"/>\n'
                            f'<path style="fill:none;stroke-width:0.5;stroke:rgb(0%,0%,0%);'
                            f'stroke-opacity:1;" d="M {cx:.6f} {cy:.6f} C {cx + 3:.6f} '
                            f'{cy - 4:.6f} {cx + 6:.6f} {cy + 4:.6f} {cx + 9:.6f} {cy:.6f} "/>\n')
                written += 1
            o.write('</g>\n</g>\n<g style="fill:rgb(0%,0%,0%);fill-opacity:1;">\n')
            x, y = rnd.uniform(30, 400), rnd.uniform(30, 474)
            for k in range(8):
                o.write(f'  <use xlink:href="#glyph0-{rnd.randrange(40)}" '
                        f'x="{x + 5 * k:.3f}" y="{y:.3f}"/>\n')
            o.write('</g>\n')
        o.write('</svg>\n')


def run(command):
    """Wall seconds, peak resident bytes and standard error of one run."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = process.stderr.read().decode(errors="replace")
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    process.stderr.close()
    if status != 0:
        sys.exit(f"svg_map: {' '.join(command)} failed:\n{err}")
    return elapsed, usage.ru_maxrss * 1024, err


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--korrand", required=True)
    parser.add_argument("--dir", default=".")
    parser.add_argument("--paths", type=int, default=43232)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    if shutil.which("xmllint") is None:
        sys.exit("svg_map: xmllint not found (apt-get install libxml2-utils)")
    os.makedirs(args.dir, exist_ok=True)
    svg = os.path.join(args.dir, f"map-{args.paths}.svg")
    if not os.path.exists(svg):
        write_map(svg + ".tmp", args.paths)
        os.replace(svg + ".tmp", svg)
    out = os.path.join(args.dir, f"map-{args.paths}-dashed.svg")
    size = os.path.getsize(svg)

    parse, dash, peaks, splits = [], [], [], []
    for _ in range(args.repeat):
        parse.append(run(["xmllint", "--noout", svg])[0])
        t, peak, err = run([args.korrand, "dash", svg, "-o", out])
        dash.append(t)
        peaks.append(peak)
        m = re.search(r"\(read ([\d.]+), dash ([\d.]+), write ([\d.]+)\)", err)
        if m:
            splits.append(tuple(map(float, m.groups())))
    xmllint, korrand = statistics.median(parse), statistics.median(dash)
    peak = max(peaks)
    print(f"map: {svg}, {size / 1e6:.1f} MB, {args.paths} paths; median of {args.repeat} "
          f"alternating runs, load before the last: {os.getloadavg()[0]:.1f} "
          f"on {os.cpu_count()} cores")
    print(f"xmllint --noout  {xmllint * 1000:8.0f} ms")
    print(f"korrand dash     {korrand * 1000:8.0f} ms   ratio {korrand / xmllint:.1f}x "
          f"(target 4x)")
    if splits:
        read, dashed, write = (statistics.median(s[i] for s in splits) for i in range(3))
        print(f"  korrand's own split: read {read:.0f} ms, dash {dashed:.0f} ms, "
              f"write {write:.0f} ms")
    print(f"korrand peak memory {peak / 1e6:.0f} MB = {peak / size:.1f}x the file (target 10x)")
    # korrand's allocator asks for huge pages, which the system grants or not: both figures
    # move with it.
    try:
        with open("/sys/kernel/mm/transparent_hugepage/enabled") as f:
            thp = re.search(r"\[(\w+)\]", f.read())
        print(f"transparent huge pages: {thp.group(1) if thp else 'unknown'}"
              + (f" (MALLOC_CONF={os.environ['MALLOC_CONF']})" if "MALLOC_CONF" in os.environ
                 else ""))
    except OSError:
        print("transparent huge pages: not offered by this system")


if __name__ == "__main__":
    main()
