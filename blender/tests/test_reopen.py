"""Saved with a .blend file and opened again in a new Blender process: the same dashes, bit for
bit, both as stored and as dashed again."""

import json
import os
import sys
import tempfile

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

hook = support.enable_addon()


def snapshot():
    out = {}
    for ob in bpy.data.objects:
        if ob.type == "CURVE" and ob.korrand.enabled:
            counts, points = support.result_line(ob)
            out[ob.name] = {"counts": counts, "points": [float(v) for v in points]}
    return out


def case_saved_and_reopened():
    helix = support.poly_curve("helix", [[(0.3 * (t % 7), t / 10, (t * t) % 5 / 3)
                                          for t in range(60)]])
    support.dash(helix, count=25, jitter=0.7, seed=-41, offset=0.3)
    circle = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=1.5)
    circle.data.bevel_depth = 0.1
    support.dash(circle, subdivision=5, start=0.2, period=0.5)
    # A dash count driven by an empty's animated x: the child enables the add-on after the
    # file is loaded, as a farm's --python-expr does, when Blender has flagged the driver.
    driven = support.poly_curve("driven", [[(0, 0, 0), (5, 0, 0)]])
    ctl = support.link(bpy.data.objects.new("ctl", None))
    support.drive(driven, "korrand.count", ctl, "3 + x")
    for frame, at in ((1, 0), (4, 6)):
        ctl.location.x = at
        ctl.keyframe_insert("location", index=0, frame=frame)
    support.dash(driven)
    bpy.context.scene.frame_set(1)
    want = snapshot()
    assert set(want) == {"helix", "BezierCircle", "driven"}
    with tempfile.TemporaryDirectory() as tmp:
        blend = os.path.join(tmp, "dashed.blend")
        expected = os.path.join(tmp, "expected.json")
        bpy.ops.wm.save_as_mainfile(filepath=blend)
        with open(expected, "w") as f:
            json.dump(want, f)
        support.child(__file__, "reopened", blend, expected)


def child_reopened():
    with open(support.args()[0]) as f:
        want = json.load(f)
    assert snapshot() == want, "the stored dashes differ"
    for name in want:
        hook.forget()
        bpy.data.objects[name].korrand.update()
    assert snapshot() == want, "the dashes made again in a new process differ"
    ob = bpy.data.objects["helix"]
    assert (ob.korrand.count, ob.korrand.seed) == (25, -41)
    ob.korrand.count = 26
    support.update()
    ob.korrand.count = 25
    support.update()
    assert snapshot() == want
    assert bpy.data.objects["BezierCircle"].data.bevel_depth > 0.09  # the look stayed on it
    bpy.context.scene.frame_set(4)
    assert len(support.result_line(bpy.data.objects["driven"])[0]) == 9, "the driver is dead"
    print("reopened: same dashes")


support.main(globals())
