"""What the tests in Blender share: the add-on from the build tree, scenes, and the reference
dashes from the command-line host on the same line form."""

import array
import json
import os
import subprocess
import sys
import tempfile

import addon_utils
import bpy

BUILD = os.environ["KORRAND_BUILD_DIR"]
KORRAND_EXE = os.path.join(BUILD, "korrand")


def enable_addon(expect_loaded=True):
    sys.path.insert(0, os.path.join(BUILD, "blender"))
    mod = addon_utils.enable("korrand", default_set=True, handle_error=None)
    assert mod is not None, "the add-on did not enable"
    import korrand
    if expect_loaded:
        assert korrand.bridge_error() == "", korrand.bridge_error()
    return korrand


def clear_scene():
    for ob in list(bpy.data.objects):
        bpy.data.objects.remove(ob)
    for cu in list(bpy.data.curves):
        bpy.data.curves.remove(cu)


def link(ob):
    bpy.context.scene.collection.objects.link(ob)
    bpy.context.view_layer.objects.active = ob
    return ob


def poly_curve(name, splines, dimensions="3D"):
    """A curve of POLY splines from lists of (x, y, z)."""
    cu = bpy.data.curves.new(name, "CURVE")
    cu.dimensions = dimensions
    for pts in splines:
        s = cu.splines.new("POLY")
        s.points.add(len(pts) - 1)
        for p, xyz in zip(s.points, pts):
            p.co = (*xyz, 1.0)
    return link(bpy.data.objects.new(name, cu))


def operator_curve(op, **kw):
    op(**kw)
    return bpy.context.object


def depsgraph():
    return bpy.context.evaluated_depsgraph_get()


def result_line(ob):
    """Counts and x, y, z floats of the result object's splines."""
    res = ob.korrand.result
    assert res is not None, f"{ob.name} has no result"
    counts, points = [], array.array("f")
    for s in res.data.splines:
        assert s.type == "POLY" and not s.use_cyclic_u
        co = array.array("f", bytes(16 * len(s.points)))
        s.points.foreach_get("co", co)
        counts.append(len(s.points))
        for i in range(len(s.points)):
            points.extend(co[4 * i:4 * i + 3])
    return counts, points


def _options(k):
    opts = ["--count", str(k.count), "--subdivision", str(k.subdivision),
            "--offset", repr(float(k.offset)), "--start", repr(float(k.start)),
            "--end", repr(float(k.end)), "--seed", str(k.seed),
            "--jitter", repr(float(k.jitter)), "--closed" if k.closed else "--open"]
    if k.relative:
        opts.append("--relative")
    return opts


def line_form(ob, korrand):
    """ob's line form as the add-on reads it: packed x, y, z floats and counts."""
    form = korrand.live.read_line_form(ob, depsgraph())
    return form.xyz(), form.counts


def assert_readers_agree(ob, korrand):
    """The control-point reader of POLY curves, straight from Blender's splines and through
    its Python API, gives what Blender's wire mesh of them gives."""
    wire = korrand.live._read_wire(ob, depsgraph())
    for direct in (True, False):
        korrand.spline_memory.enabled = direct
        try:
            fast = korrand.live._read_control_points(ob, depsgraph())
        finally:
            korrand.spline_memory.enabled = True
        assert fast.points is not None if direct else fast.segments is not None, (ob.name, direct)
        assert fast.counts == wire.counts, (ob.name, direct, fast.counts, wire.counts)
        assert fast.xyz() == wire.xyz(), (ob.name, direct)


def expected_line(ob, korrand):
    """The dashes korrand dash gives for ob's line form and settings, rounded once to floats."""
    points, counts = line_form(ob, korrand)
    segments, at = [], 0
    for c in counts:
        segments.append([[float(points[3 * i + k]) for k in range(3)] for i in range(at, at + c)])
        at += c
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
        json.dump({"segments": segments}, f)
        path = f.name
    try:
        out = subprocess.run([KORRAND_EXE, "dash", path, "-q", *_options(ob.korrand)],
                             check=True, capture_output=True, text=True).stdout
    finally:
        os.unlink(path)
    doc = json.loads(out)
    want_counts = [len(s) for s in doc["segments"] if len(s) > 0]
    want = array.array("f", [v for s in doc["segments"] for p in s for v in p])
    return want_counts, want


def assert_matches_reference(ob, korrand, what=""):
    got = result_line(ob)
    want = expected_line(ob, korrand)
    assert got[0] == want[0], f"{ob.name} {what}: segments {got[0][:8]}... != {want[0][:8]}..."
    assert got[1] == want[1], f"{ob.name} {what}: points differ"
    return got
