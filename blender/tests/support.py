"""What the tests in Blender share: named cases, each in a file of its own, the add-on from the
build tree, scenes, and the reference dashes from the command-line host.

A test file defines cases as functions named case_NAME and ends with support.main(globals()).
Run with a case's name after "--" it runs that case alone (ctest runs each so); without, every
case in turn, each in an empty file. A case that cannot run raises Skip: it is reported as
skipped (exit 77), never as passed.
"""

import array
import json
import os
import subprocess
import sys
import tempfile
import traceback

import addon_utils
import bpy

BUILD = os.environ["KORRAND_BUILD_DIR"]
KORRAND_EXE = os.path.join(BUILD, "korrand")


class Skip(Exception):
    pass


def enable_addon(expect_loaded=True):
    """Enables the add-on of the build tree; returns its test hook, the one way in."""
    global hook
    if os.path.join(BUILD, "blender") not in sys.path:
        sys.path.insert(0, os.path.join(BUILD, "blender"))
    mod = addon_utils.enable("korrand", default_set=True, handle_error=None)
    assert mod is not None, "the add-on did not enable"
    from korrand.test_hook import hook
    if expect_loaded:
        assert hook.error == "", hook.error
    return hook


hook = None


def args():
    """What follows the case's name on the command line."""
    return sys.argv[sys.argv.index("--") + 2:] if "--" in sys.argv else []


def main(namespace):
    """Runs the case named on the command line, or every case. A function child_NAME is run
    the same way by name (in the Blender a case starts) but is no case of its own, and runs
    on the file Blender opened."""
    cases = {k[len("case_"):]: f for k, f in namespace.items() if k.startswith("case_")}
    children = {k[len("child_"):]: f for k, f in namespace.items() if k.startswith("child_")}
    given = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    names = given[:1] or list(cases)
    outcome = 0
    for name in names:
        if name in children:
            children[name]()
            sys.exit(0)
        if name not in cases:
            print(f"no case {name}; there are: {', '.join(cases)}", file=sys.stderr)
            sys.exit(1)
        bpy.ops.wm.read_homefile(use_empty=True)
        try:
            cases[name]()
        except Skip as e:
            print(f"{name}: skipped: {e}")
            outcome = outcome or 77
            continue
        except Exception:
            traceback.print_exc()
            print(f"{name}: FAILED")
            sys.exit(1)
        print(f"{name}: passed")
    sys.exit(outcome)


def child(script, name, *extra, env=None):
    """Runs child_NAME of script in a new Blender process; fails when it does."""
    subprocess.run([bpy.app.binary_path, "-b", "--factory-startup", "--python-exit-code", "1",
                    *extra[:1], "--python", script, "--", name, *extra[1:]], check=True,
                   env=env)


def update():
    bpy.context.view_layer.update()


def depsgraph():
    return bpy.context.evaluated_depsgraph_get()


def link(ob):
    bpy.context.scene.collection.objects.link(ob)
    bpy.context.view_layer.objects.active = ob
    return ob


def poly_curve(name, splines, dimensions="3D", cyclic=()):
    """A curve of POLY splines from lists of (x, y, z); cyclic: indices of cyclic splines."""
    cu = bpy.data.curves.new(name, "CURVE")
    cu.dimensions = dimensions
    for i, pts in enumerate(splines):
        s = cu.splines.new("POLY")
        s.points.add(len(pts) - 1)
        for p, xyz in zip(s.points, pts):
            p.co = (*xyz, 1.0)
        s.use_cyclic_u = i in cyclic
    return link(bpy.data.objects.new(name, cu))


def drive(ob, path, target, expression):
    """Drives ob's property path by an expression of target's x location (named x)."""
    driver = ob.driver_add(path).driver
    x = driver.variables.new()
    x.name, x.type = "x", "TRANSFORMS"
    x.targets[0].id, x.targets[0].transform_type = target, "LOC_X"
    driver.expression = expression


def operator_curve(op, **kw):
    op(**kw)
    return bpy.context.object


def dash(ob, **settings):
    """Dashes ob with these settings and lets Blender update."""
    for k, v in settings.items():
        setattr(ob.korrand, k, v)
    ob.korrand.enabled = True
    update()
    assert ob.korrand.result is not None, f"{ob.name}: no dashes ({status(ob)})"
    return ob.korrand.result


def status(ob):
    return ob.korrand.status


def chains(mesh):
    """The point counts and x, y, z floats of the chains of edges a dashes' mesh holds."""
    n = len(mesh.vertices)
    co = array.array("f", bytes(12 * n))
    mesh.vertices.foreach_get("co", co)
    edges = array.array("i", bytes(8 * len(mesh.edges)))
    mesh.edges.foreach_get("vertices", edges)
    counts, starts = hook.chains(edges, n)
    assert sum(counts) == n and len(edges) // 2 == n - len(counts), "not chains of edges"
    return counts, co


def result_line(ob):
    """Counts and x, y, z floats of the dashes ob's Korrand Dash shows (in the curve's object
    space, where the dashes' points are)."""
    res = ob.korrand.result
    assert res is not None, f"{ob.name} has no dashes"
    return chains(res.data)


def shown(ob, dg=None):
    """What ob shows, evaluated: (vertices, edges, faces) of its mesh."""
    e = ob.evaluated_get(dg or depsgraph())
    mesh = e.to_mesh()
    try:
        return (len(mesh.vertices), len(mesh.edges), len(mesh.polygons)) if mesh else (0, 0, 0)
    finally:
        e.to_mesh_clear()


def line_form(ob):
    """ob's line form as the add-on reads it: packed x, y, z floats, counts, cyclic flags."""
    form = hook.line_form(ob)
    return form.xyz(), form.counts, form.cyclic


def _options(k, leave=()):
    """Command-line options for every setting of k the description has, but those in leave."""
    opts = []
    for p in hook.parameters:
        if p.type == hook.BUTTON or p.key in leave:
            continue
        value = getattr(k, p.key)
        if p.type == hook.BOOL:
            opts.append("--" + p.key if value else "--" + (p.off or "no-" + p.key))
        else:
            opts += ["--" + p.key, repr(float(value)) if p.type == hook.REAL
                     else str(value)]
    return opts


def reference(ob, objects=None):
    """The dashes korrand dash gives for ob's line form and settings, rounded once to floats:
    (counts, points) of every object in turn. objects: a list of (spline indices, stored
    settings by key) handed over as line objects of their own; None: one object of all."""
    import korrand
    points, counts, _ = line_form(ob)
    segments, at = [], 0
    for c in counts:
        segments.append([[float(points[3 * i + k]) for k in range(3)] for i in range(at, at + c)])
        at += c
    if objects is None:
        objects = [(list(range(len(counts))), {})]
    names = {p.key: p.name for p in hook.parameters}
    doc = {"objects": [{"name": str(n), "segments": [segments[i] for i in idx],
                        "parameters": {names[k]: v for k, v in own.items()}}
                       for n, (idx, own) in enumerate(objects)]}
    leave = {k for _, own in objects for k in own}
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
        json.dump(doc, f)
        path = f.name
    try:
        out = subprocess.run([KORRAND_EXE, "dash", path, "-q", *_options(ob.korrand, leave)],
                             check=True, capture_output=True, text=True).stdout
    finally:
        os.unlink(path)
    got = json.loads(out)
    segs = []
    for o, (idx, own) in zip(got["objects"], objects):
        pieces = [s for s in o["segments"] if len(s) > 0]
        if own.get("closed", bool(ob.korrand.closed)):
            # The dash the plug-in cuts at a loop's start is one dash on the curve: the piece
            # ending there, then the one starting there, where the earlier of them was.
            for seam in (segments[i][0] for i in idx):
                near = lambda p: all(abs(a - b) <= 1e-6 * max(1, abs(a)) for a, b in zip(p, seam))
                ending = next((k for k, s in enumerate(pieces) if near(s[-1])), None)
                starting = next((k for k, s in enumerate(pieces) if near(s[0])), None)
                if ending is not None and starting is not None and ending != starting:
                    pieces[min(ending, starting)] = pieces[ending] + pieces[starting][1:]
                    del pieces[max(ending, starting)]
        segs += pieces
    return [len(s) for s in segs], array.array("f", [v for s in segs for p in s for v in p])


def per_spline(ob):
    """The line objects of ob's splines one by one, each measured as Blender draws it."""
    _, counts, cyclic = line_form(ob)
    return [([i], {"closed": bool(cyclic[i])}) for i in range(len(counts))]


def assert_matches(ob, objects=None, what=""):
    got = result_line(ob)
    want = reference(ob, objects)
    assert got[0] == want[0], f"{ob.name} {what}: segments {got[0][:8]}... != {want[0][:8]}..."
    assert got[1] == want[1], f"{ob.name} {what}: points differ"
    return got


def world_points(ob):
    """The dashes' points in world space, one list of Vectors per dash."""
    from mathutils import Vector
    counts, co = result_line(ob)
    m = ob.matrix_world
    out, at = [], 0
    for c in counts:
        out.append([m @ Vector(co[3 * i:3 * i + 3]) for i in range(at, at + c)])
        at += c
    return out


def drawn(ob):
    """The curve as Blender draws it without its dash, in world space, as a list of its edges:
    from Blender's own wire of the curve (its Korrand Dash switched off for the look), or where
    Blender draws faces (a bevel), from the add-on's reading of its centre line (checked
    against the wire elsewhere)."""
    from mathutils import Vector
    m = ob.matrix_world
    mod = hook.modifier(ob)
    if mod is not None:
        mod.show_viewport = False
    try:
        evaluated = ob.evaluated_get(depsgraph())
        mesh = evaluated.to_mesh()
        try:
            if mesh is not None and not len(mesh.polygons):
                vs = [m @ v.co for v in mesh.vertices]
                return [[vs[a], vs[b]] for a, b in (e.vertices for e in mesh.edges)]
        finally:
            evaluated.to_mesh_clear()
    finally:
        if mod is not None:
            mod.show_viewport = True
    points, counts, cyclic = line_form(ob)
    out, at = [], 0
    for c, cy in zip(counts, cyclic):
        line = [m @ Vector(points[3 * i:3 * i + 3]) for i in range(at, at + c)]
        out.extend([a, b] for a, b in zip(line, line[1:] + (line[:1] if cy and c > 2 else [])))
        at += c
    return out


def distance_to(p, lines):
    from mathutils.geometry import intersect_point_line
    best = float("inf")
    for line in lines:
        for a, b in zip(line, line[1:]):
            q, t = intersect_point_line(p, a, b)
            q = a if t < 0 else b if t > 1 else q
            best = min(best, (p - q).length)
    return best


def length(line):
    return sum((b - a).length for a, b in zip(line, line[1:]))


# ---- Renders ------------------------------------------------------------------------------------

def render_scene(scene=None, size=40):
    """A tiny, fast, deterministic render set-up: Cycles on the CPU at a few samples, a black
    world, an orthographic camera looking down at the origin; white emissive materials make
    whatever is drawn stand out."""
    scene = scene or bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device, scene.cycles.samples = "CPU", 2
    scene.cycles.use_denoising = False
    scene.cycles.seed = 1
    scene.render.resolution_x = scene.render.resolution_y = size
    scene.render.resolution_percentage = 100
    scene.render.image_settings.file_format = "BMP"
    scene.render.use_persistent_data = False
    scene.world = bpy.data.worlds.new("black")
    scene.world.color = (0, 0, 0)
    cam = bpy.data.objects.new("camera", bpy.data.cameras.new("camera"))
    cam.data.type, cam.data.ortho_scale = "ORTHO", 7
    cam.location = (0, 0, 10)
    scene.collection.objects.link(cam)
    scene.camera = cam
    return scene


def emissive(name="white", strength=1.0):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    nodes = m.node_tree.nodes
    nodes.clear()
    emit = nodes.new("ShaderNodeEmission")
    emit.inputs["Strength"].default_value = strength
    out = nodes.new("ShaderNodeOutputMaterial")
    m.node_tree.links.new(emit.outputs[0], out.inputs["Surface"])
    return m


def pixels(path):
    """The pixel bytes of a BMP Blender wrote."""
    with open(path, "rb") as f:
        data = f.read()
    return data[int.from_bytes(data[10:14], "little"):]


def lit(path, threshold=60):
    """How many pixels of a BMP are brighter than threshold (of 255) in any channel."""
    p = pixels(path)
    return sum(1 for i in range(0, len(p) - 2, 3) if max(p[i], p[i + 1], p[i + 2]) > threshold)


def blender(*arguments, env=None, addon=True):
    """Runs a Blender of its own, headless, on arguments (a file to open first, options);
    with addon, the add-on of the build tree is enabled before the options run."""
    enable = ("import sys, addon_utils; sys.path.insert(0, %r); "
              "addon_utils.enable('korrand', default_set=True)" % os.path.join(BUILD, "blender"))
    head, rest = [], list(arguments)
    if rest and rest[0].endswith(".blend"):
        head.append(rest.pop(0))
    extra = ["--python-expr", enable] if addon else []
    subprocess.run([bpy.app.binary_path, "-b", "--factory-startup", *head, *extra, *rest],
                   check=True, env=env, stdout=subprocess.DEVNULL)
