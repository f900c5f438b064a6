#!/usr/bin/env python3
"""Draws time against input size from a benchmark run (scripts/bench.sh writes the results):
the modifier and the floor, against input points (1,000 segments, 100 dashes each) and against
dashes (case A's input). Writes an SVG and, when rsvg-convert is there, a PNG beside it.

    python3 bench/plot.py build-bench/bench-results.json docs/performance.svg
"""
import json
import math
import shutil
import statistics
import subprocess
import sys

W, H = 960, 470
PANEL_W, PANEL_H = 380, 300
LEFT, TOP = 80, 60
GAP = 100
COLOURS = {"modify": "#c0392b", "floor": "#2471a3"}
LABELS = {"modify": "ModifyObject (plug-in + host model)", "floor": "floor (minimal resampler)"}


def medians(path):
    """The median time of each Size/... benchmark: its median aggregate, else the median of
    its runs (a run without repetitions)."""
    runs, aggregate = {}, {}
    for b in json.load(open(path))["benchmarks"]:
        name = b["run_name"].removesuffix("/manual_time")
        if b.get("aggregate_name") == "median":
            aggregate[name] = b["real_time"]
        elif b.get("run_type", "iteration") == "iteration":
            runs.setdefault(name, []).append(b["real_time"])
    times = {name: statistics.median(ts) for name, ts in runs.items()}
    times.update(aggregate)
    out = {}
    for name, t in times.items():
        parts = name.split("/")  # Size/points:N/modify
        if parts[0] != "Size" or len(parts) != 3:
            continue
        axis, n = parts[1].split(":")
        out.setdefault(axis, {}).setdefault(parts[2], []).append((int(n), t))
    for axis in out.values():
        for series in axis.values():
            series.sort()
    return out


def decades(lo, hi):
    a, b = math.floor(math.log10(lo)), math.ceil(math.log10(hi))
    if b == a:
        b = a + 1
    return [10.0 ** e for e in range(a, b + 1)]


def label(v):
    if v >= 1e6:
        return f"{v / 1e6:g}M"
    if v >= 1e3:
        return f"{v / 1e3:g}k"
    return f"{v:g}"


def panel(x0, title, xlabel, data):
    xs = [n for s in data.values() for n, _ in s]
    ys = [t for s in data.values() for _, t in s]
    xt, yt = decades(min(xs), max(xs)), decades(min(ys), max(ys))
    lx0, lx1 = math.log10(xt[0]), math.log10(xt[-1])
    ly0, ly1 = math.log10(yt[0]), math.log10(yt[-1])

    def px(v):
        return x0 + (math.log10(v) - lx0) / (lx1 - lx0) * PANEL_W

    def py(v):
        return TOP + PANEL_H - (math.log10(v) - ly0) / (ly1 - ly0) * PANEL_H

    s = [f'<text x="{x0 + PANEL_W / 2}" y="{TOP - 16}" text-anchor="middle" '
         f'font-size="15" font-weight="bold">{title}</text>',
         f'<rect x="{x0}" y="{TOP}" width="{PANEL_W}" height="{PANEL_H}" fill="none" '
         f'stroke="#444"/>']
    for v in xt:
        s.append(f'<line x1="{px(v)}" y1="{TOP}" x2="{px(v)}" y2="{TOP + PANEL_H}" stroke="#ddd"/>')
        s.append(f'<text x="{px(v)}" y="{TOP + PANEL_H + 18}" text-anchor="middle" '
                 f'font-size="12">{label(v)}</text>')
    for v in yt:
        s.append(f'<line x1="{x0}" y1="{py(v)}" x2="{x0 + PANEL_W}" y2="{py(v)}" stroke="#ddd"/>')
        s.append(f'<text x="{x0 - 6}" y="{py(v) + 4}" text-anchor="end" font-size="12">'
                 f'{v:g}</text>')
    s.append(f'<text x="{x0 + PANEL_W / 2}" y="{TOP + PANEL_H + 40}" text-anchor="middle" '
             f'font-size="13">{xlabel}</text>')
    s.append(f'<text x="{x0 - 52}" y="{TOP + PANEL_H / 2}" text-anchor="middle" font-size="13" '
             f'transform="rotate(-90 {x0 - 52} {TOP + PANEL_H / 2})">time per evaluation (ms)</text>')
    for kind in ("modify", "floor"):
        pts = data.get(kind, [])
        if not pts:
            continue
        path = " ".join(f"{px(n):.1f},{py(t):.1f}" for n, t in pts)
        s.append(f'<polyline points="{path}" fill="none" stroke="{COLOURS[kind]}" '
                 f'stroke-width="2.5"/>')
        for n, t in pts:
            s.append(f'<circle cx="{px(n):.1f}" cy="{py(t):.1f}" r="4" fill="{COLOURS[kind]}"/>')
    return s


def main():
    results, out = sys.argv[1], sys.argv[2]
    m = medians(results)
    if "points" not in m or "dashes" not in m:
        print("plot: the results have no Size/points and Size/dashes series (run with --sizes)")
        return
    body = []
    body += panel(LEFT, "Time against input points", "input points (1,000 segments, 100 dashes each)",
                  m["points"])
    body += panel(LEFT + PANEL_W + GAP, "Time against dashes",
                  "dashes (1,000 segments of 1,000 points)", m["dashes"])
    lx = LEFT
    for i, kind in enumerate(("modify", "floor")):
        x = lx + i * 330
        body.append(f'<line x1="{x}" y1="{H - 14}" x2="{x + 28}" y2="{H - 14}" '
                    f'stroke="{COLOURS[kind]}" stroke-width="3"/>')
        body.append(f'<text x="{x + 36}" y="{H - 10}" font-size="13">{LABELS[kind]}</text>')
    svg = (f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{H}" '
           f'font-family="DejaVu Sans, sans-serif">\n<rect width="{W}" height="{H}" fill="white"/>\n'
           + "\n".join(body) + "\n</svg>\n")
    open(out, "w").write(svg)
    if shutil.which("rsvg-convert"):
        png = out.rsplit(".", 1)[0] + ".png"
        subprocess.run(["rsvg-convert", "-o", png, out], check=True)
        print(f"wrote {out} and {png}")
    else:
        print(f"wrote {out} (no rsvg-convert for a PNG)")


if __name__ == "__main__":
    main()
