"""One live update of the Blender add-on on a curve the size of case A (1,000 splines of
1,000 points, default settings), split into its phases, beside the plug-in call alone.

Run: blender -b --factory-startup --python bench/blender_update.py -- BUILD_DIR [ROUNDS]
"""

import array
import math
import os
import random
import statistics
import sys
import time

import addon_utils
import bpy

args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
build = os.path.abspath(args[0] if args else "build")
rounds = int(args[1]) if len(args) > 1 else 5
sys.path.insert(0, os.path.join(build, "blender"))
addon_utils.enable("korrand", default_set=True)
import korrand  # noqa: E402

for ob in list(bpy.data.objects):
    bpy.data.objects.remove(ob)

SPLINES, POINTS = 1000, 1000
rng = random.Random(1)
cu = bpy.data.curves.new("caseA", "CURVE")
cu.dimensions = "3D"
for s in range(SPLINES):
    sp = cu.splines.new("POLY")
    sp.points.add(POINTS - 1)
    co = array.array("f")
    phase = rng.uniform(0, 6.3)
    for i in range(POINTS):
        t = i / (POINTS - 1)
        co.extend((10 * t, math.sin(12 * t + phase) + 3 * s / SPLINES, rng.uniform(-0.01, 0.01), 1))
    sp.points.foreach_set("co", co)
ob = bpy.data.objects.new("caseA", cu)
bpy.context.scene.collection.objects.link(ob)
ob.korrand.enabled = True  # the first update: builds every spline of the result
res = ob.korrand.result
print(f"case A: {SPLINES} splines x {POINTS} points -> {len(res.data.splines)} dashes")


def phases(label, before_each):
    rows = []
    for r in range(rounds):
        before_each()
        depsgraph = bpy.context.evaluated_depsgraph_get()  # Blender's own evaluation, not timed
        t0 = time.perf_counter()
        korrand.live.refresh(ob, depsgraph, force=True)
        total = time.perf_counter() - t0
        t = korrand.live.timings
        rows.append((t["read"], t["plugin"], t["build"], total))
    med = [statistics.median(c) * 1000 for c in zip(*rows)]
    print(f"{label:34s} read {med[0]:6.1f} ms  plug-in {med[1]:6.1f} ms  "
          f"build {med[2]:6.1f} ms  whole {med[3]:6.1f} ms")


# Same structure: the result's splines are kept, only their coordinates are written.
phases("update, result splines kept", lambda: None)
# New structure: every spline of the result is made again.
phases("update, result splines made anew", lambda: ob.korrand.result.data.splines.clear())

# The plug-in call alone, through the bridge on the same line form.
form = korrand.live.read_line_form(ob, bpy.context.evaluated_depsgraph_get())
inst = korrand.state.plugin.instance()
alone = []
for r in range(rounds):
    t0 = time.perf_counter()
    inst.dash_segments(form.segments, form.counts, form.stride)
    alone.append(time.perf_counter() - t0)
inst.close()
print(f"{'plug-in call alone (bridge)':34s} {statistics.median(alone) * 1000:6.1f} ms")
