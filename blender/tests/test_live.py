"""The result follows the curve live: edits of its points, shape keys, a hook animated over
frames (no frame of lag), undo and redo."""

import os
import sys

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

korrand = support.enable_addon()
support.clear_scene()
scene = bpy.context.scene

ob = support.poly_curve("wire", [[(0, 0, 0), (2, 0, 0), (2, 2, 0), (4, 2, 1), (6, 0, 0)]])
ob.korrand.count = 9
ob.korrand.closed = False
ob.korrand.enabled = True
first = support.assert_matches_reference(ob, korrand, "enabled")


def update():
    bpy.context.view_layer.update()


# An edit of the curve's own points.
ob.data.splines[0].points[2].co = (2, 5, 0, 1)
update()
edited = support.assert_matches_reference(ob, korrand, "point moved")
assert edited != first
# Read again with nothing moved, it is not dashed again; moved by one float step, it is.
korrand.live.refresh(ob, support.depsgraph())
assert "plugin" not in korrand.live.timings, "an unchanged curve was dashed again"
p = ob.data.splines[0].points[4]
p.co = (6 + 2 ** -21, 0, 0, 1)  # the next float after 6
korrand.live.timings.clear()
update()  # the depsgraph handler reads it
assert "plugin" in korrand.live.timings, "a moved point was not seen"
p.co = (6, 0, 0, 1)
update()
assert support.result_line(ob) == edited

# A shape key.
ob.shape_key_add(name="Basis")
key = ob.shape_key_add(name="Lift")
key.data[4].co = (6, 0, 3)
key.value = 0.5
update()
keyed = support.assert_matches_reference(ob, korrand, "shape key")
support.assert_readers_agree(ob, korrand)
assert keyed != edited

# A hook on the first point, its empty animated from frame 1 to 10.
empty = bpy.data.objects.new("handle", None)
scene.collection.objects.link(empty)
hook = ob.modifiers.new("Hook", "HOOK")
hook.object = empty
hook.vertex_indices_set([0])
empty.location = (0, 0, 0)
empty.keyframe_insert("location", frame=1)
empty.location = (-3, -2, 2)
empty.keyframe_insert("location", frame=10)
seen = []
for frame in (1, 4, 10, 6):
    scene.frame_set(frame)
    # Right after the frame change, before anything else evaluates: no frame of lag.
    now = support.assert_matches_reference(ob, korrand, f"frame {frame}")
    support.assert_readers_agree(ob, korrand)
    assert now not in seen, f"frame {frame} gave an earlier frame's dashes"
    seen.append(now)
scene.frame_set(1)
assert support.result_line(ob) == seen[0]

# A frame that leaves a dashed curve alone does not read it; the hooked one is read.
still = support.poly_curve("still", [[(0, -3, 0), (4, -3, 0)]])
still.korrand.enabled = True
update()  # its own updates, pending from enabling, are evaluated first
read = korrand.live.read_line_form
reads = []
korrand.live.read_line_form = lambda o, *a: reads.append(o.name) or read(o, *a)
scene.frame_set(4)
korrand.live.read_line_form = read
assert reads == ["wire"], reads
assert support.result_line(ob) == seen[1]
scene.frame_set(1)

# An animated setting is followed frame by frame too (marching dashes) on a curve that the
# frame does not move.
still.korrand.keyframe_insert("offset", frame=1)
still.korrand.offset = 0.5
still.korrand.keyframe_insert("offset", frame=10)
scene.frame_set(1)
resting = support.result_line(still)
scene.frame_set(7)
assert 0 < still.korrand.offset < 0.5
assert support.assert_matches_reference(still, korrand, "offset animated") != resting
still.animation_data_clear()
scene.frame_set(1)

# Rendering the animation: each frame rendered is dashed for that frame, through the render's
# own depsgraph, where the curve itself is hidden.
scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 1
scene.cycles.use_denoising = False
scene.render.resolution_x = scene.render.resolution_y = 8
scene.render.filepath = os.path.join(support.tempfile.mkdtemp(), "frame")
scene.frame_start = scene.frame_end = 10
camera = bpy.data.objects.new("camera", bpy.data.cameras.new("camera"))
scene.collection.objects.link(camera)
scene.camera = camera
rendered = {}
grab = lambda sc, *a: rendered.setdefault(sc.frame_current, support.result_line(ob))
bpy.app.handlers.render_post.append(grab)
bpy.ops.render.render(animation=True)
bpy.app.handlers.render_post.remove(grab)
assert rendered == {10: seen[2]}, sorted(rendered)
scene.frame_set(1)
assert support.result_line(ob) == seen[0]

# The result is never dashed again by its own update: a second evaluation changes nothing.
res = ob.korrand.result
assert not res.korrand.enabled and res.korrand.result is None
update()
assert support.result_line(ob) == seen[0]

# Edit mode: the points being edited, before they are stored in the splines.
for shape in ("wire", "ring"):
    if shape == "ring":
        ed = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2)
        ed.korrand.enabled = True
    else:
        ed = ob
    before = support.result_line(ed)
    ed.hide_set(False)
    bpy.context.view_layer.objects.active = ed
    bpy.ops.object.mode_set(mode="EDIT")
    bpy.ops.curve.select_all(action="SELECT")
    bpy.ops.transform.translate(value=(1.5, 0, 0.5))
    update()
    assert support.assert_matches_reference(ed, korrand, "edit mode") != before, shape
    bpy.ops.object.mode_set(mode="OBJECT")
    ed.hide_set(True)
    update()
    assert support.assert_matches_reference(ed, korrand, "after edit mode") != before, shape
scene.frame_set(1)
seen[0] = support.result_line(ob)

# The dashes held in edit mode are not written under the editor; leaving it, they follow.
res = ob.korrand.result
bpy.context.view_layer.objects.active = res
bpy.ops.object.mode_set(mode="EDIT")
ob.korrand.count = 5
assert korrand.live.status(ob).startswith("the dashes are in edit mode")
bpy.ops.object.mode_set(mode="OBJECT")
update()
assert korrand.live.status(ob) == ""
assert len(support.assert_matches_reference(ob, korrand, "after the dashes' edit mode")[0]) == 5
ob.korrand.count = 9
scene.frame_set(1)
seen[0] = support.result_line(ob)

# What is kept for a curve goes with the curve.
still.name = "still renamed"
update()
assert "still" not in korrand.live._last_input

# A copy of a dashed curve gets a result of its own; the original's stays as it was.
copy = ob.copy()
copy.data = ob.data.copy()
copy.animation_data_clear()
copy.modifiers.clear()
scene.collection.objects.link(copy)
copy.korrand.count = 4
assert copy.korrand.result not in (None, ob.korrand.result)
assert len(support.result_line(copy)[0]) == 4
assert support.result_line(ob) == seen[0] and ob.korrand.result.korrand.source == ob
copy.korrand.enabled = False
assert ob.korrand.result is not None and support.result_line(ob) == seen[0]

# Undo and redo keep the result in step with the settings.
undo_ok = bpy.ops.ed.undo_push(message="before") == {"FINISHED"}
if undo_ok:
    ob.korrand.count = 3
    bpy.ops.ed.undo_push(message="count 3")
    three = support.result_line(ob)
    assert len(three[0]) == 3
    bpy.ops.ed.undo()
    ob = bpy.data.objects["wire"]
    assert ob.korrand.count == 9
    assert support.result_line(ob) == seen[0]
    bpy.ops.ed.redo()
    ob = bpy.data.objects["wire"]
    assert ob.korrand.count == 3 and support.result_line(ob) == three
print("test_live: all passed" + ("" if undo_ok else " (undo unavailable here)"))
