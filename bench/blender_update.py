"""Live updates of the Blender add-on on a curve the size of case A (1,000 splines of 1,000
points, default settings), split into their phases, beside the plug-in call alone and beside
Blender's own evaluation of the result.

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
shapes = ([], [])  # each spline's points, and the same lifted by 0.01 (an edit of the shape)
for s in range(SPLINES):
    sp = cu.splines.new("POLY")
    sp.points.add(POINTS - 1)
    co = array.array("f")
    phase = rng.uniform(0, 6.3)
    for i in range(POINTS):
        t = i / (POINTS - 1)
        co.extend((10 * t, math.sin(12 * t + phase) + 3 * s / SPLINES, rng.uniform(-0.01, 0.01), 1))
    lifted = array.array("f", co)
    lifted[2::4] = array.array("f", (z + 0.01 for z in co[2::4]))
    shapes[0].append(co)
    shapes[1].append(lifted)
    sp.points.foreach_set("co", co)
ob = bpy.data.objects.new("caseA", cu)
bpy.context.scene.collection.objects.link(ob)
ob.korrand.enabled = True  # the first update: builds every spline of the result
res = ob.korrand.result
points = sum(len(s.points) for s in res.data.splines)
direct = korrand.spline_memory.layout(korrand.state.plugin) is not None
print(f"case A: {SPLINES} splines x {POINTS} points -> {len(res.data.splines)} dashes, "
      f"{points} points; result points written "
      + ("straight into Blender's splines" if direct else "through Blender's Python API"))


def ms(v):
    return f"{statistics.median(v) * 1000:7.1f}"


def run(label, change, refresh=None):
    """change(r) alters something; refresh(r) (or Blender's own update, whose handler dashes)
    brings the result in step. Prints the add-on's phases and Blender's evaluation of the
    result that follows."""
    rows = {k: [] for k in ("read", "compare", "plugin", "build", "whole", "blender")}
    rebuilt = set()
    for r in range(rounds):
        change(r)
        korrand.live.timings.clear()
        t0 = time.perf_counter()
        if refresh is None:
            bpy.context.evaluated_depsgraph_get()  # evaluates the source; its handler dashes
        else:
            refresh(r)
        whole = time.perf_counter() - t0
        t = dict(korrand.live.timings)
        t1 = time.perf_counter()
        bpy.context.evaluated_depsgraph_get()  # Blender evaluates the result it was handed
        rows["blender"].append(time.perf_counter() - t1)
        for k in ("read", "compare", "plugin", "build"):
            rows[k].append(t.get(k, 0.0))
        rows["whole"].append(whole)
        rebuilt.add(t.get("rebuilt"))
    ours = [a + b + c for a, b, c in zip(rows["read"], rows["compare"], rows["build"])]
    what = {False: "splines kept", True: "splines made anew", None: "not dashed"}
    print(f"{label} ({', '.join(what[x] for x in sorted(rebuilt, key=str))})\n"
          f"    read {ms(rows['read'])}  compare {ms(rows['compare'])}  "
          f"plug-in {ms(rows['plugin'])}  build {ms(rows['build'])}  "
          f"= beyond the plug-in {ms(ours)} ms\n"
          f"    whole call {ms(rows['whole'])} ms, then Blender's evaluation of the result "
          f"{ms(rows['blender'])} ms")


def move_points(r):
    for sp, co in zip(cu.splines, shapes[(r + 1) % 2]):
        sp.points.foreach_set("co", co)
    cu.update_tag()


offsets = (0.25, 0.5)
depsgraph = bpy.context.evaluated_depsgraph_get
run("shape edited (every point moved)", move_points)
run("parameter changed (offset, set as the panel sets it)", lambda r: None,
    lambda r: setattr(ob.korrand, "offset", offsets[r % 2]))
run("a frame of playback that leaves the curve alone", lambda r: None,
    lambda r: bpy.context.scene.frame_set(r + 2))
run("nothing changed, read to be sure", lambda r: None,
    lambda r: korrand.live.refresh(ob, depsgraph()))
run("structure changed (every spline made anew)", lambda r: res.data.splines.clear(),
    lambda r: korrand.live.refresh(ob, depsgraph(), force=True))

# The plug-in call alone, through the bridge on the same line form.
form = korrand.live.read_line_form(ob, depsgraph())
inst = korrand.state.plugin.instance()
alone = []
for r in range(rounds):
    t0 = time.perf_counter()
    form.dash(inst)
    alone.append(time.perf_counter() - t0)
inst.close()
print(f"plug-in call alone (bridge)  {ms(alone)} ms")

# Blender's own evaluation, with the add-on's handlers out of the way: what an update costs
# beyond anything the add-on does.
korrand.live.remove_handlers()
for label, tag in (("the curve (1,000,000 points)", cu.update_tag),
                   ("the result (its dashes)", res.data.update_tag)):
    spent = []
    for r in range(rounds):
        tag()
        t0 = time.perf_counter()
        depsgraph()
        spent.append(time.perf_counter() - t0)
    print(f"Blender's evaluation of {label}  {ms(spent)} ms")
korrand.live.install_handlers()
