"""Live updates of the Blender add-on on a curve the size of case A (1,000 splines of 1,000
points, default settings), split into their phases, beside the plug-in call alone, Blender's
own evaluation, and Blender's fastest native recipe for the same dashes in Geometry Nodes
(Resample Curve, Curve to Mesh, delete every other run of edges, Mesh to Curve) on the same
curve in the same Blender run; then an artist's scene of 20 curves, and a frame of playback of
300 dashed curves nothing animates.

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
rounds = int(args[1]) if len(args) > 1 else 7
sys.path.insert(0, os.path.join(build, "blender"))
addon_utils.enable("korrand", default_set=True)
import korrand  # noqa: E402

hook = korrand.test_hook.hook
for ob in list(bpy.data.objects):
    bpy.data.objects.remove(ob)

SPLINES, POINTS = 1000, 1000
rng = random.Random(1)
shapes = ([], [])  # each spline's points, and the same lifted by 0.01 (an edit of the shape)
for s in range(SPLINES):
    co = array.array("f")
    phase = rng.uniform(0, 6.3)
    for i in range(POINTS):
        t = i / (POINTS - 1)
        co.extend((10 * t, math.sin(12 * t + phase) + 3 * s / SPLINES, rng.uniform(-0.01, 0.01), 1))
    lifted = array.array("f", co)
    lifted[2::4] = array.array("f", (z + 0.01 for z in co[2::4]))
    shapes[0].append(co)
    shapes[1].append(lifted)


def case_a(name):
    cu = bpy.data.curves.new(name, "CURVE")
    cu.dimensions = "3D"
    for co in shapes[0]:
        sp = cu.splines.new("POLY")
        sp.points.add(POINTS - 1)
        sp.points.foreach_set("co", co)
    ob = bpy.data.objects.new(name, cu)
    bpy.context.scene.collection.objects.link(ob)
    return ob


def depsgraph():
    return bpy.context.evaluated_depsgraph_get()


def ms(v):
    return f"{statistics.median(v) * 1000:7.1f}"


ob = case_a("caseA")
cu = ob.data
ob.korrand.enabled = True
depsgraph()  # the first update: builds the dashes' mesh
res = ob.korrand.result
points = len(res.data.vertices)
dashes = points - len(res.data.edges)
direct = hook.direct_layout()
print(f"case A: {SPLINES} splines x {POINTS} points -> {dashes} dashes, {points} points; "
      "curve read " + ("straight from Blender's splines" if direct else
                       "through Blender's Python API"))


def run(label, change, refresh=None):
    """change(r) alters something; refresh(r) (or Blender's own update, whose handler dashes)
    brings the result in step. Prints the add-on's phases, then the whole wait: from the
    change to the result evaluated."""
    rows = {k: [] for k in ("read", "compare", "plugin", "build", "whole")}
    rebuilt = set()
    for r in range(rounds):
        hook.timings.clear()
        t0 = time.perf_counter()
        change(r)
        if refresh is not None:
            refresh(r)
        depsgraph()  # Blender evaluates what changed; the add-on's handler dashes on the way
        rows["whole"].append(time.perf_counter() - t0)
        t = dict(hook.timings)
        for k in ("read", "compare", "plugin", "build"):
            rows[k].append(t.get(k, 0.0))
        rebuilt.add(t.get("rebuilt"))
    ours = [a + b + c for a, b, c in zip(rows["read"], rows["compare"], rows["build"])]
    what = {False: "mesh kept", True: "mesh made anew", None: "not dashed"}
    print(f"{label} ({', '.join(what[x] for x in sorted(rebuilt, key=str))})\n"
          f"    read {ms(rows['read'])}  compare {ms(rows['compare'])}  "
          f"plug-in {ms(rows['plugin'])}  build {ms(rows['build'])}  "
          f"= beyond the plug-in {ms(ours)} ms; change to evaluated result {ms(rows['whole'])} ms")
    return rows["whole"]


def move_points(r):
    for sp, co in zip(cu.splines, shapes[(r + 1) % 2]):
        sp.points.foreach_set("co", co)
    cu.update_tag()


offsets = (0.25, 0.5)
run("shape edited (every point moved)", move_points)
ours = run("parameter changed (offset, set as the panel sets it)",
           lambda r: setattr(ob.korrand, "offset", offsets[r % 2]))
run("a frame of playback that leaves the curve alone", lambda r: None,
    lambda r: bpy.context.scene.frame_set(r + 2))



def read_again(r):
    hook.redo(ob, "read")
    hook.run()


run("nothing changed, read to be sure", lambda r: None, read_again)
def new_structure(r):
    # What a count or subdivision change does: a dash count that differs, so the mesh is made
    # anew (the same dashes, so that each round does the same work).
    hook.rebuild(ob)


run("structure changed (the dashes' mesh made anew)", new_structure, lambda r: hook.run())

# The plug-in call alone, through the bridge on the same line form: one line object per spline
# (as the add-on hands them over when each spline's dashes depend on it alone) and one of all;
# untraced, as case A's update calls it (its look has no profile), and traced, recording where
# each point lies, as a look with a profile or splines dashed together need.
form = hook.line_form(ob)
inst = hook.plugin.instance()
for label, objects in (("a line object per spline", [([i], {}) for i in range(SPLINES)]),
                       ("one line object", [(list(range(SPLINES)), {})])):
    alone = {False: [], True: []}
    for r in range(rounds):
        for traced in (False, True):
            t0 = time.perf_counter()
            inst.dash_objects(form.points, form.counts, form.stride, objects, traced)
            alone[traced].append(time.perf_counter() - t0)
    print(f"plug-in call alone (bridge), {label}, untraced / traced  "
          f"{ms(alone[False])} / {ms(alone[True])} ms")
inst.close()

# Blender's own evaluation of the dashes: their mesh tagged, so the curve's Korrand Dash
# modifier brings them in again (the add-on's handler finds nothing to do for it).
spent = []
for r in range(rounds):
    res.data.update_tag()
    t0 = time.perf_counter()
    depsgraph()
    spent.append(time.perf_counter() - t0)
print(f"Blender's evaluation of the dashed curve (curve, then its dashes)  {ms(spent)} ms")

# Blender's fastest native recipe for the same dashes, on a second copy of the curve: each
# spline resampled to 401 points (400 edges: 200 intervals of two edges, as a dash of the
# default settings has three points), made a mesh, every other run of two edges deleted, and
# the runs made curves again. A change of the resampling count is its parameter change.
ob.korrand.enabled = False
depsgraph()
gn = case_a("native")
spent = []
for r in range(rounds):
    gn.data.update_tag()
    t0 = time.perf_counter()
    depsgraph()
    spent.append(time.perf_counter() - t0)
print(f"Blender's evaluation of the curve alone (1,000,000 points, not dashed)  {ms(spent)} ms")
tree = bpy.data.node_groups.new("Dashes", "GeometryNodeTree")
tree.inputs.new("NodeSocketGeometry", "Geometry")
tree.outputs.new("NodeSocketGeometry", "Geometry")
n, link = tree.nodes, tree.links.new
given, out = n.new("NodeGroupInput"), n.new("NodeGroupOutput")
resample = n.new("GeometryNodeResampleCurve")
resample.mode = "COUNT"
to_mesh, delete = n.new("GeometryNodeCurveToMesh"), n.new("GeometryNodeDeleteGeometry")
delete.domain = "EDGE"
to_curve, index = n.new("GeometryNodeMeshToCurve"), n.new("GeometryNodeInputIndex")
half, floor, odd = (n.new("ShaderNodeMath") for _ in range(3))
half.operation, floor.operation, odd.operation = "DIVIDE", "FLOOR", "MODULO"
half.inputs[1].default_value = odd.inputs[1].default_value = 2
link(given.outputs[0], resample.inputs["Curve"])
link(resample.outputs[0], to_mesh.inputs["Curve"])
link(index.outputs[0], half.inputs[0])
link(half.outputs[0], floor.inputs[0])
link(floor.outputs[0], odd.inputs[0])
link(to_mesh.outputs[0], delete.inputs["Geometry"])
link(odd.outputs[0], delete.inputs["Selection"])
link(delete.outputs[0], to_curve.inputs["Mesh"])
link(to_curve.outputs[0], out.inputs[0])
gn.modifiers.new("Dashes", "NODES").node_group = tree
counts = (401, 403)
native = []
for r in range(rounds + 1):
    resample.inputs["Count"].default_value = counts[r % 2]
    t0 = time.perf_counter()
    evaluated = gn.evaluated_get(depsgraph())
    if r:
        native.append(time.perf_counter() - t0)  # the first builds the node tree's cache
resample.inputs["Count"].default_value = 401
mesh = gn.evaluated_get(depsgraph()).to_mesh()
made = (len(mesh.vertices), len(mesh.edges) // 2)
gn.evaluated_get(depsgraph()).to_mesh_clear()
print(f"native recipe (Geometry Nodes), parameter changed to evaluated result  {ms(native)} ms "
      f"({made[1]} dashes, {made[0]} points)")
print(f"Korrand / native (each timed in its own section above): "
      f"{statistics.median(ours) / statistics.median(native):.2f}")

# The ratio itself, from rounds in alternation: the dashed curve's parameter change, Blender's
# own evaluation of the dashed curve (its dashes tagged) and the native recipe's parameter
# change, one after the other in every round, so that all three meet the same load on a shared
# machine. Each evaluates only its own curve. Beside them, in the same rounds: the parameter
# change and an edit of the shape with the add-on dashing only after Blender's evaluation
# (hook.early off, as before it dashed ahead of the evaluation), and the edit as it is now.
ob.korrand.enabled = True
depsgraph()
res = ob.korrand.result


changes = {"offset": 0, "shape": 0}  # each change differs from the one before it


def early(on, what, change):
    def run_it(r):
        hook.early = on
        changes[what] += 1
        try:
            change(changes[what])
            depsgraph()
        finally:
            hook.early = True
    return run_it


offset = lambda i: setattr(ob.korrand, "offset", offsets[i % 2])
steps = (("ours", early(True, "offset", offset)),
         ("ours after", early(False, "offset", offset)),
         ("blender", lambda r: (res.data.update_tag(), depsgraph())),
         ("native", lambda r: (setattr(resample.inputs["Count"], "default_value", counts[r % 2]),
                               depsgraph())),
         ("edit", early(True, "shape", move_points)),
         ("edit after", early(False, "shape", move_points)))
dashed_before = len(hook.dashed)
pairs = {label: [] for label, _ in steps}
for r in range(2 * rounds):
    for label, step in steps:
        t0 = time.perf_counter()
        step(r)
        pairs[label].append(time.perf_counter() - t0)
print(f"in alternation ({2 * rounds} rounds): parameter changed {ms(pairs['ours'])} ms "
      f"(dashed only after the evaluation: {ms(pairs['ours after'])} ms), "
      f"Blender's evaluation of the dashed curve {ms(pairs['blender'])} ms, "
      f"native recipe {ms(pairs['native'])} ms; shape edited {ms(pairs['edit'])} ms "
      f"(dashed only after the evaluation: {ms(pairs['edit after'])} ms)")
print(f"plug-in calls in these rounds: {len(hook.dashed) - dashed_before} "
      f"(one for each change: {8 * rounds})")
print(f"Korrand / native: "
      f"{statistics.median(pairs['ours']) / statistics.median(pairs['native']):.2f}")
# What no dash in the curve's stack can go below: Blender evaluates the whole curve again to
# bring new dashes in, before any modifier runs.
print(f"Blender's own evaluation of the dashed curve / native: "
      f"{statistics.median(pairs['blender']) / statistics.median(pairs['native']):.2f}")

# An artist's scene: 20 bevelled curves of 200 points, each dashed with its own settings. One
# curve's setting changed, from the change to the evaluated result (the other curves are not
# evaluated again).
gn.modifiers.clear()
for o in (ob, gn):
    bpy.data.objects.remove(o)
artist = []
for c in range(20):
    acu = bpy.data.curves.new(f"artist{c}", "CURVE")
    acu.dimensions = "3D"
    acu.bevel_depth, acu.bevel_resolution = 0.02, 4
    sp = acu.splines.new("POLY")
    sp.points.add(199)
    co = array.array("f")
    for i in range(200):
        t = i / 199
        co.extend((6 * t, 0.5 * math.sin(9 * t + c) + c * 0.4, 0.1 * math.cos(5 * t), 1))
    sp.points.foreach_set("co", co)
    a = bpy.data.objects.new(f"artist{c}", acu)
    bpy.context.scene.collection.objects.link(a)
    a.korrand.count = 40
    a.korrand.subdivision = 4
    a.korrand.enabled = True
    artist.append(a)
depsgraph()
one = artist[7]
small = run("artist's scene: one of 20 bevelled curves of 200 points, its offset changed",
            lambda r: setattr(one.korrand, "offset", offsets[r % 2]))
print(f"artist's scene, change to evaluated result: {ms(small)} ms (budget 16 ms, a frame at 60 Hz)")

# Playback of a scene of many dashed curves nothing animates (an imported drawing): what a
# frame costs beyond Blender's own, which has nothing to evaluate again.
for a in artist:
    bpy.data.objects.remove(a)
still = []
for c in range(300):
    bpy.ops.curve.primitive_bezier_curve_add(location=(c % 20, c // 20, 0))
    still.append(bpy.context.object)
    still[-1].data.bevel_depth = 0.02
    still[-1].korrand.count = 10


def playback():
    spent = []
    for f in range(2, 2 + 4 * rounds):
        t0 = time.perf_counter()
        bpy.context.scene.frame_set(f)
        spent.append(time.perf_counter() - t0)
    return spent


solid = playback()
for s in still:
    s.korrand.enabled = True
depsgraph()
print(f"playback of 300 still bevelled Bezier curves: {ms(playback())} ms a frame dashed, "
      f"{ms(solid)} ms not dashed")
