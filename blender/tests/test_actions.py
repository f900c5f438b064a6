"""Everyday actions on dashed curves give what Blender users expect, and lose nothing of the
artist's work: Convert and Apply, removing the dash from the stack, deleting the curve, Shift+D,
Alt+D, Join, Separate, the add-on disabled and enabled, files of earlier versions, linked
data, and an update too large to make without asking."""

import math
import os
import sys
import tempfile

import addon_utils
import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

hook = support.enable_addon()
update = support.update


def vertices(ob):
    e = ob.evaluated_get(support.depsgraph())
    try:
        return [v.co.copy() for v in e.to_mesh().vertices]
    finally:
        e.to_mesh_clear()


def bevelled_circle(name="ring", **settings):
    ob = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2)
    ob.name = name
    ob.data.bevel_depth = 0.05
    support.dash(ob, count=12, **settings)
    return ob


def select_only(*obs):
    for o in bpy.context.selected_objects:
        o.select_set(False)
    for o in obs:
        o.select_set(True)
    bpy.context.view_layer.objects.active = obs[0]


def blocks():
    """The add-on's own objects, by name."""
    return sorted(o.name for o in bpy.data.objects if hook.block(o))


def case_convert_to_mesh():
    # Object > Convert > Mesh gives the dashes, with their look, as the artist's own mesh;
    # the add-on's objects go with the dash.
    ob = bevelled_circle()
    faces = support.shown(ob)[2]
    select_only(ob)
    bpy.ops.object.convert(target="MESH")
    update()
    mesh = bpy.data.objects["ring"]
    assert mesh.type == "MESH" and len(mesh.data.polygons) == faces > 0
    assert not mesh.modifiers and not mesh.korrand.enabled and not blocks(), blocks()


def case_apply():
    # Apply keeps the dashes as the curve's own curve data, with its look; the dash goes, and
    # the hook before it, which shaped the dashes; a hook switched off did not, and stays.
    ob = bevelled_circle()
    empty = support.link(bpy.data.objects.new("empty", None))
    for name, on in (("shaping", True), ("off", False)):
        hooked = ob.modifiers.new(name, "HOOK")
        hooked.object, hooked.show_viewport = empty, on
    ob.data.bevel_factor_end = 0.5  # a cyclic spline is drawn whole: it cuts none of its dashes
    update()
    counts, _ = support.result_line(ob)
    old_data = ob.data
    assert ob.korrand.apply() == "\tthe modifiers before the dash, already in the dashes, " \
        "were applied with it: shaping"
    update()
    assert not ob.korrand.enabled and ob.korrand.result is None and not blocks()
    assert [m.name for m in ob.modifiers] == ["off"] and ob.data != old_data
    assert abs(ob.data.bevel_depth - 0.05) < 1e-7 and abs(old_data.bevel_depth - 0.05) < 1e-7
    assert ob.data.bevel_factor_end == 1.0 and old_data.bevel_factor_end == 0.5
    assert all(s.type == "POLY" and not s.use_cyclic_u for s in ob.data.splines)
    assert [len(s.points) for s in ob.data.splines] == counts
    # A ribbon turned by its tilt: applied, each dash is tilted to show the same surface.
    ribbon = support.poly_curve("ribbon", [[(i, 0, i % 3 / 4) for i in range(11)]])
    for i, p in enumerate(ribbon.data.splines[0].points):
        p.tilt = math.pi / 2 + i / 5
    ribbon.data.extrude = 0.3
    support.dash(ribbon, count=5, subdivision=4)
    live = vertices(ribbon)
    assert ribbon.korrand.apply() == ""
    update()
    applied = vertices(ribbon)
    assert len(applied) == len(live) and max(
        min((a - b).length for b in applied) for a in live) < 1e-4
    # A filled curve's fill and dashes are no one curve: refused, with the way that works.
    text = support.poly_curve("square", [[(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]],
                              dimensions="2D", cyclic=(0,))
    text.data.fill_mode = "BOTH"
    support.dash(text, count=4)
    assert "Convert" in text.korrand.apply() and text.korrand.enabled


def case_bake():
    # An animated dash count: each frame's dashes, stored once per distinct frame, shown from
    # the bake at every frame (frames outside the range as its first or last), the panel
    # saying what is baked and when the curve or its settings changed since.
    ob = bevelled_circle()
    ob.korrand.keyframe_insert("count", frame=1)
    ob.korrand.count = 4
    ob.korrand.keyframe_insert("count", frame=3)
    scene = bpy.context.scene
    live = {}
    for f in (1, 2, 3, 4):
        scene.frame_set(f)
        live[f] = support.shown(ob)
    # Past Blender's last frame a bake would never end (each frame held at the last).
    assert "frames go from" in ob.korrand.bake(1, 10**12) and ob.korrand.baked is None
    assert ob.korrand.bake(1, 4) == "" and ob.korrand.baked is not None
    update()  # Blender's evaluation of the bake just made is no change of the curve
    assert ob.korrand.result == ob.korrand.baked
    assert support.status(ob) == ""
    assert hook.bake_state(ob) == "Baked: frames 1-4 (3 stored)", hook.bake_state(ob)
    for owner in (scene.render, scene.eevee):  # Cycles' switch, and EEVEE's own
        owner.use_motion_blur = True  # which a bake of whole frames does not give the dashes
        assert "whole frames" in hook.bake_state(ob)
        owner.use_motion_blur = False
    for f in (0, 1, 2, 3, 4, 9):
        scene.frame_set(f)
        assert support.shown(ob) == live[min(max(f, 1), 4)], f
        assert "changed since" not in hook.bake_state(ob), f  # the animation is baked
    key = ob.animation_data.action.fcurves.find("korrand.count").keyframe_points[1]
    key.co.y = 7  # a keyframe of a frame not shown
    assert "changed since" in hook.bake_state(ob)
    key.co.y = 4
    assert "changed since" not in hook.bake_state(ob)
    ob.data.splines[0].bezier_points[0].co.x += 0.5  # an edit of the points
    update()
    assert "changed since" in hook.bake_state(ob)
    ob.shape_key_add(name="Basis")
    key = ob.shape_key_add(name="moved")
    key.data[0].co.x += 0.5
    assert ob.korrand.bake(1, 4) == ""
    update()
    key.value = 1.0  # a shape key's value
    update()
    assert "changed since" in hook.bake_state(ob)
    empty = support.link(bpy.data.objects.new("hook", None))
    ob.modifiers.new("hook", "HOOK").object = empty
    assert ob.korrand.bake(1, 4) == ""
    update()
    empty.location.x += 1  # a hook moved
    update()
    assert "changed since" in hook.bake_state(ob)
    ob.data.taper_object = support.poly_curve("taper", [[(0, 1, 0), (1, 0.5, 0)]])
    assert ob.korrand.bake(1, 4) == ""
    update()
    baked_state = hook.bake_state(ob)
    ob.data.taper_object.data.splines[0].points[1].co.y = 2  # the taper's points
    update()
    assert "changed since" not in baked_state and "changed since" in hook.bake_state(ob)
    assert ob.korrand.bake(1, 4) == ""
    update()
    ob.korrand.offset = 0.1
    update()
    assert "changed since" in hook.bake_state(ob)
    assert support.shown(ob) == live[4], "the bake is shown until it is made again or freed"
    assert ob.korrand.free_bake() == "" and ob.korrand.baked is None
    update()
    assert not [o for o in bpy.data.objects if hook.block(o) and "baked" in o.name]
    support.assert_matches(ob, support.per_spline(ob), "live again")
    # A bevel keyed to grow from nothing, baked: each frame as thick as live. A copy's bake
    # freed leaves the original's as it was.
    def depth(o):
        e = o.evaluated_get(support.depsgraph())
        mesh = e.to_mesh()
        try:
            return max((abs(v.co.z) for v in mesh.vertices), default=0.0)
        finally:
            e.to_mesh_clear()

    ob.data.bevel_depth = 0.0
    ob.data.keyframe_insert("bevel_depth", frame=1)
    ob.data.bevel_depth = 0.2
    ob.data.keyframe_insert("bevel_depth", frame=3)
    grown = {}
    for f in (1, 2, 3):
        scene.frame_set(f)
        grown[f] = depth(ob)
    assert ob.korrand.bake(1, 3) == ""
    for o in bpy.context.view_layer.objects:
        o.select_set(o == ob)
    bpy.context.view_layer.objects.active = ob
    bpy.ops.object.duplicate()
    update()
    assert bpy.context.object.korrand.free_bake() == ""
    update()
    # Groups an earlier version made are built again as the next curve is dashed: their
    # sockets are kept, and with them the bake's own profile.
    for tree in bpy.data.node_groups:
        if tree.get("korrand_group"):
            tree["korrand_version"] = 0
    bevelled_circle("next")
    for f in (1, 2, 3):
        scene.frame_set(f)
        assert abs(depth(ob) - grown[f]) < 1e-4, (f, depth(ob), grown[f])


def case_bake_under_time_stretch():
    # Output > Time Stretching: a frame shows the stretched time, baked as live.
    ob = bevelled_circle()
    ob.korrand.keyframe_insert("count", frame=1)
    ob.korrand.count = 4
    ob.korrand.keyframe_insert("count", frame=4)
    scene = bpy.context.scene
    scene.render.frame_map_old, scene.render.frame_map_new = 100, 50
    live = {}
    for f in (1, 2):
        scene.frame_set(f)
        live[f] = support.shown(ob)
    assert live[1] != live[2]
    assert ob.korrand.bake(1, 2) == ""
    for f in (1, 2):
        scene.frame_set(f)
        assert support.shown(ob) == live[f], f


def case_bake_where_the_curve_is_shown():
    # The frames of a view layer that shows the curve: another scene's while the window shows
    # one without it, another view layer's while the window's excludes its collection.
    window = bpy.context.scene
    ob = bevelled_circle()
    ob.korrand.keyframe_insert("count", frame=1)
    ob.korrand.count = 4
    ob.korrand.keyframe_insert("count", frame=3)
    shot = bpy.data.scenes.new("shot")
    shot.collection.objects.link(ob)
    window.collection.objects.unlink(ob)
    assert ob.korrand.bake(1, 3) == ""
    assert hook.bake_state(ob) == "Baked: frames 1-3 (3 stored)", hook.bake_state(ob)
    # In a collection no view layer shows: nothing to bake, and it says so.
    hidden = bpy.data.collections.new("hidden")
    window.collection.children.link(hidden)
    hidden.objects.link(ob)
    shot.collection.objects.unlink(ob)
    bpy.context.view_layer.layer_collection.children["hidden"].exclude = True
    assert "no view layer" in ob.korrand.bake(1, 3)
    other = window.view_layers.new("other")
    assert not other.layer_collection.children["hidden"].exclude
    assert ob.korrand.bake(1, 3) == ""
    assert hook.bake_state(ob) == "Baked: frames 1-3 (3 stored)", hook.bake_state(ob)
    # Shown only through an instance of its collection: the window's frames.
    hidden.objects.unlink(ob)
    asset = bpy.data.collections.new("asset")
    asset.objects.link(ob)
    instance = bpy.data.objects.new("instance", None)
    instance.instance_type, instance.instance_collection = "COLLECTION", asset
    window.collection.objects.link(instance)
    update()
    assert ob.korrand.bake(1, 3) == ""
    assert hook.bake_state(ob) == "Baked: frames 1-3 (3 stored)", hook.bake_state(ob)


def case_removing_the_modifier_switches_the_dash_off():
    ob = bevelled_circle()
    ob.modifiers.remove(hook.modifier(ob))
    update()
    # Switched off, the curve shown as it was, and the panel says why.
    assert not ob.korrand.enabled and not blocks() and "removed" in support.status(ob)
    assert support.shown(ob)[2] > 0 and abs(ob.data.bevel_depth - 0.05) < 1e-7
    # With the modifier copied in its stack, switched off, it shows as it was too.
    ob = bevelled_circle("copied")
    bpy.ops.object.modifier_copy(modifier=hook.modifier(ob).name)
    ob.korrand.enabled = False
    update()
    assert hook.modifier(ob) is None and not blocks() and support.shown(ob)[2] > 0


def case_delete_curve_then_purge():
    ob = bevelled_circle()
    data_name = ob.data.name
    bpy.data.objects.remove(ob)
    update()
    assert not blocks()
    bpy.ops.outliner.orphans_purge(do_recursive=True)
    assert data_name not in bpy.data.curves and not bpy.data.curves, list(bpy.data.curves)
    assert not bpy.data.meshes, list(bpy.data.meshes)


def case_objects_of_the_addon_deleted_by_hand():
    # The dashes' profile object, then their object, then the modifier's node group deleted
    # from the file by hand: the curve's dashes are made again with their look, not left as
    # lines that render nothing.
    ob = bevelled_circle()
    want = support.shown(ob)
    assert want[2] > 0
    for name in ("ring dash profile (Korrand)", "ring dashes (live with the Korrand add-on)"):
        bpy.data.objects.remove(bpy.data.objects[name])
        update()
        assert support.shown(ob) == want, name
    # Made again for a curve of a long name, theirs still say what they are (within Blender's
    # 63 bytes, cut at whole characters).
    ob.name = "曲" * 21
    bpy.data.objects.remove(ob.korrand.result)
    update()
    name = ob.korrand.result.name
    assert name.endswith(" dashes (live with the Korrand add-on)") and name[0] == "曲", name
    bpy.data.node_groups.remove(hook.modifier(ob).node_group)
    update()
    assert [m.name for m in ob.modifiers] == ["Korrand Dash"] and support.shown(ob) == want


def case_shift_d_and_alt_d():
    ob = bevelled_circle()
    mine = support.result_line(ob)
    select_only(ob)
    bpy.ops.object.duplicate()
    copy = bpy.context.object
    update()
    assert copy != ob and copy.korrand.result not in (None, ob.korrand.result)
    assert support.result_line(copy) == mine and support.result_line(ob) == mine
    copy.korrand.count = 5  # each its own
    update()
    assert len(support.result_line(copy)[0]) == 5 and support.result_line(ob) == mine
    # Alt+D: the copy shares the data and has dashes of its own; switched off, it shows the
    # shared look, which nothing changed.
    select_only(ob)
    bpy.ops.object.duplicate(linked=True)
    linked = bpy.context.object
    update()
    assert linked.data == ob.data and linked.korrand.result not in (None, ob.korrand.result)
    # The shared data edited in the copy's edit mode: both show the edit at once, as Blender
    # draws them (the other kept its old dashes until edit mode ended, and saved so).
    bpy.ops.object.mode_set(mode="EDIT")
    bpy.ops.curve.select_all(action="SELECT")
    for scale in (2, 0.5):
        bpy.ops.transform.resize(value=(scale, scale, 1))
        update()
        assert support.result_line(ob) == support.result_line(linked), scale
        assert (support.result_line(ob) == mine) == (scale == 0.5), scale
    bpy.ops.object.mode_set(mode="OBJECT")
    linked.korrand.enabled = False
    update()
    assert not hook.modifier(linked) and abs(linked.data.bevel_depth - 0.05) < 1e-7
    assert support.result_line(ob) == mine
    assert len(blocks()) == 4, blocks()  # the dashes and profiles of ob and copy
    # Copy Modifiers onto other curves, one whose panel was drawn (which makes its settings
    # without a value): each is dashed as ob is, with dashes of its own, not shown with ob's.
    # A mesh takes no dash: it would show ob's dashes in its place.
    others = [support.poly_curve(n, [[(0, 0, 0), (3, 0, 0)]]) for n in ("other", "viewed")]
    others[1].korrand.enabled
    bpy.ops.mesh.primitive_cube_add()
    cube = bpy.context.object
    select_only(ob, *others, cube)
    bpy.ops.object.make_links_data(type="MODIFIERS")
    update()
    for other in others:
        assert other.korrand.result not in (None, ob.korrand.result)
        assert other.korrand.count == ob.korrand.count and support.result_line(ob) == mine
        support.assert_matches(other, support.per_spline(other), "copied modifier")
    assert not cube.modifiers and "mesh objects" in support.status(cube)
    # Ctrl+C, Ctrl+V: the pasted curve gets dashes and a profile of its own; the profile
    # pasted with it goes.
    select_only(ob)
    before = len(blocks())
    bpy.ops.view3d.copybuffer()
    bpy.ops.view3d.pastebuffer()
    update()
    assert len(blocks()) == before + 2, blocks()


def case_join_and_separate():
    # Ctrl+J of two dashed curves: the joined curve is dashed whole; the second's objects go.
    a = bevelled_circle("a")
    b = support.poly_curve("b", [[(4, 0, 0), (8, 0, 0), (8, 3, 0)]])
    support.dash(b, count=12)
    select_only(a, b)
    bpy.ops.object.join()
    update()
    assert "b" not in bpy.data.objects and len(a.data.splines) == 2
    support.assert_matches(a, support.per_spline(a), "joined")
    assert len(support.result_line(a)[0]) == 24 and len(blocks()) == 2, blocks()
    # Separate (P): the new curve has its own dashes, the first keeps what is left.
    bpy.ops.object.mode_set(mode="EDIT")
    bpy.ops.curve.select_all(action="DESELECT")
    for p in a.data.splines[1].points:
        p.select = True
    bpy.ops.curve.separate()
    bpy.ops.object.mode_set(mode="OBJECT")
    update()
    other = next(o for o in bpy.data.objects if o.type == "CURVE" and o != a and
                 not hook.ours(o))
    assert other.korrand.result not in (None, a.korrand.result)
    for o in (a, other):
        assert len(o.data.splines) == 1
        support.assert_matches(o, support.per_spline(o), "separated")


def case_addon_disabled_and_enabled():
    ob = bevelled_circle()
    line = support.poly_curve("line", [[(0, 0, 0), (4, 0, 0), (4, 3, 0)]])
    support.dash(line, count=5)
    want = {o.name: support.result_line(o) for o in (ob, line)}
    addon_utils.disable("korrand", default_set=True)
    assert not blocks() and not any(o.modifiers for o in (ob, line))
    assert not [c for c in bpy.data.curves if c not in (ob.data, line.data)]  # nothing saved
    assert support.shown(ob)[2] > 0 and ob["korrand"]["enabled"]
    path = os.path.join(tempfile.mkdtemp(), "disabled.blend")
    bpy.ops.wm.save_as_mainfile(filepath=path)
    support.enable_addon()
    bpy.context.scene.update_tag()
    update()
    assert {o.name: support.result_line(o) for o in (ob, line)} == want
    # Saved while disabled, opened with it enabled: the update after the load dashes them.
    bpy.ops.wm.open_mainfile(filepath=path)
    update()
    assert {name: support.result_line(bpy.data.objects[name]) for name in want} == want


def case_files_of_earlier_versions():
    # The first version kept the dashes in a child holding the curve's look, linked through
    # pointer properties; the second in an object of their own, the curve hidden. Opened
    # now: the look is back on the curve, the curve shown, the old dashes gone, new ones made.
    first = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2)
    first.name = "first"
    old = bpy.data.objects.new("first dashed", bpy.data.curves.new("first dashed", "CURVE"))
    bpy.context.scene.collection.objects.link(old)
    old.data.bevel_depth = 0.07
    first.hide_set(True)
    first.hide_render = True
    first["korrand"] = {"enabled": 1, "count": 7}
    first["korrand"]["result"] = old
    old["korrand"] = {"source": first}
    second = support.poly_curve("second", [[(0, 0, 0), (4, 0, 0)]])
    res = bpy.data.objects.new("second dashed", bpy.data.curves.new("second dashed", "CURVE"))
    bpy.context.scene.collection.objects.link(res)
    res.constraints.new("COPY_TRANSFORMS").name = "Korrand: follow the curve"
    second["korrand"] = {"enabled": 1, "count": 3, "uid": "u2", "hid_render": 1,
                         "hidden_in": "Scene\tViewLayer"}
    second.hide_set(True)
    second.hide_render = True
    res["korrand"] = {"dashes_of": "u2"}
    del old, first, second, res  # replaced when the file is opened
    path = os.path.join(tempfile.mkdtemp(), "earlier.blend")
    bpy.ops.wm.save_as_mainfile(filepath=path)
    bpy.ops.wm.open_mainfile(filepath=path)
    update()
    first, second = bpy.data.objects["first"], bpy.data.objects["second"]
    assert abs(first.data.bevel_depth - 0.07) < 1e-7
    assert {o.name for o in bpy.data.objects if not hook.ours(o)} == {"first", "second"}
    for ob, n in ((first, 7), (second, 3)):
        assert not ob.hide_get() and not ob.hide_render, ob.name
        assert len(support.result_line(ob)[0]) == n


def case_linked_data():
    lib = os.path.join(tempfile.mkdtemp(), "library.blend")
    ob = bevelled_circle()
    coll = bpy.data.collections.new("Dashed")
    bpy.context.scene.collection.children.link(coll)
    coll.objects.link(ob)
    bpy.context.scene.collection.objects.unlink(ob)
    want, faces = support.result_line(ob), support.shown(ob)
    ob.korrand.keyframe_insert("offset", frame=1)
    assert not hook.render_warnings()  # its own curve follows the frame
    track = ob.animation_data.nla_tracks.new()  # pushed down into the NLA, it animates still
    track.strips.new("offset", 1, ob.animation_data.action)
    ob.animation_data.action = None
    bpy.ops.wm.save_as_mainfile(filepath=lib)
    bpy.ops.wm.read_homefile(use_empty=True)
    with bpy.data.libraries.load(lib, link=True) as (src, dst):
        dst.collections = ["Dashed"]
    bpy.context.scene.collection.children.link(dst.collections[0])
    bpy.context.scene.update_tag()
    update()
    ob = bpy.data.objects["ring"]
    # Shown as the library saved it, and the panel says why it does not follow here.
    assert ob.library is not None and support.result_line(ob) == want
    assert support.shown(ob) == faces and "library" in support.status(ob)
    # Its animated settings do not follow the frame here: a render's log says so.
    assert [w.startswith("Korrand: ring:") for w in hook.render_warnings()] == [True]
    # Made local, it is an artist's dashed curve again: it follows its settings.
    bpy.ops.object.make_local(type="ALL")
    ob = bpy.data.objects["ring"]
    ob.korrand.count = 6
    update()
    assert ob.library is None and len(support.result_line(ob)[0]) == 6
    # A library override made local alone, without the add-on's objects: it gets its own.
    bpy.ops.wm.read_homefile(use_empty=True)
    bpy.ops.wm.link(directory=lib + "/Collection/", filename="Dashed")
    bpy.ops.object.make_override_library()
    update()
    ob = next(o for o in bpy.data.objects if o.name == "ring" and o.override_library)
    # Said once, of the override: its linked original is not rendered.
    assert [w.startswith("Korrand: ring: the curve is a library override")
            for w in hook.render_warnings()] == [True]
    for o in bpy.context.view_layer.objects:
        o.select_set(o == ob)
    bpy.context.view_layer.objects.active = ob
    bpy.ops.object.make_local(type="SELECT_OBDATA")
    ob.korrand.count = 2
    update()
    assert ob.override_library is None and len(support.result_line(ob)[0]) == 2
    # Appended, its dashes show once, on it: the objects it reads stay out of the scene. The
    # add-on's scratch curve was not saved with it.
    bpy.ops.wm.read_homefile(use_empty=True)
    bpy.ops.wm.append(directory=lib + "/Object/", filename="ring")
    update()
    assert [o.name for o in bpy.context.scene.objects] == ["ring"]
    assert support.result_line(bpy.data.objects["ring"]) == want
    with bpy.data.libraries.load(lib) as (src, dst):
        assert "Korrand scratch" not in src.curves, src.curves


def case_large_update_waits():
    # Ten thousand dashes of a hundred points on four splines would be four million points:
    # the panel says so first. (The range is empty, so agreeing costs nothing here.)
    ob = support.poly_curve("grid", [[(0, y, 0), (10, y, 0)] for y in range(4)])
    support.dash(ob, count=10)
    ob.korrand.count, ob.korrand.subdivision, ob.korrand.end = 10000, 98, 0.0005
    update()
    assert "million points" in support.status(ob)
    assert len(support.result_line(ob)[0]) == 40, "dashed before the artist agreed"
    select_only(ob)
    assert bpy.ops.korrand.allow() == {"FINISHED"} and support.status(ob) == ""
    assert support.result_line(ob)[0] == []
    # With a bevel the mesh swept at every dash point is what counts: 400,000 dash points,
    # each a ring of twelve vertices.
    tube = support.poly_curve("tube", [[(0, y, 0), (10, y, 0)] for y in range(4)])
    tube.data.bevel_depth = 0.01
    support.dash(tube, count=10)
    tube.korrand.count, tube.korrand.subdivision, tube.korrand.end = 10000, 8, 0.0005
    update()
    assert "million points" in support.status(tube)


support.main(globals())
