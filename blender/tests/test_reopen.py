"""Saved with a .blend file and opened again in a new Blender process: the same dashes, bit for
bit, both as stored and as dashed again."""

import json
import os
import subprocess
import sys
import tempfile

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
korrand = support.enable_addon()


def snapshot():
    out = {}
    for ob in bpy.data.objects:
        if ob.type == "CURVE" and ob.korrand.enabled:
            counts, points = support.result_line(ob)
            out[ob.name] = {"counts": counts, "points": [float(v) for v in points]}
    return out


if not args:
    support.clear_scene()
    helix = support.poly_curve("helix", [[(0.3 * (t % 7), t / 10, (t * t) % 5 / 3)
                                          for t in range(60)]])
    helix.korrand.count = 25
    helix.korrand.jitter = 0.7
    helix.korrand.seed = -41
    helix.korrand.offset = 0.3
    helix.korrand.enabled = True
    circle = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=1.5)
    circle.korrand.subdivision = 5
    circle.korrand.start = 0.2
    circle.korrand.enabled = True
    want = snapshot()
    assert set(want) == {"helix", "BezierCircle"}
    with tempfile.TemporaryDirectory() as tmp:
        blend = os.path.join(tmp, "dashed.blend")
        expected = os.path.join(tmp, "expected.json")
        bpy.ops.wm.save_as_mainfile(filepath=blend)
        with open(expected, "w") as f:
            json.dump(want, f)
        subprocess.run([bpy.app.binary_path, "-b", "--factory-startup", blend,
                        "--python-exit-code", "1", "--python", __file__, "--", expected],
                       check=True)
    print("test_reopen: all passed")
else:
    with open(args[0]) as f:
        want = json.load(f)
    assert snapshot() == want, "the stored dashes differ"
    for name in want:
        ob = bpy.data.objects[name]
        korrand.live.refresh(ob, support.depsgraph(), force=True)
    assert snapshot() == want, "the dashes made again in a new process differ"
    ob = bpy.data.objects["helix"]
    assert (ob.korrand.count, ob.korrand.seed) == (25, -41)
    ob.korrand.count = 26
    ob.korrand.count = 25
    assert snapshot() == want
    print("reopened: same dashes")
