"""The result follows the curve live: edits of its points, shape keys, a hook animated over
frames (no frame of lag), animated settings, renders, edit mode, undo and redo."""

import array
import os
import sys
import tempfile

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

hook = support.enable_addon()
update = support.update


def wire():
    ob = support.poly_curve("wire", [[(0, 0, 0), (2, 0, 0), (2, 2, 0), (4, 2, 1), (6, 0, 0)]])
    support.dash(ob, count=9)
    return ob


def matches(ob, what):
    return support.assert_matches(ob, support.per_spline(ob), what)


def hooked(ob):
    """A hook on ob's first point, its empty animated from frame 1 to 10."""
    empty = bpy.data.objects.new("handle", None)
    bpy.context.scene.collection.objects.link(empty)
    h = ob.modifiers.new("Hook", "HOOK")
    h.object = empty
    h.vertex_indices_set([0])
    empty.location = (0, 0, 0)
    empty.keyframe_insert("location", frame=1)
    empty.location = (-3, -2, 2)
    empty.keyframe_insert("location", frame=10)


def case_edits_of_points_and_shape_keys():
    ob = wire()
    first = matches(ob, "enabled")
    ob.data.splines[0].points[2].co = (2, 5, 0, 1)
    update()
    edited = matches(ob, "point moved")
    assert edited != first
    # Read again with nothing moved, it is not dashed again; moved by one float step, it is.
    hook.timings.clear()
    hook.redo(ob, "read")
    hook.run()
    assert "plugin" not in hook.timings, "an unchanged curve was dashed again"
    ob.data.splines[0].points[4].co = (6 + 2 ** -21, 0, 0, 1)  # the next float after 6
    update()
    assert "plugin" in hook.timings, "a moved point was not seen"
    ob.data.splines[0].points[4].co = (6, 0, 0, 1)
    update()
    assert support.result_line(ob) == edited
    ob.shape_key_add(name="Basis")
    key = ob.shape_key_add(name="Lift")
    key.data[4].co = (6, 0, 3)
    key.value = 0.5
    update()
    assert matches(ob, "shape key") != edited


def case_render_resolution_alone():
    # Blender evaluates nothing for it: the next update of anything, Update and a save read it.
    ob = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2)
    ob.data.resolution_u = 2
    support.dash(ob, count=7)
    shapes = {repr(matches(ob, "dashed"))}
    other = support.poly_curve("other", [[(0, 0, 0), (1, 0, 0)]])
    with tempfile.TemporaryDirectory() as folder:
        for render, how in ((24, "another update"), (4, "update"), (12, "save")):
            ob.data.render_resolution_u = render
            if how == "another update":
                other.location.x += 1
                update()
            elif how == "update":
                ob.korrand.update()
            else:
                bpy.ops.wm.save_as_mainfile(filepath=os.path.join(folder, "f.blend"), copy=True)
            shapes.add(repr(matches(ob, how)))
    assert len(shapes) == 4


def case_first_evaluation_shows_the_edit():
    # An edit of a POLY curve's points, with a setting changed with it, and one in edit mode,
    # are dashed before Blender evaluates the update: the evaluation that update handlers see
    # already shows the new dashes, made by one plug-in call.
    ob = wire()
    bpy.context.view_layer.objects.active = ob
    seen = []

    def shown_points(scene, dg):
        e = ob.evaluated_get(dg)
        mesh = e.to_mesh()
        co = array.array("f", bytes(12 * len(mesh.vertices)))
        mesh.vertices.foreach_get("co", co)
        e.to_mesh_clear()
        seen.append(co)

    for mode, point in (("OBJECT", (2, 5, 0, 1)), ("EDIT", (2, 4, 1, 1))):
        bpy.ops.object.mode_set(mode=mode)
        update()
        before = support.result_line(ob)
        seen.clear()
        hook.dashed.clear()
        bpy.app.handlers.depsgraph_update_post.insert(0, shown_points)
        try:
            ob.data.splines[0].points[2].co = point
            if mode == "OBJECT":
                ob.korrand.offset = 0.3
            update()
        finally:
            bpy.app.handlers.depsgraph_update_post.remove(shown_points)
        assert hook.dashed == ["wire"], (mode, hook.dashed)
        got = support.result_line(ob)
        assert got != before, mode
        assert seen and seen[0] == got[1], f"{mode}: the first evaluation showed earlier dashes"
    bpy.ops.object.mode_set(mode="OBJECT")
    matches(ob, "edited")


def case_hook_over_frames_and_still_curves():
    ob = wire()
    hooked(ob)
    scene = bpy.context.scene
    seen = []
    for frame in (1, 4, 10, 6):
        scene.frame_set(frame)
        # Right after the frame change, before anything else evaluates: no frame of lag.
        now = matches(ob, f"frame {frame}")
        assert now not in seen, f"frame {frame} gave an earlier frame's dashes"
        seen.append(now)
    # A frame that leaves a dashed curve alone does not dash it again; the hooked one is.
    still = support.operator_curve(bpy.ops.curve.primitive_bezier_curve_add, location=(0, -3, 0))
    support.dash(still)
    hook.dashed.clear()
    hook.reads.clear()
    scene.frame_set(4)
    assert hook.dashed == ["wire"], hook.dashed
    assert hook.reads == ["wire"], hook.reads  # nothing animates the other: not even read
    assert support.result_line(ob) == seen[1]
    # Unless a script's frame handler moves its points; moving another curve's, it is compared
    # with what it was read from, and not read again.
    other = support.poly_curve("other", [[(0, -5, 0), (4, -5, 0)]])
    support.dash(other)

    def move(scene, *_):
        if scene.frame_current < 7:
            still.data.splines[0].bezier_points[1].co.y = scene.frame_current / 10
        else:
            other.data.splines[0].points[1].co.y = scene.frame_current / 10 - 5

    bpy.app.handlers.frame_change_pre.append(move)
    try:
        for frame in (5, 6, 7, 8):
            hook.reads.clear()
            scene.frame_set(frame)
            matches(still, f"moved by a frame handler, frame {frame}")
        assert still.name not in hook.reads, hook.reads
    finally:
        bpy.app.handlers.frame_change_pre.remove(move)


def case_animated_setting_and_render():
    ob = wire()
    scene = bpy.context.scene
    # An animated offset (marching dashes) on a curve that the frames do not move.
    ob.korrand.keyframe_insert("offset", frame=1)
    ob.korrand.offset = 0.5
    ob.korrand.keyframe_insert("offset", frame=10)
    scene.frame_set(1)
    resting = support.result_line(ob)
    scene.frame_set(7)
    assert 0 < ob.korrand.offset < 0.5
    marched = matches(ob, "offset animated")
    assert marched != resting
    # Rendering here (no render job: Blender waits for each frame) dashes each frame it
    # renders, from the settings as the render evaluated them.
    support.render_scene(scene, 8)
    scene.render.filepath = os.path.join(tempfile.mkdtemp(), "frame")
    scene.frame_start = scene.frame_end = 7
    scene.frame_set(1)
    rendered = {}
    grab = lambda sc, *a: rendered.setdefault(sc.frame_current, support.result_line(ob))
    bpy.app.handlers.render_post.append(grab)
    bpy.ops.render.render(animation=True)
    bpy.app.handlers.render_post.remove(grab)
    assert rendered == {7: marched}, sorted(rendered)
    # A count driven by another object: moving that object, no frame changing, redashes it.
    ctl = support.link(bpy.data.objects.new("ctl", None))
    support.drive(ob, "korrand.count", ctl, "3 + x")
    update()
    ctl.location.x = 4
    update()
    assert len(support.result_line(ob)[0]) == 7


def case_nothing_written_during_a_render_job():
    # While a render job runs (pretended: a background Blender renders without one), a frame
    # changes nothing; when it ends, the dashes catch up.
    ob = wire()
    hooked(ob)
    scene = bpy.context.scene
    scene.frame_set(1)
    before = support.result_line(ob)
    hook.render_job = True
    try:
        scene.frame_set(10)
        assert support.result_line(ob) == before, "written during a render job"
        ob.korrand.count = 4
        update()
        assert support.result_line(ob) == before, "written during a render job"
    finally:
        hook.render_job = None
    scene.frame_set(10)
    assert len(matches(ob, "after the render job")[0]) == 4


def case_edit_mode():
    # The points being edited, before they are stored in the splines; with a bevel too.
    for shape in ("wire", "ring", "bevelled ring"):
        if shape == "wire":
            ed = wire()
        else:
            ed = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2)
            ed.data.bevel_depth = 0.1 if shape == "bevelled ring" else 0.0
            support.dash(ed)
        before = support.result_line(ed)
        bpy.context.view_layer.objects.active = ed
        bpy.ops.object.mode_set(mode="EDIT")
        bpy.ops.curve.select_all(action="SELECT")
        bpy.ops.transform.translate(value=(1.5, 0, 0.5))
        update()
        moved = matches(ed, "edit mode")
        assert moved != before, shape
        bpy.ops.object.mode_set(mode="OBJECT")
        update()
        assert matches(ed, "after edit mode") == moved, shape


def case_undo_and_redo():
    if bpy.ops.ed.undo_push(message="start") != {"FINISHED"}:
        raise support.Skip("undo is unavailable in this Blender")
    ob = wire()
    bpy.ops.ed.undo_push(message="dashed")
    nine = support.result_line(ob)
    ob.korrand.count = 3
    update()
    bpy.ops.ed.undo_push(message="count 3")
    three = support.result_line(ob)
    assert len(three[0]) == 3
    bpy.ops.ed.undo()
    ob = bpy.data.objects["wire"]
    assert ob.korrand.count == 9 and support.result_line(ob) == nine
    ob.korrand.offset = 0.2  # updates go on after undo
    update()
    matches(ob, "after undo")
    ob.korrand.offset = 0.0
    update()
    bpy.ops.ed.redo()
    ob = bpy.data.objects["wire"]
    assert ob.korrand.count == 3 and support.result_line(ob) == three



def case_undo_in_another_view_layer():
    # Alt+D undone in one view layer, then another shown: the other's first evaluation since
    # the undo lists data the undo freed (reading it crashed Blender).
    window = bpy.context.window
    if window is None or bpy.ops.ed.undo_push(message="start") != {"FINISHED"}:
        raise support.Skip("no window or no undo in this Blender")
    first, second = window.view_layer, window.scene.view_layers.new("Second")
    ob = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2)
    ob.data.bevel_depth = 0.05
    support.dash(ob, count=8)
    name, eight = ob.name, support.result_line(ob)
    bpy.ops.ed.undo_push(message="dashed")
    window.view_layer = second
    update()
    bpy.ops.ed.undo_push(message="second shown")
    bpy.ops.object.select_all(action="DESELECT")
    second.objects.active = ob
    ob.select_set(True)
    bpy.ops.object.duplicate(linked=True)
    update()
    bpy.ops.ed.undo_push(message="Alt+D")
    bpy.ops.ed.undo()
    update()
    window.view_layer = first
    update()
    ob = bpy.data.objects[name]
    assert support.result_line(ob) == eight
    matches(ob, "after undo in another view layer")


support.main(globals())
