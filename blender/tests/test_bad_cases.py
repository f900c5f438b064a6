"""Bad cases neither crash Blender nor leave half a result: empty curves, zero-length splines,
text and surface objects, huge counts, a runaway request, a missing plug-in folder."""

import os
import subprocess
import sys

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []

if args == ["missing"]:
    # Started with KORRAND_PLUGIN_FOLDER naming a folder that does not exist.
    korrand = support.enable_addon(expect_loaded=False)
    message = korrand.bridge_error()
    assert "/nonexistent/KorrandModifier" in message and "\n" not in message, message
    ob = support.poly_curve("line", [[(0, 0, 0), (1, 0, 0)]])
    ob.korrand.enabled = True
    assert ob.korrand.result is None and not ob.hide_get()
    assert message in korrand.live.status(ob)
    print("missing folder: reported")
    sys.exit(0)

korrand = support.enable_addon()
support.clear_scene()
alive = korrand.state.plugin.host_alive()

# An empty curve and a zero-length spline: an empty result.
empty = support.link(bpy.data.objects.new("empty", bpy.data.curves.new("empty", "CURVE")))
empty.korrand.enabled = True
assert support.result_line(empty) == ([], support.array.array("f"))
point = support.poly_curve("point", [[(1, 1, 1), (1, 1, 1), (1, 1, 1)]])
point.korrand.enabled = True
assert support.result_line(point)[0] == []
single = support.poly_curve("single", [[(1, 2, 3)]])
single.korrand.enabled = True
support.assert_matches_reference(single, korrand, "one point")

# Text and surface objects are not dashed: a message, no result, the object stays visible.
bpy.ops.object.text_add()
text = bpy.context.object
bpy.ops.surface.primitive_nurbs_surface_sphere_add()
surface = bpy.context.object
for ob in (text, surface):
    ob.korrand.enabled = True
    assert ob.korrand.result is None and not ob.hide_get(), ob.name
    assert "curve objects" in korrand.live.status(ob), korrand.live.status(ob)

# A result is never dashed again: its own switch refuses.
res = single.korrand.result
res.korrand.enabled = True
assert res.korrand.result is None and "dashes of single" in korrand.live.status(res)
res.korrand.enabled = False
assert single.korrand.result == res

# The description's limits hold.
line = support.poly_curve("line", [[(0, 0, 0), (10, 0, 0), (10, 10, 0)]])
line.korrand.count = 10 ** 6
line.korrand.subdivision = -5
line.korrand.jitter = 99.0
assert (line.korrand.count, line.korrand.subdivision, line.korrand.jitter) == (10000, 0, 10.0)

# The largest request the limits allow still works...
line.korrand.jitter = 0.0
line.korrand.subdivision = 98
line.korrand.enabled = True
counts, _ = support.assert_matches_reference(line, korrand, "largest")
assert len(counts) == 10000

# ... and a runaway one meets the host's memory limit: an empty result, Blender fine.
korrand.state.plugin._lib.korrand_set_block_limit(1 << 16)
line.korrand.count = 9999
assert support.result_line(line)[0] == []
korrand.state.plugin._lib.korrand_set_block_limit(1 << 30)
line.korrand.count = 40
assert len(support.result_line(line)[0]) == 40

# Everything switched off: nothing left in the host but the one instance the add-on keeps.
for ob in [o for o in bpy.data.objects if o.type == "CURVE" and o.korrand.enabled]:
    ob.korrand.enabled = False
assert not [o for o in bpy.data.objects if o.name.endswith(" dashed")]
assert korrand.state.plugin.host_alive()[1] <= alive[1] + 1, (alive, korrand.state.plugin.host_alive())

env = dict(os.environ, KORRAND_PLUGIN_FOLDER="/nonexistent/KorrandModifier")
subprocess.run([bpy.app.binary_path, "-b", "--factory-startup", "--python-exit-code", "1",
                "--python", __file__, "--", "missing"], check=True, env=env)
print("test_bad_cases: all passed")
