"""Everyday actions on dashed curves give what Blender users expect, and lose nothing of the
artist's work: baking (Convert, Apply), deleting the dashes or the curve, Shift+D and Alt+D,
the select button, the add-on disabled and enabled, files of the first version, linked data,
and an update too large to make without asking."""

import os
import sys
import tempfile

import addon_utils
import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

korrand = support.enable_addon()
update = support.update


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
        o.hide_set(False)
        o.select_set(True)
    bpy.context.view_layer.objects.active = obs[0]


def dashed_objects():
    return sorted(o.name for o in bpy.data.objects if korrand.live.is_result(o))


def case_bake_by_convert_to_mesh():
    ob = bevelled_circle()
    res = ob.korrand.result
    where = res.matrix_world.copy()
    select_only(res)
    bpy.ops.object.convert(target="MESH")
    update()
    baked = bpy.data.objects[res.name]
    assert baked.type == "MESH" and len(baked.data.polygons) > 0
    assert not baked.constraints and not korrand.live.is_result(baked)
    assert (baked.matrix_world.translation - where.translation).length < 1e-6
    # A new result for the curve, still dashed; the baked mesh is left alone from now on.
    assert ob.korrand.result not in (None, baked) and ob.hide_get()
    ob.korrand.count = 5
    update()
    assert bpy.data.objects.get(baked.name) == baked and len(support.result_line(ob)[0]) == 5


def case_bake_by_apply():
    ob = bevelled_circle()
    dashes = support.result_line(ob)
    old_data = ob.data
    select_only(ob.korrand.result)
    assert bpy.ops.korrand.apply() == {"FINISHED"}
    assert not ob.korrand.enabled and ob.korrand.result is None and not dashed_objects()
    assert not ob.hide_get() and not ob.hide_render
    assert ob.data != old_data and abs(ob.data.bevel_depth - 0.05) < 1e-7
    assert all(s.type == "POLY" for s in ob.data.splines)
    assert [len(s.points) for s in ob.data.splines] == dashes[0]
    assert old_data.bevel_depth == ob.data.bevel_depth  # the earlier data as it was


def case_delete_dashes():
    ob = bevelled_circle()
    select_only(ob.korrand.result)
    bpy.ops.object.delete()
    update()
    # Switched off, the curve shown as it was, and the panel says why.
    assert not ob.korrand.enabled and not ob.hide_get() and not ob.hide_render
    assert "deleted" in support.status(ob) and abs(ob.data.bevel_depth - 0.05) < 1e-7


def case_delete_curve_then_purge():
    ob = bevelled_circle()
    data_name = ob.data.name
    bpy.data.objects.remove(ob)
    update()
    assert not dashed_objects()
    bpy.ops.outliner.orphans_purge(do_recursive=True)
    assert data_name not in bpy.data.curves and not bpy.data.curves, list(bpy.data.curves)


def case_shift_d_and_alt_d():
    ob = bevelled_circle()
    mine = support.result_line(ob)
    # Shift+D of the curve (shown by the dashes' select button): dashes of its own.
    select_only(ob.korrand.result)
    assert bpy.ops.korrand.select_source() == {"FINISHED"} and bpy.context.object == ob
    bpy.ops.object.duplicate()
    copy = bpy.context.object
    update()
    assert copy != ob and copy.korrand.result not in (None, ob.korrand.result)
    assert copy.korrand.result.data.bevel_depth == ob.data.bevel_depth and copy.hide_get()
    assert support.result_line(copy) == mine and support.result_line(ob) == mine
    assert ob.korrand.result.korrand.source == ob and copy.korrand.result.korrand.source == copy
    # Both selected and copied together: the copy of the dashes is the copy's.
    select_only(ob, ob.korrand.result)
    bpy.ops.object.duplicate()
    update()
    assert len(dashed_objects()) == 3 and len(bpy.data.objects) == 6, dashed_objects()
    # The dashes alone copied: a copy of them, the artist's own.
    select_only(ob.korrand.result)
    bpy.ops.object.duplicate()
    alone = bpy.context.object
    update()
    assert not korrand.live.is_result(alone) and not alone.constraints
    assert len(dashed_objects()) == 3
    # Alt+D: the copy shares the data and has dashes of its own; switched off, it shows the
    # shared look, which nothing changed.
    select_only(ob)
    bpy.ops.object.duplicate(linked=True)
    linked = bpy.context.object
    update()
    assert linked.data == ob.data and linked.korrand.result not in (None, ob.korrand.result)
    linked.korrand.enabled = False
    update()
    assert not linked.hide_get() and abs(linked.data.bevel_depth - 0.05) < 1e-7
    assert support.result_line(ob) == mine


def case_select_button_shows_the_curve_while_selected():
    ob = bevelled_circle()
    res = ob.korrand.result
    select_only(res)
    assert bpy.ops.korrand.select_source() == {"FINISHED"}
    assert not ob.hide_get() and ob.select_get() and bpy.context.object == ob
    select_only(res)
    update()
    assert ob.hide_get(), "hidden again once deselected"


def case_addon_disabled_and_enabled():
    ob = bevelled_circle()
    line = support.poly_curve("line", [[(0, 0, 0), (4, 0, 0), (4, 3, 0)]])
    support.dash(line, count=5)
    want = {o.name: support.result_line(o) for o in (ob, line)}
    addon_utils.disable("korrand", default_set=True)
    assert not [o for o in bpy.data.objects if o.name.endswith(" dashed")]
    for o in (ob, line):
        assert not o.hide_get() and not o.hide_render, o.name
    assert abs(ob.data.bevel_depth - 0.05) < 1e-7 and ob["korrand"]["enabled"]
    support.enable_addon()
    bpy.context.scene.update_tag()
    update()
    assert {o.name: support.result_line(o) for o in (ob, line)} == want
    assert ob.hide_get() and line.hide_render


def case_file_of_the_first_version():
    # The first version kept the result as a child holding the curve's look, linked through
    # pointer properties: the look goes back, the old result goes, new dashes come.
    ob = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2)
    old = bpy.data.objects.new("ring dashed", bpy.data.curves.new("ring dashed", "CURVE"))
    bpy.context.scene.collection.objects.link(old)
    old.data.bevel_depth = 0.07
    ob.hide_set(True)
    ob.hide_render = True
    ob["korrand"] = {"enabled": 1, "count": 7}
    ob["korrand"]["result"] = old
    old["korrand"] = {"source": ob}
    del old, ob  # replaced when the file is opened: references to them must not be used
    path = os.path.join(tempfile.mkdtemp(), "first.blend")
    bpy.ops.wm.save_as_mainfile(filepath=path)
    bpy.ops.wm.open_mainfile(filepath=path)
    ob = bpy.data.objects["BezierCircle"]
    assert abs(ob.data.bevel_depth - 0.07) < 1e-7
    assert "result" not in ob["korrand"] and "ring dashed" not in bpy.data.curves
    res = ob.korrand.result
    assert res is not None and len(support.result_line(ob)[0]) == 7 and res.constraints
    ob.korrand.enabled = False
    update()
    assert not ob.hide_get() and not ob.hide_render


def case_linked_data():
    lib = os.path.join(tempfile.mkdtemp(), "library.blend")
    ob = bevelled_circle()
    coll = bpy.data.collections.new("Dashed")
    bpy.context.scene.collection.children.link(coll)
    for o in (ob, ob.korrand.result):
        coll.objects.link(o)
        bpy.context.scene.collection.objects.unlink(o)
    want = support.result_line(ob)
    bpy.ops.wm.save_as_mainfile(filepath=lib)
    bpy.ops.wm.read_homefile(use_empty=True)
    with bpy.data.libraries.load(lib, link=True) as (src, dst):
        dst.collections = ["Dashed"]
    bpy.context.scene.collection.children.link(dst.collections[0])
    bpy.context.scene.update_tag()
    update()
    ob = bpy.data.objects["ring"]
    assert ob.library is not None and support.result_line(ob) == want
    assert "library" in support.status(ob)
    # Made local, it is an artist's dashed curve again: it follows its settings.
    bpy.ops.object.make_local(type="ALL")
    ob = bpy.data.objects["ring"]
    ob.korrand.count = 6
    update()
    assert ob.library is None and len(support.result_line(ob)[0]) == 6


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


support.main(globals())
